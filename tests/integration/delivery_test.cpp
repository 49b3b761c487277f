// Project delivery through the apply job, the real local bridge and a sandbox HOME: plain and
// project-only modes, model paths and where models are fetched from, flattened sub-folders,
// re-delivery after a footprint left the board, a missing python3, and a real KiCad demo project
// that kicad-cli must load after a project-only delivery.
#include <unistd.h>

#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

json deliver(const Manager& m, const json& body, std::vector<std::string>* stages = nullptr) {
  const json started = json::parse(m.post("/api/apply", body.dump()).body, nullptr, false);
  EXPECT_EQ(started.value("status", ""), "started") << started.dump();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
  while (std::chrono::steady_clock::now() < deadline) {
    const json rec = json::parse(m.get("/api/apply-progress").body, nullptr, false);
    if (stages && rec.contains("stage") &&
        (stages->empty() || stages->back() != rec["stage"].get<std::string>())) {
      stages->push_back(rec["stage"]);
    }
    if (rec.value("done", false) && rec.contains("result")) return rec["result"];
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "apply job did not finish";
  return json();
}

const std::string kBoard =
    "(kicad_pcb\n"
    "  (footprint \"Lib:A\" (at 10 20 90) (uuid \"u1\") (property \"Reference\" \"R1\")\n"
    "    (pad \"1\" smd rect (at 0 0) (size 1 1) (net 1 \"GND\") (uuid \"p1\"))\n"
    "    (model \"/home/author/kicad/R.wrl\"))\n"
    "  (footprint \"Lib:B\" (at 30 40) (property \"Reference\" \"R2\") (model \"C:\\\\models\\\\C.step\"))\n"
    "  (footprint \"Lib:B\" (at 50 40) (property \"Reference\" \"R3\") (model \"D.wrl\"))\n"
    "  (footprint \"Other:Z\" (at 1 1) (model \"E.wrl\") (model \"${KIPRJMOD}/models/M.step\")\n"
    "    (model \"${KIPRJMOD}/../../../escape.step\") (model \"/${KIPRJMOD}/x\") (model \"${KICAD9_3DMODEL_DIR}/X.wrl\"))\n"
    ")\n";

const std::string kSchematic =
    "(kicad_sch (lib_symbols (symbol \"Dev:R\" (symbol \"R_0_1\")))\n"
    "  (symbol (lib_id \"Dev:R\") (property \"Footprint\" \"Lib:A\")))\n";

void serve_project(MockPlatform& mock, const std::string& slug, const std::string& board = kBoard) {
  serve_list(mock, slug,
             {"README.md", "hw/P.kicad_pro", "hw/P.kicad_pcb", "hw/sheets/P-power.kicad_sch", "hw/P.kicad_sch",
              "lib.3dshapes", "lib.3dshapes/R.wrl"});
  serve_file(mock, slug, "hw/P.kicad_pro", "{\"meta\":{}}");
  serve_file(mock, slug, "hw/P.kicad_pcb", board);
  serve_file(mock, slug, "hw/sheets/P-power.kicad_sch", "(kicad_sch power)");
  serve_file(mock, slug, "hw/P.kicad_sch", kSchematic);
  serve_file(mock, slug, "lib.3dshapes/R.wrl", "R from shapes");
  serve_file(mock, slug, "3d/R.wrl", "R from 3d (not used)");
  serve_file(mock, slug, "3d/C.step", "C from 3d");
  serve_file(mock, slug, "D.wrl", "D from the page root");
  serve_file(mock, slug, "models/M.step", "M project relative");
}

TEST(Delivery, PlainProjectIntoTheDefaultFolder) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_project(mock, "org/demo");
  // A slow file list leaves time to see the stage.
  mock.on(page("org/demo", "/files"), [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    json files = json::array();
    for (const char* p : {"README.md", "hw/P.kicad_pro", "hw/P.kicad_pcb", "hw/sheets/P-power.kicad_sch",
                          "hw/P.kicad_sch", "lib.3dshapes", "lib.3dshapes/R.wrl"}) {
      files.push_back({{"path", p}});
    }
    res.set_content(json{{"files", files}}.dump(), "application/json");
  });
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {}, desk.extra_path());
  std::vector<std::string> stages;
  const json result = deliver(m, {{"items", json::array()}, {"board", "org/demo"}, {"dest", "   "}}, &stages);
  EXPECT_NE(std::find(stages.begin(), stages.end(), "Fetching KiCad project files (schematic, PCB, sheets)\u2026"),
            stages.end());
  // The default folder is named after the page, not its owner.
  const fs::path folder = desk.home() / "Documents/KiCad/Projects/demo";
  EXPECT_EQ(result["project"],
            json({{"folder", folder.string()},
                  {"files", {"P.kicad_pro", "P.kicad_pcb", "P-power.kicad_sch", "P.kicad_sch",
                             // the home has no library tables: every nickname gets a project library
                             "libraries/Dev.kicad_sym", "libraries/Lib.pretty/A.kicad_mod",
                             "libraries/Lib.pretty/B.kicad_mod", "libraries/Other.pretty/Z.kicad_mod",
                             "sym-lib-table", "fp-lib-table", "3d/C.step", "3d/D.wrl", "3d/R.wrl"}}}));
  EXPECT_NE(read_file(folder / "sym-lib-table").find("(name \"Dev\")(type \"KiCad\")(uri \"${KIPRJMOD}/libraries/Dev.kicad_sym\")"),
            std::string::npos);
  EXPECT_NE(read_file(folder / "libraries/Dev.kicad_sym").find("(symbol \"R\" (symbol \"R_0_1\"))"), std::string::npos);
  // The sub-folder's schematic lands in the project folder itself.
  EXPECT_EQ(read_file(folder / "P-power.kicad_sch"), "(kicad_sch power)");
  EXPECT_EQ(read_file(folder / "P.kicad_sch"), kSchematic);
  const std::string pcb = read_file(folder / "P.kicad_pcb");
  EXPECT_NE(pcb.find("(model \"${KIPRJMOD}/3d/R.wrl\")"), std::string::npos);
  EXPECT_NE(pcb.find("(model \"${KIPRJMOD}/3d/C.step\")"), std::string::npos);
  EXPECT_NE(pcb.find("(model \"${KIPRJMOD}/3d/D.wrl\")"), std::string::npos);
  EXPECT_NE(pcb.find("(model \"${KIPRJMOD}/3d/E.wrl\")"), std::string::npos);
  EXPECT_NE(pcb.find("(model \"${KICAD9_3DMODEL_DIR}/X.wrl\")"), std::string::npos);
  EXPECT_NE(pcb.find("(model \"${KIPRJMOD}/../../../escape.step\")"), std::string::npos);
  // Models: shapes folder first, then 3d/, then the page root; E exists nowhere.
  EXPECT_EQ(read_file(folder / "3d/R.wrl"), "R from shapes");
  EXPECT_EQ(read_file(folder / "3d/C.step"), "C from 3d");
  EXPECT_EQ(read_file(folder / "3d/D.wrl"), "D from the page root");
  EXPECT_FALSE(fs::exists(folder / "3d/E.wrl"));
  EXPECT_EQ(mock.count(page("org/demo", "/files/3d/R.wrl")), 0u);
  // The project-relative model is fetched but not delivered; the escaping one is never fetched.
  EXPECT_EQ(mock.count(page("org/demo", "/files/models/M.step")), 1u);
  EXPECT_FALSE(fs::exists(folder / "models"));
  for (const auto& s : mock.seen()) {
    EXPECT_EQ(s.target.find("escape"), std::string::npos) << s.target;
    EXPECT_EQ(s.target.find("X.wrl"), std::string::npos) << s.target;
  }
  EXPECT_EQ(desk.calls().find("python"), std::string::npos);
}

