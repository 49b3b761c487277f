"""The running world of the end-to-end tests, started once per test run: a small demo data set,
vorn-platform on a free loopback port, and the manager pointed at it with the tools first on
PATH and a sandbox home (with KiCad library tables) as the desktop."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

SOURCE = os.environ.get("VORN_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(SOURCE, "build")
MANAGER = os.environ.get("VORN_MANAGER_EXE") or os.path.join(BUILD, "src", "vorn-project-manager")
TOOLS_BIN = os.environ.get("VORN_TOOLS_BIN") or os.path.join(BUILD, "tools", "bin")
DEMO_CACHE = os.path.join(tempfile.gettempdir(), "vorn-e2e-demo-data")

EMPTY_SYMBOL_LIB = '(kicad_symbol_lib\n\t(version 20241209)\n\t(generator "kicad_symbol_editor")\n)\n'


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class World:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vorn-e2e-")
        self.home = os.path.join(self.root, "home")
        self.procs: list[subprocess.Popen] = []
        subprocess.run([sys.executable, os.path.join(SOURCE, "tools", "demo-data", "make_demo_data.py"),
                        "--small", "--out", DEMO_CACHE], check=True, timeout=600, stdout=subprocess.DEVNULL)
        # Each run works on its own copy, so uploads never leak into the next run.
        self.data = os.path.join(self.root, "platform")
        shutil.copytree(DEMO_CACHE, self.data, symlinks=True)
        self.make_home()
        self.env = dict(os.environ, PATH=TOOLS_BIN + os.pathsep + os.environ.get("PATH", ""), HOME=self.home,
                        TMPDIR=os.path.join(self.root, "tmp"), VORN_API_KEY_FILE="/nonexistent/api-key")
        self.env.pop("VORN_API_KEY", None)
        os.makedirs(self.env["TMPDIR"])
        pport = free_port()
        self.platform_url = f"http://127.0.0.1:{pport}"
        self.procs.append(subprocess.Popen(["vorn-platform", "--data", self.data, "--port", str(pport)],
                                           env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.wait(self.platform_url + "/health")
        self.env.update(VORN_PLATFORM_URL=self.platform_url, VORN_EXPORT_URL=self.platform_url,
                        VORN_ORG_SITE_URL=self.platform_url)
        mport = free_port()
        self.url = f"http://127.0.0.1:{mport}"
        self.manager_log = open(os.path.join(self.root, "manager.log"), "wb")
        self.procs.append(subprocess.Popen([MANAGER, f"--port={mport}"], env=self.env, stdout=subprocess.DEVNULL,
                                           stderr=self.manager_log))
        self.wait(self.url + "/")

    def make_home(self):
        libs = os.path.join(self.home, "kicad-libs")
        cfg = os.path.join(self.home, ".config", "kicad", "9.0")
        os.makedirs(os.path.join(libs, "MyParts.pretty"))
        os.makedirs(cfg)
        with open(os.path.join(libs, "MyParts.kicad_sym"), "w") as f:
            f.write(EMPTY_SYMBOL_LIB)
        with open(os.path.join(cfg, "sym-lib-table"), "w") as f:
            f.write(f'(sym_lib_table\n  (version 7)\n  (lib (name "MyParts")(type "KiCad")(uri "{libs}/MyParts.kicad_sym")(options "")(descr ""))\n)\n')
        with open(os.path.join(cfg, "fp-lib-table"), "w") as f:
            f.write(f'(fp_lib_table\n  (version 7)\n  (lib (name "MyParts")(type "KiCad")(uri "{libs}/MyParts.pretty")(options "")(descr ""))\n)\n')

    def wait(self, url: str, tries: int = 150) -> None:
        for _ in range(tries):
            try:
                with urllib.request.urlopen(url, timeout=5):
                    return
            except (urllib.error.URLError, OSError):
                time.sleep(0.2)
        raise RuntimeError(f"{url} did not answer")

    def close(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.manager_log.close()
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- requests ----------------------------------------------------------------------
    def get(self, path: str, base: str | None = None, timeout: float = 120) -> tuple[int, bytes, str]:
        try:
            with urllib.request.urlopen((base or self.url) + path, timeout=timeout) as r:
                return r.status, r.read(), r.headers.get("Content-Type", "")
        except urllib.error.HTTPError as e:
            return e.code, e.read(), e.headers.get("Content-Type", "")

    def json(self, path: str, base: str | None = None, timeout: float = 120):
        status, body, _ = self.get(path, base, timeout)
        if status == 404 and body in (b"not found", b"Not Found"):
            return None  # the route is not there
        return json.loads(body)

    def post(self, path: str, value) -> dict:
        req = urllib.request.Request(self.url + path, data=json.dumps(value).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=60) as r:
            return json.loads(r.read())

    def platform_log(self, slug: str) -> list:
        return self.json(f"/api/v1/pages/{slug}/log", base=self.platform_url)["log"]

    def render_board(self, slug: str) -> subprocess.CompletedProcess:
        return subprocess.run([MANAGER, "--render-board", slug], env=self.env, capture_output=True, text=True,
                              timeout=900)
