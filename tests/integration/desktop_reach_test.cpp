// A desktop bridge that is down for a moment, then up again: nothing is guessed or cached while
// no probe answers, every desktop route and the apply job refuse and write nothing, and once the
// bridge answers the real system is used. Folders a request names must be absolute paths of the
// detected system.
#include "desktop_fixture.h"

namespace vorn::test {
namespace {

json get_json(const Manager& m, const std::string& target) {
  return json::parse(m.get(target).body, nullptr, false);
}

void serve_board(MockPlatform& mock, const std::string& slug) {
  mock.on_text("/api/v1/pages/" + slug + "/files",
               json{{"files", {{{"path", "B.kicad_pro"}}}}}.dump());
  mock.on_text("/api/v1/pages/" + slug + "/files/B.kicad_pro", "{}");
}

size_t file_count(const fs::path& folder) {
  size_t n = 0;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it)
    ++n;
  return n;
}

TEST(DesktopReach, BridgeDownThenUp) {
  MockPlatform mock;
  Desktop desk;
  serve_board(mock, "acme/blinky");
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  for (const char* op : {"shell", "pull", "send"}) desk.fail(op, "{");

  EXPECT_EQ(get_json(m, "/api/env"), json({{"os", ""},
                                           {"home", ""},
                                           {"sep", "/"},
                                           {"dest_folders", json::array()},
                                           {"error", "desktop not reachable"}}));
  const json refusal = {{"error", "desktop not reachable"}};
  for (const char* route :
       {"/api/libraries", "/api/in-library?slugs=r1", "/api/suggest-path?p=%2Ftmp",
        "/api/pick-folder", "/api/pick-folder-result?f=1_2", "/api/list-dirs?p=%2Ftmp",
        "/api/project-diff?board=acme%2Fblinky&dest=%2Ftmp%2Fx"}) {
    EXPECT_EQ(get_json(m, route), refusal) << route;
  }
  const json apply = json::parse(
      m.post("/api/apply",
             json({{"items", {{{"slug", "r1"}}}}, {"board", "acme/blinky"}, {"dest", ""}}).dump())
          .body);
  EXPECT_EQ(apply, json({{"status", "error"}, {"error", "desktop not reachable"}}));
  // Every probe was asked again on each request; nothing was pulled, sent or created.
  EXPECT_GE(desk.count_calls("shell_execute", "echo $HOME"), 9u);
  EXPECT_EQ(desk.count_calls("pull_file"), 0u);
  EXPECT_EQ(desk.count_calls("send_file"), 0u);
  EXPECT_EQ(desk.count_calls("shell_execute", "mkdir"), 0u);
  EXPECT_EQ(file_count(desk.home()), 0u);

  desk.clear_failures();
  const std::string h = desk.home().string();
  EXPECT_EQ(get_json(m, "/api/env")["os"], "linux");
  EXPECT_EQ(get_json(m, "/api/env")["home"], h);
  // Once known, the environment is kept: a later outage does not change it.
  desk.fail("shell", "echo $HOME");
  EXPECT_EQ(get_json(m, "/api/env")["home"], h);

  // Folders that are not absolute on a POSIX desktop are refused before anything runs.
  desk.clear_calls();
  for (const char* dest : {"~/tilde-test", "tilde-test", "C:\\Users\\Default\\Documents", "./x"}) {
    const json r = json::parse(
        m.post("/api/apply",
               json({{"items", json::array()}, {"board", "acme/blinky"}, {"dest", dest}}).dump())
            .body);
    EXPECT_EQ(r, json({{"status", "error"}, {"error", "invalid dest path"}})) << dest;
    EXPECT_EQ(get_json(m, std::string("/api/list-dirs?p=") + (dest[0] == '~' ? "%7E%2Fx" : "x")),
              json({{"error", "invalid dest path"}}));
    EXPECT_EQ(get_json(m, "/api/project-diff?board=acme%2Fblinky&dest=tilde"),
              json({{"error", "invalid dest path"}}));
  }
  EXPECT_EQ(desk.count_calls("pull_file") + desk.count_calls("send_file"), 0u);

  // An empty dest still means the default folder.
  const json ok =
      post_apply(m, json({{"items", json::array()}, {"board", "acme/blinky"}, {"dest", " "}}));
  ASSERT_EQ(ok.value("status", ""), "started") << ok.dump();
  const json done = wait_done(m);
  EXPECT_EQ(done["result"]["project"]["files"], json({"B.kicad_pro"})) << done.dump();
  EXPECT_TRUE(fs::exists(desk.home() / "Documents/KiCad/Projects/blinky/B.kicad_pro"));

  // What a delivery folder holds: a project, nothing yet, or a path that is not one.
  const std::string q = "/api/dest-state?p=" + h + "/Documents/KiCad/Projects/";
  EXPECT_EQ(get_json(m, q + "blinky"), json({{"exists", true}, {"has_project", true}}));
  EXPECT_EQ(get_json(m, q), json({{"exists", true}, {"has_project", false}}));
  EXPECT_EQ(get_json(m, q + "new%20one"), json({{"exists", false}, {"has_project", false}}));
  EXPECT_EQ(get_json(m, "/api/dest-state?p=%7E%2Fx"), json({{"error", "invalid dest path"}}));
}

}  // namespace
}  // namespace vorn::test
