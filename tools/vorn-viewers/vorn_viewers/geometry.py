"""Where the parts sit: footprint outlines of a board (from their pads) and symbol outlines of a
schematic (from their pins and body shapes), as boxes in page millimetres, with the reference,
value and part numbers the viewer shows and asks about. Also the board outline's box."""
import math

import kicad_sexpr as sx

_MPN_KEYS = ("MPN", "Manufacturer_Part_Number", "Mfr Part Number", "PartNumber", "MFN")
_LCSC_KEYS = ("LCSC", "LCSC Part", "LCSC_Part", "JLCPCB Part")


def _nums(node, start: int = 1) -> list[float]:
    out = []
    for a in node[start:]:
        if isinstance(a, str):
            try:
                out.append(float(a))
            except ValueError:
                pass
    return out


def _first(props: dict, keys) -> str:
    for k in keys:
        if props.get(k):
            return props[k]
    return ""


class Box:
    def __init__(self):
        self.x0 = self.y0 = math.inf
        self.x1 = self.y1 = -math.inf

    def add(self, x: float, y: float) -> None:
        self.x0, self.y0 = min(self.x0, x), min(self.y0, y)
        self.x1, self.y1 = max(self.x1, x), max(self.y1, y)

    def empty(self) -> bool:
        return not (self.x0 <= self.x1 and self.y0 <= self.y1)

    def rect(self, margin: float = 0.0) -> list[float]:
        return [round(self.x0 - margin, 3), round(self.y0 - margin, 3),
                round(self.x1 - self.x0 + 2 * margin, 3), round(self.y1 - self.y0 + 2 * margin, 3)]


def _rotate(x: float, y: float, deg: float) -> tuple[float, float]:
    """KiCad's rotation on the page (y down): positive angles turn counter-clockwise on screen."""
    t = math.radians(deg)
    return x * math.cos(t) + y * math.sin(t), -x * math.sin(t) + y * math.cos(t)


def _part(props: dict, box: Box, extra: dict) -> dict:
    return {"ref": props.get("Reference", ""), "value": props.get("Value", ""),
            "mpn": _first(props, _MPN_KEYS) or props.get("Value", ""),
            "lcsc": _first(props, _LCSC_KEYS), "box": box.rect(0.4), **extra}


def board_parts(root) -> list[dict]:
    parts = []
    for fp in sx.children(root, "footprint"):
        at = sx.child(fp, "at")
        if at is None:
            continue
        xy = _nums(at)
        fx, fy, frot = xy[0], xy[1], (xy[2] if len(xy) > 2 else 0.0)
        props = sx.properties(fp)
        if props.get("Reference", "") in ("", "REF**"):
            continue
        box = Box()
        for pad in sx.children(fp, "pad"):
            pat, size = sx.child(pad, "at"), sx.child(pad, "size")
            if pat is None or size is None:
                continue
            px, py = _nums(pat)[:2]
            w, h = _nums(size)[:2]
            r = math.hypot(w, h) / 2
            cx, cy = _rotate(px, py, frot)
            box.add(fx + cx - r, fy + cy - r)
            box.add(fx + cx + r, fy + cy + r)
        if box.empty():
            continue
        layer = sx.child(fp, "layer")
        side = "back" if layer and sx.unquote(layer[1]).startswith("B.") else "front"
        parts.append(_part(props, box, {"side": side}))
    return parts


def board_outline(root) -> Box:
    box = Box()
    for g in root[1:]:
        if sx.head(g) not in ("gr_line", "gr_rect", "gr_arc", "gr_circle", "gr_poly"):
            continue
        layer = sx.child(g, "layer")
        if not layer or sx.unquote(layer[1]) != "Edge.Cuts":
            continue
        for key in ("start", "end", "mid", "center"):
            node = sx.child(g, key)
            if node:
                x, y = _nums(node)[:2]
                box.add(x, y)
        if sx.head(g) == "gr_circle":
            c, e = sx.child(g, "center"), sx.child(g, "end")
            if c and e:
                (cx, cy), (ex, ey) = _nums(c)[:2], _nums(e)[:2]
                r = math.hypot(ex - cx, ey - cy)
                box.add(cx - r, cy - r)
                box.add(cx + r, cy + r)
        pts = sx.child(g, "pts")
        for xy in sx.children(pts, "xy") if pts else []:
            box.add(*_nums(xy)[:2])
    return box


def _symbol_points(lib_sym, unit: int) -> list[tuple[float, float]]:
    pts = []
    for sub in sx.children(lib_sym, "symbol"):
        name = sx.unquote(sub[1])
        try:
            sub_unit = int(name.rsplit("_", 2)[-2])
        except (ValueError, IndexError):
            sub_unit = 0
        if sub_unit not in (0, unit):
            continue
        for item in sub[2:]:
            kind = sx.head(item)
            if kind == "pin":
                at, length = sx.child(item, "at"), sx.child(item, "length")
                if at:
                    x, y, *rest = _nums(at) + [0.0]
                    ln = _nums(length)[0] if length else 2.54
                    t = math.radians(rest[0])
                    pts += [(x, y), (x + ln * math.cos(t), y + ln * math.sin(t))]
            elif kind in ("rectangle", "circle", "arc", "polyline"):
                for key in ("start", "end", "mid", "center"):
                    node = sx.child(item, key)
                    if node:
                        pts.append(tuple(_nums(node)[:2]))
                p = sx.child(item, "pts")
                for xy in sx.children(p, "xy") if p else []:
                    pts.append(tuple(_nums(xy)[:2]))
    return pts


def schematic_parts(root) -> list[dict]:
    lib = sx.child(root, "lib_symbols")
    lib_syms = sx.library_symbols(lib) if lib else {}
    parts = []
    for sym in sx.children(root, "symbol"):
        lib_id, at = sx.child(sym, "lib_id"), sx.child(sym, "at")
        props = sx.properties(sym)
        if lib_id is None or at is None or props.get("Reference", "#").startswith("#"):
            continue
        sx_, sy, *rot = _nums(at) + [0.0]
        unit_node = sx.child(sym, "unit")
        unit = int(_nums(unit_node)[0]) if unit_node and _nums(unit_node) else 1
        mirror = sx.child(sym, "mirror")
        lib_sym = lib_syms.get(sx.unquote(lib_id[1]))
        box = Box()
        for x, y in (_symbol_points(lib_sym, unit) if lib_sym else []):
            y = -y  # library symbols are drawn with y up
            if mirror and mirror[1] == "x":
                y = -y
            if mirror and mirror[1] == "y":
                x = -x
            rx, ry = _rotate(x, y, rot[0])
            box.add(sx_ + rx, sy + ry)
        if box.empty():
            box.add(sx_ - 1.27, sy - 1.27)
            box.add(sx_ + 1.27, sy + 1.27)
        parts.append(_part(props, box, {"lib_id": sx.unquote(lib_id[1])}))
    return parts
