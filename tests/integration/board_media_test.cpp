// The board media routes: GLB and SVG sources in order, interactive viewer pages and their cache,
// enrichment lookups, project heroes and organisation avatars.
#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

TEST(BoardGlb, SourcesInOrder) {
  MockPlatform mock;
  serve_file(mock, "own", "package.json", R"({"model_3d_path":"./m/own.glb"})");
  serve_file(mock, "own", "m/own.glb", glb("y", "own-model"));
  serve_file(mock, "own", "render/board.glb", glb("y", "stored"));
  serve_file(mock, "own", "render/2/board.glb", glb("y", "version-2"));
  serve_file(mock, "st", "render/board.glb", glb("y", "stored"));
  serve_file(mock, "slugname", "slugname.glb", glb("y", "by-slug"));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  // The page's own model wins over a stored render, a version token over both.
  HttpAnswer r = m.get("/board-glb/own");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "model/gltf-binary");
  EXPECT_NE(r.body.find("own-model"), std::string::npos);
  EXPECT_NE(m.get("/board-glb/own?v=2&h=x").body.find("version-2"), std::string::npos);
  EXPECT_NE(m.get("/board-glb/own?v=7").body.find("own-model"), std::string::npos);
  EXPECT_NE(m.get("/board-glb/st").body.find("stored"), std::string::npos);
  EXPECT_NE(m.get("/board-glb/slugname").body.find("by-slug"), std::string::npos);
  r = m.get("/board-glb/none");
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.body, "not rendered");
  EXPECT_EQ(r.content_type, "text/plain; charset=UTF-8");
}

TEST(ComponentGlb, FirstGlbOfTheList) {
  MockPlatform mock;
  serve_list(mock, "c", {"a.txt", "x.GLB", "m/first.glb", "second.glb"});
  serve_file(mock, "c", "m/first.glb", "FIRST");
  serve_file(mock, "c", "second.glb", "SECOND");
  serve_list(mock, "broken", {"gone.glb", "there.glb"});
  serve_file(mock, "broken", "there.glb", "THERE");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  const HttpAnswer r = m.get("/glb/c");
  EXPECT_EQ(r.body, "FIRST");
  EXPECT_EQ(r.content_type, "model/gltf-binary");
  const HttpAnswer none = m.get("/glb/broken");  // the first .glb fails: no other is tried
  EXPECT_EQ(none.status, 404);
  EXPECT_EQ(none.body, "no glb");
}

TEST(BoardSvg, StoredFilesWithPaddedSheetNumbers) {
  MockPlatform mock;
  serve_file(mock, "b", "render/pcb.svg", "<svg>pcb</svg>");
  serve_file(mock, "b", "render/sheet-007.svg", "<svg>seven</svg>");
  serve_file(mock, "b", "render/sheet-1234.svg", "<svg>big</svg>");
  serve_file(mock, "b", "render/2/sheet-000.svg", "<svg>v2 root</svg>");
  serve_file(mock, "b", "render/sheet-000.svg", "<svg>root</svg>");
  serve_file(mock, "b", "render/sheet-001.svg", std::string("<svg>\xff</svg>"));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  HttpAnswer r = m.get("/board-svg/b/pcb");
  EXPECT_EQ(r.body, "<svg>pcb</svg>");
  EXPECT_EQ(r.content_type, "image/svg+xml");
  EXPECT_EQ(m.get("/board-svg/b/sch/7").body, "<svg>seven</svg>");
  EXPECT_EQ(m.get("/board-svg/b/sch/007").body, "<svg>seven</svg>");
  EXPECT_EQ(m.get("/board-svg/b/sch/00001234").body, "<svg>big</svg>");
  EXPECT_EQ(m.get("/board-svg/b/sch/0?v=2").body, "<svg>v2 root</svg>");
  EXPECT_EQ(m.get("/board-svg/b/sch/0?v=5").body, "<svg>root</svg>");  // unknown version: current
  for (const char* bad : {"/board-svg/b/sch", "/board-svg/b/sch/", "/board-svg/b/sch/-1", "/board-svg/b/sch/x",
                          "/board-svg/b/other", "/board-svg/b/sch/1", "/board-svg/b"}) {
    r = m.get(bad);
    EXPECT_EQ(r.status, 404) << bad;
    EXPECT_EQ(r.body, "not rendered") << bad;
  }
}

