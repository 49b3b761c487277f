// The board and project JSON routes against the real executable and a mock platform.
#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

TEST(BoardRoutes, ComponentListWalksTwoLevelsInFirstSeenOrder) {
  MockPlatform mock;
  serve_deps(mock, "b", json::array({"org/L", {{"slug", "A"}}, " other/C "}));
  serve_deps(mock, "L", json::array({"A", "B"}));
  serve_deps(mock, "B", json::array({"deep"}));  // a third level is never walked
  mock.on_text(page("b", "/log"), R"({"log":[{"hash":"abc","message":"m"}]})");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  const HttpAnswer r = m.get("/api/board/b");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "application/json");
  EXPECT_EQ(r.body,
            "{\"board\":\"b\",\"deps\":[{\"slug\":\"A\"},{\"slug\":\"B\"},{\"slug\":\"C\"}],"
            "\"hints\":[\"board \u2192 component library \u2192 components (the library's dependencies)\"],"
            "\"log\":[{\"hash\":\"abc\",\"message\":\"m\"}],\"status\":\"ok\"}");
  EXPECT_EQ(mock.count(page("deep", "")), 0u);

  // Nothing on the platform: empty lists, still a full answer.
  EXPECT_EQ(get_json(m, "/api/board/missing"),
            json::parse(R"J({"board":"missing","deps":[],"log":[],"status":"ok",
                            "hints":["board \u2192 component library \u2192 components (the library's dependencies)"]})J"));
}

TEST(BoardRoutes, ProjectListsBoardsAsTheyStand) {
  MockPlatform mock;
  serve_file(mock, "p", "package.json", R"({"dependencies":["x","org/x","y/", {"slug":3,"ref":"r"}]})");
  mock.on_text(page("p", "/log"), "not json");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  EXPECT_EQ(m.get("/api/project/p").body,
            R"({"boards":[{"slug":"x"},{"slug":"x"},{"slug":""}],"log":[],"project":"p","status":"ok"})");
  // "log" passes through whatever value stands there.
  mock.on_text(page("p", "/log"), R"({"log":{"odd":true}})");
  EXPECT_EQ(get_json(m, "/api/project/p")["log"], json::parse(R"({"odd":true})"));
}

TEST(BoardRoutes, ActivityComparesEachCommitWithTheOlderOne) {
  MockPlatform mock;
  serve_list(mock, "b", {"readme.md", "hw/b.kicad_pcb", "hw/b.kicad_sch", "x.kicad_pcb"});
  mock.on_text(page("b", "/log"),
               R"({"log":[{"hash":"c3","message":"three","comp_added":42},{"hash":"c2"},{"hash":"c1"},{"nohash":1}]})");
  auto at = [&](const std::string& file, const std::string& ref, const std::string& text) {
    mock.on_text(page("b", "/files/" + file + "?ref=" + ref), text, "text/plain");
  };
  at("hw/b.kicad_pcb", "c3", R"((property "Reference" "R1")(property "Reference" "R3")(property "Reference" "REF**"))");
  at("hw/b.kicad_pcb", "c2", R"((property "Reference" "R1")(property "Reference" "R2"))");
  at("hw/b.kicad_sch", "c3", "sch two");
  at("hw/b.kicad_sch", "c2", "sch one");
  at("hw/b.kicad_sch", "c1", "sch one");
  // c1's board cannot be fetched.
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  const json a = get_json(m, "/api/board-activity/b");
  EXPECT_EQ(a, json::parse(R"({"activity":[
      {"hash":"c3","message":"three","pcb_changed":true,"sch_changed":true,"comp_added":1,"comp_removed":1},
      {"hash":"c2","pcb_changed":true,"sch_changed":false},
      {"hash":"c1","pcb_changed":false,"sch_changed":true},
      {"nohash":1}]})"));
  EXPECT_EQ(mock.count(page("b", "/files/x.kicad_pcb")), 0u);
  EXPECT_EQ(mock.count(page("b", "/files/hw/b.kicad_pcb?ref=")), 3u);
  EXPECT_EQ(mock.count(page("b", "/files/hw/b.kicad_sch?ref=")), 3u);

  mock.on_text(page("one", "/log"), R"({"log":[{"hash":"only"}]})");
  EXPECT_EQ(m.get("/api/board-activity/one").body, R"({"activity":[{"hash":"only"}]})");
  mock.on_text(page("empty", "/log"), R"({"log":[]})");
  EXPECT_EQ(m.get("/api/board-activity/empty").body, R"({"activity":[]})");
  EXPECT_EQ(m.get("/api/board-activity/nothing").body, R"({"activity":[]})");
}

