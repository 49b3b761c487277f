"""Builds part documents (.vorn-lbr.json) for simple two-terminal parts and crystals: a small
drawn symbol in mils and the pads and outlines of an official KiCad footprint in millimetres."""
import math
import os

import kicad_sexpr as sx  # tools/pylib, put on the path by make_demo_data.py
from catalog_tables import KICAD_FOOTPRINTS, PART_MANUFACTURER

_ROLE = {"F.SilkS": "silk", "F.Silkscreen": "silk", "F.CrtYd": "courtyard", "F.Courtyard": "courtyard",
         "F.Fab": "fab", "F.Cu": "copper"}
_SHAPES = {"circle": "circle", "oval": "oval", "roundrect": "roundrect", "rect": "rect"}


def _num(atom) -> float:
    return float(atom)


def footprint_record(lib_name: str) -> dict | None:
    """The footprint of "Lib:Name" from the official libraries as a part-document footprint."""
    lib, _, name = lib_name.partition(":")
    path = os.path.join(KICAD_FOOTPRINTS, lib + ".pretty", name + ".kicad_mod")
    try:
        with open(path, encoding="utf-8") as f:
            root = sx.parse(f.read())
    except (OSError, ValueError):
        return None
    pads, graphics = [], []
    for pad in sx.children(root, "pad"):
        at, size = sx.child(pad, "at"), sx.child(pad, "size")
        if at is None or size is None or len(pad) < 4:
            continue
        rec = {"number": sx.unquote(pad[1]), "x_mm": _num(at[1]), "y_mm": _num(at[2]),
               "w_mm": _num(size[1]), "h_mm": _num(size[2]), "shape": _SHAPES.get(pad[3], "rect")}
        drill = sx.child(pad, "drill")
        if drill is not None and len(drill) > 1:
            rec["drill_mm"] = _num(drill[-1] if drill[1] == "oval" else drill[1])
        if len(at) > 3:
            rec["rotation"] = _num(at[3])
        if pad[2] == "np_thru_hole":
            rec["plated"] = False
        pads.append(rec)
    for g in root[1:]:
        kind = sx.head(g)
        layer = sx.child(g, "layer") if isinstance(g, list) else None
        role = _ROLE.get(sx.unquote(layer[1])) if layer else None
        if role is None:
            continue
        stroke = sx.child(g, "stroke")
        width = sx.child(stroke, "width") if stroke else None
        w = _num(width[1]) if width else 0.1
        start, end = sx.child(g, "start"), sx.child(g, "end")
        fl = {"role": role}
        if kind in ("fp_line", "fp_rect") and start and end:
            graphics.append({"kind": "line" if kind == "fp_line" else "rect", "layer": fl,
                             "x1": _num(start[1]), "y1": _num(start[2]),
                             "x2": _num(end[1]), "y2": _num(end[2]), "width": w})
        elif kind == "fp_circle":
            center = sx.child(g, "center")
            if center and end:
                r = math.hypot(_num(end[1]) - _num(center[1]), _num(end[2]) - _num(center[2]))
                graphics.append({"kind": "circle", "layer": fl, "cx": _num(center[1]),
                                 "cy": _num(center[2]), "r": r, "width": w})
    return {"name": name, "pads": pads, "graphics": graphics}


def _two_pin_symbol(name: str, prefix: str, led: bool) -> dict:
    pins = [{"number": "1", "name": "K" if led else "~", "x": -300, "y": 0, "length": 100, "rotation": 0},
            {"number": "2", "name": "A" if led else "~", "x": 300, "y": 0, "length": 100, "rotation": 180}]
    if led:
        graphics = [{"kind": "polyline", "points": [[100, 100], [100, -100]], "width": 10},
                    {"kind": "polyline", "points": [[-100, 100], [-100, -100], [100, 0], [-100, 100]],
                     "width": 10}]
    else:
        graphics = [{"kind": "rect", "x1": -200, "y1": 60, "x2": 200, "y2": -60, "width": 10, "filled": False}]
    return {"name": name, "pins": pins, "graphics": graphics, "designator_prefix": prefix,
            "pin_numbers_hidden": True, "pin_names_hidden": not led}


def _crystal_symbol(name: str) -> dict:
    pins = [{"number": "1", "name": "1", "x": -300, "y": 0, "length": 150, "rotation": 0},
            {"number": "2", "name": "2", "x": 300, "y": 0, "length": 150, "rotation": 180},
            {"number": "3", "name": "GND", "x": 0, "y": -300, "length": 150, "rotation": 90}]
    graphics = [{"kind": "rect", "x1": -50, "y1": 100, "x2": 50, "y2": -100, "width": 10, "filled": False},
                {"kind": "polyline", "points": [[-100, 120], [-100, -120]], "width": 10},
                {"kind": "polyline", "points": [[100, 120], [100, -120]], "width": 10}]
    return {"name": name, "pins": pins, "graphics": graphics, "designator_prefix": "Y",
            "pin_numbers_hidden": False, "pin_names_hidden": True}


def part_document(family: str, words: str, fp_name: str, value: str, unit: str) -> tuple[str, dict] | None:
    footprint = footprint_record(fp_name)
    if footprint is None or not footprint["pads"]:
        return None
    package = fp_name.split(":")[1].split("_")[1] if "_" in fp_name else fp_name
    mpn = f"VD-{family}{package.split('-')[0]}-{value}".upper().replace(".", "")
    prefix = {"RES": "R", "CAP": "C", "IND": "L", "FB": "FB", "FUSE": "F", "XTAL": "Y", "LED": "D"}[family]
    if family == "XTAL":
        symbol = _crystal_symbol(mpn)
        connect = [{"pin": "1", "pad": "1"}, {"pin": "2", "pad": "3"}, {"pin": "3", "pad": "2"}]
    else:
        symbol = _two_pin_symbol(mpn, prefix, family == "LED")
        connect = [{"pin": "1", "pad": "1"}, {"pin": "2", "pad": "2"}]
    symbol["footprint"] = fp_name
    symbol["parameters"] = [{"name": "Manufacturer", "value": PART_MANUFACTURER},
                            {"name": "Value", "value": f"{value}{unit}", "visible": True}]
    doc = {"schema_version": 1, "mpn": mpn, "manufacturer": PART_MANUFACTURER, "package": package,
           "value": f"{value}{unit}", "category": words.split()[0], "symbol": symbol,
           "footprint": footprint, "connect": connect,
           "provenance": {"source": "generated demo part", "footprint": fp_name}}
    return mpn, doc