TEST(BoardMediaLive, RoutesServeTheLiveRenderCache) {
  MockPlatform mock;
  serve_list(mock, "lb", {"lb.kicad_pro", "lb.kicad_sch", "lb-b.kicad_sch", "lb-a.kicad_sch", "lb.kicad_pcb"});
  for (const char* f : {"lb.kicad_pro", "lb.kicad_sch", "lb-a.kicad_sch", "lb-b.kicad_sch", "lb.kicad_pcb"}) {
    serve_file(mock, "lb", f, std::string("(") + f + ")");
  }
  serve_file(mock, "lb", "render/sheet-002.svg", "<svg>stored two</svg>");
  serve_file(mock, "lb", "render/sheet-007.svg", "<svg>stored seven</svg>");
  mock.on_text(kExportSch, make_tar({{"lb.svg", svg("root")}, {"lb-b.svg", svg("b")}, {"lb-a.svg", svg("a")}}));
  mock.on_text(kExportPcb, svg("pcb"));
  mock.on_text(kExportGlb, glb("z", "live-glb"));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"VORN_EXPORT_URL", mock.url()}});
  poll_json(m, "/api/board-media/lb", [](const json& j) { return !j.value("rendering", true); });
  EXPECT_EQ(m.get("/board-svg/lb/sch/0").body, svg("root"));
  EXPECT_EQ(m.get("/board-svg/lb/sch/1").body, svg("a"));
  EXPECT_EQ(m.get("/board-svg/lb/sch/2").body, svg("b"));  // the cache before the stored render
  EXPECT_EQ(m.get("/board-svg/lb/sch/7").body, "<svg>stored seven</svg>");
  EXPECT_EQ(m.get("/board-svg/lb/pcb").body, svg("pcb"));
  EXPECT_NE(m.get("/board-glb/lb").body.find("live-glb"), std::string::npos);
  EXPECT_EQ(m.get("/api/board-upaxis/lb").body, R"({"up_axis":null})");  // the cache is not a source here
}

class Viewers : public ToolFolder {
 public:
  Viewers() {
    for (const char* tool : {"vorn-layout-viewer", "vorn-schematic-viewer"}) {
      make_executable(dir_.path() / tool,
                      "#!/bin/sh\n"
                      "echo \"$0 $*\" >> '" + log().string() + "'\n"
                      "if [ \"$1\" = enrich ]; then\n"
                      "  [ \"$3\" = FAIL ] && exit 3\n"
                      "  printf '  {\"mpn\":\"%s\",\"lcsc\":\"%s\"}\\n' \"$3\" \"$5\"; exit 0\n"
                      "fi\n"
                      "[ -f '" + (dir_.path() / "fail").string() + "' ] && exit 1\n"
                      // The page shows the file it was run on, then every other sheet beside it.
                      "{ printf '<html>%s</html>' \"$(cat \"$3\")\"\n"
                      "  for f in $(find \"$(dirname \"$5\")/src\" -name '*.kicad_sch' | sort); do\n"
                      "    [ \"$f\" = \"$3\" ] || printf '+%s' \"$(cat \"$f\")\"; done; } > \"$5\"\n");
    }
  }
  void fail() const { write_file(dir_.path() / "fail", "1"); }
};

