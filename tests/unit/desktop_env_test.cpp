// Desktop detection branches, path building, the existence answer, `api/env`, library tables,
// in-library matching, folder listing and pick answers, apply request checks.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "desktop/apply_request.h"
#include "desktop/desktop_env.h"
#include "desktop/folders.h"
#include "desktop/in_library.h"
#include "desktop/library_discovery.h"

namespace vorn {
namespace {

// A desktop that answers fixed texts per command and records what it was asked.
struct FakeDesktop {
  std::map<std::string, std::optional<std::string>> answers;
  std::vector<std::string> asked = {};
  CommandRunner runner() {
    return [this](std::string_view c) -> std::optional<std::string> {
      asked.emplace_back(c);
      auto it = answers.find(std::string(c));
      return it == answers.end() ? std::nullopt : it->second;
    };
  }
};

TEST(DesktopEnv, DetectionBranches) {
  FakeDesktop linux_desk{{{"echo $HOME", "/home/ann"}, {"uname -s", "Linux"}}};
  EXPECT_EQ(detect_desktop_env(linux_desk.runner())->os, "linux");
  EXPECT_EQ(detect_desktop_env(linux_desk.runner())->home, "/home/ann");

  FakeDesktop mac{{{"echo $HOME", "/Users/bo"}, {"uname -s", "Darwin"}}};
  EXPECT_EQ(detect_desktop_env(mac.runner())->os, "macos");

  FakeDesktop no_uname{{{"echo $HOME", "/root"}}};
  EXPECT_EQ(detect_desktop_env(no_uname.runner())->os, "linux");

  // A Windows path from "echo $HOME" leads to the Windows branch.
  FakeDesktop win{{{"echo $HOME", "C:\\Users\\me"}, {"echo %USERPROFILE%", "C:\\Users\\me"}}};
  const auto w = detect_desktop_env(win.runner());
  ASSERT_TRUE(w);
  EXPECT_EQ(w->os, "windows");
  EXPECT_EQ(w->home, "C:\\Users\\me");
  EXPECT_EQ(win.asked, (std::vector<std::string>{"echo $HOME", "echo %USERPROFILE%"}));
  FakeDesktop unc{{{"echo %USERPROFILE%", "\\\\srv\\home\\me"}}};
  EXPECT_EQ(detect_desktop_env(unc.runner())->home, "\\\\srv\\home\\me");

  // No answer, an unexpanded variable or a relative home: the desktop stays unknown.
  FakeDesktop unexpanded{{{"echo $HOME", "$HOME"}, {"echo %USERPROFILE%", "%USERPROFILE%"}}};
  EXPECT_FALSE(detect_desktop_env(unexpanded.runner()));
  FakeDesktop relative{{{"echo $HOME", "home/x"}, {"echo %USERPROFILE%", "C:Users"}}};
  EXPECT_FALSE(detect_desktop_env(relative.runner()));
  FakeDesktop none;
  EXPECT_FALSE(detect_desktop_env(none.runner()));
}

TEST(DesktopEnv, AbsolutePathsOfEachSystem) {
  struct Case {
    const char* path;
    bool posix;
    bool windows;
  };
  const Case cases[] = {
      {"/home/u/p", true, false},
      {"/", true, false},
      {"~/tilde-test", false, false},
      {"tilde-test", false, false},
      {"./x", false, false},
      {"", false, false},
      {"C:\\Users\\me", false, true},
      {"c:\\", false, true},
      {"C:", false, false},
      {"C:relative", false, false},
      {"C:/Users/me", false, false},
      {"1:\\x", false, false},
      {"\\\\server\\share", false, true},
      {"\\\\\\x", false, false},
      {"\\Users\\me", false, false},
      {"%USERPROFILE%\\x", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_desktop_absolute(false, c.path), c.posix) << c.path;
    EXPECT_EQ(is_desktop_absolute(true, c.path), c.windows) << c.path;
  }
  EXPECT_FALSE(is_desktop_absolute(DesktopEnv{}, "/home/u"));
}

TEST(DesktopEnv, PathsAndSummary) {
  const DesktopEnv posix{"linux", "/home/u//"};
  EXPECT_EQ(desktop_path(posix, {"Documents"}), "/home/u/Documents");
  EXPECT_EQ(default_symbol_folder(posix), "/home/u/Documents/KiCad/Symbols");
  const DesktopEnv win{"windows", "C:\\Users\\me\\"};
  EXPECT_EQ(default_footprint_folder(win), "C:\\Users\\me\\Documents\\KiCad\\Footprints");
  EXPECT_EQ(env_summary(win).dump(),
            R"({"dest_folders":["C:\\Users\\me\\Documents\\KiCad\\Projects","C:\\Users\\me\\Documents","C:\\Users\\me\\Downloads","C:\\Users\\me\\Desktop"],"home":"C:\\Users\\me\\","os":"windows","sep":"\\"})");
  EXPECT_EQ(env_summary(posix)["sep"], "/");
  EXPECT_EQ(env_summary(DesktopEnv{}).dump(),
            R"({"dest_folders":[],"error":"desktop not reachable","home":"","os":"","sep":"/"})");
  EXPECT_EQ(kicad_config_dir(posix), "/home/u///.config/kicad");
  EXPECT_EQ(kicad_config_dir(DesktopEnv{"macos", "/Users/b"}), "/Users/b/Library/Preferences/kicad");
  EXPECT_EQ(kicad_config_dir(DesktopEnv{"windows", "C:\\U"}), "C:\\U\\AppData\\Roaming\\kicad");
}

TEST(DesktopEnv, ExistenceAnswers) {
  EXPECT_EQ(classify_existence(std::nullopt), Existence::undetermined);
  EXPECT_EQ(classify_existence("{\"stdout\":\"\"}"), Existence::undetermined);
  EXPECT_EQ(classify_existence("__ABSENT__ __EXISTS__"), Existence::exists);
  EXPECT_EQ(classify_existence("{\"stdout\":\"__ABSENT__\\n\"}"), Existence::absent);
}

TEST(LibraryTables, FirstNameWinsAndKiCadOwnLibrariesAreDropped) {
  const std::string text = R"((sym_lib_table
  (version 7)
  (lib (name "Mine")(type "KiCad")(uri "/home/u/libs/Mine.kicad_sym")(options "")(descr ""))
  (lib (name "Device")(type "KiCad")(uri "${KICAD9_SYMBOL_DIR}/Device.kicad_sym"))
  (lib (name "Sys")(type "KiCad")(uri "/usr/share/kicad/symbols/Sys.kicad_sym"))
  (lib (name "Win")(type "KiCad")(uri "C:\Program Files\KiCad\9.0\x.kicad_sym"))
  (lib (name "KiCad")(type "KiCad")(uri "/x/KiCad.kicad_sym"))
  (lib (name "")(uri "/x/empty.kicad_sym"))
  (lib (name "NoUri"))
)
(sym_lib_table
  (lib (name "Mine")(type "KiCad")(uri "/old/Mine.kicad_sym"))
  (lib (name "Other")(type "KiCad")(uri "/home/u/Other.kicad_sym"))
))";
  const auto libs = parse_library_tables(text);
  ASSERT_EQ(libs.size(), 2u);
  EXPECT_EQ(libs[0].name, "Mine");
  EXPECT_EQ(libs[0].uri, "/home/u/libs/Mine.kicad_sym");
  EXPECT_EQ(libs[1].name, "Other");
  EXPECT_EQ(library_list_json(UserLibraries{libs, {}}).dump(),
            R"({"fpLibs":[],"symLibs":[{"name":"Mine","uri":"/home/u/libs/Mine.kicad_sym"},{"name":"Other","uri":"/home/u/Other.kicad_sym"}]})");
}

