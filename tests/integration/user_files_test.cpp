// What the user already has on the desktop stays theirs: edited footprints are never replaced,
// a library that already holds the parts is left byte for byte and the result says so, an edited
// project is moved into a backup folder before a delivery replaces it. Run against the local
// bridge and against a Windows desktop (windows_bridge.py), where footprint names must be files
// Windows can create inside the .pretty folder.
#include "windows_desktop.h"

namespace vorn::test {
namespace {

json get_json(const Manager& m, const std::string& target) {
  return json::parse(m.get(target).body, nullptr, false);
}

json run_job(const Manager& m, const json& body) {
  const json started = post_apply(m, body);
  EXPECT_EQ(started.value("status", ""), "started") << started.dump();
  return wait_done(m)["result"];
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    out.push_back(fs::relative(e.path(), folder).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(UserFiles, LibraryAlreadyHoldingThePartsAndAnEditedFootprint) {
  MockPlatform mock;
  Desktop desk;
  const fs::path libs = desk.home() / "libs";
  desk.write_tables(table_row("Mine", (libs / "Mine.kicad_sym").string()),
                    table_row("MyFp", (libs / "MyFp.pretty").string()));
  for (const char* p : {"uf-1", "uf-2", "uf-3", "uf-4"}) {
    const std::string up = std::string(p).substr(3);
    serve_part(mock, p, part_doc("M" + up, "SYM_" + up, "FP_" + up));
  }
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());

  json r = run_job(
      m,
      items_body({{"uf-1", "Mine", "MyFp"}, {"uf-2", "Mine", "MyFp"}, {"uf-3", "Mine", "MyFp"}}));
  EXPECT_EQ(r["count"], 3) << r.dump();
  EXPECT_EQ(r["skipped"], json::array());
  // One listing per footprint library, whatever the number of parts: mkdir, listing, send.
  EXPECT_EQ(desk.count_calls("shell_execute", "MyFp.pretty") +
                desk.count_calls("send_file", "MyFp.pretty"),
            3u);

  const std::string lib_before = read_file(libs / "Mine.kicad_sym");
  write_file(libs / "MyFp.pretty" / "FP_1.kicad_mod", "my edited footprint");
  desk.clear_calls();
  r = run_job(m, items_body({{"uf-1", "Mine", "MyFp"},
                             {"uf-2", "Mine", "MyFp"},
                             {"uf-3", "Mine", "MyFp"},
                             {"uf-4", "Mine", "MyFp"}}));
  EXPECT_EQ(r["added"], json({{{"symbol", "SYM_4"}, {"symLib", "Mine"}}})) << r.dump();
  EXPECT_EQ(r["count"], 1);
  EXPECT_EQ(r["errors"], json::array());
  const json skipped = r["skipped"];
  ASSERT_EQ(skipped.size(), 6u) << r.dump();
  EXPECT_EQ(skipped[0], json({{"component", "uf-1"}, {"by", "symbol SYM_1 already in Mine"}}));
  EXPECT_EQ(skipped[3], json({{"component", "uf-1"},
                              {"by", "footprint FP_1.kicad_mod already in MyFp.pretty"}}));
  EXPECT_EQ(read_file(libs / "MyFp.pretty" / "FP_1.kicad_mod"), "my edited footprint");
  EXPECT_TRUE(fs::exists(libs / "MyFp.pretty" / "FP_4.kicad_mod"));
  EXPECT_EQ(desk.count_calls("shell_execute", "MyFp.pretty") +
                desk.count_calls("send_file", "MyFp.pretty"),
            3u);

  // Nothing new at all: the library file is untouched and nothing is sent to the footprints.
  const std::string lib_with_4 = read_file(libs / "Mine.kicad_sym");
  EXPECT_EQ(lib_with_4.substr(0, lib_before.size() - 2),
            lib_before.substr(0, lib_before.size() - 2));
  desk.clear_calls();
  r = run_job(m, items_body({{"uf-2", "Mine", "MyFp"}}));
  EXPECT_EQ(r["added"], json::array());
  EXPECT_EQ(r["skipped"].size(), 2u);
  EXPECT_EQ(read_file(libs / "Mine.kicad_sym"), lib_with_4);
  EXPECT_EQ(desk.count_calls("send_file", "MyFp.pretty"), 0u);

  // A footprint folder that cannot be listed receives nothing.
  desk.fail("shell", "kicad_mod");
  r = run_job(m, items_body({{"uf-4", "Mine", "Other"}}));
  EXPECT_EQ(r["errors"], json({"could not list Other.pretty on the desktop (bridge error) — "
                               "skipped to avoid overwriting it"}));
  EXPECT_FALSE(fs::exists(desk.home() / "Documents/KiCad/Footprints/Other.pretty/FP_4.kicad_mod"));
}

TEST(UserFiles, WindowsDesktopFootprintNamesStayInTheirFolder) {
  MockPlatform mock;
  WindowsDesktop win;
  serve_part(mock, "w-a", part_doc("WA", "WA_SYM", "..\\..\\evil:x*?|<>\"\tA"));
  serve_part(mock, "w-b", part_doc("WB", "WB_SYM", "Mine"));
  const fs::path pretty = win.home() / "Documents/KiCad/Footprints/vorn_lbr.pretty";
  fs::create_directories(pretty);
  write_file(pretty / "MINE.kicad_mod", "my edited footprint");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, win.extra_path());
  const json env = get_json(m, "/api/env");
  EXPECT_EQ(env["os"], "windows");
  EXPECT_EQ(env["home"], "C:\\Users\\me");

  json r = run_job(m, items_body({{"w-a"}, {"w-b"}}));
  EXPECT_EQ(r["errors"], json::array()) << r.dump();
  EXPECT_EQ(r["count"], 2);
  // Windows folders ignore case: "Mine" would have replaced the user's "MINE".
  EXPECT_EQ(r["skipped"], json({{{"component", "w-b"},
                                 {"by", "footprint Mine.kicad_mod already in vorn_lbr.pretty"}}}));
  EXPECT_EQ(names_in(pretty),
            (std::vector<std::string>{".._.._evil_x_______A.kicad_mod", "MINE.kicad_mod"}));
  EXPECT_EQ(read_file(pretty / "MINE.kicad_mod"), "my edited footprint");
  EXPECT_TRUE(fs::exists(win.home() / "Documents/KiCad/Symbols/vorn_lbr.kicad_sym"));
  EXPECT_EQ(names_in(win.cwd()), std::vector<std::string>{});

  // Again: the library is pulled back from the Windows path, nothing is added, nothing changes.
  const std::string lib = read_file(win.home() / "Documents/KiCad/Symbols/vorn_lbr.kicad_sym");
  r = run_job(m, items_body({{"w-a"}, {"w-b"}}));
  EXPECT_EQ(r["errors"], json::array()) << r.dump();
  EXPECT_EQ(r["count"], 0);
  EXPECT_EQ(r["skipped"].size(), 4u);
  EXPECT_EQ(read_file(win.home() / "Documents/KiCad/Symbols/vorn_lbr.kicad_sym"), lib);
}

TEST(UserFiles, WindowsDeliveryKeepsTheEditedProject) {
  MockPlatform mock;
  WindowsDesktop win;
  mock.on_text("/api/v1/pages/acme/blinky/files",
               json{{"files", {{{"path", "P.kicad_pro"}}, {{"path", "P.kicad_sch"}}}}}.dump());
  mock.on_text("/api/v1/pages/acme/blinky/files/P.kicad_pro", "{}");
  mock.on_text("/api/v1/pages/acme/blinky/files/P.kicad_sch", "(kicad_sch)");
  const fs::path project = win.home() / "Projects" / "blinky";
  fs::create_directories(project);
  write_file(project / "P.kicad_sch", "my edit");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, win.extra_path());

