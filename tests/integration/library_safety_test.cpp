// Libraries written by the apply job must always load in KiCad: seeded random part documents
// full of quotes, backslashes, parentheses, colons, angle brackets, unicode, line breaks, odd pin
// and pad angles and empty shapes go through the real job into copies of official symbol
// libraries and a footprint library, and kicad-cli loads every library after every batch; long
// chains of merges into one library; a pull that fails after an earlier job staged the same
// library.
#include <altium_codec/sexpr.h>
#include <altium_codec/symbol_writer.h>

#include <random>
#include <set>

#include "desktop/library_merge.h"
#include "desktop/kicad_guard.h"
#include "desktop_fixture.h"

namespace vorn::test {
namespace {

// Texts that break naive quoting, KiCad's naming rules or parenthesis counting.
const std::vector<std::string> kPieces = {"\"", "\\", "(", ")", ":", "µ", "Ω", "漢字", " ", "\\\"", "\")",
                                          "(symbol \"", "<", ">", "a", "Z9", "_1_1", "'", "$(x)", "\t", "\n", "~", ""};

class PartGenerator {
 public:
  explicit PartGenerator(unsigned seed) : rng_(seed) {}

  std::string text(int max_pieces) {
    std::string out;
    const int n = pick(0, max_pieces);
    for (int i = 0; i < n; ++i) out += kPieces[pick(0, static_cast<int>(kPieces.size()) - 1)];
    return out;
  }

  json document(const std::string& unique) {
    json pins = json::array();
    for (int i = 0, n = pick(0, 4); i < n; ++i) {
      const int rotation = chance(8) ? pick(1, 359) : 90 * pick(0, 3);
      pins.push_back({{"number", text(2) + std::to_string(i)}, {"name", chance(5) ? "~" : text(3)},
                      {"x", pick(-500, 500)}, {"y", pick(-500, 500)}, {"rotation", rotation}});
    }
    json params = json::array();
    for (int i = 0, n = pick(0, 3); i < n; ++i) {
      params.push_back({{"name", chance(10) ? "" : text(2) + "P" + std::to_string(i)}, {"value", text(4)},
                        {"visible", chance(2)}});
    }
    json graphics = json::array();
    for (int i = 0, n = pick(0, 3); i < n; ++i) {
      switch (pick(0, 3)) {
        case 0: {
          json pts = json::array();
          for (int k = 0, m = chance(8) ? 0 : pick(1, 4); k < m; ++k) pts.push_back({pick(-300, 300), pick(-300, 300)});
          graphics.push_back({{"kind", "polyline"}, {"points", pts}, {"width", pick(0, 20)}});
          break;
        }
        case 1:
          graphics.push_back({{"kind", "rect"}, {"x1", pick(-300, 0)}, {"y1", -100}, {"x2", pick(0, 300)},
                              {"y2", 100}, {"filled", chance(2)}});
          break;
        case 2:
          graphics.push_back({{"kind", "circle"}, {"cx", 0}, {"cy", 0}, {"r", pick(0, 200)}});
          break;
        default:
          graphics.push_back({{"kind", "arc"}, {"cx", 0}, {"cy", 0}, {"r", 100}, {"start", pick(-720, 720)},
                              {"end", pick(-720, 720)}});
      }
    }
    json symbol = {{"name", text(3) + unique}, {"pins", pins}, {"graphics", graphics}, {"parameters", params}};
    if (chance(3)) symbol["designator_prefix"] = text(2);
    if (chance(3)) symbol["footprint"] = text(3);
    if (chance(20)) symbol["name"] = text(2);  // may be empty or collide
    return {{"schema_version", 1},
            {"mpn", text(2)},
            {"value", text(2)},
            {"symbol", symbol},
            {"footprint", {{"name", text(2) + unique}, {"pads", pads()}}}};
  }

  json pads() {
    json pads = json::array();
    for (int i = 0, n = pick(0, 3); i < n; ++i) {
      const double rotation = chance(10) ? (chance(2) ? 1e15 : 450) : 90.0 * pick(-4, 4);
      pads.push_back({{"number", text(2) + std::to_string(i)}, {"x_mm", pick(-5, 5)}, {"y_mm", 0}, {"w_mm", 1},
                      {"h_mm", 1}, {"rotation", rotation}, {"drill_mm", chance(3) ? 0.5 : 0}});
    }
    return pads;
  }

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int one_in) { return pick(1, one_in) == 1; }

