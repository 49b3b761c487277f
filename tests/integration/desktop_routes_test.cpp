// Desktop routes against the real local bridge on a sandbox HOME: environment, library tables,
// in-library, suggest-path, folder listing and picking, and hostile parameters.
#include <cctype>
#include <cstdio>

#include "desktop_fixture.h"

namespace vorn::test {
namespace {

// Percent-encodes every byte outside the unreserved set.
std::string encode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

json get_json(const Manager& m, const std::string& target) {
  return json::parse(m.get(target).body, nullptr, false);
}

TEST(DesktopRoutes, EnvAndLibraryTablesFromTwoVersionFolders) {
  MockPlatform mock;
  Desktop desk;
  const std::string h = desk.home().string();
  desk.write_tables(table_row("Mine", h + "/libs/Mine.kicad_sym") +
                        table_row("Device", "${KICAD9_SYMBOL_DIR}/Device.kicad_sym") +
                        table_row("Sys", "/usr/share/kicad/symbols/Sys.kicad_sym"),
                    table_row("MyFp", h + "/libs/MyFp.pretty"),
                    table_row("Mine", "/elsewhere/Mine.kicad_sym") + table_row("Later", h + "/Later.kicad_sym"),
                    table_row("KiCad", "/x/y.pretty"));
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  EXPECT_EQ(m.get("/api/env").body,
            json({{"os", "linux"}, {"home", h}, {"sep", "/"},
                  {"dest_folders", {h + "/Documents/KiCad/Projects", h + "/Documents", h + "/Downloads", h + "/Desktop"}}})
                .dump());
  EXPECT_EQ(get_json(m, "/api/libraries"),
            json({{"symLibs", {{{"name", "Mine"}, {"uri", h + "/libs/Mine.kicad_sym"}},
                               {{"name", "Later"}, {"uri", h + "/Later.kicad_sym"}}}},
                  {"fpLibs", {{{"name", "MyFp"}, {"uri", h + "/libs/MyFp.pretty"}}}}}));
}

TEST(DesktopRoutes, InLibraryByEveryTestWithAFixedNumberOfCommands) {
  MockPlatform mock;
  Desktop desk;
  const fs::path libs = desk.home() / "libs";
  fs::create_directories(libs);
  fs::copy_file(kOfficialSymbols / "Amplifier_Operational.kicad_sym", libs / "Opamps.kicad_sym");
  write_file(libs / "Mine.kicad_sym",
             "(kicad_symbol_lib (version 20231120) (generator \"t\")\n"
             " (symbol \"CAP_10uF_0805\" (property \"Reference\" \"C\"))\n"
             " (symbol \"ZQ7X31\" (property \"Reference\" \"U\"))\n)\n");
  fs::copy(kOfficialFootprints / "Package_SO.pretty", libs / "SoFp.pretty");
  desk.write_tables(table_row("Opamps", (libs / "Opamps.kicad_sym").string()) +
                        table_row("Mine", (libs / "Mine.kicad_sym").string()),
                    table_row("SoFp", (libs / "SoFp.pretty").string()));
  serve_part(mock, "quad-amp", part_doc("X", "LM324", "nothing-here"));
  serve_part(mock, "my-cap", part_doc("Y", "C 10uF 25V", "C_0805_2012Metric"));
  serve_part(mock, "so-part", part_doc("Z", "qq", "SOIC-8_3.9x4.9mm_P1.27mm"));
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());

  (void)m.get("/api/env");  // environment detection runs once per process
  desk.clear_calls();
  const json found = get_json(m, "/api/in-library?slugs=lm358,quad-amp,my-cap,so-part,zq7.31,missing,bad%27slug,,");
  EXPECT_EQ(found, json({{"lm358", {{"by", "mpn"}, {"lib", "Opamps"}, {"fpLib", ""}}},
                         {"quad-amp", {{"by", "symbol"}, {"lib", "Opamps"}, {"fpLib", ""}}},
                         {"my-cap", {{"by", "value+package"}, {"lib", "Mine"}, {"fpLib", ""}}},
                         {"so-part", {{"by", "footprint"}, {"lib", ""}, {"fpLib", "SoFp"}}}}))
      << found.dump();
  // Two tables, one part-number search, one symbol listing, one footprint listing.
  EXPECT_EQ(desk.count_calls("shell_execute"), 5u);
  // The "." of a part number matches only a dot: ZQ7X31 is not zq7.31.
  EXPECT_FALSE(found.contains("zq7.31"));
  std::string many = "/api/in-library?slugs=";
  for (int i = 0; i < 40; ++i) many += "qqzx-" + std::to_string(i) + ",";
  desk.clear_calls();
  EXPECT_EQ(m.get(many).body, "{}");
  EXPECT_EQ(desk.count_calls("shell_execute"), 5u);
  EXPECT_EQ(m.get("/api/in-library").body, "{}");
}

TEST(DesktopRoutes, SuggestPathAndFolderListing) {
  MockPlatform mock;
  Desktop desk;
  const fs::path h = desk.home();
  for (int i = 0; i < 20; ++i) fs::create_directories(h / ("many_" + std::to_string(100 + i)));
  const fs::path odd = h / "a b'c\"d";
  fs::create_directories(odd / "sub one");
  fs::create_directories(odd / ".hidden");
  fs::create_directories(odd / "z'q");
  write_file(odd / "file.txt", "x");
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());