TEST(SuggestPath, CleaningAndLines) {
  EXPECT_EQ(clean_suggest_prefix("/h/a;b$(x)`y`|z&\"'\n\r"), "/h/ab(x)yz");
  std::string answer;
  for (int i = 0; i < 20; ++i) answer += "/h/d" + std::to_string(i) + "/\r\n";
  const auto dirs = suggestion_lines(answer + "\n//\n");
  ASSERT_EQ(dirs.size(), 14u);
  EXPECT_EQ(dirs[0], "/h/d0");
  EXPECT_EQ(suggestion_lines("C:\\a\\\n\n/\n"), std::vector<std::string>{"C:\\a"});
}

TEST(InLibrary, MatchKeyPackageCodeAndEscaping) {
  EXPECT_EQ(match_key("10µF-0805 μ X"), "10uf0805ux");
  EXPECT_EQ(package_code("R_0805_2012Metric"), "0805");
  EXPECT_EQ(package_code("12345 080"), std::nullopt);
  EXPECT_EQ(package_code("x12345y0603"), "0603");
  EXPECT_EQ(regex_escape("NE5.55(A)|B*"), "NE5\\.55\\(A\\)\\|B\\*");
}

altium_codec::VornLbrPart part_named(std::string symbol, std::string footprint) {
  altium_codec::VornLbrPart p;
  p.symbol.name = std::move(symbol);
  p.footprint.name = std::move(footprint);
  return p;
}