 private:
  std::mt19937 rng_;
};

const std::vector<std::string> kBaseLibraries = {"Timer", "Relay", "Sensor_Audio", "Buffer"};

TEST(LibrarySafety, LongGeneratedPartsThroughTheApplyJobAlwaysLoadInKiCad) {
  constexpr int kBatches = 8;
  constexpr int kPerBatch = 250;
  MockPlatform mock;
  Desktop desk;
  const fs::path libs = desk.home() / "libs";
  fs::create_directories(libs);
  std::string rows;
  for (const auto& name : kBaseLibraries) {
    fs::copy_file(kOfficialSymbols / (name + ".kicad_sym"), libs / ("Gen" + name + ".kicad_sym"));
    rows += table_row("Gen" + name, (libs / ("Gen" + name + ".kicad_sym")).string());
  }
  desk.write_tables(rows, table_row("GenFp", (libs / "GenFp.pretty").string()));
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  PartGenerator gen(20261207);
  int symbols_refused = 0, footprints_refused = 0, added = 0, libraries_loaded = 0;
  for (int b = 0; b < kBatches; ++b) {
    json items = json::array();
    std::set<std::string> slugs;
    for (int i = 0; i < kPerBatch; ++i) {
      const std::string slug = "gen-" + std::to_string(b) + "-" + std::to_string(i);
      serve_part(mock, slug, gen.document("_" + std::to_string(b) + "_" + std::to_string(i)));
      const std::string lib = i % 5 == 4 ? "GenNew" : "Gen" + kBaseLibraries[i % 4];
      items.push_back({{"slug", slug}, {"symLib", lib}, {"fpLib", "GenFp"}});
      slugs.insert(slug);
    }
    json body = json::object();
    body["items"] = items;
    ASSERT_EQ(post_apply(m, body)["status"], "started");
    const json r = wait_done(m, 200)["result"];
    ASSERT_TRUE(r.is_object());
    for (const auto& e : r["errors"]) {
      const std::string text = e.get<std::string>();
      EXPECT_EQ(text.find("merge"), std::string::npos) << text;  // no library was ever refused whole
      const std::string slug = text.substr(0, text.find(": "));
      ASSERT_TRUE(slugs.count(slug)) << text;
      const bool symbol = text.find(": cannot be installed as a KiCad symbol: ") != std::string::npos;
      const bool footprint = text.find(": cannot be installed as a KiCad footprint: ") != std::string::npos;
      EXPECT_TRUE(symbol || footprint) << text;
      symbols_refused += symbol;
      footprints_refused += footprint;
    }
    added += r["count"].get<int>();
    for (const auto& name : kBaseLibraries) {
      EXPECT_TRUE(kicad_loads(libs / ("Gen" + name + ".kicad_sym"))) << "batch " << b << " Gen" << name;
      ++libraries_loaded;
    }
    EXPECT_TRUE(kicad_loads(desk.home() / "Documents/KiCad/Symbols/GenNew.kicad_sym")) << "batch " << b;
    EXPECT_TRUE(kicad_footprints_load(libs / "GenFp.pretty")) << "batch " << b;
    libraries_loaded += 2;
  }
  EXPECT_GT(symbols_refused, 100);
  EXPECT_GT(footprints_refused, 50);
  EXPECT_GT(added, 200);
  const auto footprints = std::distance(fs::directory_iterator(libs / "GenFp.pretty"), fs::directory_iterator());
  std::cout << "[ figures  ] documents " << kBatches * kPerBatch << ", symbols added " << added << ", refused "
            << symbols_refused << "; footprint files " << footprints << ", footprints refused " << footprints_refused
            << "; library loads verified " << libraries_loaded << "\n";
}

// A symbol full of awkward text that the symbol guard lets through, as the apply job would.
std::string valid_symbol_block(PartGenerator& gen, int i, std::string* name) {
  altium_codec::Symbol s;
  do {  // draw again when the guard refuses (a line feed in the texts)
    s.name = "CHAIN_" + std::to_string(i) + "_µ(" + std::to_string(gen.pick(0, 9)) + ")";
    s.pins = {{"1", gen.text(3), 0, 0, std::nullopt, 90}, {"2", "(\"x\")", 100, 0, 200, 270}};
    s.parameters = {{"Note", gen.text(5), true}};
    s.graphics = {altium_codec::GraphicRect{-50, -50, 50, 50, 5, true}};
  } while (symbol_refusal(s));
  *name = s.name;
  return altium_codec::write_kicad_symbol_lib(s);
}

TEST(LibrarySafety, LongThousandMergesIntoOneLibrary) {
  // 980 merges driven through merge + verification directly, one after the other, then 20 more
  // through full apply jobs; the library still loads and holds everything.
  MockPlatform mock;
  Desktop desk;
  const fs::path lib = desk.home() / "Chain.kicad_sym";
  fs::copy_file(kOfficialSymbols / "Video.kicad_sym", lib);
  const std::string original = read_file(lib);
  auto original_doc = altium_codec::sexpr::parse(original);
  ASSERT_TRUE(original_doc);
  std::set<std::string> expected;
  for (auto child : original_doc->root()) {
    if (child.head() == "symbol") expected.insert(std::string(*child.atom(1)));
  }
  const size_t official = expected.size();
  PartGenerator gen(7);
  std::string text = original;
  for (int i = 0; i < 980; ++i) {
    std::string name;
    auto entry = first_symbol_entry(valid_symbol_block(gen, i, &name));
    ASSERT_TRUE(entry);
    const MergeResult merge = merge_symbols(text, {*entry});
    ASSERT_EQ(merge.inserted.size(), 1u);
    ASSERT_FALSE(verify_merge(merge)) << i;
    text = merge.text;
    expected.insert(name);
  }
  write_file(lib, text);
  desk.write_tables(table_row("Chain", lib.string()), "");
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  for (int i = 980; i < 1000; ++i) {
    const std::string slug = "chain-" + std::to_string(i);
    serve_part(mock, slug, part_doc("C", "CHAIN_JOB_" + std::to_string(i), "f" + std::to_string(i)));
    post_apply(m, items_body({{slug, "Chain"}}));
    ASSERT_EQ(wait_done(m)["result"]["count"], 1);
    expected.insert("CHAIN_JOB_" + std::to_string(i));
  }
  const std::string final_text = read_file(lib);
  const size_t cut = original.rfind(')');
  EXPECT_EQ(final_text.substr(0, cut), original.substr(0, cut));
  auto doc = altium_codec::sexpr::parse(final_text);
  ASSERT_TRUE(doc);
  std::set<std::string> got;
  for (auto child : doc->root()) {
    if (child.head() == "symbol") got.insert(std::string(*child.atom(1)));
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(got.size(), official + 1000);
  EXPECT_TRUE(kicad_loads(lib, "CHAIN_JOB_999"));  // loading parses the whole library
}

TEST(LibrarySafety, FailedPullAfterEarlierStagingNeverSendsTheStaleCopy) {
  MockPlatform mock;
  Desktop desk;
  const std::string name = "Stale" + std::to_string(getpid());
  const fs::path lib = desk.home() / (name + ".kicad_sym");
  fs::copy_file(kOfficialSymbols / "Timer.kicad_sym", lib);
  desk.write_tables(table_row(name, lib.string()), "");
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  serve_part(mock, "stale-a", part_doc("A", "STALE_A", "fa"));
  serve_part(mock, "stale-b", part_doc("B", "STALE_B", "fb"));
  post_apply(m, items_body({{"stale-a", name}}));
  ASSERT_EQ(wait_done(m)["result"]["count"], 1);
  // The user edits the library on the desktop; then a pull fails.
  std::string edited = read_file(lib);
  edited.insert(edited.rfind(')'), "\t(symbol \"USER_EDIT\" (property \"Reference\" \"U\" (at 0 0 0)))\n");
  write_file(lib, edited);
  desk.fail("pull", name + ".kicad_sym");
  post_apply(m, items_body({{"stale-b", name}}));
  const json r = wait_done(m)["result"];
  EXPECT_EQ(r["errors"], json({name + ".kicad_sym exists on the desktop but could not be pulled — skipped to avoid overwriting it"}));
  EXPECT_EQ(read_file(lib), edited);
  EXPECT_EQ(desk.count_calls("send_file", name + ".kicad_sym"), 1u);  // only the first job's
}

}  // namespace
}  // namespace vorn::test
