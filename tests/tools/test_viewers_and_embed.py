"""The viewer tools' part geometry and platform lookup, and the embed tools' pages and exit
statuses (the binaries are found through VORN_TOOLS_BIN, else build/tools/bin)."""
import os
import shutil
import subprocess
import tempfile
import unittest

from support import ROOT  # puts the tools on the import path first

import kicad_sexpr as sx
from vorn_viewers import enrich, geometry

TOOLS_BIN = os.environ.get("VORN_TOOLS_BIN") or os.path.join(ROOT, "build", "tools", "bin")

BOARD = '''(kicad_pcb
  (gr_rect (start 0 0) (end 50 40) (layer "Edge.Cuts"))
  (footprint "R" (layer "F.Cu") (at 10 20 90)
    (property "Reference" "R1") (property "Value" "10k") (property "LCSC" "C25804")
    (pad "1" smd rect (at -1 0) (size 1 1)) (pad "2" smd rect (at 1 0) (size 1 1)))
  (footprint "MH" (layer "B.Cu") (at 40 30) (property "Reference" "REF**") (pad "" np_thru_hole circle (at 0 0) (size 3 3)))
  (footprint "U" (layer "B.Cu") (at 30 10) (property "Reference" "U1") (property "Value" "NE555") (property "MPN" "NE555DR"))
)'''

SYMBOL = '''(kicad_symbol_lib (version 20241209)
  (symbol "NE555" (property "Reference" "U")
    (symbol "NE555_0_1" (rectangle (start -5 5) (end 5 -5)))
    (symbol "NE555_1_1"
      (pin input line (at -7.62 2.54 0) (length 2.54) (name "TR") (number "2"))
      (pin output line (at 7.62 0 180) (length 2.54) (name "Q&<") (number "3")))))'''


class GeometryTest(unittest.TestCase):
    def test_board_parts_follow_footprint_rotation_and_skip_unreferenced(self):
        root = sx.parse(BOARD)
        parts = geometry.board_parts(root)
        self.assertEqual(["R1"], [p["ref"] for p in parts])  # no pads: U1 has no box; REF** skipped
        r1 = parts[0]
        self.assertEqual(("10k", "10k", "C25804", "front"), (r1["value"], r1["mpn"], r1["lcsc"], r1["side"]))
        x, y, w, h = r1["box"]
        self.assertGreater(h, w)  # pads along x turned by 90° stand along y
        self.assertAlmostEqual(10, x + w / 2, places=3)
        self.assertAlmostEqual(20, y + h / 2, places=3)
        self.assertEqual([0, 0, 50, 40], geometry.board_outline(root).rect())

    def test_schematic_part_box_covers_its_pins(self):
        sch = sx.parse('(kicad_sch (lib_symbols ' + SYMBOL[len('(kicad_symbol_lib (version 20241209)'):-1] +
                       ') (symbol (lib_id "NE555") (at 100 50 0) (unit 1) (property "Reference" "U3") '
                       '(property "Value" "NE555")) (symbol (lib_id "NE555") (at 0 0 0) (property "Reference" "#PWR1")))')
        parts = geometry.schematic_parts(sch)
        self.assertEqual(["U3"], [p["ref"] for p in parts])
        x, y, w, h = parts[0]["box"]
        self.assertLessEqual(x, 100 - 7.62)
        self.assertGreaterEqual(x + w, 100 + 7.62)
        self.assertLessEqual(y, 50 - 5)


class EnrichLookupTest(unittest.TestCase):
    PAGES = [{"slug": "ne555-dip-8", "title": "NE555-DIP-8"}, {"slug": "lm358", "title": "LM358", "mpn": "LM358"},
             {"slug": "r-0603", "lcsc": "C25804"}]

    def test_lookup_order(self):
        self.assertEqual("r-0603", enrich.find_page(self.PAGES, "LM358", "c25804")["slug"])
        self.assertEqual("lm358", enrich.find_page(self.PAGES, "lm358", "")["slug"])
        self.assertEqual("ne555-dip-8", enrich.find_page(self.PAGES, "NE555", "")["slug"])
        self.assertIsNone(enrich.find_page(self.PAGES, "", ""))
        self.assertIsNone(enrich.find_page(self.PAGES, "NE55", ""))


@unittest.skipUnless(os.path.isfile(os.path.join(TOOLS_BIN, "vorn-symbol")), "embed tools not built")
class EmbedToolTest(unittest.TestCase):
    def run_tool(self, tool, name, text):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d)
        src, out = os.path.join(d, name), os.path.join(d, "out.html")
        with open(src, "w") as f:
            f.write(text)
        r = subprocess.run([os.path.join(TOOLS_BIN, tool), "embed", "--file", src, "--out", out],
                           capture_output=True, text=True, timeout=60)
        if not os.path.exists(out):
            return r.returncode, None
        with open(out) as f:
            return r.returncode, f.read()

    def test_symbol_page_has_escaped_pin_tooltips(self):
        status, page = self.run_tool("vorn-symbol", "NE555.kicad_sym", SYMBOL)
        self.assertEqual(0, status)
        self.assertIn("data-num='3' data-name='Q&amp;&lt;'", page)
        self.assertIn("</head>", page)
        self.assertNotIn("http", page.replace("http://www.w3.org/2000/svg", ""))  # self-contained

    def test_footprint_page_and_bad_inputs(self):
        fp = '(footprint "R_0603" (pad "1" smd roundrect (at -0.8 0 90) (size 0.8 0.9) (layers "F.Cu")))'
        status, page = self.run_tool("vorn-footprint", "R.kicad_mod", fp)
        self.assertEqual(0, status)
        self.assertIn("data-num='1'", page)
        self.assertEqual(1, self.run_tool("vorn-footprint", "R.kicad_mod", SYMBOL)[0])
        self.assertEqual(1, self.run_tool("vorn-symbol", "X.kicad_sym", "(kicad_symbol_lib")[0])
        self.assertEqual(2, subprocess.run([os.path.join(TOOLS_BIN, "vorn-symbol"), "embed"],
                                           capture_output=True).returncode)


if __name__ == "__main__":
    unittest.main()