TEST(InLibrary, PresenceTestsInOrder) {
  LibraryListings l;
  add_mpn_hits(l, "/l/Amps.kicad_sym:lm358\n/l/Other.kicad_sym:LM358\nbad line\n", false);
  add_symbol_names(l, "/l/Caps.kicad_sym:(symbol \"C_10uF_0805\"\n/l/Ics.kicad_sym:(symbol \"STM32F103\"\n"
                      "/l/Sym.kicad_sym:(symbol \"MYPART\"\n", false);
  add_footprint_files(l, "/f/Pkg.pretty/SOIC-8.kicad_mod\n  /f/Big.pretty/STM32F1.kicad_mod \n");
  EXPECT_EQ(l.mpn_hits.at("lm358"), "Amps");

  auto p = find_presence(l, "lm358", nullptr);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, "mpn");
  EXPECT_EQ(p->lib, "Amps");
  EXPECT_EQ(p->fp_lib, "");

  // A listed name of 5+ key characters that prefixes the slug's key.
  p = find_presence(l, "stm32f103c8t6", nullptr);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, "mpn");
  EXPECT_EQ(p->lib, "Ics");
  EXPECT_EQ(p->fp_lib, "Big");  // "stm32f1" prefixes the slug key

  const auto named = part_named("my-part", "SOIC-8");
  p = find_presence(l, "zz-1", &named);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, "symbol");
  EXPECT_EQ(p->fp_lib, "Pkg");

  const auto cap = part_named("CAP 10uF 16V", "C_0805_2012Metric");
  p = find_presence(l, "cap-x", &cap);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, "value+package");
  EXPECT_EQ(p->lib, "Caps");

  const auto only_fp = part_named("qq", "SOIC-8");
  p = find_presence(l, "nothing", &only_fp);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, "footprint");
  EXPECT_EQ(p->lib, "");
  EXPECT_FALSE(find_presence(l, "nothing", nullptr));

  LibraryListings w;
  add_symbol_names(w, "C:\\l\\Win.kicad_sym\t ABC123 \r\n", true);
  add_mpn_hits(w, "C:\\l\\Win.kicad_sym\tAbc\n", true);
  EXPECT_EQ(w.symbol_keys.at("abc123"), "Win");
  EXPECT_EQ(w.mpn_hits.at("abc"), "Win");
}

TEST(Folders, PickIdsAreUniqueUnderConcurrency) {
  std::vector<std::thread> threads;
  std::vector<std::vector<std::string>> ids(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < 500; ++i) ids[t].push_back(next_pick_id());
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 4000u);
  const std::string id = *all.begin();
  EXPECT_EQ(clean_pick_id(id), id);
}

TEST(Folders, PickAnswersAndIdCleaning) {
  EXPECT_EQ(clean_pick_id("../a"), "a");
  EXPECT_EQ(clean_pick_id("';$(x)"), "x");
  EXPECT_EQ(clean_pick_id("..//"), "");
  EXPECT_EQ(pick_answer("__PENDING__").dump(), R"({"pending":true})");
  EXPECT_EQ(pick_answer(" \n").dump(), R"({"cancelled":true})");
  EXPECT_EQ(pick_answer("__CANCELLED__\n").dump(), R"({"cancelled":true})");
  EXPECT_EQ(pick_answer(" /home/u/p q \n").dump(), R"({"path":"/home/u/p q"})");
}

