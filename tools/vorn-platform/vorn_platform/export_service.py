"""The KiCad export service, backed by `kicad-cli`.

POST /kicad/sch/export/svg-project   body: tar of schematics (+ .kicad_pro) -> tar of SVG sheets
POST /kicad/pcb/export/svg?layers=…  body: a .kicad_pcb                     -> SVG text
POST /kicad/pcb/export/glb-package?F=<flag>&F=…  body: .tar.gz of a board folder -> GLB bytes

Every export runs in its own temporary folder with a time limit, and at most `max_parallel`
exports run at once. A failure is an ExportError whose text starts with "error code", which is
how clients tell an error from an artefact.
"""
import io
import os
import re
import subprocess
import tarfile
import tempfile
import threading
import zlib

MAX_MEMBERS = 5000
MAX_UNPACKED = 512 * 1024 * 1024
_LAYER = re.compile(r"^[A-Za-z0-9_.]+$")
# Options of `kicad-cli pcb export glb` a client may ask for; anything else is refused.
GLB_FLAGS = frozenset({
    "--include-tracks", "--include-pads", "--include-zones", "--include-inner-copper",
    "--include-silkscreen", "--include-soldermask", "--fuse-shapes", "--no-dnp",
    "--no-unspecified", "--subst-models", "--board-only", "--no-board-body", "--no-components",
    "--cut-vias-in-body", "--fill-all-vias", "--grid-origin", "--drill-origin",
})


class ExportError(Exception):
    def __init__(self, status: int, message: str):
        super().__init__(f"error code {status}: {message}")
        self.status = status


class ExportService:
    def __init__(self, kicad_cli: str = "kicad-cli", timeout: float = 140.0, max_parallel: int = 2):
        self.kicad_cli = kicad_cli
        self.timeout = timeout
        self._slots = threading.Semaphore(max_parallel)

    # ---- dispatch ------------------------------------------------------------------------
    def export(self, kind: str, fmt: str, query: dict[str, list[str]], body: bytes) -> tuple[bytes, str]:
        """Answers (artefact bytes, content type) or raises ExportError."""
        handlers = {
            ("sch", "svg-project"): self._sch_svg_project,
            ("pcb", "svg"): self._pcb_svg,
            ("pcb", "glb-package"): self._pcb_glb_package,
        }
        handler = handlers.get((kind, fmt))
        if handler is None:
            raise ExportError(404, f"no export {kind}/{fmt}")
        if not body:
            raise ExportError(400, "empty request body")
        if not self._slots.acquire(timeout=self.timeout):
            raise ExportError(503, "export service busy")
        try:
            with tempfile.TemporaryDirectory(prefix="vorn-export-") as work:
                return handler(work, query, body)
        finally:
            self._slots.release()

    def _run(self, args: list[str], cwd: str) -> None:
        env = dict(os.environ)
        env["HOME"] = os.path.join(cwd, ".home")  # kicad-cli writes its settings under HOME
        os.makedirs(env["HOME"], exist_ok=True)
        try:
            r = subprocess.run([self.kicad_cli, *args], cwd=cwd, capture_output=True,
                               timeout=self.timeout, env=env)
        except FileNotFoundError:
            raise ExportError(500, "kicad-cli not found") from None
        except subprocess.TimeoutExpired:
            raise ExportError(504, f"kicad-cli timed out after {self.timeout:g} s") from None
        if r.returncode != 0:
            tail = (r.stderr or r.stdout).decode(errors="replace").strip().splitlines()[-1:]
            raise ExportError(500, f"kicad-cli exited {r.returncode}: {' '.join(tail)[:200]}")

    # ---- archives ------------------------------------------------------------------------
    @staticmethod
    def _unpack(body: bytes, dest: str, mode: str) -> None:
        try:
            with tarfile.open(fileobj=io.BytesIO(body), mode=mode) as tar:
                members = tar.getmembers()
                if len(members) > MAX_MEMBERS:
                    raise ExportError(400, "archive has too many entries")
                if sum(m.size for m in members if m.isfile()) > MAX_UNPACKED:
                    raise ExportError(400, "archive too large")
                tar.extractall(dest, members=[m for m in members if m.isfile() or m.isdir()],
                               filter="data")
        except (tarfile.TarError, EOFError, OSError, zlib.error) as e:
            raise ExportError(400, f"bad archive: {e}") from None

    # ---- schematic sheets ----------------------------------------------------------------
    def _sch_svg_project(self, work: str, _query, body: bytes) -> tuple[bytes, str]:
        src = os.path.join(work, "in")
        os.makedirs(src)
        self._unpack(body, src, "r:")
        root = find_root_schematic(src)
        if root is None:
            raise ExportError(400, "no .kicad_sch in the archive")
        out = os.path.join(work, "out")
        os.makedirs(out)
        self._run(["sch", "export", "svg", "--exclude-drawing-sheet", "-o", out, root], src)
        svgs = sorted(f for f in os.listdir(out) if f.endswith(".svg"))
        if not svgs:
            raise ExportError(500, "no sheets plotted")
        buf = io.BytesIO()
        with tarfile.open(fileobj=buf, mode="w") as tar:
            for f in svgs:
                data = normalise_svg(_read(os.path.join(out, f), f))
                info = tarfile.TarInfo(f)
                info.size, info.mode = len(data), 0o644
                tar.addfile(info, io.BytesIO(data))
        return buf.getvalue(), "application/x-tar"

    # ---- PCB picture ---------------------------------------------------------------------
    def _pcb_svg(self, work: str, query, body: bytes) -> tuple[bytes, str]:
        layers = ",".join(query.get("layers", [])) or "F.Cu,B.Cu,F.Silkscreen,Edge.Cuts"
        if not all(_LAYER.match(layer) for layer in layers.split(",")):
            raise ExportError(400, "bad layer list")
        board = os.path.join(work, "board.kicad_pcb")
        with open(board, "wb") as f:
            f.write(body)
        out = os.path.join(work, "pcb.svg")
        self._run(["pcb", "export", "svg", "--mode-single", "--layers", layers,
                   "--exclude-drawing-sheet", "--page-size-mode", "2", "-o", out, board], work)
        return normalise_svg(_read(out, "PCB picture")), "image/svg+xml"

    # ---- 3D model ------------------------------------------------------------------------
    def _pcb_glb_package(self, work: str, query, body: bytes) -> tuple[bytes, str]:
        flags = query.get("F", [])
        bad = [f for f in flags if f not in GLB_FLAGS]
        if bad:
            raise ExportError(400, f"unsupported option {bad[0]}")
        src = os.path.join(work, "in")
        os.makedirs(src)
        self._unpack(body, src, "r:gz")
        board = os.path.join(src, "board.kicad_pcb")
        if not os.path.isfile(board):
            boards = sorted(f for f in os.listdir(src) if f.endswith(".kicad_pcb"))
            if not boards:
                raise ExportError(400, "no .kicad_pcb in the package")
            board = os.path.join(src, boards[0])
        out = os.path.join(work, "board.glb")
        self._run(["pcb", "export", "glb", "--force", *dict.fromkeys(flags), "-o", out, board], src)
        return normalise_glb(_read(out, "GLB")), "model/gltf-binary"