TEST(BoardView, ViewerPagesAreBuiltOncePerKeyWithEverySheet) {
  MockPlatform mock;
  serve_list(
      mock, "b",
      {"sub/first.kicad_sch", "B.kicad_pro", "hw/B.kicad_sch", "B.kicad_pcb", "../x.kicad_sch"});
  serve_file(mock, "b", "hw/B.kicad_sch", "ROOT-SCH");
  serve_file(mock, "b", "sub/first.kicad_sch", "FIRST-SCH");
  serve_file(mock, "b", "B.kicad_pcb", "THE-PCB");
  Viewers tools;
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, tools.path());
  HttpAnswer r = m.get("/board-view/b/sch");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "text/html; charset=utf-8");
  // The viewer runs on the sheet named after the project file, with the sub-sheet beside it.
  EXPECT_EQ(r.body, "<html>ROOT-SCH</html>+FIRST-SCH");
  EXPECT_EQ(m.get("/board-view/b/sch").body, r.body);
  EXPECT_EQ(tools.count("vorn-schematic-viewer embed --file "
                        "/tmp/vorn-lbr-apply/view-b/sch-cur/src/hw/B.kicad_sch "
                        "--out /tmp/vorn-lbr-apply/view-b/sch-cur/sch.html"),
            1u);
  EXPECT_EQ(mock.count(page("b", "/files/..")), 0u);  // a path leaving the folder is never fetched
  EXPECT_EQ(m.get("/board-view/b/pcb").body, "<html>THE-PCB</html>");
  EXPECT_EQ(
      tools.count(
          "vorn-layout-viewer embed --file /tmp/vorn-lbr-apply/view-b/pcb-cur/src/B.kicad_pcb"),
      1u);

  serve_list(mock, "c", {"z.kicad_sch", "a.kicad_sch"});  // no project file: the first schematic
  serve_file(mock, "c", "z.kicad_sch", "Z");
  serve_file(mock, "c", "a.kicad_sch", "A");
  EXPECT_EQ(m.get("/board-view/c/sch").body, "<html>Z</html>+A");
}

// A stored render version shows the files of the commit that uploaded it: the newest commit whose
// manifest names it is followed back to the oldest one of that run.
TEST(BoardView, AVersionShowsTheFilesItWasRenderedFrom) {
  MockPlatform mock;
  serve_list(mock, "b", {"b.kicad_pro", "b.kicad_sch", "amp.kicad_sch", "b.kicad_pcb"});
  serve_file(mock, "b", "b.kicad_sch", "ROOT-NOW");
  serve_file(mock, "b", "amp.kicad_sch", "AMP-NOW");
  serve_file(mock, "b", "b.kicad_pcb", "PCB-NOW");
  const auto manifest = [](const std::string& current, const std::string& hash) {
    return json{
        {"v", 2}, {"current", current}, {"versions", {{{"version", current}, {"hash", hash}}}}}
        .dump();
  };
  serve_file(mock, "b", "render/manifest.json", manifest("2.0", "h2"));
  // Newest first: the 2.0 render, the 2.0 sources, the 1.0 render (a re-render, same hash), the
  // 1.0 render, the 1.0 sources.
  mock.on_text(
      page("b", "/log"),
      R"({"log":[{"hash":"c5"},{"hash":"c4"},{"hash":"c3"},{"hash":"c2"},{"hash":"c1"}]})");
  const std::map<std::string, std::string> at = {{"c5", manifest("2.0", "h2")},
                                                 {"c4", manifest("1.0", "h1")},
                                                 {"c3", manifest("1.0", "h1")},
                                                 {"c2", manifest("1.0", "h1")}};
  for (const auto& [ref, text] : at) serve_file(mock, "b", "render/manifest.json?ref=" + ref, text);
  serve_file(mock, "b", "b.kicad_sch?ref=c2", "ROOT-ONE");
  serve_file(mock, "b", "amp.kicad_sch?ref=c2", "AMP-ONE");
  serve_file(mock, "b", "b.kicad_pcb?ref=c2", "PCB-ONE");
  Viewers tools;
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, tools.path());
  EXPECT_EQ(m.get("/board-view/b/sch?v=1.0&h=h1").body, "<html>ROOT-ONE</html>+AMP-ONE");
  EXPECT_EQ(m.get("/board-view/b/pcb?v=1.0").body, "<html>PCB-ONE</html>");
  EXPECT_EQ(m.get("/board-view/b/sch").body, "<html>ROOT-NOW</html>+AMP-NOW");
  // The current version needs no history, and each version is its own cache entry.
  EXPECT_EQ(m.get("/board-view/b/sch?v=2.0").body, "<html>ROOT-NOW</html>+AMP-NOW");
  EXPECT_EQ(m.get("/board-view/b/sch?v=1.0").body, "<html>ROOT-ONE</html>+AMP-ONE");
  EXPECT_EQ(tools.count("vorn-schematic-viewer embed"), 3u);
  // A version no commit names is not shown as the current drawing.
  EXPECT_EQ(m.get("/board-view/b/pcb?v=0.9").status, 404);
}

