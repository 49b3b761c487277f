"""Runs kicad-cli to plot a board's layers or a schematic's sheets as SVG, each run in its own
temporary folder with a time limit, and strips the SVG wrapper so the drawings can be placed
into one page."""
import os
import re
import subprocess
import tempfile

TIMEOUT = float(os.environ.get("VORN_VIEWER_TIMEOUT", "120"))
_SVG_OPEN = re.compile(r"<svg\b[^>]*>", re.S)
_VIEWBOX = re.compile(r'viewBox="([^"]+)"')


class ExportFailed(Exception):
    pass


def _run(args: list[str], cwd: str, work: str) -> None:
    env = dict(os.environ, HOME=os.path.join(work, ".home"))  # kicad-cli writes settings there
    os.makedirs(env["HOME"], exist_ok=True)
    try:
        r = subprocess.run([os.environ.get("VORN_KICAD_CLI", "kicad-cli"), *args], cwd=cwd,
                           capture_output=True, timeout=TIMEOUT, env=env)
    except FileNotFoundError:
        raise ExportFailed("kicad-cli not found") from None
    except subprocess.TimeoutExpired:
        raise ExportFailed("kicad-cli timed out") from None
    if r.returncode != 0:
        raise ExportFailed(r.stderr.decode(errors="replace").strip()[-300:] or "kicad-cli failed")


def inner_svg(text: str) -> tuple[str, str]:
    """(viewBox, content between <svg …> and </svg>) of an SVG document."""
    m = _SVG_OPEN.search(text)
    if not m:
        raise ExportFailed("no <svg> element in the export")
    vb = _VIEWBOX.search(m.group(0))
    end = text.rfind("</svg>")
    return (vb.group(1) if vb else "0 0 297 210"), text[m.end():end if end > 0 else len(text)]


def _file_key(name: str) -> str:
    return re.sub(r"[^A-Za-z0-9]", "_", name).lower()


def pcb_layers(board: str, layers: list[tuple[str, str]]) -> dict[str, tuple[str, str]]:
    """layer -> (viewBox, SVG content) for (canonical name, user name) pairs, all plotted on the
    page frame so that SVG coordinates are board millimetres. One kicad-cli run plots every
    layer into its own file, named after the layer's user name (or its canonical name)."""
    with tempfile.TemporaryDirectory(prefix="vorn-view-") as work:
        out_dir = os.path.join(work, "out")
        os.makedirs(out_dir)
        _run(["pcb", "export", "svg", "--mode-multi", "--layers", ",".join(c for c, _ in layers),
              "--exclude-drawing-sheet", "--page-size-mode", "1", "-o", out_dir + "/", board], work, work)
        stem = os.path.splitext(os.path.basename(board))[0]
        plotted = {_file_key(f[len(stem) + 1:-4]): f for f in os.listdir(out_dir)
                   if f.startswith(stem + "-") and f.endswith(".svg")}
        out = {}
        for canonical, user in layers:
            f = plotted.get(_file_key(user or canonical)) or plotted.get(_file_key(canonical))
            if f:
                with open(os.path.join(out_dir, f), encoding="utf-8", errors="replace") as fh:
                    out[canonical] = inner_svg(fh.read())
        if not out:
            raise ExportFailed("no layer plotted")
        return out


def schematic_sheets(schematic: str) -> list[tuple[str, str, str]]:
    """(sheet file stem, viewBox, SVG content) for every plotted sheet, root first."""
    with tempfile.TemporaryDirectory(prefix="vorn-view-") as work:
        out_dir = os.path.join(work, "out")
        os.makedirs(out_dir)
        _run(["sch", "export", "svg", "-o", out_dir, schematic], os.path.dirname(os.path.abspath(schematic)), work)
        stem = os.path.splitext(os.path.basename(schematic))[0]
        files = sorted(f for f in os.listdir(out_dir) if f.endswith(".svg"))
        files.sort(key=lambda f: f != stem + ".svg")
        sheets = []
        for f in files:
            with open(os.path.join(out_dir, f), encoding="utf-8", errors="replace") as fh:
                vb, content = inner_svg(fh.read())
            sheets.append((f[:-4], vb, content))
        if not sheets:
            raise ExportFailed("no sheet plotted")
        return sheets
