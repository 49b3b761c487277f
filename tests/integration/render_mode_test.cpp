// The stored render mode (--render-board) against a mock platform that also answers as the
// export service, with a fake vorn-wiki that records its arguments, working folder and files.
#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

// vorn-wiki stand-in: logs "<cwd>|<args>", copies the uploaded render folder, exits with the
// status written in its "status" file (0 when there is none).
class FakeWiki {
 public:
  FakeWiki() {
    make_executable(dir_.path() / "vorn-wiki",
                    "#!/bin/sh\n"
                    "d='" + dir_.path().string() + "'\n"
                    "echo \"$(pwd)|$*\" >> \"$d/calls.log\"\n"
                    "rm -rf \"$d/upload\" && cp -r render \"$d/upload\"\n"
                    "[ -f \"$d/status\" ] && exit \"$(cat \"$d/status\")\"\n"
                    "exit 0\n");
  }
  std::string path() const { return dir_.path().string(); }
  std::string calls() const { return fs::exists(dir_.path() / "calls.log") ? read_file(dir_.path() / "calls.log") : ""; }
  fs::path upload() const { return dir_.path() / "upload"; }
  void set_status(int s) const { write_file(dir_.path() / "status", std::to_string(s)); }

 private:
  TempDir dir_;
};

ExitResult render(const MockPlatform& mock, const FakeWiki& wiki, const std::string& slug) {
  return run_manager({"--render-board", slug},
                     {{"VORN_PLATFORM_URL", mock.url()},
                      {"VORN_EXPORT_URL", mock.url()},
                      {"PATH", wiki.path() + ":" + std::getenv("PATH")}},
                     60000);
}

const std::string kBoard =
    "(kicad_pcb\n"
    "  (footprint \"R\" (attr smd dnp) (model \"/home/author/shapes/R_0603.wrl\"))\n"
    "  (footprint \"C\" (attr dnp exclude_from_bom) (model \"${KIPRJMOD}/models/C.step\"))\n"
    "  (footprint \"J\" (model \"${KIPRJMOD}/../../etc/passwd\"))\n"
    "  (footprint \"U\" (model \"${KICAD9_3DMODEL_DIR}/U.wrl\"))\n"
    ")\n";

void serve_board(MockPlatform& mock, const std::string& slug) {
  serve_list(mock, slug,
             {"hw/P.kicad_pro", "hw/P.kicad_sch", "hw/sub/P-power.kicad_sch", "hw/P.kicad_pcb", "lib.3dshapes"});
  serve_file(mock, slug, "hw/P.kicad_pro", "{\"project\":1}");
  serve_file(mock, slug, "hw/P.kicad_sch", "(kicad_sch root)");
  serve_file(mock, slug, "hw/sub/P-power.kicad_sch", "(kicad_sch power)");
  serve_file(mock, slug, "hw/P.kicad_pcb", kBoard);
  serve_file(mock, slug, "lib.3dshapes/R_0603.wrl", "R-MODEL");
  serve_file(mock, slug, "models/C.step", "C-MODEL");
  serve_file(mock, slug, "package.json", R"({"version":"1.2.0"})");
}

void serve_exports(MockPlatform& mock, const std::string& glb_bytes) {
  mock.on_text(kExportSch, make_tar({{"P-power.svg", svg("power")}, {"P.svg", svg("root")}, {"notes.txt", "x"}},
                                    "mkdir nested && echo '<svg/>' > nested/deep.svg"));
  mock.on_text(kExportPcb, svg("pcb"));
  mock.on_text(kExportGlb, glb_bytes);
}

