"""The pages API of vorn-platform over HTTP: paging, files, files at a commit, log, uploads,
hero, identity, key checking and refusal of names that would leave a page's folder."""
import base64
import http.client
import json
import time
import unittest

from support import RunningPlatform, make_server


def commit_body(files, message="m", author="tester"):
    return json.dumps({"message": message, "author": author,
                       "files": [{"path": p, "content_b64": base64.b64encode(d).decode()}
                                 for p, d in files]}).encode()


class PagesApiTest(unittest.TestCase):
    def setUp(self):
        self.p = RunningPlatform()
        self.store = self.p.platform.store

    def tearDown(self):
        self.p.close()

    def test_listing_pages_through_offsets_with_total(self):
        for i in range(5):
            self.store.create_page(f"part-{i}", {"title": f"P{i}", "tags": ["component"]})
        status, first = self.p.json("/api/v1/pages?type=component&limit=2&offset=0")
        self.assertEqual(200, status)
        self.assertEqual(5, first["total"])
        self.assertEqual(["part-0", "part-1"], [p["slug"] for p in first["pages"]])
        _, last = self.p.json("/api/v1/pages?type=component&limit=2&offset=4")
        self.assertEqual(["part-4"], [p["slug"] for p in last["pages"]])
        _, past = self.p.json("/api/v1/pages?type=component&limit=2&offset=10")
        self.assertEqual([], past["pages"])
        _, other = self.p.json("/api/v1/pages?type=board&limit=200&offset=0")
        self.assertEqual(0, other["total"])
        # Every record carries the fields the catalog reads, without internal bookkeeping.
        rec = first["pages"][0]
        for key in ("slug", "title", "brief", "tags", "author_name", "org_name", "starred",
                    "visibility", "version", "composite_score"):
            self.assertIn(key, rec)
        self.assertNotIn("order", rec)

    def test_upload_commits_and_files_at_each_ref(self):
        s, a = self.p.json("/api/v1/pages/board/commits", body=commit_body([("b.kicad_pcb", b"v1")], "first"))
        self.assertEqual(200, s)
        _, b = self.p.json("/api/v1/pages/board/commits",
                           body=commit_body([("b.kicad_pcb", b"v2"), ("render/manifest.json", b"{}")], "second"))
        _, log = self.p.json("/api/v1/pages/board/log")
        self.assertEqual(["second", "first"], [e["message"] for e in log["log"]])
        self.assertEqual([b["hash"], a["hash"]], [e["hash"] for e in log["log"]])
        for e in log["log"]:
            self.assertEqual("tester", e["author"])
            self.assertIsInstance(e["timestamp"], int)
        self.assertEqual((200, b"v2"), self.p.request("/api/v1/pages/board/files/b.kicad_pcb"))
        self.assertEqual((200, b"v1"), self.p.request(f"/api/v1/pages/board/files/b.kicad_pcb?ref={a['hash']}"))
        self.assertEqual(404, self.p.request(f"/api/v1/pages/board/files/render/manifest.json?ref={a['hash']}")[0])
        self.assertEqual(404, self.p.request("/api/v1/pages/board/files/b.kicad_pcb?ref=deadbeef")[0])
        _, files = self.p.json("/api/v1/pages/board/files")
        self.assertEqual(["b.kicad_pcb", "render/manifest.json"], [f["path"] for f in files["files"]])

    def test_unchanged_upload_adds_no_commit(self):
        self.p.json("/api/v1/pages/x/commits", body=commit_body([("a.txt", b"same")]))
        _, again = self.p.json("/api/v1/pages/x/commits", body=commit_body([("a.txt", b"same")]))
        self.assertFalse(again["changed"])
        self.assertEqual(1, len(self.p.json("/api/v1/pages/x/log")[1]["log"]))

    def test_names_that_leave_the_page_are_refused(self):
        self.p.json("/api/v1/pages/safe/commits", body=commit_body([("a.txt", b"x")]))
        for path in ("../meta.json", "sub/../../meta.json", ".git/config", "/etc/passwd"):
            status, _ = self.p.json("/api/v1/pages/safe/commits", body=commit_body([(path, b"evil")]))
            self.assertEqual(400, status, path)
        for url in ("/api/v1/pages/safe/files/..%2Fmeta.json", "/api/v1/pages/safe/files/.git/HEAD",
                    "/api/v1/pages/..%2F..%2Fetc/files", "/api/v1/pages/safe/files/a.txt?ref=--output=x",
                    "/api/v1/pages/safe/files/a.txt?ref=HEAD..HEAD"):
            self.assertEqual(404, self.p.request(url)[0], url)
        self.assertEqual(400, self.p.json("/api/v1/pages/safe/commits", body=b"not json")[0])

    def test_owner_slugs_in_every_spelling(self):
        self.store.upload("acme/blinky", [("b.kicad_pcb", b"pcb"), ("hero.png", b"\x89PNG")], "first", "t")
        self.store.set_fields("acme/blinky", {"hero": "hero.png"})
        for spelling in ("acme%2Fblinky", "acme%2fblinky", "acme/blinky", "blinky"):
            base = f"/api/v1/pages/{spelling}"
            self.assertEqual((200, b"pcb"), self.p.request(base + "/files/b.kicad_pcb"), spelling)
            self.assertEqual(["b.kicad_pcb", "hero.png"], [f["path"] for f in self.p.json(base + "/files")[1]["files"]])
            self.assertEqual(["first"], [e["message"] for e in self.p.json(base + "/log")[1]["log"]])
            self.assertEqual("acme/blinky", self.p.json(base)[1]["slug"])
        _, hero = self.p.json("/api/v1/pages/acme%2Fblinky/hero")
        self.assertEqual((200, b"\x89PNG"), self.p.request(hero["url"]))
        # An upload to the bare name (as the platform tool sends it) lands on the owner's page.
        self.assertEqual(200, self.p.json("/api/v1/pages/blinky/commits", body=commit_body([("c.txt", b"c")]))[0])
        self.assertEqual((200, b"c"), self.p.request("/api/v1/pages/acme/blinky/files/c.txt"))
        # Two owners of one name: the bare name names neither; other escapes stay refused.
        self.store.create_page("other/blinky", {})
        self.assertEqual(404, self.p.request("/api/v1/pages/blinky/files")[0])
        for url in ("/api/v1/pages/acme%2F..%2Fx/files", "/api/v1/pages/acme%2Fb%2Fc/files",
                    "/api/v1/pages/acme%2E%2E/files", "/api/v1/pages/%2Fblinky/files"):
            self.assertEqual(404, self.p.request(url)[0], url)
        # An owner folder and a one-part page never share a name; the store reloads both levels.
        with self.assertRaises(ValueError):
            self.store.create_page("acme", {})
        self.store.create_page("solo", {})
        with self.assertRaises(ValueError):
            self.store.create_page("solo/x", {})
        from vorn_platform.store import PageStore
        self.assertEqual(["acme/blinky", "other/blinky", "solo"],
                         sorted(p["slug"] for p in PageStore(self.p.data).listing(None, 10, 0)[0]))

    def test_hero_points_at_a_page_file(self):
        self.store.create_page("proj", {"hero": "hero.png"})
        self.assertEqual(404, self.p.request("/api/v1/pages/proj/hero")[0])
        self.store.upload("proj", [("hero.png", b"\x89PNG....")], "hero", "t")
        _, hero = self.p.json("/api/v1/pages/proj/hero")
        self.assertEqual({"url": "/api/v1/pages/proj/files/hero.png", "content_type": "image/png"}, hero)
        self.assertEqual((200, b"\x89PNG...."), self.p.request(hero["url"]))

    def test_organisation_record_and_avatar(self):
        _, org = self.p.json("/orgs/vorn-labs")
        self.assertTrue(org["avatar_url"].startswith(self.p.url + "/orgs/vorn-labs/"))
        status, img = self.p.request(org["avatar_url"][len(self.p.url):])
        self.assertEqual(200, status)
        self.assertEqual(b"\x89PNG", img[:4])


