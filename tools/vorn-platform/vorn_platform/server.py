"""The HTTP front of vorn-platform: one threaded server on loopback that routes

  /api/v1/...               the pages API (pages_api.py), bearer key checked when configured
  /orgs/<org>[/avatar.png]  the organisation site (org_site.py)
  /kicad/<kind>/export/<f>  the KiCad export service (export_service.py)
"""
import http.server
import json
import socketserver
import time
from urllib.parse import urlsplit

from . import pages_api
from .export_service import ExportError, ExportService, parse_query
from .org_site import OrgSite
from .store import PageStore

MAX_BODY = 512 * 1024 * 1024
REQUEST_TIMEOUT = 300


class Platform:
    """Everything one server instance serves; handlers reach it through the server object."""

    def __init__(self, data_dir: str, api_key: str | None, export: ExportService):
        self.store = PageStore(data_dir)
        self.orgs = OrgSite(data_dir)
        self.export = export
        self.api_key = api_key or None
        self.data_dir = data_dir


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive: a client reuses its connection
    server_version = "vorn-platform/1"
    timeout = REQUEST_TIMEOUT
    disable_nagle_algorithm = True

    @property
    def platform(self) -> Platform:
        return self.server.platform  # type: ignore[attr-defined]

    def log_message(self, fmt, *args):  # quiet unless asked for
        if getattr(self.server, "verbose", False):
            super().log_message(fmt, *args)

    # ---- responses -----------------------------------------------------------------------
    def send(self, status: int, body: bytes, content_type: str) -> None:
        """Status line, headers and body leave in one write, so a small answer is one packet
        and never waits for the client's acknowledgement of its headers."""
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        head = b"".join(self._headers_buffer) + b"\r\n"
        self._headers_buffer = []
        self.wfile.write(head if self.command == "HEAD" else head + body)

    def send_json(self, status: int, value) -> None:
        self.send(status, json.dumps(value, sort_keys=True).encode(), "application/json")

    def base_url(self) -> str:
        host = self.headers.get("Host") or "%s:%d" % self.server.server_address[:2]
        return f"http://{host}"

    def read_body(self) -> bytes | None:
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            return None
        if length < 0 or length > MAX_BODY:
            return None
        chunks, left = [], length
        while left > 0:
            chunk = self.rfile.read(min(left, 1 << 20))
            if not chunk:
                return None
            chunks.append(chunk)
            left -= len(chunk)
        return b"".join(chunks)

    # ---- routing -------------------------------------------------------------------------
    def do_GET(self):
        self.route("GET")

    def do_HEAD(self):
        self.route("GET")

    def do_POST(self):
        self.route("POST")

    def route(self, method: str) -> None:
        latency = getattr(self.server, "latency_s", 0.0)
        if latency > 0:
            time.sleep(latency)  # stands in for a platform across the internet
        url = urlsplit(self.path)
        path = url.path
        try:
            if path.startswith("/api/v1/"):
                if not self.authorised():
                    return self.send_json(401, {"error": "unauthorized"})
                return pages_api.handle(self, method, path[len("/api/v1/"):], url.query)
            if path.startswith("/orgs/") and method == "GET":
                return self.org_site(path[len("/orgs/"):])
            if path.startswith("/kicad/") and method == "POST":
                return self.kicad_export(path, url.query)
            if path in ("/", "/health") and method == "GET":
                return self.send_json(200, {"status": "ok", "service": "vorn-platform"})
            self.send(404, b"not found", "text/plain")
        except (BrokenPipeError, ConnectionResetError):
            pass

    def authorised(self) -> bool:
        key = self.platform.api_key
        return key is None or self.headers.get("Authorization", "") == f"Bearer {key}"

    def org_site(self, rest: str) -> None:
        parts = rest.split("/")
        org = parts[0]
        if len(parts) == 1:
            rec = self.platform.orgs.record(org, self.base_url())
            if rec is None:
                return self.send_json(404, {"error": "no such organisation"})
            return self.send_json(200, rec)
        if len(parts) == 2 and parts[1] == "avatar.png":
            img = self.platform.orgs.avatar(org)
            if img is None:
                return self.send(404, b"not found", "text/plain")
            return self.send(200, img, "image/png")
        self.send(404, b"not found", "text/plain")

    def kicad_export(self, path: str, query: str) -> None:
        parts = path.strip("/").split("/")  # kicad / <kind> / export / <format>
        body = self.read_body()
        if body is None:
            return self.send(400, b"error code 400: unreadable body", "text/plain")
        if len(parts) != 4 or parts[2] != "export":
            return self.send(404, b"error code 404: unknown export", "text/plain")
        try:
            data, ctype = self.platform.export.export(parts[1], parts[3], parse_query(query), body)
        except ExportError as e:
            return self.send(e.status, str(e).encode(), "text/plain")
        self.send(200, data, ctype)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # The catalog build opens one connection per page at once; a short accept queue would make
    # the kernel drop connects and curl retry after whole seconds.
    request_queue_size = 1024


def make_server(host: str, port: int, platform: Platform, verbose: bool = False,
                latency_ms: float = 0.0) -> Server:
    if host not in ("127.0.0.1", "::1", "localhost"):
        raise ValueError("vorn-platform listens on loopback only")
    if latency_ms < 0:
        raise ValueError("latency must not be negative")
    srv = Server((host, port), Handler)
    srv.platform = platform  # type: ignore[attr-defined]
    srv.verbose = verbose  # type: ignore[attr-defined]
    srv.latency_s = latency_ms / 1000.0  # type: ignore[attr-defined]
    return srv
