"""Tests of the self-contain script (assets/selfcontain.py).

Small hand-written KiCad files pin the exact texts and the corner cases; real demo projects from
Debian's kicad-demos package, checked with kicad-cli 9, show that the result still loads in KiCad
with every reference resolved through the project library.
"""
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.environ.get("VORN_SELFCONTAIN") or os.path.join(HERE, "..", "..", "assets", "selfcontain.py")
DEMOS = "/usr/share/kicad/demos"
KICAD_CLI = shutil.which("kicad-cli")
NICK = "acme_board"


def run_script(*args):
    proc = subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def values_after(text, needle):
    return re.findall(re.escape(needle) + r'([^"]*)"', text)


def balanced(text, start):
    depth = 0
    for i in range(start, len(text)):
        depth += {"(": 1, ")": -1}.get(text[i], 0)
        if depth == 0:
            return i + 1
    return len(text)


def top_level_symbols(text, start_at):
    """Names of the symbols directly inside the list that opens at start_at."""
    names, pos, end = [], start_at + 1, balanced(text, start_at)
    while True:
        i = text.find('(symbol "', pos, end)
        if i < 0:
            return names
        names.append(text[i + 9 : text.find('"', i + 9)])
        pos = balanced(text, i)


def depth_one_heads(block):
    """Keywords of the items directly inside the block, such as "layer", "at", "pad"."""
    heads, depth = [], 0
    for m in re.finditer(r"[()]", block):
        if m.group() == "(":
            depth += 1
            if depth == 2:
                heads.append(re.match(r"\(([^\s()]*)", block[m.start() :]).group(1))
        else:
            depth -= 1
    return heads


SCH_A = """(kicad_sch
\t(version 20250114)
\t(lib_symbols
\t\t(symbol "Device:R"
\t\t\t(property "Footprint" "Resistor_SMD:R_0603")
\t\t\t(property "Marker" "from-a")
\t\t\t(symbol "R_0_1"
\t\t\t\t(rectangle)
\t\t\t)
\t\t)
\t\t(symbol "GND"
\t\t\t(power)
\t\t)
\t)
\t(symbol
\t\t(lib_id "Device:R")
\t\t(property "Footprint" "Resistor_SMD:R_0603")
\t)
\t(symbol
\t\t(lib_id "GND")
\t\t(property "Footprint" "")
\t)
\t(symbol
\t\t(lib_id "Odd:Lib:Name")
\t)
)
"""

# Embeds the same bare name "R" from another library, and one symbol of its own.
SCH_B = """(kicad_sch
\t(lib_symbols
\t\t(symbol "Other:R"
\t\t\t(property "Marker" "from-b")
\t\t)
\t\t(symbol "Device:C"
\t\t\t(symbol "C_1_1")
\t\t)
\t)
\t(symbol
\t\t(lib_id "Device:C")
\t\t(property "Footprint" "Capacitor_SMD:C_0603")
\t)
)
"""

# A sub-sheet without a (lib_symbols ...) section.
SCH_C = """(kicad_sch
\t(symbol
\t\t(lib_id "Device:R")
\t)
)
"""

FOOTPRINT_R = """(footprint "Resistor_SMD:R_0603"
\t\t(layer "F.Cu")
\t\t(uuid "{uuid}")
\t\t(at {x} 20 90)
\t\t(property "Reference" "R{n}"
\t\t\t(at 0 -1.5 90)
\t\t\t(uuid "b{n}")
\t\t)
\t\t(pad "1" smd rect
\t\t\t(at -0.8 0 90)
\t\t\t(net 1 "GND")
\t\t\t(uuid "c{n}")
\t\t)
\t)"""

# What the first R_0603 above becomes in the project library.
FOOTPRINT_R_LIBRARY = """(footprint "R_0603"
\t(version 20240108)
\t(generator "vorn-lbr")
\t(generator_version "9.0")
\t\t(layer "F.Cu")
\t\t
\t\t(property "Reference" "R1"
\t\t\t(at 0 -1.5 90)
\t\t)
\t\t(pad "1" smd rect
\t\t\t(at -0.8 0 90)
\t\t)
\t)
"""