TEST(Delivery, ProjectOnlyBuildsTheProjectLibraryAndPrunesFootprints) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_project(mock, "org/demo");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {}, desk.extra_path());
  const fs::path folder = desk.home() / "My Projects" / "it's here";
  std::vector<std::string> stages;
  json result = deliver(m, {{"board", "org/demo"}, {"dest", folder.string() + " "}, {"project", true}}, &stages);
  EXPECT_NE(std::find(stages.begin(), stages.end(),
                      "Building self-contained project (symbols, footprints, lib-tables)\u2026"),
            stages.end());
  EXPECT_EQ(result["project"],
            json({{"folder", folder.string()},
                  {"files", {"P.kicad_pro", "P.kicad_pcb", "P-power.kicad_sch", "P.kicad_sch", "org_demo.kicad_sym",
                             "sym-lib-table", "fp-lib-table", "A.kicad_mod", "B.kicad_mod", "Z.kicad_mod",
                             "3d/C.step", "3d/D.wrl", "3d/R.wrl"}}}));
  const fs::path pretty = folder / "org_demo.pretty";
  EXPECT_TRUE(fs::exists(pretty / "A.kicad_mod"));
  EXPECT_TRUE(fs::exists(pretty / "Z.kicad_mod"));
  EXPECT_NE(read_file(folder / "P.kicad_sch").find("(lib_id \"org_demo:R\")"), std::string::npos);
  EXPECT_NE(read_file(folder / "P.kicad_pcb").find("(footprint \"org_demo:A\""), std::string::npos);
  EXPECT_NE(read_file(folder / "fp-lib-table").find("${KIPRJMOD}/org_demo.pretty"), std::string::npos);
  // A file the user put into the library folder that is not a footprint stays.
  write_file(pretty / "notes.txt", "mine");

  EXPECT_FALSE(result["project"].contains("kept"));
  // The user edits the schematic; footprint Z leaves the board: the folder ends up holding the
  // board's footprints, and the edit, Z and the replaced files are kept in one backup folder.
  write_file(folder / "P.kicad_sch", "my edit");
  std::string smaller = kBoard;
  smaller.replace(smaller.find("  (footprint \"Other:Z\""), smaller.find(")\n)\n") - smaller.find("  (footprint \"Other:Z\"") + 2, "");
  serve_file(mock, "org/demo", "hw/P.kicad_pcb", smaller);
  // The board slug as the page sends it (URI-encoded) names the same library and staging folder.
  result = deliver(m, {{"board", "org%2Fdemo"}, {"dest", folder.string()}, {"project", true}});
  EXPECT_TRUE(fs::exists(pretty / "A.kicad_mod"));
  EXPECT_TRUE(fs::exists(pretty / "B.kicad_mod"));
  EXPECT_FALSE(fs::exists(pretty / "Z.kicad_mod"));
  EXPECT_TRUE(fs::exists(pretty / "notes.txt"));
  const json files = result["project"]["files"];
  EXPECT_EQ(std::count(files.begin(), files.end(), "Z.kicad_mod"), 0);
  EXPECT_EQ(desk.calls().find("rm -f"), std::string::npos) << desk.calls();
  const json kept = result["project"]["kept"];
  ASSERT_TRUE(kept.is_object()) << result.dump();
  const fs::path backup = kept["folder"].get<std::string>();
  EXPECT_EQ(backup.parent_path(), folder);
  EXPECT_TRUE(backup.filename().string().starts_with(".backup-")) << backup;
  EXPECT_EQ(read_file(backup / "P.kicad_sch"), "my edit");
  EXPECT_TRUE(fs::exists(backup / "org_demo.pretty" / "Z.kicad_mod"));
  EXPECT_TRUE(fs::exists(backup / "org_demo.pretty" / "A.kicad_mod"));
  EXPECT_TRUE(fs::exists(backup / "3d" / "R.wrl"));
  for (const char* f : {"P.kicad_sch", "org_demo.pretty/Z.kicad_mod", "fp-lib-table", "3d/R.wrl"}) {
    EXPECT_NE(std::find(kept["files"].begin(), kept["files"].end(), f), kept["files"].end()) << f;
  }
}

