"""Test support: puts the tools on the import path and runs a vorn-platform in a thread."""
import json
import os
import sys
import tempfile
import threading
import urllib.error
import urllib.request

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
for sub in ("tools/vorn-platform", "tools/pylib", "tools/demo-data", "tools/vorn-viewers"):
    sys.path.insert(0, os.path.join(ROOT, sub))

from vorn_platform.export_service import ExportService  # noqa: E402
from vorn_platform.server import Platform, make_server  # noqa: E402


class RunningPlatform:
    def __init__(self, api_key=None, kicad_cli="kicad-cli", timeout=60.0, latency_ms=0.0):
        self.tmp = tempfile.TemporaryDirectory(prefix="vorn-platform-test-")
        self.data = self.tmp.name
        self.platform = Platform(self.data, api_key, ExportService(kicad_cli, timeout))
        self.server = make_server("127.0.0.1", 0, self.platform, latency_ms=latency_ms)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()
        self.tmp.cleanup()

    def request(self, path, body=None, headers=None, method=None):
        """(status, body bytes) of a request; HTTP errors are answers, not exceptions."""
        req = urllib.request.Request(self.url + path, data=body, headers=headers or {},
                                     method=method or ("POST" if body is not None else "GET"))
        try:
            with urllib.request.urlopen(req, timeout=120) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def json(self, path, **kw):
        status, body = self.request(path, **kw)
        return status, json.loads(body)