def board(*footprints):
    body = "".join("\t" + fp + "\n" for fp in footprints)
    return '(kicad_pcb\n\t(version 20241229)\n\t(net 0 "")\n\t(net 1 "GND")\n' + body + ")\n"


def resistor(n, x=10):
    return FOOTPRINT_R.format(uuid="a%d" % n, x=x, n=n)


SYM_TABLE = (
    "(sym_lib_table\n  (version 7)\n"
    '  (lib (name "acme_board")(type "KiCad")(uri "${KIPRJMOD}/acme_board.kicad_sym")'
    '(options "")(descr "vorn-lbr self-contained project symbols"))\n)\n'
)
FP_TABLE = (
    "(fp_lib_table\n  (version 7)\n"
    '  (lib (name "acme_board")(type "KiCad")(uri "${KIPRJMOD}/acme_board.pretty")'
    '(options "")(descr "vorn-lbr self-contained project footprints"))\n)\n'
)


class WorkDirTest(unittest.TestCase):
    def setUp(self):
        self.outer = tempfile.mkdtemp(prefix="selfcontain-")
        self.work = os.path.join(self.outer, "work")
        os.mkdir(self.work)

    def tearDown(self):
        shutil.rmtree(self.outer, ignore_errors=True)

    def put(self, name, text):
        write(os.path.join(self.work, name), text)

    def path(self, name):
        return os.path.join(self.work, name)

    def run_ok(self, *names, nick=NICK):
        rc, out, err = run_script(self.work, nick, *names)
        self.assertEqual(rc, 0, err)
        self.assertEqual(out.count("\n"), 1, out)
        return json.loads(out), out


class SymbolTest(WorkDirTest):
    def test_library_holds_one_symbol_per_bare_name_first_schematic_wins(self):
        self.put("a.kicad_sch", SCH_A)
        self.put("b.kicad_sch", SCH_B)
        self.put("c.kicad_sch", SCH_C)
        result, _ = self.run_ok("a.kicad_sch", "b.kicad_sch", "c.kicad_sch")
        lib = read(self.path(NICK + ".kicad_sym"))
        expected = (
            '(kicad_symbol_lib\n\t(version 20231120)\n\t(generator "vorn-lbr")\n'
            '\t(symbol "R"\n\t\t\t(property "Footprint" "Resistor_SMD:R_0603")\n'
            '\t\t\t(property "Marker" "from-a")\n\t\t\t(symbol "R_0_1"\n\t\t\t\t(rectangle)\n'
            "\t\t\t)\n\t\t)\n"
            '\t(symbol "GND"\n\t\t\t(power)\n\t\t)\n'
            '\t(symbol "C"\n\t\t\t(symbol "C_1_1")\n\t\t)\n'
            ")\n"
        )
        self.assertEqual(lib, expected)
        self.assertEqual(result["symbols"], 3)

    def test_references_point_at_the_nickname(self):
        self.put("a.kicad_sch", SCH_A)
        self.put("b.kicad_sch", SCH_B)
        self.put("c.kicad_sch", SCH_C)
        self.run_ok("a.kicad_sch", "b.kicad_sch", "c.kicad_sch")
        a = read(self.path("a.kicad_sch"))
        self.assertEqual(values_after(a, '(lib_id "'), ["acme_board:R", "GND", "acme_board:Lib:Name"])
        self.assertEqual(values_after(a, '(symbol "'), ["acme_board:R", "R_0_1", "GND"])
        self.assertEqual(
            values_after(a, '(property "Footprint" "'), ["acme_board:R_0603", "acme_board:R_0603", ""]
        )
        # Nothing else changes: undoing the three renames gives the original back.
        undone = a.replace('"acme_board:R"', '"Device:R"').replace('"acme_board:R_0603"', '"Resistor_SMD:R_0603"')
        self.assertEqual(undone.replace('"acme_board:Lib:Name"', '"Odd:Lib:Name"'), SCH_A)
        b = read(self.path("b.kicad_sch"))
        self.assertEqual(values_after(b, '(symbol "'), ["acme_board:R", "acme_board:C", "C_1_1"])
        self.assertEqual(values_after(b, '(property "Footprint" "'), ["acme_board:C_0603"])
        # A schematic without embedded symbols is still re-pointed.
        self.assertEqual(read(self.path("c.kicad_sch")), SCH_C.replace("Device:R", "acme_board:R"))

    def test_parenthesis_inside_quoted_text_shifts_the_block_end(self):
        # The "(" in the property value is counted, so the block of "A" swallows "B" and runs to
        # the ")" that closes the section.
        sch = (
            '(kicad_sch\n\t(lib_symbols\n\t\t(symbol "L:A"\n\t\t\t(property "Value" "x(")\n\t\t)\n'
            '\t\t(symbol "L:B")\n\t)\n)\n'
        )
        self.put("s.kicad_sch", sch)
        result, _ = self.run_ok("s.kicad_sch")
        self.assertEqual(result["symbols"], 1)
        lib = read(self.path(NICK + ".kicad_sym"))
        self.assertTrue(lib.endswith('\t\t(symbol "L:B")\n\t)\n)\n'), lib)