  const json s = get_json(m, "/api/suggest-path?p=" + encode(h.string() + "/many_"));
  ASSERT_EQ(s["dirs"].size(), 14u) << s.dump();
  EXPECT_EQ(s["dirs"][0], h.string() + "/many_100");
  // Quotes, ";" and "$" are removed before the command is built; blanks survive the quoting.
  fs::create_directories(h / "sp ace" / "sub1");
  EXPECT_EQ(get_json(m, "/api/suggest-path?p=" + encode(h.string() + "/sp ace/s;u$b")),
            json({{"dirs", {h.string() + "/sp ace/sub1"}}}));
  EXPECT_EQ(get_json(m, "/api/suggest-path?p=" + encode(h.string() + "/nothing")), json({{"dirs", json::array()}}));

  const json listing = get_json(m, "/api/list-dirs?p=" + encode(odd.string()));
  EXPECT_EQ(listing, json({{"path", odd.string()},
                           {"parent", h.string()},
                           {"dirs", {{{"name", "sub one"}, {"path", (odd / "sub one").string()}},
                                     {{"name", "z'q"}, {"path", (odd / "z'q").string()}}}}}))
      << listing.dump();
  const json root = get_json(m, "/api/list-dirs?p=%2F");
  EXPECT_EQ(root["path"], "/");
  EXPECT_EQ(root["parent"], "");
  EXPECT_FALSE(root["dirs"].empty());
  EXPECT_EQ(get_json(m, "/api/list-dirs?p=" + encode(h.string() + "/nope")),
            json({{"path", h.string() + "/nope"}, {"parent", h.string()}, {"dirs", json::array()}}));
  EXPECT_EQ(get_json(m, "/api/list-dirs")["path"], h.string());
}

TEST(DesktopRoutes, PickFileStates) {
  MockPlatform mock;
  Desktop desk;
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  const json token = get_json(m, "/api/pick-folder");
  ASSERT_TRUE(token["token"].is_string());
  EXPECT_NE(token["token"], get_json(m, "/api/pick-folder")["token"]);
  const std::string id = "test_" + std::to_string(getpid());
  const fs::path file = "/tmp/vorn_pick_" + id + ".txt";
  fs::remove(file);
  EXPECT_EQ(m.get("/api/pick-folder-result?f=" + id).body, R"({"pending":true})");
  write_file(file, "  \n");
  EXPECT_EQ(m.get("/api/pick-folder-result?f=" + id).body, R"({"pending":true})");
  write_file(file, "/home/x/My Project\n");
  EXPECT_EQ(m.get("/api/pick-folder-result?f=../" + id).body, R"({"path":"/home/x/My Project"})");
  EXPECT_FALSE(fs::exists(file));
  write_file(file, "__CANCELLED__");
  EXPECT_EQ(m.get("/api/pick-folder-result?f=" + id).body, R"({"cancelled":true})");
  EXPECT_EQ(m.get("/api/pick-folder-result?f=..%2F").body, R"({"cancelled":true})");
  EXPECT_EQ(m.get("/api/pick-folder-result").body, R"({"cancelled":true})");
}

TEST(DesktopRoutes, HostileParametersRunOnlyTheIntendedCommand) {
  MockPlatform mock;
  Desktop desk;
  const fs::path marker = desk.home() / "PWNED";
  desk.write_tables(table_row("L", (desk.home() / "L.kicad_sym").string()), table_row("F", (desk.home() / "F.pretty").string()));
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  const std::string t = "touch '" + marker.string() + "'";
  const std::vector<std::string> payloads = {
      "'; " + t + "; '", "\"; " + t + "; \"", "$(" + t + ")", "`" + t + "`", "<(" + t + ")",
      "x;" + t, "x\n" + t + "\n", "x' $(" + t + ") '", "x&&" + t, "x|" + t};
  for (const auto& p : payloads) {
    const std::string e = encode(p);
    (void)m.get("/api/list-dirs?p=" + e);
    (void)m.get("/api/suggest-path?p=" + e);
    (void)m.get("/api/pick-folder-result?f=" + e);
    (void)m.get("/api/in-library?slugs=" + e + ",ok");
    EXPECT_FALSE(fs::exists(marker)) << p;
  }
  // Hostile slugs never reach a command line at all.
  desk.clear_calls();
  std::string slugs;
  for (const auto& p : payloads) slugs += encode(p) + ",";
  (void)m.get("/api/in-library?slugs=" + slugs + "fine");
  EXPECT_FALSE(desk.calls().empty());
  for (const auto& c : desk.calls()) EXPECT_EQ(c.find("touch"), std::string::npos) << c;
  EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace vorn::test