class ConnectionTest(unittest.TestCase):
    def test_answers_share_one_connection_and_arrive_whole(self):
        p = RunningPlatform()
        self.addCleanup(p.close)
        conn = http.client.HTTPConnection("127.0.0.1", p.server.server_address[1], timeout=10)
        self.addCleanup(conn.close)
        for path in ("/health", "/api/v1/pages?type=component&limit=5&offset=0", "/nothing", "/health"):
            conn.request("GET", path)
            r = conn.getresponse()
            body = r.read()
            self.assertEqual(int(r.getheader("Content-Length")), len(body), path)
            self.assertNotEqual(r.getheader("Connection"), "close", path)
        sock = conn.sock
        conn.request("HEAD", "/health")
        r = conn.getresponse()
        self.assertEqual(r.read(), b"")
        self.assertIs(conn.sock, sock)  # still the first connection

    def test_latency_delays_every_answer(self):
        p = RunningPlatform(latency_ms=150)
        self.addCleanup(p.close)
        for path in ("/health", "/nothing"):
            start = time.monotonic()
            p.request(path)
            self.assertGreaterEqual(time.monotonic() - start, 0.15, path)
        with self.assertRaises(ValueError):
            make_server("127.0.0.1", 0, p.platform, latency_ms=-1)


class KeyTest(unittest.TestCase):
    def setUp(self):
        self.p = RunningPlatform(api_key="s3cret")

    def tearDown(self):
        self.p.close()

    def test_pages_api_needs_the_bearer_key(self):
        self.assertEqual(401, self.p.request("/api/v1/pages?type=component&limit=200&offset=0")[0])
        self.assertEqual(401, self.p.request("/api/v1/pages", headers={"Authorization": "Bearer wrong"})[0])
        ok = self.p.request("/api/v1/pages", headers={"Authorization": "Bearer s3cret"})
        self.assertEqual(200, ok[0])
        self.assertEqual(401, self.p.request("/api/v1/pages/x/commits", body=commit_body([("a", b"b")]))[0])
        # The organisation site is a separate endpoint and answers without a key.
        self.assertEqual(200, self.p.request("/orgs/anyorg")[0])


if __name__ == "__main__":
    unittest.main()
