// The apply job end to end against the real local bridge: merging into a copy of a large
// official library, pulls and sends per library, the guards that keep a desktop library from
// being replaced by a shorter or unread one, footprints, request checks over HTTP.
#include "desktop_fixture.h"

namespace vorn::test {
namespace {

// A desktop with one large official library copy ("Big"), an empty footprint library row and a
// manager pointed at both.
struct ApplySetup {
  MockPlatform mock;
  Desktop desk;
  fs::path libs = desk.home() / "libs";
  std::string big_before;
  std::unique_ptr<Manager> m;

  explicit ApplySetup(const std::string& extra_sym_rows = "") {
    fs::create_directories(libs);
    fs::copy_file(kOfficialSymbols / "Device.kicad_sym", libs / "Big.kicad_sym");
    big_before = read_file(libs / "Big.kicad_sym");
    desk.write_tables(table_row("Big", (libs / "Big.kicad_sym").string()) + extra_sym_rows,
                      table_row("Foot", (libs / "Foot.pretty").string()));
    m = std::make_unique<Manager>(desktop_env_vars(mock, desk), std::vector<std::string>{}, desk.extra_path());
  }
};

TEST(ApplyJob, MergesIntoLargeOfficialLibraryKeepingEveryOldBlock) {
  ApplySetup s;
  s.mock.clear();
  serve_part(s.mock, "aj-one", part_doc("AJ1", "AJ_NEW_ONE", "FP One"));
  serve_part(s.mock, "org/aj-two", part_doc("AJ2", "AJ_NEW_TWO", "sub/fp2"));
  serve_part(s.mock, "aj-dup", part_doc("AJ3", "R", "fp3"));  // name already in Device
  s.desk.clear_calls();
  const HttpAnswer raw = s.m->post("/api/apply", json({{"items", {{{"slug", "aj-one"}, {"symLib", "Big"}, {"fpLib", "Foot"}},
                                              {{"slug", "org/aj-two"}, {"symLib", "Big"}, {"fpLib", "Foot"}},
                                              {{"slug", "aj-dup"}, {"symLib", "Big"}, {"fpLib", "Foot"}}}}}).dump());
  EXPECT_EQ(raw.body, R"({"status":"started","total":3})") << raw.status;
  const json rec = wait_done(*s.m);
  EXPECT_EQ(rec["stage"], "Done");
  EXPECT_EQ(rec["current"], 3);
  EXPECT_EQ(rec["total"], 3);
  const json& r = rec["result"];
  // "R" was already there: it is reported as skipped, not as added.
  EXPECT_EQ(r, json({{"status", "ok"},
                     {"count", 2},
                     {"errors", json::array()},
                     {"project", nullptr},
                     {"skipped", {{{"component", "aj-dup"}, {"by", "symbol R already in Big"}}}},
                     {"added",
                      {{{"symbol", "AJ_NEW_ONE"}, {"symLib", "Big"}},
                       {{"symbol", "AJ_NEW_TWO"}, {"symLib", "Big"}}}}}))
      << r.dump(1);
  const std::string after = read_file(s.libs / "Big.kicad_sym");
  const size_t cut = s.big_before.rfind(')');
  EXPECT_EQ(after.substr(0, cut), s.big_before.substr(0, cut));  // every old block, byte for byte
  EXPECT_TRUE(after.ends_with(s.big_before.substr(cut)));
  EXPECT_NE(after.find("\t(symbol \"AJ_NEW_ONE\""), std::string::npos);
  EXPECT_NE(after.find("\t(symbol \"AJ_NEW_TWO\""), std::string::npos);
  EXPECT_EQ(after.find("(symbol \"R\"", after.find("(symbol \"R\"") + 1), std::string::npos);
  // One pull and one send for the library, one send for the footprints.
  EXPECT_EQ(s.desk.count_calls("pull_file", "Big.kicad_sym"), 1u);
  EXPECT_EQ(s.desk.count_calls("send_file", "Big.kicad_sym"), 1u);
  EXPECT_EQ(s.desk.count_calls("send_file", "Foot.pretty"), 1u);
  // Each part's file list and document is read once per job, for both phases.
  for (const std::string slug : {"aj-one", "org/aj-two", "aj-dup"}) {
    EXPECT_EQ(s.mock.count("/api/v1/pages/" + slug + "/files"), 2u) << slug;  // list + document
  }
  EXPECT_TRUE(fs::exists(s.libs / "Foot.pretty" / "FP_One.kicad_mod"));
  EXPECT_TRUE(fs::exists(s.libs / "Foot.pretty" / "sub_fp2.kicad_mod"));
  EXPECT_TRUE(kicad_loads(s.libs / "Big.kicad_sym", "AJ_NEW_TWO"));
}

TEST(ApplyJob, UnreadableDesktopLibrariesAreNeverWritten) {
  ApplySetup s(table_row("Gone", "/nonexistent-dir-" + std::to_string(getpid()) + "/Gone.kicad_sym"));
  serve_part(s.mock, "aj-u", part_doc("U", "AJ_U", "fpu"));
  // Exists but the pull fails.
  s.desk.fail("pull", "Big.kicad_sym");
  post_apply(*s.m, items_body({{"aj-u", "Big"}}));
  json r = wait_done(*s.m)["result"];
  EXPECT_EQ(r["errors"], json({"Big.kicad_sym exists on the desktop but could not be pulled — skipped to avoid overwriting it"}));
  EXPECT_EQ(r["added"], json::array());
  EXPECT_EQ(read_file(s.libs / "Big.kicad_sym"), s.big_before);
  EXPECT_EQ(s.desk.count_calls("send_file", "Big.kicad_sym"), 0u);
  // Neither the pull nor the existence test answers: undetermined.
  s.desk.fail("shell", "Big.kicad_sym");
  post_apply(*s.m, items_body({{"aj-u", "Big"}}));
  r = wait_done(*s.m)["result"];
  EXPECT_EQ(r["errors"], json({"could not verify Big.kicad_sym on the desktop (bridge error) — skipped to avoid overwriting it"}));
  EXPECT_EQ(read_file(s.libs / "Big.kicad_sym"), s.big_before);
  EXPECT_EQ(s.desk.count_calls("send_file", "Big.kicad_sym"), 0u);
  s.desk.clear_failures();
  // A send that fails is reported.
  s.desk.fail("send", "Gone.kicad_sym");
  post_apply(*s.m, items_body({{"aj-u", "Gone", "Foot"}}));
  r = wait_done(*s.m)["result"];
  EXPECT_EQ(r["errors"], json({"failed to write Gone.kicad_sym"}));
}

TEST(ApplyJob, ShrinkGuardAndAllItemsFailing) {
  ApplySetup s(table_row("Odd", "") + table_row("Headless", "HEADLESS_PATH"));
  // A file without the library head but with symbols is rebuilt from the header and refused,
  // even when the new symbols would outnumber the lost ones.
  const fs::path headless = s.libs / "Headless.kicad_sym";
  write_file(headless, "(symbol \"A\" (x))\n(symbol \"B\" (y))\n");
  s.desk.write_tables(table_row("Big", (s.libs / "Big.kicad_sym").string()) + table_row("Headless", headless.string()),
                      table_row("Foot", (s.libs / "Foot.pretty").string()));
  Manager m(desktop_env_vars(s.mock, s.desk), {}, s.desk.extra_path());
  serve_part(s.mock, "aj-s", part_doc("S", "AJ_S", "fps"));
  post_apply(m, items_body({{"aj-s", "Headless"}}));
  json r = wait_done(m)["result"];
  EXPECT_EQ(r["errors"].back(), "Headless.kicad_sym merge would shrink the library — aborted") << r.dump();
  EXPECT_EQ(read_file(headless), "(symbol \"A\" (x))\n(symbol \"B\" (y))\n");

  // Every item fails to load: an existing library goes back unchanged, an absent one is created
  // holding only the header, the footprint folder is created and receives nothing.
  const std::string fresh = "AjFresh" + std::to_string(getpid());
  post_apply(m, items_body({{"aj-missing-1", "Big", "EmptyFp"}, {"aj-missing-2", fresh, "EmptyFp"}}));
  const json rec = wait_done(m);
  r = rec["result"];
  // Libraries are visited in ascending byte order of their names: "AjFresh…" before "Big".
  EXPECT_EQ(r["errors"], json({"aj-missing-2: no vorn-lbr JSON or KiCad files on aj-missing-2",
                               "aj-missing-1: no vorn-lbr JSON or KiCad files on aj-missing-1"}));
  EXPECT_EQ(r["added"], json::array());
  EXPECT_EQ(r["count"], 0);
  EXPECT_EQ(read_file(s.libs / "Big.kicad_sym"), s.big_before);
  const fs::path created = s.desk.home() / "Documents/KiCad/Symbols" / (fresh + ".kicad_sym");
  EXPECT_EQ(read_file(created),
            "(kicad_symbol_lib\n\t(version 20231120)\n\t(generator \"vorn-lbr\")\n\t(generator_version \"8.0\")\n)\n");
  const fs::path fp_folder = s.desk.home() / "Documents/KiCad/Footprints/EmptyFp.pretty";
  EXPECT_TRUE(fs::is_directory(fp_folder));
  EXPECT_TRUE(fs::is_empty(fp_folder));
}

TEST(ApplyJob, ProgressStagesAndOneJobAtATime) {
  ApplySetup s;
  serve_part(s.mock, "aj-p", part_doc("P", "AJ_P", "fpp"));
  EXPECT_EQ(s.m->get("/api/apply-progress").body, R"({"done":true,"stage":"idle"})");
  s.desk.set_slow(true);
  const std::string body = json({{"items", {{{"slug", "aj-p"}, {"symLib", "Big"}, {"fpLib", "Foot"}}}}}).dump();
  std::vector<std::string> answers(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { answers[i] = s.m->post("/api/apply", body).body; });
  for (auto& t : threads) t.join();
  int started = 0;
  for (const auto& a : answers) {
    if (a == R"({"status":"started","total":1})") ++started;
    else EXPECT_EQ(a, R"({"error":"an apply is already running","hint":"poll /api/apply-progress until done:true, then retry","status":"error"})");
  }
  EXPECT_EQ(started, 1);
  // The working record while the slow bridge runs.
  std::set<std::string> stages;
  for (json rec = json::parse(s.m->get("/api/apply-progress").body); !rec["done"];
       rec = json::parse(s.m->get("/api/apply-progress").body)) {
    stages.insert(rec["stage"].get<std::string>());
    EXPECT_EQ(rec["total"], 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  s.desk.set_slow(false);
  EXPECT_TRUE(stages.count("Merging 1 symbol(s) into Big")) << json(stages).dump();
  EXPECT_TRUE(stages.count("Delivering footprints → Foot.pretty")) << json(stages).dump();
  EXPECT_EQ(wait_done(*s.m)["result"]["count"], 1);
  // Request checks over HTTP, with a job finished.
  EXPECT_EQ(s.m->post("/api/apply", "").body.find(R"({"error":"bad body: )"), 0u);
  EXPECT_EQ(s.m->post("/api/apply", R"({"items":[{"slug":"x","symLib":"../etc"}]})").body,
            R"({"error":"invalid slug or library name on: x","hint":"library names may only contain [A-Za-z0-9_.-]","status":"error"})");
  EXPECT_EQ(s.m->post("/api/apply", R"({"board":""})").body, R"({"error":"invalid board slug: ","status":"error"})");
}

TEST(ApplyJob, HostileItemsRunNothingButTheIntendedCommands) {
  ApplySetup s;
  const fs::path marker = s.desk.home() / "PWNED";
  const std::string t = "touch '" + marker.string() + "'";
  json items = json::array();
  const std::vector<std::string> injections = {"'; " + t + "; '", "$(" + t + ")", "`" + t + "`", "<(" + t + ")",
                                              "a;" + t, "a\n" + t};
  for (const std::string& p : injections) {
    json bad_slug = json::object();
    bad_slug["slug"] = p;
    json bad_lib = json::object();
    bad_lib["slug"] = "ok";
    bad_lib["symLib"] = p;
    items.push_back(bad_slug);
    items.push_back(bad_lib);
  }
  json hostile = json::object();
  hostile["items"] = items;
  hostile["dest"] = "/x";
  const json answer = post_apply(*s.m, hostile);
  EXPECT_EQ(answer["status"], "error");
  EXPECT_EQ(s.desk.count_calls("shell_execute"), 0u);
  // A footprint name and symbol name full of shell syntax travel only as file contents.
  serve_part(s.mock, "aj-h", part_doc("H", "$(" + t + ")", "`" + t + "`;$(" + t + ")"));
  post_apply(*s.m, items_body({{"aj-h", "Big", "Foot"}}));
  const json r = wait_done(*s.m)["result"];
  EXPECT_EQ(r["count"], 1) << r.dump();
  EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace vorn::test