class FootprintTest(WorkDirTest):
    def test_extracted_footprint_is_a_library_footprint(self):
        self.put("p.kicad_pcb", board(resistor(1), resistor(2, x=30)))
        result, _ = self.run_ok("p.kicad_pcb")
        mod = self.path(NICK + ".pretty/R_0603.kicad_mod")
        self.assertEqual(result["pretty"], [mod])
        self.assertEqual(read(mod), FOOTPRINT_R_LIBRARY)
        # The board keeps everything but the library part of each footprint name.
        self.assertEqual(
            read(self.path("p.kicad_pcb")),
            board(resistor(1), resistor(2, x=30)).replace("Resistor_SMD:", NICK + ":"),
        )

    def test_one_file_per_bare_name_and_board(self):
        self.put("one.kicad_pcb", board(*[resistor(n, x=n) for n in range(10)]))
        other = resistor(5).replace("Resistor_SMD:R_0603", "Other:R_0603")
        bare = resistor(6).replace("Resistor_SMD:R_0603", "C_0402")
        self.put("two.kicad_pcb", board(other, bare))
        result, _ = self.run_ok("one.kicad_pcb", "two.kicad_pcb")
        pretty = os.path.join(self.work, NICK + ".pretty")
        r, c = os.path.join(pretty, "R_0603.kicad_mod"), os.path.join(pretty, "C_0402.kicad_mod")
        self.assertEqual(result["pretty"], [r, r, c])
        self.assertEqual(result["footprints"], 3)
        self.assertEqual(sorted(os.listdir(pretty)), ["C_0402.kicad_mod", "R_0603.kicad_mod"])
        # The second board wrote R_0603 again, from its own first placement.
        self.assertIn('"R5"', read(r))
        two = read(self.path("two.kicad_pcb"))
        self.assertEqual(values_after(two, '(footprint "'), [NICK + ":R_0603", "C_0402"])

    def test_unclosed_footprint_runs_to_the_end_of_the_board(self):
        # The two "(" inside a quoted value are counted; the block never closes and takes in the
        # rest of the board, so the second footprint is not walked on its own.
        first = '(footprint "L:A"\n\t\t(property "Value" "((")\n\t)'
        text = board(first, '(footprint "L:B")')
        self.put("p.kicad_pcb", text)
        result, _ = self.run_ok("p.kicad_pcb")
        self.assertEqual(len(result["pretty"]), 1)
        self.assertTrue(read(result["pretty"][0]).endswith('\t(footprint "L:B")\n)\n\n'))

    def test_unsafe_footprint_names_stay_inside_the_library_folder(self):
        names = ["L:../../evil", "L:..\\..\\win", "L:..", "L:a\x01b"]
        fps = [resistor(n).replace("Resistor_SMD:R_0603", name) for n, name in enumerate(names)]
        self.put("p.kicad_pcb", board(*fps))
        result, _ = self.run_ok("p.kicad_pcb")
        pretty = os.path.realpath(os.path.join(self.work, NICK + ".pretty"))
        self.assertEqual(len(result["pretty"]), 4)
        inside = []
        for path, name in zip(result["pretty"], names):
            self.assertEqual(os.path.dirname(os.path.realpath(path)), pretty)
            self.assertTrue(read(path).startswith('(footprint "%s"\n' % name[2:]))
            inside.append(os.path.basename(path))
        self.assertEqual(sorted(os.listdir(pretty)), sorted(inside))
        self.assertEqual(os.listdir(self.outer), ["work"])
        self.assertNotIn("evil.kicad_mod", os.listdir(self.work))


