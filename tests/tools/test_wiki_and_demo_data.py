"""vorn-wiki against a running platform (identity, pushing files and folders as one commit),
and the demo data's own git writer and board edits, which later tools rely on."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from support import ROOT, RunningPlatform

import git_objects  # tools/demo-data
import make_demo_data

WIKI = os.path.join(ROOT, "tools", "vorn-wiki", "vorn_wiki.py")


class WikiTest(unittest.TestCase):
    def setUp(self):
        self.p = RunningPlatform()
        self.addCleanup(self.p.close)
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        with open(os.path.join(self.p.data, "identity.json"), "w") as f:
            json.dump({"user": "demo", "orgs": ["vorn-labs"]}, f)

    def wiki(self, *args, env=None):
        full = dict(os.environ, VORN_PLATFORM_URL=self.p.url, VORN_API_KEY_FILE="/nonexistent")
        full.pop("VORN_API_KEY", None)
        full.update(env or {})
        return subprocess.run([sys.executable, WIKI, *args], cwd=self.work, env=full, capture_output=True,
                              text=True, timeout=60)

    def test_whoami_reports_the_platform_identity_or_the_override(self):
        out = json.loads(self.wiki("whoami", "--json").stdout)
        self.assertEqual({"data": {"user": {"username": "demo"}, "orgs": [{"name": "vorn-labs"}]}}, out)
        out = json.loads(self.wiki("whoami", "--json", env={"VORN_WIKI_USER": "kim", "VORN_WIKI_ORGS": "a, b"}).stdout)
        self.assertEqual("kim", out["data"]["user"]["username"])
        self.assertEqual([{"name": "a"}, {"name": "b"}], out["data"]["orgs"])

    def test_push_uploads_files_and_folders_in_one_commit(self):
        os.makedirs(os.path.join(self.work, "render", "1.0.0"))
        for rel, text in (("render/manifest.json", "{}"), ("render/pcb.svg", "<svg/>"),
                          ("render/1.0.0/pcb.svg", "<svg/>")):
            with open(os.path.join(self.work, rel), "w") as f:
                f.write(text)
        r = self.wiki("repo", "push", "board", "--files", "render/manifest.json", "render/pcb.svg",
                      "render/1.0.0", "-m", "render assets + archive v1.0.0")
        self.assertEqual(0, r.returncode, r.stderr)
        _, files = self.p.json("/api/v1/pages/board/files")
        self.assertEqual(["render/1.0.0/pcb.svg", "render/manifest.json", "render/pcb.svg"],
                         [f["path"] for f in files["files"]])
        _, log = self.p.json("/api/v1/pages/board/log")
        self.assertEqual([("render assets + archive v1.0.0", "demo")], [(e["message"], e["author"]) for e in log["log"]])

    def test_push_failures_exit_non_zero(self):
        self.assertNotEqual(0, self.wiki("repo", "push", "board", "--files", "missing.txt", "-m", "x").returncode)
        self.assertNotEqual(0, self.wiki("repo", "push", "board", "--files", "../outside", "-m", "x").returncode)
        down = self.wiki("repo", "push", "b", "--files", ".", "-m", "x", env={"VORN_PLATFORM_URL": "http://127.0.0.1:9"})
        self.assertNotEqual(0, down.returncode)


class DemoDataTest(unittest.TestCase):
    def test_written_repository_reads_back_with_git(self):
        d = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, d)
        repo = git_objects.Repo(d)
        first = repo.commit([("a.txt", b"one"), ("sub/b.txt", b"two")], "first", "ann", 1_700_000_000)
        repo.commit([("a.txt", b"three")], "second", "bob", 1_700_000_100)
        git = lambda *a: subprocess.run(["git", "-C", d, *a], capture_output=True, text=True).stdout  # noqa: E731
        self.assertEqual("second|bob|1700000100\nfirst|ann|1700000000\n", git("log", "--format=%s|%an|%at"))
        self.assertEqual("one", git("cat-file", "blob", f"{first}:a.txt"))
        self.assertEqual("two", git("cat-file", "blob", "HEAD:sub/b.txt"))
        self.assertEqual("", subprocess.run(["git", "-C", d, "fsck", "--no-progress"], capture_output=True,
                                            text=True).stderr.strip())

    def test_board_edits_remove_footprints_and_change_revision(self):
        pcb = ('(kicad_pcb\n\t(footprint "A" (at 1 2)\n\t\t(property "Reference" "R1")\n\t)\n'
               '\t(footprint "B"\n\t\t(at 3 4)\n\t\t(property "Reference" "R2" (at 0 0))\n\t)\n)\n')
        text, removed = make_demo_data.remove_footprints(pcb, 1)
        self.assertEqual(["R2"], removed)
        self.assertIn('"R1"', text)
        self.assertNotIn('"R2"', text)
        self.assertEqual(text.count("("), text.count(")"))
        sch = '(kicad_sch\n\t(paper "A4")\n\t(title_block\n\t\t(title "T")\n\t\t(rev "0.1")\n\t)\n)'
        self.assertIn('(rev "B")', make_demo_data.set_revision(sch, "B"))
        self.assertIn('(rev "A")', make_demo_data.set_revision('(kicad_sch\n\t(paper "A4")\n)', "A"))


if __name__ == "__main__":
    unittest.main()