// The real schematic viewer on the hierarchical KiCad demo: the sub-sheet's circuit (its
// transistors Q201-Q204) is drawn only when the sub-sheet file is handed over with the root.
TEST(BoardView, HierarchicalDemoShowsItsSubSheets) {
  const fs::path demo = "/usr/share/kicad/demos/complex_hierarchy";
  if (!fs::exists(demo / "ampli_ht.kicad_sch") ||
      !fs::exists(fs::path(VORN_TOOLS_BIN_DIR) / "vorn-schematic-viewer")) {
    GTEST_SKIP() << "KiCad demos or the viewer tools are missing";
  }
  MockPlatform mock;
  serve_list(mock, "ch",
             {"ampli_ht.kicad_sch", "complex_hierarchy.kicad_pro", "complex_hierarchy.kicad_sch"});
  for (const char* f : {"ampli_ht.kicad_sch", "complex_hierarchy.kicad_sch"}) {
    serve_file(mock, "ch", f, read_file(demo / f));
  }
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, VORN_TOOLS_BIN_DIR);
  const HttpAnswer r = m.get("/board-view/ch/sch");
  ASSERT_EQ(r.status, 200) << r.body;
  for (const char* part : {"Q201", "Q204", "U201"})
    EXPECT_NE(r.body.find(part), std::string::npos) << part;
}

TEST(BoardView, FailuresAnswerTheUnavailableFragment) {
  MockPlatform mock;
  serve_list(mock, "b", {"b.kicad_pcb"});
  serve_file(mock, "b", "b.kicad_pcb", "PCB");
  serve_list(mock, "nokicad", {"x.glb"});
  Viewers tools;
  tools.fail();
  const int port = free_port();
  // The manager runs for a fixed time so that its standard error can be read afterwards.
  ExitResult run;
  std::thread server([&] {
    run = run_manager({"--port=" + std::to_string(port)},
                      {{"VORN_PLATFORM_URL", mock.url()}, {"PATH", tools.path() + ":" + std::getenv("PATH")}}, 6000);
  });
  httplib::Client client("127.0.0.1", port);
  auto res = client.Get("/board-view/b/pcb");
  for (int i = 0; i < 100 && !res; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    res = client.Get("/board-view/b/pcb");
  }
  const std::string fragment =
      "<p style='font:13px system-ui;color:#8b93a3;padding:24px'>interactive view unavailable (no KiCad file on this "
      "page)</p>";
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  EXPECT_EQ(res->body, fragment);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* other : {"/board-view/nokicad/sch", "/board-view/b/3d", "/board-view/b", "/board-view/b/pcb/x"}) {
    auto r = client.Get(other);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << other;
    EXPECT_EQ(r->body, fragment) << other;
  }
  server.join();
  EXPECT_NE(run.err.find("board-view: vorn-layout-viewer embed failed for b\n"), std::string::npos) << run.err;
  EXPECT_EQ(tools.count("embed"), 1u);  // only the page with a board file reached the viewer
}