TEST(BoardRoutes, ActivityWithoutSchematicsReportsNoSchematicChange) {
  MockPlatform mock;
  serve_list(mock, "b", {"b.kicad_pcb"});
  mock.on_text(page("b", "/log"), R"({"log":[{"hash":"n"},{"hash":"o"}]})");
  mock.on_text(page("b", "/files/b.kicad_pcb?ref=n"), "same", "text/plain");
  mock.on_text(page("b", "/files/b.kicad_pcb?ref=o"), "same", "text/plain");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  EXPECT_EQ(get_json(m, "/api/board-activity/b")["activity"][0],
            json::parse(R"({"hash":"n","pcb_changed":false,"sch_changed":false,"comp_added":0,"comp_removed":0})"));
}

TEST(BoardRoutes, UpAxisFromVersionRenderCurrentRenderOrModel) {
  MockPlatform mock;
  serve_file(mock, "b", "render/3/board.glb", glb("Z"));
  serve_file(mock, "b", "render/board.glb", glb("Y"));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  EXPECT_EQ(m.get("/api/board-upaxis/b?h=1&v=3").body, R"({"up_axis":"z"})");
  EXPECT_EQ(m.get("/api/board-upaxis/b").body, R"({"up_axis":"y"})");
  EXPECT_EQ(m.get("/api/board-upaxis/b?v=9").body, R"({"up_axis":"y"})");  // no such version
  // A token that could leave the render folder is not used at all.
  EXPECT_EQ(m.get("/api/board-upaxis/b?v=../3").body, R"({"up_axis":"y"})");
  EXPECT_EQ(m.get("/api/board-upaxis/b?v=3/x").body, R"({"up_axis":"y"})");
  for (const auto& s : mock.seen()) EXPECT_EQ(s.target.find(".."), std::string::npos) << s.target;

  // No render: the page's own model, named in package.json.
  serve_file(mock, "c", "package.json", R"({"model_3d_path":"././//models/m.glb"})");
  serve_file(mock, "c", "models/m.glb", glb("X"));
  EXPECT_EQ(m.get("/api/board-upaxis/c").body, R"({"up_axis":"x"})");
  serve_file(mock, "d", "d.glb", glb("z").substr(0, 19));  // too short for a header
  EXPECT_EQ(m.get("/api/board-upaxis/d").body, R"({"up_axis":null})");
  EXPECT_EQ(m.get("/api/board-upaxis/none").body, R"({"up_axis":null})");
}

TEST(BoardMedia, StoredManifestAnswersWithoutRendering) {
  MockPlatform mock;
  serve_file(mock, "b", "render/manifest.json",
             R"({"v":2,"glb":true,"pcb":"yes","sheets":["Root",4,"power"],"current":"1.0.0",
                 "versions":[{"version":"1.0.0"}]})");
  serve_file(mock, "c", "render/manifest.json", R"({"current":"3"})");  // no v, glb or sheets: ignored
  serve_list(mock, "c", {"Board.KICAD_PCB", "model.glb"});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"VORN_EXPORT_URL", mock.url()}});
  EXPECT_EQ(m.get("/api/board-media/b").body,
            R"({"current":"1.0.0","has_3d":true,"has_assets":true,"has_pcb":false,"has_render":true,)"
            R"("is_kicad":true,"rendering":false,"sheets":["Root","power"],"stored":true,)"
            R"("versions":[{"version":"1.0.0"}]})");
  // Upper-case KiCad suffixes do not make a KiCad page here.
  EXPECT_EQ(m.get("/api/board-media/c").body,
            R"({"has_3d":true,"has_assets":true,"has_pcb":false,"has_render":false,"is_kicad":false,)"
            R"("rendering":false,"sheets":[]})");
  EXPECT_EQ(mock.count("/kicad/"), 0u);
  serve_file(mock, "d", "render/manifest.json", R"({"sheets":"x"})");
  EXPECT_EQ(get_json(m, "/api/board-media/d"),
            json::parse(R"({"current":null,"has_3d":false,"has_assets":true,"has_pcb":false,"has_render":true,
                            "is_kicad":true,"rendering":false,"sheets":[],"stored":true,"versions":[]})"));
}

