#!/usr/bin/env python3
# Turns a staged KiCad project folder into a self-contained project.
#
# The schematics carry full copies of the symbols they use (their (lib_symbols ...) section) and
# the board carries every footprint in full. This script extracts those copies into one project
# library named by <libnick> ("<libnick>.kicad_sym" and the folder "<libnick>.pretty"), points
# every "LIB:NAME" reference at "<libnick>:NAME", writes project-local "sym-lib-table" and
# "fp-lib-table", and prints one JSON line:
#   {"root": [...], "pretty": [...], "symbols": n, "footprints": m}
# "root" lists the files that belong in the project folder, "pretty" the footprint files that
# belong in its "<libnick>.pretty" sub-folder.
#
# Only files inside <work_dir> are read or written. Errors are not caught: a file that cannot
# be read or written ends the script with a traceback and a non-zero status, and nothing is
# printed on standard output.
import json
import os
import re
import sys

USAGE = "usage: selfcontain.py <work_dir> <libnick> <file...>"

SYM_LIB_HEADER = '(kicad_symbol_lib\n\t(version 20231120)\n\t(generator "vorn-lbr")\n'
FP_LIB_HEADER = '\n\t(version 20240108)\n\t(generator "vorn-lbr")\n\t(generator_version "9.0")'

# The footprint's placement on the board: only the first match in a footprint is removed.
AT_RE = re.compile(r"\(at [-\d.eE ]+\)")
# Instance identifiers and pad net assignments, each with the white space before it.
UUID_RE = re.compile(r'\s*\(uuid "[^"]*"\)')
NET_RE = re.compile(r'\s*\(net \d+ "[^"]*"\)')

# Characters that must not reach a file name: path separators and control characters
# (a NUL would make open() fail, the others confuse desktop file systems and shells).
UNSAFE_FILE_CHARS_RE = re.compile(r"[/\\\x00-\x1f]")


def read_text(path):
    # newline="" keeps the line endings of the file as they are.
    with open(path, "r", encoding="utf-8", newline="") as f:
        return f.read()