TEST(Delivery, NamesThatMerelyHoldTwoDotsAreDelivered) {
  MockPlatform mock;
  SandboxDesktop desk;
  const std::string board =
      "(kicad_pcb\n  (footprint \"Lib:Foo..Bar\" (at 1 1) (property \"Reference\" \"R1\")\n"
      "    (pad \"1\" smd rect (at 0 0) (size 1 1))))\n";
  serve_list(mock, "dots", {"v1..2.kicad_pro", "hw/v1..2.kicad_pcb", "v1..2.kicad_sch"});
  serve_file(mock, "dots", "v1..2.kicad_pro", "{}");
  serve_file(mock, "dots", "hw/v1..2.kicad_pcb", board);
  serve_file(mock, "dots", "v1..2.kicad_sch", kSchematic);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {},
            desk.extra_path());
  const fs::path folder = desk.home() / "p";
  const json result = deliver(m, {{"board", "dots"}, {"dest", folder.string()}, {"project", true}});
  const json files = result["project"]["files"];
  for (const char* name :
       {"v1..2.kicad_pro", "v1..2.kicad_pcb", "v1..2.kicad_sch", "Foo..Bar.kicad_mod"}) {
    EXPECT_EQ(std::count(files.begin(), files.end(), name), 1) << name << " " << files.dump();
  }
  EXPECT_TRUE(fs::exists(folder / "v1..2.kicad_pcb"));
  EXPECT_TRUE(fs::exists(folder / "v1..2.kicad_sch"));
  EXPECT_TRUE(fs::exists(folder / "dots.pretty" / "Foo..Bar.kicad_mod"));
}