TEST(BoardMedia, KiCadPageStartsOneLiveRenderAndThenAnswersFromIt) {
  MockPlatform mock;
  serve_list(mock, "org/b", {"P.kicad_pro", "P.kicad_sch", "P-power.kicad_sch", "P.kicad_pcb"});
  serve_file(mock, "org/b", "P.kicad_pro", "{}");
  serve_file(mock, "org/b", "P.kicad_sch", "(kicad_sch)");
  serve_file(mock, "org/b", "P-power.kicad_sch", "(kicad_sch power)");
  serve_file(mock, "org/b", "P.kicad_pcb", "(kicad_pcb)");
  const std::string sheets = make_tar({{"P-power.svg", svg("power")}, {"P.svg", svg("root")}});
  mock.on(kExportSch, [sheets](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // long enough to poll meanwhile
    res.set_content(sheets, "application/x-tar");
  });
  mock.on_text(kExportPcb, svg("pcb"), "image/svg+xml");
  mock.on_text(kExportGlb, "error code: 1015 " + std::string(100, '.'));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"VORN_EXPORT_URL", mock.url()}});
  const json first = get_json(m, "/api/board-media/org/b");
  EXPECT_EQ(first, json::parse(R"({"has_3d":false,"has_assets":true,"has_pcb":false,"has_render":false,
                                   "is_kicad":true,"rendering":true,"sheets":[]})"));
  EXPECT_TRUE(get_json(m, "/api/board-media/org/b")["rendering"].get<bool>());  // still running, nothing new
  const json done = poll_json(m, "/api/board-media/org/b", [](const json& j) { return !j.value("rendering", true); });
  EXPECT_EQ(done, json::parse(R"({"has_3d":false,"has_assets":true,"has_pcb":true,"has_render":false,
                                  "is_kicad":true,"rendering":false,"sheets":["Root","power"]})"));
  get_json(m, "/api/board-media/org/b");
  EXPECT_EQ(mock.count(kExportSch), 1u);
  EXPECT_EQ(mock.count("/kicad/pcb/export/svg"), 1u);
}

TEST(BoardMedia, PageWithOnlyASchematicHasNoFullAssets) {
  MockPlatform mock;
  serve_list(mock, "s", {"only.kicad_sch"});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"VORN_EXPORT_URL", "http://127.0.0.1:1"}});
  const json j = get_json(m, "/api/board-media/s");
  EXPECT_TRUE(j["rendering"].get<bool>());
  EXPECT_FALSE(j["has_assets"].get<bool>());
  // The render finds no service: an empty result is cached and answered.
  const json done = poll_json(m, "/api/board-media/s", [](const json& x) { return !x.value("rendering", true); });
  EXPECT_EQ(done["sheets"], json::array());
  EXPECT_FALSE(done["has_pcb"].get<bool>());
}

}  // namespace
}  // namespace vorn::test::boards