TEST(Folders, WindowsListingParsing) {
  EXPECT_EQ(listing_json(parse_windows_listing("C:\\nope", "@@ERR@@")).dump(),
            R"({"dirs":[],"parent":"","path":"C:\\nope"})");
  EXPECT_EQ(listing_json(parse_windows_listing("C:\\x", std::nullopt)).dump(),
            R"({"dirs":[],"parent":"","path":"C:\\x"})");
  const auto l = parse_windows_listing("c:\\u", "C:\\U\r\nC:\\\r\n@@\r\na\tC:\\U\\a\r\n\r\nno tab\r\nb \t C:\\U\\b");
  EXPECT_EQ(listing_json(l).dump(),
            R"({"dirs":[{"name":"a","path":"C:\\U\\a"},{"name":"b","path":"C:\\U\\b"}],"parent":"C:\\","path":"C:\\U"})");
  // Trimmed answer of a folder without sub-folders: the separator lost its last line feed.
  const auto empty = parse_windows_listing("c:\\", "C:\\\n\n@@");
  EXPECT_EQ(empty.path, "C:\\");
  EXPECT_EQ(empty.parent, "");
  EXPECT_TRUE(empty.dirs.empty());
}

std::string check(std::string_view body) {
  auto parsed = parse_apply_body(body);
  if (!parsed) return error_body(parsed.error()).dump();
  auto req = check_apply_fields(*parsed);
  if (!req) return error_body(req.error()).dump();
  return "ok:" + std::to_string(req->items.size());
}

TEST(ApplyRequest, ChecksInOrderWithTheirMessages) {
  EXPECT_TRUE(check("{").starts_with(R"({"error":"bad body: )")) << check("{");
  EXPECT_EQ(check(R"({"target":"altium","board":""})"),
            R"({"error":"only KiCad add-to-library is implemented right now","status":"error"})");
  EXPECT_EQ(check(R"({"board":"","items":[{"slug":"bad slug"}]})"), R"({"error":"invalid board slug: ","status":"error"})");
  EXPECT_EQ(check(R"({"board":"a/../b"})"), R"({"error":"invalid board slug: a/../b","status":"error"})");
  EXPECT_EQ(check(R"({"items":[{"slug":"ok"},{"slug":"x;y"},{"slug":"z","symLib":"a b"},{"slug":"w","fpLib":"c/d"}]})"),
            R"({"error":"invalid slug or library name on: x;y, z, w","hint":"library names may only contain [A-Za-z0-9_.-]","status":"error"})");
  EXPECT_EQ(check(R"({"items":[{"slug":""},{"x":1},3]})"), R"({"error":"no components selected","status":"error"})");
  EXPECT_EQ(check(R"({"board":null,"items":[]})"), R"({"error":"no components selected","status":"error"})");
  EXPECT_EQ(check(R"({"items":[{"slug":"a"}],"dest":"/x\ny"})"), R"({"error":"invalid dest path","status":"error"})");
  EXPECT_EQ(check(R"({"items":[{"slug":"a"}],"dest":"/x\u0000y"})"), R"({"error":"invalid dest path","status":"error"})");
  EXPECT_EQ(check(R"({"target":"kicad","items":[{"slug":"a","symLib":5},{"slug":"org/b.c_d-e"}],"board":"brd"})"), "ok:2");
  EXPECT_EQ(check(R"({"board":"brd"})"), "ok:0");
  EXPECT_EQ(error_body(already_running_error()).dump(),
            R"({"error":"an apply is already running","hint":"poll /api/apply-progress until done:true, then retry","status":"error"})");
}

TEST(ApplyRequest, AcceptedNames) {
  EXPECT_TRUE(is_accepted_slug(std::string(128, 'a')));
  EXPECT_FALSE(is_accepted_slug(std::string(129, 'a')));
  EXPECT_FALSE(is_accepted_slug("a..b"));
  EXPECT_FALSE(is_accepted_slug("a'b"));
  EXPECT_TRUE(is_accepted_library_name(std::string(64, 'L')));
  EXPECT_FALSE(is_accepted_library_name(std::string(65, 'L')));
  EXPECT_FALSE(is_accepted_library_name("a/b"));
  EXPECT_FALSE(is_accepted_library_name(""));
}

}  // namespace
}  // namespace vorn
