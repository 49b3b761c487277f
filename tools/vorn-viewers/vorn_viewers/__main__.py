"""Command lines:
  vorn-layout-viewer embed --file <board.kicad_pcb> --out <page.html>
  vorn-schematic-viewer embed --file <root.kicad_sch> --out <page.html>
  vorn-schematic-viewer enrich --mpn <mpn> --lcsc <lcsc>
Exit status 0 on success; 1 when the file cannot be read or plotted; 2 on bad usage."""
import argparse
import json
import os
import re
import sys

import kicad_sexpr as sx

from . import enrich, geometry, page
from .kicad_export import ExportFailed, pcb_layers, schematic_sheets

_VIEWBOX_NUMS = re.compile(r"[-\d.]+")
# Layers a board view offers, bottom to top, with their labels.
_BOARD_LAYERS = [("B.SilkS", "Back silkscreen"), ("B.Cu", "Back copper"), ("INNER", "Inner copper"),
                 ("F.Cu", "Front copper"), ("F.SilkS", "Front silkscreen"), ("Edge.Cuts", "Board outline")]


def _read(path: str):
    with open(path, encoding="utf-8", errors="replace") as f:
        return sx.parse(f.read())


def board_layer_table(root) -> list[tuple[str, str, str]]:
    """(canonical, user name, label) for the layers the board has, bottom to top."""
    table = sx.child(root, "layers")
    present = {}
    for entry in table[1:] if table else []:
        if isinstance(entry, list) and len(entry) >= 3:
            present[sx.unquote(entry[1])] = sx.unquote(entry[3]) if len(entry) > 3 else ""
    out = []
    for name, label in _BOARD_LAYERS:
        if name == "INNER":
            inner = sorted((n for n in present if re.fullmatch(r"In\d+\.Cu", n)), key=lambda n: -int(n[2:-3]))
            out += [(n, present[n], f"Inner copper {n[2:-3]}") for n in inner]
        elif name in present:
            out.append((name, present[name], label))
    return out


def layout_embed(board: str, out: str) -> None:
    root = _read(board)
    layers = board_layer_table(root) or [("F.Cu", "", "Front copper"), ("Edge.Cuts", "", "Board outline")]
    plotted = pcb_layers(board, [(c, u) for c, u, _ in layers])
    parts = geometry.board_parts(root)
    outline = geometry.board_outline(root)
    if outline.empty():
        for p in parts:
            x, y, w, h = p["box"]
            outline.add(x, y)
            outline.add(x + w, y + h)
    fit = outline.rect(3.0) if not outline.empty() else [0, 0, 297, 210]
    markup = [(c, label, plotted[c][1]) for c, _, label in layers if c in plotted]
    view = {"name": os.path.basename(board), "fit": fit, "content": "", "parts": parts}
    html = page.render(f"PCB · {os.path.basename(board)}", "#0d1117", "#e6e9ef", [view], markup, "Layers")
    _write(out, html)


def schematic_embed(schematic: str, out: str) -> None:
    folder = os.path.dirname(os.path.abspath(schematic))
    root_stem = os.path.splitext(os.path.basename(schematic))[0]
    sheets = schematic_sheets(schematic)
    views = []
    for stem, viewbox, content in sheets:
        name = "Root" if stem == root_stem else stem[len(root_stem) + 1:] if stem.startswith(root_stem + "-") else stem
        parts = []
        sheet_file = schematic if stem == root_stem else _sheet_file(schematic, name, folder)
        if sheet_file:
            try:
                parts = geometry.schematic_parts(_read(sheet_file))
            except (OSError, ValueError):
                parts = []
        nums = [float(n) for n in _VIEWBOX_NUMS.findall(viewbox)[:4]]
        views.append({"name": name, "fit": nums if len(nums) == 4 else [0, 0, 297, 210],
                      "content": content, "parts": parts})
    html = page.render(f"Schematic · {os.path.basename(schematic)}", "#ffffff", "#111", views, [], "Sheets")
    _write(out, html)


def _sheet_file(root_schematic: str, sheet_name: str, folder: str) -> str | None:
    try:
        root = _read(root_schematic)
    except (OSError, ValueError):
        return None
    for sheet in sx.children(root, "sheet"):
        props = sx.properties(sheet)
        if props.get("Sheetname") == sheet_name and props.get("Sheetfile"):
            path = os.path.join(folder, os.path.basename(props["Sheetfile"]))
            return path if os.path.isfile(path) else None
    return None


def _write(path: str, text: str) -> None:
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv: list[str]) -> int:
    tool = argv[0] if argv else ""
    ap = argparse.ArgumentParser(prog=f"vorn-{tool}-viewer")
    sub = ap.add_subparsers(dest="command", required=True)
    emb = sub.add_parser("embed")
    emb.add_argument("--file", required=True)
    emb.add_argument("--out", required=True)
    if tool == "schematic":
        en = sub.add_parser("enrich")
        en.add_argument("--mpn", default="")
        en.add_argument("--lcsc", default="")
    if tool not in ("layout", "schematic"):
        print("usage: python3 -m vorn_viewers layout|schematic …", file=sys.stderr)
        return 2
    args = ap.parse_args(argv[1:])
    try:
        if args.command == "enrich":
            if not args.mpn and not args.lcsc:
                print(json.dumps({"error": "no query"}))
                return 0
            print(json.dumps(enrich.enrich(args.mpn, args.lcsc), sort_keys=True))
            return 0
        (layout_embed if tool == "layout" else schematic_embed)(args.file, args.out)
        return 0
    except (OSError, ValueError, ExportFailed) as e:
        print(f"vorn-{tool}-viewer: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