def write_text(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def balanced_end(text, start):
    # Index just after the ")" that closes the "(" at start; quotes are not taken into account.
    # An unclosed block runs to the end of the text.
    depth = 0
    for i in range(start, len(text)):
        c = text[i]
        if c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return i + 1
    return len(text)


def bare_name(name):
    return name.split(":", 1)[1] if ":" in name else name


def safe_file_name(name):
    # One path component derived from a name taken from the project files: separators and
    # control characters become "_", and a name made only of dots cannot name "." or "..".
    safe = UNSAFE_FILE_CHARS_RE.sub("_", name)
    if safe.strip(".") == "" and safe != "":
        safe = safe.replace(".", "_")
    return safe


def blocks(text, needle):
    # Yields (name, start, end) for every block opened by needle (which ends with a quote);
    # the search resumes after each block, so nested blocks are not listed.
    pos = 0
    while True:
        start = text.find(needle, pos)
        if start < 0:
            return
        name_start = start + len(needle)
        name_end = text.find('"', name_start)
        if name_end < 0:
            return
        end = balanced_end(text, start)
        yield text[name_start:name_end], start, end
        pos = end


def repoint(text, needle, nick):
    # "LIB:NAME" after every occurrence of needle becomes "<nick>:NAME"; values without a
    # colon, and all other text, are copied unchanged.
    out = []
    pos = 0
    while True:
        i = text.find(needle, pos)
        if i < 0:
            break
        value_start = i + len(needle)
        value_end = text.find('"', value_start)
        if value_end < 0:
            break
        value = text[value_start:value_end]
        out.append(text[pos:value_start])
        if ":" in value:
            value = nick + ":" + value.split(":", 1)[1]
        out.append(value)
        pos = value_end
    out.append(text[pos:])
    return "".join(out)


def embedded_symbols(schematics):
    # (name, block) of every symbol the schematics embed in their lib_symbols, in file order.
    for path in schematics:
        text = read_text(path)
        start = text.find("(lib_symbols")
        if start < 0:
            continue
        section = text[start : balanced_end(text, start)]
        for name, b_start, b_end in blocks(section, '(symbol "'):
            yield name, section[b_start:b_end]


def collect_symbols(schematics):
    # The first schematic to embed a bare name wins; the block is renamed to the bare name.
    collected = {}
    for name, block in embedded_symbols(schematics):
        bare = bare_name(name)
        if bare not in collected:
            collected[bare] = block.replace('"' + name + '"', '"' + bare + '"', 1)
    return list(collected.values())


def library_footprint(name, bare, block):
    # A board footprint turned into a library footprint: bare name, no placement, no instance
    # identifiers, no nets, and the library header after the name.
    block = block.replace('"' + name + '"', '"' + bare + '"', 1)
    block = AT_RE.sub("", block, count=1)
    block = UUID_RE.sub("", block)
    block = NET_RE.sub("", block)
    head = '(footprint "' + bare + '"'
    if block.startswith(head):
        block = head + FP_LIB_HEADER + block[len(head) :]
    return block


def extract_footprints(boards, pretty_dir, nick):
    written = []
    for path in boards:
        text = read_text(path)
        met = set()
        for name, start, end in blocks(text, '(footprint "'):
            bare = bare_name(name)
            if bare in met:
                continue
            met.add(bare)
            block = library_footprint(name, bare, text[start:end])
            out = os.path.join(pretty_dir, safe_file_name(bare) + ".kicad_mod")
            write_text(out, block + "\n")
            written.append(out)
        write_text(path, repoint(text, '(footprint "', nick))
    return written


def lib_table(kind, nick, uri, descr):
    return (
        "(" + kind + "\n"
        "  (version 7)\n"
        '  (lib (name "' + nick + '")(type "KiCad")(uri "${KIPRJMOD}/' + uri + '")'
        '(options "")(descr "' + descr + '"))\n'
        ")\n"
    )


def bad_argument(work_dir, nick, names):
    # The nickname becomes file names and a quoted table entry; the listed names must stay
    # inside the working folder.
    if not work_dir or not nick or re.search(r'[/\\":\x00-\x1f]', nick):
        return True
    for name in names:
        if not name or os.path.isabs(name) or "\x00" in name:
            return True
        if ".." in re.split(r"[/\\]", name):
            return True
    return False


# ---- completing mode: libraries only for the nicknames the desktop lacks ------------------
# selfcontain.py --complete <work_dir> <have_file> <file...>
# <have_file> (inside <work_dir>) holds {"sym": [...], "fp": [...]}: the nicknames of the
# user's library tables. Every nickname the schematics or boards use and the tables lack gets a
# library of its own under "libraries/" made from the embedded copies, under that same
# nickname, so no reference changes; "sym-lib-table" / "fp-lib-table" get rows for exactly
# those nicknames and are written only when there is one. Prints one JSON line:
#   {"root": [...], "folders": [{"folder": rel, "files": [...]}, ...], "symbols": n,
#    "footprints": m, "missing": {"sym": [...], "fp": [...]}}
COMPLETE_USAGE = "usage: selfcontain.py --complete <work_dir> <have_file> <file...>"
LIB_FOLDER = "libraries"
# A nickname that could not stand in a table row or is not a nickname at all.
BAD_NICK_RE = re.compile(r'[\\"\x00-\x1f]')


def used_values(text, needle):
    # The "LIB" parts of every "LIB:NAME" value after needle.
    nicks = []
    for name, _start, _end in blocks(text, needle):
        if ":" in name:
            nicks.append(name.split(":", 1)[0])
    return nicks


def used_nicknames(schematics, boards):
    sym, fp = [], []
    for path in schematics:
        text = read_text(path)
        sym += used_values(text, '(lib_id "')
        fp += used_values(text, '(property "Footprint" "')
    for path in boards:
        fp += used_values(read_text(path), '(footprint "')
    keep = lambda nicks: list(dict.fromkeys(n for n in nicks if n and not BAD_NICK_RE.search(n)))
    return keep(sym), keep(fp)


def library_files(nicks, suffix):
    # Nickname -> a file name of its own under the library folder.
    taken, out = set(), {}
    for nick in nicks:
        base = safe_file_name(nick) or "lib"
        name, i = base + suffix, 2
        while name.lower() in taken:
            name, i = base + "_" + str(i) + suffix, i + 1
        taken.add(name.lower())
        out[nick] = name
    return out


def symbols_of(schematics, nick):
    # The embedded copies of "<nick>:NAME", renamed to NAME; the first schematic wins.
    collected = {}
    for name, block in embedded_symbols(schematics):
        if not name.startswith(nick + ":"):
            continue
        bare = bare_name(name)
        if bare not in collected:
            collected[bare] = block.replace('"' + name + '"', '"' + bare + '"', 1)
    return list(collected.values())


def schematic_footprints(schematics, nick):
    # Bare names the schematics' Footprint fields ask of <nick>.
    names = set()
    for path in schematics:
        for name, _start, _end in blocks(read_text(path), '(property "Footprint" "'):
            if name.startswith(nick + ":"):
                names.add(bare_name(name))
    return names


def footprints_of(boards, nick, wanted, pretty_dir):
    # The board's copies of "<nick>:NAME", and of any footprint whose bare name the schematics
    # ask of <nick> (a board may carry it under another library).
    written, met = [], set()
    for path in boards:
        text = read_text(path)
        for name, start, end in blocks(text, '(footprint "'):
            if not (name.startswith(nick + ":") or bare_name(name) in wanted) or bare_name(name) in met:
                continue
            bare = bare_name(name)
            met.add(bare)
            out = os.path.join(pretty_dir, safe_file_name(bare) + ".kicad_mod")
            write_text(out, library_footprint(name, bare, text[start:end]) + "\n")
            written.append(out)
    return written


def table_rows(kind, files, descr):
    rows = "".join(
        '  (lib (name "' + nick + '")(type "KiCad")(uri "${KIPRJMOD}/' + LIB_FOLDER + "/" + f + '")'
        '(options "")(descr "' + descr + '"))\n'
        for nick, f in files.items()
    )
    return "(" + kind + "\n  (version 7)\n" + rows + ")\n"


def complete(work_dir, have_file, names):
    with open(os.path.join(work_dir, have_file), encoding="utf-8") as f:
        have = json.load(f)
    paths = [os.path.join(work_dir, n) for n in names]
    schematics = [p for n, p in zip(names, paths) if n.endswith(".kicad_sch")]
    boards = [p for n, p in zip(names, paths) if n.endswith(".kicad_pcb")]
    used_sym, used_fp = used_nicknames(schematics, boards)
    missing_sym = [n for n in used_sym if n not in set(have.get("sym", []))]
    missing_fp = [n for n in used_fp if n not in set(have.get("fp", []))]
    lib_dir = os.path.join(work_dir, LIB_FOLDER)
    os.makedirs(lib_dir, exist_ok=True)
    root, folders, n_symbols, n_footprints = [], [], 0, 0
    sym_files = library_files(missing_sym, ".kicad_sym")
    sym_paths = []
    for nick, file_name in sym_files.items():
        symbols = symbols_of(schematics, nick)
        n_symbols += len(symbols)
        path = os.path.join(lib_dir, file_name)
        write_text(path, SYM_LIB_HEADER + "".join("\t" + b + "\n" for b in symbols) + ")\n")
        sym_paths.append(path)
    if sym_paths:
        folders.append({"folder": LIB_FOLDER, "files": sym_paths})
    fp_files = library_files(missing_fp, ".pretty")
    for nick, folder_name in fp_files.items():
        pretty_dir = os.path.join(lib_dir, folder_name)
        os.makedirs(pretty_dir, exist_ok=True)
        written = footprints_of(boards, nick, schematic_footprints(schematics, nick), pretty_dir)
        n_footprints += len(written)
        folders.append({"folder": LIB_FOLDER + "/" + folder_name, "files": written})
    for kind, table, files, descr in (
        ("sym_lib_table", "sym-lib-table", sym_files, "vorn-lbr project symbols from the embedded copies"),
        ("fp_lib_table", "fp-lib-table", fp_files, "vorn-lbr project footprints from the board"),
    ):
        if files:
            path = os.path.join(work_dir, table)
            write_text(path, table_rows(kind, files, descr))
            root.append(path)
    result = {
        "root": root,
        "folders": folders,
        "symbols": n_symbols,
        "footprints": n_footprints,
        "missing": {"sym": missing_sym, "fp": missing_fp},
    }
    print(json.dumps(result))
    return 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "--complete":
        if len(argv) < 5 or bad_argument(argv[2], "nick", argv[3:]):
            print(COMPLETE_USAGE, file=sys.stderr)
            return 2
        return complete(argv[2], argv[3], argv[4:])
    if len(argv) < 4 or bad_argument(argv[1], argv[2], argv[3:]):
        print(USAGE, file=sys.stderr)
        return 2
    work_dir, nick, names = argv[1], argv[2], argv[3:]
    paths = [os.path.join(work_dir, n) for n in names]
    schematics = [p for n, p in zip(names, paths) if n.endswith(".kicad_sch")]
    boards = [p for n, p in zip(names, paths) if n.endswith(".kicad_pcb")]

    symbols = collect_symbols(schematics)
    sym_lib = os.path.join(work_dir, nick + ".kicad_sym")
    write_text(sym_lib, SYM_LIB_HEADER + "".join("\t" + b + "\n" for b in symbols) + ")\n")

    for path in schematics:
        text = read_text(path)
        for needle in ('(lib_id "', '(symbol "', '(property "Footprint" "'):
            text = repoint(text, needle, nick)
        write_text(path, text)

    pretty_dir = os.path.join(work_dir, nick + ".pretty")
    os.makedirs(pretty_dir, exist_ok=True)
    pretty = extract_footprints(boards, pretty_dir, nick)

    sym_table = os.path.join(work_dir, "sym-lib-table")
    fp_table = os.path.join(work_dir, "fp-lib-table")
    write_text(
        sym_table,
        lib_table("sym_lib_table", nick, nick + ".kicad_sym", "vorn-lbr self-contained project symbols"),
    )
    write_text(
        fp_table,
        lib_table("fp_lib_table", nick, nick + ".pretty", "vorn-lbr self-contained project footprints"),
    )

    result = {
        "root": paths + [sym_lib, sym_table, fp_table],
        "pretty": pretty,
        "symbols": len(symbols),
        "footprints": len(pretty),
    }
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
