#!/usr/bin/env python3
"""Benchmark: rendering the largest demo board, split into its three exports as the manager
sends them to the export service (schematic project → SVG sheets, PCB → SVG, prepared board
folder → GLB), then the manager's whole live render of the same board.

  python3 bench/render_board_exports.py [--board video-board] [--manager …] [--tools …] [--data …]

Starts vorn-platform (and the manager for the live render) on free loopback ports."""
import argparse
import io
import json
import os
import shutil
import subprocess
import tarfile
import tempfile
import time
import urllib.error
import urllib.request

from e2e_catalog import ROOT, free_port, wait

LAYERS = "?layers=B.Cu,In2.Cu,In1.Cu,F.Cu,F.Silkscreen,Edge.Cuts"
GLB_QUERY = "?F=--include-silkscreen&F=--include-pads"


def fetch(url: str) -> bytes:
    with urllib.request.urlopen(url, timeout=60) as r:
        return r.read()


def post(url: str, body: bytes) -> tuple[float, bytes]:
    """(seconds, answer); an error answer is returned as its body ("error code …")."""
    t0 = time.perf_counter()
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=body, method="POST"), timeout=600) as r:
            data = r.read()
    except urllib.error.HTTPError as e:
        data = e.read()
    return time.perf_counter() - t0, data


def describe(data: bytes, what: str) -> str:
    return data[:120].decode(errors="replace") if data.startswith(b"error code") else f"{len(data)} bytes {what}"


def tar_of(files: dict, gz: bool) -> bytes:
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz" if gz else "w") as tar:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return buf.getvalue()


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--board", default="video-board")
    ap.add_argument("--manager", default=os.path.join(ROOT, "build", "src", "vorn-project-manager"))
    ap.add_argument("--tools", default=os.path.join(ROOT, "build", "tools", "bin"))
    ap.add_argument("--data", default=os.path.join(ROOT, "demo-data", "platform"))
    ap.add_argument("--skip-live", action="store_true")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="vorn-bench-")
    env = dict(os.environ, PATH=args.tools + os.pathsep + os.environ["PATH"], HOME=work,
               VORN_API_KEY_FILE="/nonexistent")
    procs = []
    try:
        port = free_port()
        base = f"http://127.0.0.1:{port}"
        procs.append(subprocess.Popen(["vorn-platform", "--data", args.data, "--port", str(port)], env=env,
                                      stdout=subprocess.DEVNULL))
        wait(base + "/health")
        page = f"{base}/api/v1/pages/{args.board}/files"
        paths = [f["path"] for f in json.loads(fetch(page))["files"]]
        sch = {p.rsplit("/", 1)[-1]: fetch(f"{page}/{p}") for p in paths if p.endswith((".kicad_sch", ".kicad_pro"))}
        pcb = fetch(f"{page}/{next(p for p in paths if p.endswith('.kicad_pcb'))}")
        print(f"board {args.board}: {len(pcb)} bytes PCB, {len(sch)} schematic/project files", flush=True)
        t_sch, sheets = post(f"{base}/kicad/sch/export/svg-project", tar_of(sch, False))
        n_sheets = 0 if sheets.startswith(b"error code") else len(tarfile.open(fileobj=io.BytesIO(sheets)).getnames())
        print(f"schematic → SVG sheets: {t_sch:6.1f} s  ({n_sheets} sheets, {describe(sheets, 'tar')})", flush=True)
        t_pcb, svg = post(f"{base}/kicad/pcb/export/svg{LAYERS}", pcb)
        print(f"PCB → SVG:              {t_pcb:6.1f} s  ({describe(svg, 'SVG')})", flush=True)
        t_glb, glb = post(f"{base}/kicad/pcb/export/glb-package{GLB_QUERY}",
                          tar_of({"board.kicad_pcb": pcb, "3d/.keep": b""}, True))
        print(f"board → GLB:            {t_glb:6.1f} s  ({describe(glb, 'GLB')})", flush=True)
        if not args.skip_live:
            mport = free_port()
            env.update(VORN_PLATFORM_URL=base, VORN_EXPORT_URL=base, VORN_ORG_SITE_URL=base)
            procs.append(subprocess.Popen([args.manager, f"--port={mport}"], env=env, stdout=subprocess.DEVNULL))
            wait(f"http://127.0.0.1:{mport}/")
            media = f"http://127.0.0.1:{mport}/api/board-media/{args.board}"
            t0 = time.perf_counter()
            state = json.loads(fetch(media))
            while state.get("rendering") and time.perf_counter() - t0 < 900:
                time.sleep(1)
                state = json.loads(fetch(media))
            print(f"manager live render:    {time.perf_counter() - t0:6.1f} s  "
                  f"({len(state.get('sheets', []))} sheets, pcb {state.get('has_pcb')}, 3d {state.get('has_3d')})")
    finally:
        for p in procs:
            p.terminate()
            p.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