def _read(path: str, what: str) -> bytes:
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        raise ExportError(500, f"{what} not written") from None
    if not data:
        raise ExportError(500, f"{what} empty")
    return data


_SVG_DATE = re.compile(rb"(<title>[^<]*?) date [^<]*(</title>)")
_GLB_DATE = re.compile(rb'("generated_at":\s*")([^"]*)(")')


def normalise_svg(data: bytes) -> bytes:
    """Drops the plot date from the SVG title, so that the same input plots to the same bytes."""
    return _SVG_DATE.sub(rb"\1\2", data, count=1)


def normalise_glb(data: bytes) -> bytes:
    """Zeroes the digits of the export time stamp in the GLB's JSON chunk (same length, so the
    chunk layout is untouched), so that the same board exports to the same bytes."""
    return _GLB_DATE.sub(lambda m: m.group(1) + re.sub(rb"[0-9]", b"0", m.group(2)) + m.group(3), data,
                         count=1)


_SHEETFILE = re.compile(r'\(property\s+"Sheetfile"\s+"([^"]+)"')


def find_root_schematic(folder: str) -> str | None:
    """The project's root sheet: <project stem>.kicad_sch next to the .kicad_pro, else the
    first schematic (by name) that no other schematic includes as a sheet."""
    files = sorted(os.listdir(folder))
    schematics = [f for f in files if f.endswith(".kicad_sch")]
    if not schematics:
        return None
    for pro in (f for f in files if f.endswith(".kicad_pro")):
        cand = pro[: -len(".kicad_pro")] + ".kicad_sch"
        if cand in schematics:
            return cand
    referenced = set()
    for s in schematics:
        try:
            with open(os.path.join(folder, s), encoding="utf-8", errors="replace") as f:
                referenced.update(os.path.basename(m) for m in _SHEETFILE.findall(f.read()))
        except OSError:
            pass
    roots = [s for s in schematics if s not in referenced]
    return (roots or schematics)[0]


def parse_query(query: str) -> dict[str, list[str]]:
    from urllib.parse import parse_qs
    return parse_qs(query, keep_blank_values=True)