TEST(RenderMode, RendersUploadsAndArchivesTheFirstVersion) {
  MockPlatform mock;
  FakeWiki wiki;
  serve_board(mock, "org/demo");
  serve_exports(mock, glb("z", "first"));
  const ExitResult r = render(mock, wiki, "org/demo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\nrendering org/demo \u2026\nuploaded render/ + archived v1.2.0\n");
  EXPECT_EQ(wiki.calls(),
            "/tmp/vorn-lbr-apply/render-org_demo|repo push demo --files render/manifest.json render/board.glb "
            "render/pcb.svg render/sheet-000.svg render/sheet-001.svg render/1.2.0 -m render assets + archive v1.2.0\n");

  // Sheet order: Root first; only top-level SVG files count.
  EXPECT_EQ(read_file(wiki.upload() / "sheet-000.svg"), svg("root"));
  EXPECT_EQ(read_file(wiki.upload() / "sheet-001.svg"), svg("power"));
  EXPECT_EQ(read_file(wiki.upload() / "1.2.0" / "sheet-001.svg"), svg("power"));
  EXPECT_EQ(read_file(wiki.upload() / "pcb.svg"), svg("pcb"));
  EXPECT_EQ(read_file(wiki.upload() / "board.glb"), glb("z", "first"));
  const std::string manifest = read_file(wiki.upload() / "manifest.json");
  const json m = json::parse(manifest);
  EXPECT_EQ(manifest, m.dump(2));  // two-space indentation, keys in order
  const std::string hash = m["versions"][0]["hash"];
  EXPECT_EQ(m, json::parse(R"({"v":2,"current":"1.2.0","glb":true,"pcb":true,"sheets":["Root","power"],
      "versions":[{"version":"1.2.0","hash":")" + hash + R"(","glb":true,"pcb":true,"sheets":["Root","power"]}]})"));
  EXPECT_EQ(hash.size(), 16u);

  // What the export service received.
  const auto sch = bodies(mock, kExportSch);
  ASSERT_EQ(sch.size(), 1u);
  auto names = tar_names(sch[0]);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"./", "./P-power.kicad_sch", "./P.kicad_pro", "./P.kicad_sch"}));
  EXPECT_EQ(bodies(mock, kExportPcb), std::vector<std::string>{kBoard});
  const auto glb_body = bodies(mock, kExportGlb);
  ASSERT_EQ(glb_body.size(), 1u);
  names = tar_names(glb_body[0]);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"./", "./3d/", "./3d/R_0603.wrl", "./board.kicad_pcb", "./models/",
                                             "./models/C.step"}));
  EXPECT_EQ(tar_member(glb_body[0], "3d/R_0603.wrl"), "R-MODEL");
  EXPECT_EQ(tar_member(glb_body[0], "board.kicad_pcb"),
            "(kicad_pcb\n"
            "  (footprint \"R\" (attr smd) (model \"${KIPRJMOD}/3d/R_0603.wrl\"))\n"
            "  (footprint \"C\" (attr exclude_from_bom) (model \"${KIPRJMOD}/models/C.step\"))\n"
            "  (footprint \"J\" (model \"${KIPRJMOD}/../../etc/passwd\"))\n"
            "  (footprint \"U\" (model \"${KICAD9_3DMODEL_DIR}/U.wrl\"))\n"
            ")\n");
  // The escaping project-relative path was never fetched.
  for (const auto& s : mock.seen()) EXPECT_EQ(s.target.find("passwd"), std::string::npos) << s.target;
  EXPECT_FALSE(fs::exists("/tmp/vorn-lbr-apply/kx-org_demo-pcb-svg.in"));
}

