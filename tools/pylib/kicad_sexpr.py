"""Minimal KiCad s-expression handling shared by the demo data and the viewer tools: a parser
into nested lists whose atoms keep their source text (quoted strings keep their quotes), a
writer, and the few queries they need (symbols of a library, properties, derived symbols)."""
import re

_TOKEN = re.compile(r'\(|\)|"(?:[^"\\]|\\.)*"|[^\s()"]+')


def parse(text: str) -> list:
    stack: list[list] = [[]]
    for tok in _TOKEN.findall(text):
        if tok == "(":
            stack.append([])
        elif tok == ")":
            if len(stack) < 2:
                raise ValueError("unbalanced ')'")
            node = stack.pop()
            stack[-1].append(node)
        else:
            stack[-1].append(tok)
    if len(stack) != 1 or not stack[0]:
        raise ValueError("unbalanced s-expression")
    return stack[0][0]


def write(node, depth: int = 0) -> str:
    if isinstance(node, str):
        return node
    if all(isinstance(c, str) for c in node):
        return "(" + " ".join(node) + ")"
    parts = []
    for c in node:
        if isinstance(c, str) and not parts:
            parts.append(c)
        elif isinstance(c, str):
            parts.append(" " + c)
        else:
            parts.append("\n" + "\t" * (depth + 1) + write(c, depth + 1))
    return "(" + "".join(parts) + "\n" + "\t" * depth + ")"


def unquote(atom: str) -> str:
    if len(atom) >= 2 and atom[0] == '"' and atom[-1] == '"':
        return re.sub(r'\\(.)', r'\1', atom[1:-1])
    return atom


def quote(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def head(node) -> str | None:
    return node[0] if isinstance(node, list) and node and isinstance(node[0], str) else None


def children(node, name: str) -> list:
    return [c for c in node[1:] if head(c) == name]


def child(node, name: str):
    found = children(node, name)
    return found[0] if found else None


def properties(node) -> dict[str, str]:
    out = {}
    for p in children(node, "property"):
        if len(p) >= 3:
            out[unquote(p[1])] = unquote(p[2])
    return out


def library_symbols(lib) -> dict[str, list]:
    return {unquote(s[1]): s for s in children(lib, "symbol") if len(s) > 1}


def flatten_symbol(sym: list, lib_symbols: dict[str, list], depth: int = 0) -> list | None:
    """A derived symbol (extends) merged with its parent: the parent's units and pins with the
    derived symbol's own properties. None when the parent is missing."""
    ext = child(sym, "extends")
    if ext is None:
        return sym
    parent = lib_symbols.get(unquote(ext[1]))
    if parent is None or depth > 4:
        return None
    parent = flatten_symbol(parent, lib_symbols, depth + 1)
    if parent is None:
        return None
    merged = [sym[0], sym[1]]
    merged += [c for c in parent[2:] if head(c) not in ("property", "symbol", "extends", "embedded_fonts")]
    merged += [c for c in sym[2:] if head(c) == "property"]
    merged += [c for c in parent[2:] if head(c) == "symbol"]
    return merged


def rename_symbol(sym: list, new_name: str) -> list:
    """The symbol under a new name, its unit sub-symbols renamed to match (NAME_u_s)."""
    old = unquote(sym[1])
    out = [sym[0], quote(new_name)]
    for c in sym[2:]:
        if head(c) == "symbol" and len(c) > 1:
            sub = unquote(c[1])
            suffix = sub[len(old):] if sub.startswith(old) else "_" + "_".join(sub.rsplit("_", 2)[-2:])
            c = [c[0], quote(new_name + suffix)] + c[2:]
        elif head(c) == "property" and len(c) > 2 and unquote(c[1]) == "Value":
            c = [c[0], c[1], quote(new_name)] + c[3:]
        out.append(c)
    return out


def symbol_library_text(sym: list) -> str:
    lib = ["kicad_symbol_lib", ["version", "20241209"], ["generator", '"vorn_demo_data"'], sym]
    return write(lib) + "\n"