class OutputTest(WorkDirTest):
    def test_project_without_schematics(self):
        self.put("p.kicad_pro", "{}")
        result, line = self.run_ok("p.kicad_pro")
        self.assertEqual(read(self.path(NICK + ".kicad_sym")), '(kicad_symbol_lib\n\t(version 20231120)\n\t(generator "vorn-lbr")\n)\n')
        self.assertEqual(read(self.path("sym-lib-table")), SYM_TABLE)
        self.assertEqual(read(self.path("fp-lib-table")), FP_TABLE)
        self.assertTrue(os.path.isdir(self.path(NICK + ".pretty")))
        w = self.work
        self.assertEqual(
            line,
            '{"root": ["%s/p.kicad_pro", "%s/acme_board.kicad_sym", "%s/sym-lib-table", "%s/fp-lib-table"], '
            '"pretty": [], "symbols": 0, "footprints": 0}\n' % (w, w, w, w),
        )

    def test_root_lists_every_file_in_the_given_order(self):
        self.put("z.kicad_pcb", board(resistor(1)))
        self.put("a.kicad_sch", SCH_C)
        self.put("m.kicad_pro", "{}")
        result, _ = self.run_ok("z.kicad_pcb", "m.kicad_pro", "a.kicad_sch")
        names = ["z.kicad_pcb", "m.kicad_pro", "a.kicad_sch", NICK + ".kicad_sym", "sym-lib-table", "fp-lib-table"]
        self.assertEqual(result["root"], [self.path(n) for n in names])
        self.assertEqual(read(self.path("m.kicad_pro")), "{}")

    def test_crlf_line_endings_are_kept(self):
        self.put("a.kicad_sch", SCH_A.replace("\n", "\r\n"))
        self.run_ok("a.kicad_sch")
        self.assertEqual(read(self.path("a.kicad_sch")).count("\r\n"), SCH_A.count("\n"))

    def test_bad_command_lines_write_nothing(self):
        self.put("a.kicad_sch", SCH_A)
        cases = [
            (),
            (self.work,),
            (self.work, NICK),
            (self.work, "", "a.kicad_sch"),
            (self.work, "../x", "a.kicad_sch"),
            (self.work, 'a"b', "a.kicad_sch"),
            (self.work, NICK, "../outside.kicad_sch"),
            (self.work, NICK, "sub\\..\\..\\x.kicad_pcb"),
            (self.work, NICK, os.path.join(self.outer, "abs.kicad_sch")),
        ]
        for args in cases:
            with self.subTest(args=args):
                rc, out, err = run_script(*args)
                self.assertNotEqual(rc, 0)
                self.assertEqual(out, "")
                self.assertIn("usage: selfcontain.py <work_dir> <libnick> <file...>", err)
        self.assertEqual(os.listdir(self.work), ["a.kicad_sch"])
        self.assertEqual(read(self.path("a.kicad_sch")), SCH_A)

    def test_unreadable_file_fails_without_output(self):
        self.put("a.kicad_sch", SCH_A)
        rc, out, err = run_script(self.work, NICK, "a.kicad_sch", "missing.kicad_sch")
        self.assertNotEqual(rc, 0)
        self.assertEqual(out, "")
        self.assertIn("missing.kicad_sch", err)


