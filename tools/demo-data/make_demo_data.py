#!/usr/bin/env python3
"""Builds the demo data folder that vorn-platform serves, from Debian's KiCad packages.

  make_demo_data.py [--out demo-data/platform] [--small] [--force]

Component pages come as KiCad pairs (<MPN>.kicad_sym + <MPN>.kicad_mod) cut from the official
symbol and footprint libraries, as part documents (<MPN>.vorn-lbr.json) generated for simple
parts, and as the parts of the demo boards. Board pages carry a demo project in three commits
(components added, PCB and schematic changed) with package.json dependencies, partly through
a component library page; project pages list boards. Owners, organisations, visibilities,
stars, scores and tags vary.

The build happens in a sibling folder that replaces the output only when complete, so an
interrupted run leaves no half-built data; a finished folder is kept (a marker file records
the generator version) unless --force is given. --small builds a fast subset for tests.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "vorn-platform"))
sys.path.insert(0, os.path.join(HERE, "..", "pylib"))

import catalog_tables as T  # noqa: E402
import kicad_sexpr as sx  # noqa: E402
import part_documents  # noqa: E402
from git_objects import Repo  # noqa: E402
from vorn_platform import png  # noqa: E402

GENERATOR_VERSION = "5"
DAY = 86400
_EXCLUDED_TAGS = {"board", "molecule", "project"}


def slugify(text: str, limit: int = 60) -> str:
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")[:limit].strip("-")


def name_of(slug: str) -> str:
    """The name part of a slug: "vorn-labs/ne555" -> "ne555"."""
    return slug.rsplit("/", 1)[-1]


class Builder:
    def __init__(self, root: str, small: bool):
        self.pages_dir = os.path.join(root, "pages")
        self.small = small
        self.now = int(time.time())
        self.count = 0
        self.records: dict[str, dict] = {}
        self.repos: dict[str, Repo] = {}
        self.by_name: dict[str, str] = {}  # name part -> slug; names stay unique across owners

    def exists(self, slug: str) -> bool:
        return name_of(slug) in self.by_name

    def create(self, slug: str, rec: dict) -> None:
        rec = dict(rec, slug=slug, order=self.count)
        self.count += 1
        self.records[slug] = rec
        self.by_name[name_of(slug)] = slug
        self.repos[slug] = Repo(os.path.join(self.pages_dir, slug, "repo"))

    def commit(self, slug: str, files, message: str, author: str, when: int) -> None:
        self.repos[slug].commit(files, message, author, when)

    def save_records(self) -> None:
        for slug, rec in self.records.items():
            with open(os.path.join(self.pages_dir, slug, "meta.json"), "w", encoding="utf-8") as f:
                json.dump(rec, f, indent=1, sort_keys=True)

    def rng(self, slug: str) -> random.Random:
        return random.Random(int(hashlib.sha256(slug.encode()).hexdigest()[:12], 16))

    def page(self, slug: str, fields: dict, files: list[tuple[str, bytes]], message: str,
             author: str, when: int) -> None:
        r = self.rng(slug)
        rec = {"type": "component", "title": slug, "author_name": author, "org_name": "",
               "visibility": "public", "starred": r.random() < 0.15,
               "composite_score": round(r.uniform(0.5, 60.0), 1), "version": "1.0.0"}
        rec.update(fields)
        self.create(slug, rec)
        self.commit(slug, files, message, author, when)

    def owner_of(self, slug: str) -> tuple[str, str, str]:
        r = self.rng("owner:" + slug)
        owner = r.choice(T.USERS)
        org = r.choice(["", *T.ORGS.keys()])
        vis = r.choices(["public", "open", "private"], [6, 3, 1])[0]
        return owner, org, vis

    # ---- KiCad pairs from the official libraries ----------------------------------------
    def kicad_pair(self, name: str, sym: list, fp_text: str, brief: str, tags: list[str],
                   fields: dict | None = None) -> str:
        """A component page under its owner ("<org or user>/<name>"); answers its slug."""
        mpn = name.upper()
        sym_text = sx.symbol_library_text(sx.rename_symbol(sym, mpn))
        owner, org, vis = self.owner_of(name)
        slug = f"{org or owner}/{name}"
        rec = {"title": mpn, "brief": brief, "tags": tags, "author_name": owner, "org_name": org,
               "visibility": vis}
        rec.update(fields or {})
        files = [(f"{mpn}.kicad_sym", sym_text.encode()), (f"{mpn}.kicad_mod", fp_text.encode())]
        when = self.now - self.rng(name).randint(20, 400) * DAY
        self.page(slug, rec, files, f"Add {mpn}", owner, when)
        return slug

    def library_components(self) -> None:
        libs = T.SYMBOL_LIBRARIES[:4] if self.small else T.SYMBOL_LIBRARIES
        for stem, type_tag, take in libs:
            take = min(take, 3) if self.small else take
            try:
                with open(os.path.join(T.KICAD_SYMBOLS, stem + ".kicad_sym"), encoding="utf-8") as f:
                    lib = sx.parse(f.read())
            except (OSError, ValueError) as e:
                print(f"  skip {stem}: {e}", file=sys.stderr)
                continue
            symbols = sx.library_symbols(lib)
            taken = 0
            for name in sorted(symbols):
                if taken >= take:
                    break
                if not re.fullmatch(r"[A-Za-z0-9][A-Za-z0-9_.-]*", name):
                    continue
                slug = slugify(name)
                if not slug or self.exists(slug):
                    continue
                sym = sx.flatten_symbol(symbols[name], symbols)
                if sym is None:
                    continue
                props = sx.properties(sym)
                fp = props.get("Footprint", "")
                fp_text = read_footprint(fp)
                if fp_text is None:
                    continue
                words = [w for w in props.get("ki_keywords", "").lower().split() if w not in _EXCLUDED_TAGS]
                tags = ["component", *type_tag.split()[:1], *words[:4]]
                self.kicad_pair(slug, sym, fp_text, props.get("Description", name), tags,
                                {"lcsc": "", "mpn": name})
                taken += 1

    # ---- part documents ------------------------------------------------------------------
    def part_documents(self) -> None:
        families = T.PART_FAMILIES[::3] if self.small else T.PART_FAMILIES
        for family, words, fp, values, unit in families:
            for value in (values[:2] if self.small else values):
                built = part_documents.part_document(family, words, fp, value, unit)
                if built is None:
                    continue
                mpn, doc = built
                slug = slugify(mpn)
                if self.exists(slug):
                    continue
                owner, org, vis = self.owner_of(slug)
                text = json.dumps(doc, indent=1, ensure_ascii=False) + "\n"
                self.page(slug, {"title": mpn, "brief": f"{doc['value']} {words}, {doc['package']}",
                                 "tags": ["component", *words.split()[:2]], "author_name": owner,
                                 "org_name": org, "visibility": vis},
                          [(f"{mpn}.vorn-lbr.json", text.encode())], f"Add {mpn}", owner,
                          self.now - self.rng(slug).randint(20, 300) * DAY)

    # ---- boards --------------------------------------------------------------------------
    def board_components(self, folder: str, schematics: list[str]) -> list[str]:
        """Component pages for the parts placed on a board's schematics; answers their slugs."""
        slugs: list[str] = []
        for sch in schematics:
            try:
                with open(os.path.join(folder, sch), encoding="utf-8") as f:
                    root = sx.parse(f.read())
            except (OSError, ValueError):
                continue
            lib_syms = {}
            ls = sx.child(root, "lib_symbols")
            if ls:
                lib_syms = sx.library_symbols(ls)
            for placed in sx.children(root, "symbol"):
                lib_id = sx.child(placed, "lib_id")
                props = sx.properties(placed)
                ref = props.get("Reference", "")
                if lib_id is None or ref.startswith("#") or not props.get("Footprint"):
                    continue
                sym = lib_syms.get(sx.unquote(lib_id[1]))
                fp_text = read_footprint(props["Footprint"], folder)
                if sym is None or fp_text is None:
                    continue
                fp_short = "_".join(props["Footprint"].split(":")[-1].split("_")[:2])
                slug = slugify(f"{props.get('Value', '')}-{fp_short}")
                if not slug:
                    continue
                if not self.exists(slug):
                    desc = sx.properties(sym).get("Description", "") or sx.unquote(lib_id[1])
                    self.kicad_pair(slug, sym, fp_text, f"{props.get('Value', '')} — {desc}",
                                    ["component"])
                if self.by_name[slug] not in slugs:
                    slugs.append(self.by_name[slug])
        return slugs

    def board(self, slug, demo, stem, tag, owner, org, vis, title) -> None:
        folder = os.path.join(T.KICAD_DEMOS, demo)
        names = sorted(os.listdir(folder))
        other_roots = {n[:-len(".kicad_pro")] + ".kicad_sch" for n in names
                       if n.endswith(".kicad_pro") and n != stem + ".kicad_pro"}
        schematics = [n for n in names if n.endswith(".kicad_sch") and n not in other_roots]
        root_sch = stem + ".kicad_sch"
        comps = self.board_components(folder, schematics)
        if self.small:
            comps = comps[:8]
        # About a third directly, the rest through the board's component library page.
        direct, via_lib = comps[: max(1, len(comps) // 3)], comps[max(1, len(comps) // 3):]
        name = name_of(slug)
        lib_slug = f"{org or owner}/{name}-parts"
        if via_lib:
            self.page(lib_slug, {"title": f"{title} component library",
                                 "brief": f"Parts used by {title}", "tags": ["library"],
                                 "author_name": owner, "org_name": org, "visibility": vis},
                      [("package.json", package_json(name_of(lib_slug), "1.0.0", via_lib))],
                      "Component library", owner, self.now - 45 * DAY)
        read = lambda n: open(os.path.join(folder, n), "rb").read()  # noqa: E731
        pcb = read(stem + ".kicad_pcb").decode()
        base_files = [(stem + ".kicad_pro", read(stem + ".kicad_pro"))]
        base_files += [(n, read(n)) for n in schematics if n != root_sch]
        models = os.path.join(folder, "3dmodels")
        if os.path.isdir(models):
            base_files += [("3dmodels/" + n, read("3dmodels/" + n)) for n in sorted(os.listdir(models))]
        sch = read(root_sch).decode()
        pcb_v1, removed = remove_footprints(pcb, 3)
        deps_v1 = [d for d in direct if d] + ([lib_slug] if via_lib else [])
        deps = [{"slug": d} for d in direct] + ([lib_slug] if via_lib else [])
        history = [
            (self.now - 40 * DAY, "0.1.0", pcb_v1, set_revision(sch, "A"), deps_v1,
             "Initial schematic and layout"),
            (self.now - 12 * DAY, "0.2.0", pcb, set_revision(sch, "B"), deps,
             "Place " + ", ".join(removed) if removed else "Complete placement"),
            (self.now - 2 * DAY, "1.0.0", move_first_footprint(pcb), set_revision(sch, "C"), deps,
             "Adjust placement and bump revision"),
        ]
        rec = {"title": title, "brief": f"{title} — KiCad demo project", "tags": [tag],
               "author_name": owner, "org_name": org, "visibility": vis}
        for i, (when, version, pcb_text, sch_text, dep_list, message) in enumerate(history):
            files = [(stem + ".kicad_pcb", pcb_text.encode()), (root_sch, sch_text.encode()),
                     ("package.json", package_json(name, version, dep_list))]
            if i == 0:
                files += base_files
                rec["version"] = version
                self.create(slug, {"type": "component", "starred": name == "ecc83-preamp",
                                   "composite_score": round(self.rng(slug).uniform(20, 95), 1), **rec})
            self.commit(slug, files, message, owner if i != 1 else T.USERS[(i + len(slug)) % 4], when)
        self.records[slug]["version"] = "1.0.0"

    def project(self, slug, title, owner, org, vis, boards) -> None:
        hero = png.pattern_png(slug, 320, 180, 8)
        self.page(slug, {"title": title, "brief": f"{title}: " + ", ".join(boards), "tags": ["project"],
                         "author_name": owner, "org_name": org, "visibility": vis, "hero": "hero.png",
                         "starred": True},
                  [("package.json", package_json(name_of(slug), "1.0.0", boards)), ("hero.png", hero)],
                  "Create project", owner, self.now - 30 * DAY)


def package_json(name: str, version: str, deps: list) -> bytes:
    return (json.dumps({"name": name, "version": version, "dependencies": deps}, indent=2) + "\n").encode()


def read_footprint(lib_name: str, project_folder: str | None = None) -> str | None:
    lib, _, name = lib_name.partition(":")
    if not name or "/" in name or "/" in lib:
        return None
    candidates = [os.path.join(T.KICAD_FOOTPRINTS, lib + ".pretty", name + ".kicad_mod")]
    if project_folder:
        for d in sorted(os.listdir(project_folder)):
            if d.endswith(".pretty"):
                candidates.append(os.path.join(project_folder, d, name + ".kicad_mod"))
    for c in candidates:
        if os.path.isfile(c):
            with open(c, encoding="utf-8") as f:
                return f.read()
    return None


def _block_end(text: str, start: int) -> int:
    depth, i, n = 0, start, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            i += 1
            while i < n and text[i] != '"':
                i += 2 if text[i] == "\\" else 1
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    return n


def remove_footprints(pcb: str, count: int) -> tuple[str, list[str]]:
    """The board without its last `count` referenced footprints, and their references."""
    starts = [m.start() + 1 for m in re.finditer(r"\n\t\(footprint ", pcb)]
    removed, text = [], pcb
    for s in reversed(starts):
        if len(removed) >= count:
            break
        end = _block_end(text, s)
        m = re.search(r'\(property "Reference" "([^"]*)"', text[s:end])
        if not m or m.group(1) in ("", "REF**"):
            continue
        removed.append(m.group(1))
        text = text[:s] + text[end:].lstrip("\n")
    return text, sorted(removed)


def move_first_footprint(pcb: str) -> str:
    m = re.search(r"\n\t\(footprint [^\n]*\n(?:\t\t[^\n]*\n)*?\t\t\(at (-?[\d.]+) (-?[\d.]+)", pcb)
    if not m:
        return pcb + "\n"
    x = float(m.group(1)) + 2.54
    return pcb[:m.start(1)] + f"{x:.4f}".rstrip("0").rstrip(".") + pcb[m.end(1):]


def set_revision(sch: str, rev: str) -> str:
    if re.search(r'\(title_block[^()]*(?:\([^()]*\)\s*)*?\(rev "', sch):
        return re.sub(r'(\(title_block(?:[^()]|\([^()]*\))*?\(rev ")[^"]*(")', rf"\g<1>{rev}\g<2>", sch, count=1)
    if "(title_block" in sch:
        return sch.replace("(title_block", f'(title_block\n\t\t(rev "{rev}")', 1)
    return re.sub(r'(\n\t\(paper [^\n]*\))', rf'\1\n\t(title_block\n\t\t(rev "{rev}")\n\t)', sch, count=1)


def build(out: str, small: bool) -> int:
    tmp = out + ".building"
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    b = Builder(tmp, small)
    t0 = time.time()
    boards = T.BOARDS[:2] if small else T.BOARDS
    print(f"  boards from the KiCad demo projects ({len(boards)}, three commits each) …", flush=True)
    for board_args in boards:
        b.board(*board_args)
    print(f"  boards: {len(boards)} ({time.time() - t0:.1f} s, {b.count} pages so far)")
    print("  components cut from the KiCad symbol and footprint libraries …", flush=True)
    b.library_components()
    print("  part documents for passives, crystals, fuses and LEDs …", flush=True)
    b.part_documents()
    print("  projects, organisations and identity …", flush=True)
    for slug, title, owner, org, vis, members in T.PROJECTS:
        present = [m for m in members if b.exists(m)]
        if present:
            b.project(slug, title, owner, org, vis, present)
    b.save_records()
    with open(os.path.join(tmp, "orgs.json"), "w") as f:
        json.dump(T.ORGS, f, indent=1)
    with open(os.path.join(tmp, "identity.json"), "w") as f:
        json.dump(T.IDENTITY, f, indent=1)
    with open(os.path.join(tmp, ".complete"), "w") as f:
        f.write(GENERATOR_VERSION + (" small" if small else "") + "\n")
    shutil.rmtree(out, ignore_errors=True)
    os.replace(tmp, out)
    return b.count


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=os.path.join(HERE, "..", "..", "demo-data", "platform"))
    ap.add_argument("--small", action="store_true", help="a fast subset for tests")
    ap.add_argument("--force", action="store_true")
    args = ap.parse_args()
    out = os.path.abspath(args.out)
    marker = os.path.join(out, ".complete")
    want = GENERATOR_VERSION + (" small" if args.small else "")
    if not args.force and os.path.isfile(marker) and open(marker).read().strip() == want:
        print(f"demo data up to date in {out}")
        return 0
    t0 = time.time()
    print(f"building demo data in {out} …", flush=True)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    count = build(out, args.small)
    print(f"demo data: {count} pages in {time.time() - t0:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
