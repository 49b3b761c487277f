"""The KiCad export service: every failure answers a short "error code …" body in bounded
time, and a real board plots to SVG through kicad-cli."""
import io
import os
import shutil
import stat
import tarfile
import tempfile
import time
import unittest

from support import RunningPlatform
from vorn_platform.export_service import find_root_schematic

DEMO_BOARD = "/usr/share/kicad/demos/ecc83/ecc83-pp.kicad_pcb"


def tar_bytes(files: dict, gz=False) -> bytes:
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz" if gz else "w") as tar:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return buf.getvalue()


class ExportErrorsTest(unittest.TestCase):
    def start(self, **kw):
        p = RunningPlatform(**kw)
        self.addCleanup(p.close)
        return p

    def assertError(self, answer, status, text):
        self.assertEqual(status, answer[0])
        self.assertTrue(answer[1].startswith(b"error code"), answer[1][:80])
        self.assertIn(text, answer[1].decode())

    def test_missing_kicad_cli(self):
        p = self.start(kicad_cli="/nonexistent/kicad-cli")
        self.assertError(p.request("/kicad/pcb/export/svg?layers=F.Cu", body=b"(kicad_pcb)" * 10), 500,
                         "kicad-cli not found")

    def test_bad_archives_and_requests(self):
        p = self.start(kicad_cli="/nonexistent/kicad-cli")
        self.assertError(p.request("/kicad/sch/export/svg-project", body=b"not a tar" * 100), 400, "bad archive")
        self.assertError(p.request("/kicad/pcb/export/glb-package", body=b"x" * 100), 400, "bad archive")
        self.assertError(p.request("/kicad/sch/export/svg-project", body=tar_bytes({"readme.txt": b"x"})), 400,
                         "no .kicad_sch")
        escaping = tar_bytes({"../../evil.kicad_pcb": b"x"}, gz=True)
        self.assertError(p.request("/kicad/pcb/export/glb-package", body=escaping), 400, "bad archive")
        self.assertError(p.request("/kicad/pcb/export/glb-package?F=--output=/etc/x",
                                   body=tar_bytes({"board.kicad_pcb": b"x"}, gz=True)), 400, "unsupported option")
        self.assertError(p.request("/kicad/pcb/export/svg?layers=F.Cu;rm", body=b"x" * 80), 400, "bad layer")
        self.assertError(p.request("/kicad/pcb/export/step", body=b"x"), 404, "no export")
        self.assertError(p.request("/kicad/pcb/export/svg", body=b""), 400, "empty")

    def test_time_limit(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        slow = os.path.join(folder, "kicad-cli")
        with open(slow, "w") as f:
            f.write("#!/bin/sh\nexec sleep 30\n")
        os.chmod(slow, stat.S_IRWXU)
        p = self.start(kicad_cli=slow, timeout=1.0)
        t0 = time.monotonic()
        answer = p.request("/kicad/pcb/export/svg?layers=F.Cu", body=b"(kicad_pcb)" * 10)
        self.assertLess(time.monotonic() - t0, 15)
        self.assertError(answer, 504, "timed out")

    def test_failing_kicad_cli_is_an_error_not_an_empty_artefact(self):
        p = self.start()
        self.assertError(p.request("/kicad/pcb/export/svg?layers=F.Cu", body=b"(not a board" * 10), 500,
                         "kicad-cli exited")


@unittest.skipUnless(shutil.which("kicad-cli") and os.path.isfile(DEMO_BOARD), "needs kicad-cli and the demos")
class ExportWithKicadTest(unittest.TestCase):
    def test_pcb_svg_of_a_demo_board(self):
        p = RunningPlatform()
        self.addCleanup(p.close)
        with open(DEMO_BOARD, "rb") as f:
            status, body = p.request("/kicad/pcb/export/svg?layers=B.Cu,In2.Cu,In1.Cu,F.Cu,F.Silkscreen,Edge.Cuts",
                                     body=f.read())
        self.assertEqual(200, status)
        self.assertIn(b"<svg", body[:2000])


class RootSheetTest(unittest.TestCase):
    def folder(self, files):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d)
        for name, text in files.items():
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        return d

    def test_project_names_the_root(self):
        d = self.folder({"a.kicad_sch": "", "p.kicad_sch": "", "p.kicad_pro": "{}"})
        self.assertEqual("p.kicad_sch", find_root_schematic(d))

    def test_without_project_the_sheet_nobody_includes(self):
        d = self.folder({"amp.kicad_sch": "", "top.kicad_sch": '(sheet (property "Sheetfile" "amp.kicad_sch"))'})
        self.assertEqual("top.kicad_sch", find_root_schematic(d))
        self.assertIsNone(find_root_schematic(self.folder({"x.txt": ""})))


if __name__ == "__main__":
    unittest.main()