def netlist_components(path):
    """(ref, value, footprint, library, part) of every component of a KiCad netlist."""
    comps = []
    for chunk in read(path).split("(comp (ref ")[1:]:
        ref = re.match(r'"([^"]*)"', chunk).group(1)
        value = re.search(r'\(value "([^"]*)"\)', chunk)
        fp = re.search(r'\(footprint "([^"]*)"\)', chunk)
        src = re.search(r'\(libsource \(lib "([^"]*)"\) \(part "([^"]*)"\)', chunk)
        comps.append((ref, value and value.group(1), fp and fp.group(1), src.group(1), src.group(2)))
    return sorted(comps)


def kicad(*commands):
    """Runs kicad-cli once per argument list, side by side, and fails if any run fails."""

    def one(args):
        proc = subprocess.run([KICAD_CLI, *args], capture_output=True, text=True, timeout=300)
        if proc.returncode != 0:
            raise AssertionError("kicad-cli %s failed:\n%s%s" % (" ".join(args), proc.stdout, proc.stderr))

    with ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 1)) as pool:
        for _ in pool.map(one, commands):
            pass


def bare(name):
    return name.split(":", 1)[1] if ":" in name else name


@unittest.skipUnless(KICAD_CLI and os.path.isdir(DEMOS), "needs kicad-cli and the kicad-demos package")
class CompleteTest(WorkDirTest):
    """The completing mode: libraries only for the nicknames the user's tables lack."""

    SCH = (
        '(kicad_sch (lib_symbols\n'
        '  (symbol "Have:R" (symbol "R_0_1"))\n'
        '  (symbol "Miss:U" (symbol "U_1_1" (pin input line)) (symbol "U_2_1"))\n'
        '  (symbol "a/b:X" (symbol "X_1_1"))\n'
        '  (symbol "a_b:Y" (symbol "Y_1_1"))\n'
        '  (symbol "Bad\\\\:Z" (symbol "Z_1_1")))\n'
        ' (symbol (lib_id "Have:R") (property "Footprint" "HaveFp:R_0603"))\n'
        ' (symbol (lib_id "Miss:U") (property "Footprint" "SchOnly:DIP-8"))\n'
        ' (symbol (lib_id "a/b:X")) (symbol (lib_id "a_b:Y")) (symbol (lib_id "Bad\\\\:Z")))\n'
    )
    PCB = (
        '(kicad_pcb\n'
        '  (footprint "HaveFp:R_0603" (at 1 2) (pad "1" smd rect (net 1 "GND")))\n'
        '  (footprint "Board:DIP-8" (at 3 4 90) (uuid "u") (pad "1" thru_hole rect (net 2 "X")))\n'
        '  (footprint "Board:DIP-8" (at 5 6))\n'
        ')\n'
    )

    def run_complete(self, have):
        self.put("p.kicad_sch", self.SCH)
        self.put("p.kicad_pcb", self.PCB)
        self.put("have.json", json.dumps(have))
        rc, out, err = run_script("--complete", self.work, "have.json", "p.kicad_sch", "p.kicad_pcb")
        self.assertEqual(rc, 0, err)
        return json.loads(out)

    def test_only_missing_nicknames_get_libraries_and_table_rows(self):
        result = self.run_complete({"sym": ["Have", "Unused"], "fp": ["HaveFp"]})
        self.assertEqual(result["missing"], {"sym": ["Miss", "a/b", "a_b"], "fp": ["SchOnly", "Board"]})
        lib = os.path.join(self.work, "libraries")
        self.assertEqual(
            result["folders"],
            [
                {"folder": "libraries", "files": [os.path.join(lib, n) for n in ("Miss.kicad_sym", "a_b.kicad_sym", "a_b_2.kicad_sym")]},
                {"folder": "libraries/SchOnly.pretty", "files": [os.path.join(lib, "SchOnly.pretty", "DIP-8.kicad_mod")]},
                {"folder": "libraries/Board.pretty", "files": [os.path.join(lib, "Board.pretty", "DIP-8.kicad_mod")]},
            ],
        )
        self.assertEqual(result["root"], [self.path("sym-lib-table"), self.path("fp-lib-table")])
        self.assertEqual(
            read(os.path.join(lib, "Miss.kicad_sym")),
            '(kicad_symbol_lib\n\t(version 20231120)\n\t(generator "vorn-lbr")\n'
            '\t(symbol "U" (symbol "U_1_1" (pin input line)) (symbol "U_2_1"))\n)\n',
        )
        sym_table = read(self.path("sym-lib-table"))
        self.assertEqual(values_after(sym_table, '(name "'), ["Miss", "a/b", "a_b"])
        self.assertIn('(uri "${KIPRJMOD}/libraries/a_b_2.kicad_sym")', sym_table)
        self.assertEqual(values_after(read(self.path("fp-lib-table")), '(name "'), ["SchOnly", "Board"])
        footprint = read(os.path.join(lib, "Board.pretty", "DIP-8.kicad_mod"))
        self.assertTrue(footprint.startswith('(footprint "DIP-8"\n\t(version 20240108)'), footprint)
        self.assertNotIn("(at 3 4 90)", footprint)
        self.assertNotIn("(net ", footprint)
        # References are left as they are.
        self.assertEqual(read(self.path("p.kicad_sch")), self.SCH)
        self.assertEqual(read(self.path("p.kicad_pcb")), self.PCB)

    def test_nothing_missing_writes_no_table(self):
        result = self.run_complete({"sym": ["Have", "Miss", "a/b", "a_b"], "fp": ["HaveFp", "SchOnly", "Board"]})
        self.assertEqual(result["root"], [])
        self.assertEqual(result["folders"], [])
        self.assertFalse(os.path.exists(self.path("sym-lib-table")))

    def test_bad_arguments(self):
        for args in (["--complete", self.work, "have.json"], ["--complete", self.work, "have.json", "../x.kicad_sch"]):
            rc, out, err = run_script(*args)
            self.assertEqual(rc, 2)
            self.assertEqual(out, "")
            self.assertIn("usage: selfcontain.py --complete", err)