// A PATH with everything of /usr/bin and /bin except python.
std::string path_without_python(const fs::path& dir) {
  fs::create_directories(dir);
  for (const char* from : {"/usr/bin", "/bin"}) {
    for (const auto& e : fs::directory_iterator(from)) {
      const std::string name = e.path().filename().string();
      if (name.starts_with("python") || fs::exists(dir / name)) continue;
      fs::create_symlink(e.path(), dir / name);
    }
  }
  return dir.string();
}

TEST(Delivery, WithoutPython3ProjectOnlyDeliversThePlainProject) {
  MockPlatform mock;
  SandboxDesktop desk;
  TempDir bin;
  serve_project(mock, "demo");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()},
                {"HOME", desk.home().string()},
                {"PATH", path_without_python(bin.path() / "bin")}},
            {}, desk.extra_path());
  const json result = deliver(m, {{"board", "demo"}, {"dest", (desk.home() / "p").string()}, {"project", true}});
  EXPECT_EQ(result["project"]["files"], json({"P.kicad_pro", "P.kicad_pcb", "P-power.kicad_sch", "P.kicad_sch",
                                              "3d/C.step", "3d/D.wrl", "3d/R.wrl"}));
  EXPECT_EQ(read_file(desk.home() / "p" / "P.kicad_sch"), kSchematic);  // not re-pointed
  EXPECT_FALSE(fs::exists(desk.home() / "p" / "sym-lib-table"));
}

TEST(Delivery, NothingToDeliver) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_list(mock, "empty", {"README.md", "x.glb"});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {}, desk.extra_path());
  json result = deliver(m, {{"board", "empty"}, {"dest", "/nowhere/x"}});
  EXPECT_EQ(result["project"], json::parse(R"({"folder":"/nowhere/x","files":[]})"));
  EXPECT_EQ(result["errors"], json({"no KiCad project files on the page empty"}));
  // An unknown board is an error, not an empty success.
  result = deliver(m, {{"board", "gone"}, {"dest", ""}, {"project", true}});
  EXPECT_EQ(result["project"]["files"], json::array());
  EXPECT_EQ(result["errors"], json({"no KiCad project files on the page gone"}));
  EXPECT_EQ(desk.calls().find("send_file"), std::string::npos);
}

// Every file of a demo project, served under its path relative to the demo folder.
std::vector<std::string> serve_demo(MockPlatform& mock, const std::string& slug, const fs::path& root) {
  std::vector<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), root).string();
    if (rel.find(' ') != std::string::npos) continue;
    paths.push_back(rel);
    serve_file(mock, slug, rel, read_file(e.path()));
  }
  std::sort(paths.begin(), paths.end());
  serve_list(mock, slug, paths);
  return paths;
}

TEST(Delivery, RealDemoProjectOpensInKicadCli) {
  const fs::path demo = "/usr/share/kicad/demos/complex_hierarchy";
  if (!fs::exists(demo) || std::system("command -v kicad-cli >/dev/null") != 0) GTEST_SKIP() << "no KiCad demos";
  MockPlatform mock;
  SandboxDesktop desk;
  serve_demo(mock, "demos/complex_hierarchy", demo);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {}, desk.extra_path());
  const fs::path folder = desk.home() / "out";
  const json result = deliver(m, {{"board", "demos/complex_hierarchy"}, {"dest", folder.string()}, {"project", true}});
  const json files = result["project"]["files"];
  EXPECT_GT(files.size(), 10u);
  EXPECT_TRUE(fs::exists(folder / "demos_complex_hierarchy.kicad_sym"));
  EXPECT_FALSE(fs::is_empty(folder / "demos_complex_hierarchy.pretty"));
  // The author's library nicknames are gone from the delivered schematic.
  EXPECT_EQ(read_file(folder / "complex_hierarchy.kicad_sch").find("(lib_id \"complex_hierarchy:"), std::string::npos);
  // kicad-cli opens the delivered project with an empty KiCad configuration.
  const std::string env = "HOME='" + desk.home().string() + "' ";
  const std::string sch = env + "kicad-cli sch export netlist -o '" + (folder / "n.net").string() + "' '" +
                          (folder / "complex_hierarchy.kicad_sch").string() + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(sch.c_str()), 0);
  const std::string pcb = env + "kicad-cli pcb export svg --layers F.Cu,Edge.Cuts -o '" +
                          (folder / "b.svg").string() + "' '" + (folder / "complex_hierarchy.kicad_pcb").string() +
                          "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(pcb.c_str()), 0);
  EXPECT_NE(read_file(folder / "n.net").find("(components"), std::string::npos);
}

}  // namespace
}  // namespace vorn::test::boards