TEST(BoardViewEnrich, LooksUpOnceAndKeepsFailures) {
  Viewers tools;
  Manager m({}, {}, tools.path());
  HttpAnswer r = m.get("/board-view/b/pcb/enrich?mpn=LM%2B358%20A&lcsc=C7");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "application/json");
  EXPECT_EQ(r.body, R"({"mpn":"LM+358 A","lcsc":"C7"})");
  EXPECT_EQ(m.get("/board-view/x/enrich?lcsc=C7&mpn=LM%2B358%20A").body, R"({"mpn":"LM+358 A","lcsc":"C7"})");
  EXPECT_EQ(tools.count("enrich --mpn LM+358 A --lcsc C7"), 1u);
  EXPECT_EQ(m.get("/board-view/b/enrich?lcsc=C9").body, R"({"mpn":"","lcsc":"C9"})");
  EXPECT_EQ(m.get("/board-view/b/enrich?mpn=FAIL").body, R"({"error":"lookup failed"})");
  EXPECT_EQ(m.get("/board-view/b/enrich?mpn=FAIL").body, R"({"error":"lookup failed"})");
  EXPECT_EQ(tools.count("--mpn FAIL"), 1u);
  r = m.get("/board-view/b/enrich?x=1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, R"({"error":"no query"})");
}

TEST(BoardHero, RelativeAndAbsoluteAddresses) {
  MockPlatform mock;
  mock.on_text(page("p", "/hero"), R"({"url":"/img/hero.jpg","content_type":"image/jpeg"})");
  mock.on_text("/img/hero.jpg", "JPEG-BYTES", "image/jpeg");
  mock.on_text(page("q", "/hero"), R"({"url":")" + mock.url() + R"(/img/q.png"})");
  mock.on_text("/img/q.png", "PNG-BYTES", "image/png");
  mock.on_text(page("r", "/hero"), R"({"content_type":"image/png"})");
  mock.on_text(page("s", "/hero"), R"({"url":"/img/missing.png"})");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  HttpAnswer r = m.get("/board-hero/p");
  EXPECT_EQ(r.body, "JPEG-BYTES");
  EXPECT_EQ(r.content_type, "image/jpeg");
  r = m.get("/board-hero/q");
  EXPECT_EQ(r.body, "PNG-BYTES");
  EXPECT_EQ(r.content_type, "image/png");
  for (const char* bad : {"/board-hero/r", "/board-hero/s", "/board-hero/none"}) {
    r = m.get(bad);
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "no hero");
  }
}

TEST(OrgAvatar, FetchedFromTheOrganisationSite) {
  MockPlatform site;
  site.on_text("/orgs/acme", R"({"avatar_url":")" + site.url() + R"(/a/acme.svg"})");
  site.on_text("/a/acme.svg", "<svg/>", "image/svg+xml");
  site.on_text("/orgs/nourl", R"({"name":"x"})");
  Manager m(Env{{"VORN_ORG_SITE_URL", site.url()}, {"VORN_PLATFORM_URL", "http://127.0.0.1:1"}});
  HttpAnswer r = m.get("/org-avatar/acme/extra");
  EXPECT_EQ(r.body, "<svg/>");
  EXPECT_EQ(r.content_type, "image/png");
  for (const char* bad : {"/org-avatar/nourl", "/org-avatar/missing", "/org-avatar//..", "/org-avatar/a%2F.."}) {
    r = m.get(bad);
    EXPECT_EQ(r.status, 404) << bad;
    EXPECT_EQ(r.body, "no avatar") << bad;
  }
  for (const auto& s : site.seen()) EXPECT_EQ(s.target.find(".."), std::string::npos) << s.target;
}

}  // namespace
}  // namespace vorn::test::boards