  for (const char* dest :
       {"~\\Projects\\blinky", "/home/me/blinky", "Projects\\blinky", "C:Projects"}) {
    EXPECT_EQ(post_apply(m, json({{"board", "acme/blinky"}, {"dest", dest}})),
              json({{"status", "error"}, {"error", "invalid dest path"}}))
        << dest;
  }
  const json r =
      run_job(m, json({{"board", "acme/blinky"}, {"dest", "C:\\Users\\me\\Projects\\blinky"}}));
  EXPECT_EQ(r["errors"], json::array()) << r.dump();
  const json project_result = r["project"];
  EXPECT_EQ(project_result["files"], json({"P.kicad_pro", "P.kicad_sch"}));
  EXPECT_EQ(project_result["kept"]["files"], json({"P.kicad_sch"}));
  const std::string kept = project_result["kept"]["folder"];
  ASSERT_TRUE(kept.starts_with("C:\\Users\\me\\Projects\\blinky\\.backup-")) << kept;
  EXPECT_EQ(read_file(project / kept.substr(kept.rfind('\\') + 1) / "P.kicad_sch"), "my edit");
  EXPECT_EQ(read_file(project / "P.kicad_sch"), "(kicad_sch)");
  EXPECT_EQ(names_in(win.cwd()), std::vector<std::string>{});
}

}  // namespace
}  // namespace vorn::test