class DemoProjectTest(unittest.TestCase):
    """Self-contains a real demo project and loads the result with kicad-cli."""

    def check_demo(self, demo, root_sheet, boards):
        tmp = tempfile.mkdtemp(prefix="selfcontain-demo-")
        self.addCleanup(shutil.rmtree, tmp, True)
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        src = os.path.join(DEMOS, demo)
        names = sorted(n for n in os.listdir(src) if n.endswith((".kicad_pro", ".kicad_sch", ".kicad_pcb")))
        for n in names:
            shutil.copy(os.path.join(src, n), work)
        schematics = [n for n in names if n.endswith(".kicad_sch")]
        board_names = [n for n in names if n.endswith(".kicad_pcb")]
        self.assertEqual(board_names, boards)
        main_board = os.path.join(work, board_names[0])
        sheet = os.path.join(work, root_sheet)

        erc, drc = os.path.join(tmp, "erc.json"), os.path.join(tmp, "drc.json")

        def export(tag, *checks):
            net, pos = os.path.join(tmp, tag + ".net"), os.path.join(tmp, tag + ".pos")
            kicad(
                ("sch", "export", "netlist", "-o", net, sheet),
                ("pcb", "export", "pos", "--format", "csv", "--units", "mm", "-o", pos, main_board),
                *checks,
            )
            with open(pos, newline="") as f:
                return netlist_components(net), sorted(map(tuple, csv.reader(f)))

        embedded = set()
        for n in schematics:
            text = read(os.path.join(work, n))
            start = text.find("(lib_symbols")
            if start >= 0:
                embedded |= {bare(s) for s in top_level_symbols(text, start)}
        placed = [values_after(read(os.path.join(work, b)), '(footprint "') for b in board_names]
        comps_before, pos_before = export("before")

        rc, out, err = run_script(work, NICK, *names)
        self.assertEqual(rc, 0, err)
        result = json.loads(out)

        # Every reference goes through the project library.
        for n in schematics:
            text = read(os.path.join(work, n))
            for needle in ('(lib_id "', '(property "Footprint" "'):
                for value in values_after(text, needle):
                    self.assertTrue(":" not in value or value.startswith(NICK + ":"), (n, needle, value))
        for b in board_names:
            for value in values_after(read(os.path.join(work, b)), '(footprint "'):
                self.assertTrue(value.startswith(NICK + ":"), (b, value))

        # One symbol per bare name.
        lib = read(os.path.join(work, NICK + ".kicad_sym"))
        in_lib = top_level_symbols(lib, 0)
        self.assertEqual(len(in_lib), len(set(in_lib)))
        self.assertEqual(set(in_lib), embedded)
        self.assertEqual(result["symbols"], len(in_lib))

        # One footprint file per bare name and board, each without board position, uuid or net.
        expected = [os.path.join(work, NICK + ".pretty", bare(n) + ".kicad_mod") for p in placed for n in dict.fromkeys(map(bare, p))]
        self.assertEqual(result["pretty"], expected)
        self.assertEqual(result["footprints"], len(expected))
        for path in set(expected):
            text = read(path)
            self.assertRegex(text, r'^\(footprint "[^"]*"\n\t\(version 20240108\)\n\t\(generator "vorn-lbr"\)\n\t\(generator_version "9.0"\)\n')
            self.assertNotIn("(uuid ", text)
            self.assertIsNone(re.search(r'\(net \d+ "', text), path)
            self.assertNotIn("at", depth_one_heads(text), path)

        # KiCad loads the result: same components and placements, every symbol and footprint found
        # in the project library.
        comps_after, pos_after = export(
            "after",
            ("sch", "erc", "--format", "json", "-o", erc, sheet),
            ("pcb", "drc", "--format", "json", "-o", drc, main_board),
        )
        self.assertEqual(pos_after, pos_before)
        self.assertEqual(len(comps_after), len(comps_before))
        self.assertGreater(len(comps_after), 0)
        for (r0, v0, f0, l0, p0), (r1, v1, f1, l1, p1) in zip(comps_before, comps_after):
            self.assertEqual((r1, v1, p1), (r0, v0, p0))
            self.assertEqual(l1, NICK if l0 else "")
            self.assertEqual(f1, f0 and (NICK + ":" + bare(f0) if ":" in f0 else f0))
        with open(erc) as f:
            erc_types = {v["type"] for s in json.load(f)["sheets"] for v in s["violations"]}
        with open(drc) as f:
            drc_types = {v["type"] for v in json.load(f)["violations"]}
        self.assertNotIn("lib_symbol_issues", erc_types)
        self.assertNotIn("lib_footprint_issues", drc_types)
        return result

    def test_hierarchical_project(self):
        self.check_demo("complex_hierarchy", "complex_hierarchy.kicad_sch", ["complex_hierarchy.kicad_pcb"])

    def test_many_sheets_and_footprints(self):
        result = self.check_demo("video", "video.kicad_sch", ["video.kicad_pcb"])
        self.assertGreater(result["footprints"], 25)

    def test_two_boards_share_footprints(self):
        result = self.check_demo("ecc83", "ecc83-pp.kicad_sch", ["ecc83-pp.kicad_pcb", "ecc83-pp_v2.kicad_pcb"])
        self.assertGreater(len(result["pretty"]), len(set(result["pretty"])))


if __name__ == "__main__":
    unittest.main()