TEST(RenderMode, UnchangedContentAddsNoVersionAndChangedContentReplacesIt) {
  MockPlatform mock;
  FakeWiki wiki;
  serve_board(mock, "demo2");
  serve_exports(mock, glb("z", "first"));
  ASSERT_EQ(render(mock, wiki, "demo2").status, 0);
  const std::string first_manifest = read_file(wiki.upload() / "manifest.json");
  serve_file(mock, "demo2", "render/manifest.json", first_manifest);

  // Same content under a new package version: nothing archived.
  serve_file(mock, "demo2", "package.json", R"({"version":"2.0.0"})");
  ExitResult r = render(mock, wiki, "demo2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "\nrendering demo2 \u2026\nuploaded render/ (no content change \u2192 no new version)\n");
  EXPECT_NE(wiki.calls().find("|repo push demo2 --files render/manifest.json render/board.glb render/pcb.svg "
                              "render/sheet-000.svg render/sheet-001.svg -m render assets\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(wiki.upload() / "2.0.0"));
  EXPECT_EQ(json::parse(read_file(wiki.upload() / "manifest.json"))["current"], "1.2.0");

  // New content under the stored version: that version's record is replaced at the front.
  serve_file(mock, "demo2", "package.json", R"({"version":"1.2.0"})");
  const json older = json::parse(first_manifest);
  json history = older;
  history["versions"].push_back({{"version", "1.0.0"}, {"hash", "0000000000000000"}});
  serve_file(mock, "demo2", "render/manifest.json", history.dump());
  serve_exports(mock, glb("z", "second"));
  r = render(mock, wiki, "demo2");
  EXPECT_EQ(r.status, 0);
  const json m = json::parse(read_file(wiki.upload() / "manifest.json"));
  ASSERT_EQ(m["versions"].size(), 2u);
  EXPECT_NE(m["versions"][0]["hash"], older["versions"][0]["hash"]);
  EXPECT_EQ(m["versions"][0]["version"], "1.2.0");
  EXPECT_EQ(m["versions"][1]["version"], "1.0.0");
  EXPECT_EQ(read_file(wiki.upload() / "1.2.0" / "board.glb"), glb("z", "second"));
}

TEST(RenderMode, ShortAnswersAreIgnoredAndHostileArchivesRefused) {
  MockPlatform mock;
  FakeWiki wiki;
  serve_list(mock, "short", {"s.kicad_sch", "s.kicad_pcb"});
  serve_file(mock, "short", "s.kicad_sch", "(kicad_sch)");
  serve_file(mock, "short", "s.kicad_pcb", "(kicad_pcb)");
  // A symlink member pointing out of the extraction folder, next to a real sheet.
  mock.on_text(kExportSch, make_tar({{"s.svg", svg("s")}}, "ln -s /etc escape && ln -s /etc/hostname link.svg"));
  mock.on_text(kExportPcb, std::string(64, 'x'));         // 64 bytes: an error page
  mock.on_text(kExportGlb, glb("y", "model-only-result"));  // only the GLB survives
  const ExitResult r = render(mock, wiki, "short");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(wiki.calls().substr(wiki.calls().find('|')),
            "|repo push short --files render/manifest.json render/board.glb render/0.0.0 -m render assets + archive "
            "v0.0.0\n");
  const json m = json::parse(read_file(wiki.upload() / "manifest.json"));
  EXPECT_EQ(m["sheets"], json::array());
  EXPECT_FALSE(m["pcb"].get<bool>());
  EXPECT_FALSE(fs::exists("/tmp/vorn-lbr-apply/schout-short/escape"));
}

TEST(RenderMode, SheetsWithoutProjectFileKeepTheirStems) {
  MockPlatform mock;
  FakeWiki wiki;
  serve_list(mock, "np", {"np.kicad_sch"});
  serve_file(mock, "np", "np.kicad_sch", "(kicad_sch)");
  mock.on_text(kExportSch, make_tar({{"np.svg", svg("1")}, {"Root-x.svg", svg("2")}, {"alpha.svg", svg("3")}}));
  ASSERT_EQ(render(mock, wiki, "np").status, 0);
  const json m = json::parse(read_file(wiki.upload() / "manifest.json"));
  EXPECT_EQ(m["sheets"], json::parse(R"(["Root-x","alpha","np"])"));
  EXPECT_FALSE(m["glb"].get<bool>());
}

TEST(RenderMode, FailuresExitWithOne) {
  MockPlatform mock;
  FakeWiki wiki;
  ExitResult r = render(mock, wiki, "nothing");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "\nrendering nothing \u2026\nnothing rendered (not a KiCad board?)\n");
  EXPECT_EQ(wiki.calls(), "");

  serve_list(mock, "up", {"u.kicad_pcb"});
  serve_file(mock, "up", "u.kicad_pcb", "(kicad_pcb)");
  mock.on_text(kExportPcb, svg("pcb"));
  mock.on_text(kExportGlb, "error code: 502" + std::string(80, ' '));
  wiki.set_status(2);
  r = render(mock, wiki, "up");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "\nrendering up \u2026\nupload FAILED\n");
  EXPECT_NE(wiki.calls().find("--files render/manifest.json render/pcb.svg render/0.0.0 -m"), std::string::npos);

  r = render(mock, wiki, "../etc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(mock.count("/api/v1/pages/../"), 0u);
}

}  // namespace
}  // namespace vorn::test::boards
