// /api/project-diff through the real local bridge with a sandbox HOME.
#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

const std::string kLibrary =
    "(kicad_symbol_lib (version 20231120)\n"
    "  (symbol \"10\u00b5F-Cap\" (symbol \"10\u00b5F-Cap_0_1\") (symbol \"10\u00b5F-Cap_1_1\"))\n"
    "  (symbol \"LM358\" (symbol \"LM358_1_1\"))\n"
    "  (symbol \"A_B_1\")\n"
    "  (symbol \"Unused\" (symbol \"Unused_0_1\")))\n";

void serve_board(MockPlatform& mock) {
  serve_deps(mock, "org/b", json::array({"lib", "direct"}));
  serve_deps(mock, "lib", json::array({"c1", "c2"}));
  serve_list(mock, "org/b", {"b.kicad_sch", "sub/x.kicad_sch", "b.kicad_pcb", "B.KICAD_SCH"});
  serve_file(mock, "org/b", "b.kicad_sch", "(symbol (lib_id \"Device:10uF_cap\")) (symbol (lib_id \"lm358\"))");
  serve_file(mock, "org/b", "sub/x.kicad_sch", "(lib_id \"X:Y:A_B_1\") (lib_id \"Lib:\")");
  serve_file(mock, "org/b", "B.KICAD_SCH", "(lib_id \"Unused\")");  // not a schematic here
}

Manager manager(const MockPlatform& mock, const SandboxDesktop& desk) {
  return Manager(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {}, desk.extra_path());
}

TEST(ProjectDiff, LibraryInTheChosenFolder) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_board(mock);
  const fs::path dest = desk.home() / "Documents" / "KiCad" / "proj";
  write_file(dest / "org_b.kicad_sym", kLibrary);
  Manager m = manager(mock, desk);
  const HttpAnswer r = m.get("/api/project-diff?board=org%2Fb&dest=" + dest.string() + "%2F%2F");
  EXPECT_EQ(r.content_type, "application/json");
  EXPECT_EQ(json::parse(r.body), json::parse(R"({"exists":true,"add":[],"keep":["c1","c2","direct"],
                                                 "remove":["Unused"]})"));
}

TEST(ProjectDiff, LibraryFoundElsewhereUnderDocuments) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_board(mock);
  write_file(desk.home() / "Documents" / "deep" / "er" / "org_b.kicad_sym",
             "(kicad_symbol_lib (symbol \"Other\") (symbol \"LM358\"))");
  Manager m = manager(mock, desk);
  EXPECT_EQ(get_json(m, "/api/project-diff?board=org/b&dest=" + (desk.home() / "elsewhere").string()),
            json::parse(R"({"exists":true,"add":[],"keep":["c1","c2","direct"],"remove":["Other"]})"));
}

TEST(ProjectDiff, NoLibraryAnywhere) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_board(mock);
  fs::create_directories(desk.home() / "Documents");
  Manager m = manager(mock, desk);
  EXPECT_EQ(get_json(m, "/api/project-diff?board=org/b&dest=/nowhere"),
            json::parse(R"({"exists":false,"add":["c1","c2","direct"],"keep":[],"remove":[]})"));
  // No board: nothing placed, nothing to add.
  EXPECT_EQ(get_json(m, "/api/project-diff"), json::parse(R"({"exists":false,"add":[],"keep":[],"remove":[]})"));
}

TEST(ProjectDiff, EmptyLibraryFileExistsWithNothingToRemove) {
  MockPlatform mock;
  SandboxDesktop desk;
  serve_board(mock);
  const fs::path dest = desk.home() / "p";
  write_file(dest / "org_b.kicad_sym", "");
  Manager m = manager(mock, desk);
  EXPECT_EQ(get_json(m, "/api/project-diff?board=org/b&dest=" + dest.string()),
            json::parse(R"({"exists":true,"add":[],"keep":["c1","c2","direct"],"remove":[]})"));
}

TEST(ProjectDiff, HostileHomeAndNamesRunNoCommand) {
  MockPlatform mock;
  SandboxDesktop desk;
  const fs::path home = desk.home() / "a b;touch pwned$(touch pwned2)";
  fs::create_directories(home / "Documents");
  write_file(home / "Documents" / "x_y;z.kicad_sym", "(kicad_symbol_lib (symbol \"S\"))");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", home.string()}}, {}, desk.extra_path());
  const json j = get_json(m, "/api/project-diff?board=x%2Fy%3Bz&dest=%2Fnone%27%3Btouch%20pwned3%3B%27");
  EXPECT_EQ(j, json::parse(R"({"exists":true,"add":[],"keep":[],"remove":["S"]})"));
  for (const char* f : {"pwned", "pwned2", "pwned3"}) {
    EXPECT_FALSE(fs::exists(home / f));
    EXPECT_FALSE(fs::exists(fs::current_path() / f));
    EXPECT_FALSE(fs::exists(fs::path("/") / f));
  }
}

}  // namespace
}  // namespace vorn::test::boards
