// KiCad-pair component pages through the real apply job: multi-unit symbols of official
// libraries (and derived symbols, whose page carries the parent too) are published as pages,
// installed into a copy of an official library, and read back. KiCad must load the result, and
// each installed symbol must have the units, pins (number, name, position, length, type, shape,
// alternates), graphics and properties of its source, with its Footprint property naming the
// footprint library it was installed into. The comparison reads both sides with the
// s-expression reader and resolves derived symbols itself.
#include <altium_codec/sexpr.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include "desktop_fixture.h"

namespace vorn::test {
namespace {

namespace sexpr = altium_codec::sexpr;

const fs::path kPairFallbackFootprint =
    kOfficialFootprints / "Package_DIP.pretty" / "DIP-14_W7.62mm.kicad_mod";

// The top-level block of `name` in an official library text (KiCad writes it from a line
// "\t(symbol \"name\"" to the next line "\t)").
std::string official_block(const std::string& lib, const std::string& name) {
  const std::string open = "\n\t(symbol \"" + name + "\"\n";
  const size_t at = lib.find(open);
  if (at == std::string::npos) return "";
  const size_t end = lib.find("\n\t)\n", at + 1);
  return lib.substr(at + 1, end + 3 - (at + 1));
}

std::string page_library(const std::string& blocks) {
  return "(kicad_symbol_lib\n\t(version 20241209)\n\t(generator "
         "\"kicad_symbol_editor\")\n\t(generator_version "
         "\"9.0\")\n" +
         blocks + ")\n";
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.4f", std::abs(v) < 5e-5 ? 0.0 : v);
  return b;
}

// Everything a symbol's units hold that placing it depends on, keyed by unit suffix "_u_b":
// pins (with type, shape, alternates, hidden flag) and counts of each kind of graphic.
using UnitContent = std::map<std::string, std::multiset<std::string>>;

std::string pin_text(sexpr::Node pin) {
  std::string t =
      std::string(pin.atom(1).value_or("")) + " " + std::string(pin.atom(2).value_or(""));
  if (auto at = pin.child("at")) {
    for (double v : at->numbers()) t += " " + num(v);
  }
  if (auto len = pin.child("length")) t += " len " + num(len->number(0).value_or(0));
  if (auto n = pin.child("name")) t += " name " + std::string(n->atom(1).value_or(""));
  if (auto n = pin.child("number")) t += " number " + std::string(n->atom(1).value_or(""));
  if (auto h = pin.child("hide")) t += " hide " + std::string(h->atom(1).value_or(""));
  for (const sexpr::Node c : pin) {
    if (c.is_list() && c.head() == "alternate") {
      t += " alt " + std::string(c.atom(1).value_or("")) + "/" +
           std::string(c.atom(2).value_or("")) + "/" + std::string(c.atom(3).value_or(""));
    }
  }
  return t;
}

UnitContent unit_content(sexpr::Node symbol) {
  UnitContent out;
  for (const sexpr::Node unit : symbol) {
    if (!unit.is_list() || unit.head() != "symbol") continue;
    const std::string name(unit.atom(1).value_or(""));
    static const std::regex suffix("_[0-9]+_[0-9]+$");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(name, m, suffix)) << name;
    auto& content = out[m.str()];
    for (const sexpr::Node item : unit) {
      if (!item.is_list()) continue;
      content.insert(item.head() == "pin" ? pin_text(item) : std::string(item.head().value_or("")));
    }
  }
  return out;
}

std::map<std::string, std::string> properties(sexpr::Node symbol) {
  std::map<std::string, std::string> out;
  for (const sexpr::Node p : symbol) {
    if (p.is_list() && p.head() == "property")
      out[std::string(p.atom(1).value_or(""))] = p.atom(2).value_or("");
  }
  return out;
}

std::optional<sexpr::Node> top_symbol(sexpr::Node root, const std::string& name) {
  for (const sexpr::Node c : root) {
    if (c.is_list() && c.head() == "symbol" && c.atom(1) == name) return c;
  }
  return std::nullopt;
}

// What KiCad makes of a source symbol: a derived one takes its parent's units and the parent's
// properties under its own (an empty mandatory field keeps the parent's).
struct Expected {
  UnitContent units;
  std::map<std::string, std::string> props;
};

Expected expected_of(sexpr::Node root, const std::string& name) {
  const auto sym = top_symbol(root, name);
  if (!sym) return {};
  const auto extends = sym->child("extends");
  if (!extends) return {unit_content(*sym), properties(*sym)};
  Expected e = expected_of(root, std::string(extends->atom(1).value_or("")));
  for (const auto& [k, v] : properties(*sym)) {
    if (!v.empty() || !e.props.contains(k)) e.props[k] = v;
  }
  return e;
}

// Distinct unit numbers above 0 ("_<unit>_<style>").
size_t unit_count(const UnitContent& units) {
  std::set<std::string> numbers;
  for (const auto& [suffix, content] : units) {
    const std::string unit = suffix.substr(1, suffix.rfind('_') - 1);
    if (unit != "0") numbers.insert(unit);
  }
  return numbers.size();
}

struct PairPage {
  std::string slug;
  std::string symbol;
  std::string footprint_name;
  std::string footprint_text;
};

// Multi-unit symbols of one official library (all of them) and up to `derived` of its derived
// symbols whose parent has several units; names usable as slugs only.
std::vector<PairPage> publish(MockPlatform& mock, const std::string& lib_name, size_t derived) {
  const std::string lib = read_file(kOfficialSymbols / (lib_name + ".kicad_sym"));
  auto doc = sexpr::parse(lib);
  EXPECT_TRUE(doc.has_value());
  std::vector<PairPage> pages;
  size_t derived_taken = 0;
  static const std::regex slug_like("[A-Za-z0-9][A-Za-z0-9_.-]*");
  for (const sexpr::Node s : doc->root()) {
    if (!s.is_list() || s.head() != "symbol") continue;
    const std::string name(s.atom(1).value_or(""));
    if (!std::regex_match(name, slug_like)) continue;
    const auto extends = s.child("extends");
    const std::string parent = extends ? std::string(extends->atom(1).value_or("")) : "";
    const Expected e = expected_of(doc->root(), name);
    if (unit_count(e.units) < 2) continue;
    if (extends && derived_taken++ >= derived) continue;
    PairPage page{lower(name), name, "", ""};
    std::string fp = properties(s)["Footprint"];
    if (fp.empty() && extends) fp = expected_of(doc->root(), name).props["Footprint"];
    const size_t colon = fp.find(':');
    fs::path fp_file = colon == std::string::npos
                           ? fs::path()
                           : kOfficialFootprints / (fp.substr(0, colon) + ".pretty") /
                                 (fp.substr(colon + 1) + ".kicad_mod");
    if (fp_file.empty() || !fs::exists(fp_file)) fp_file = kPairFallbackFootprint;
    page.footprint_name = fp_file.stem().string();
    page.footprint_text = read_file(fp_file);
    const std::string blocks =
        official_block(lib, name) + (extends ? official_block(lib, parent) : "");
    const std::string mpn = name;
    mock.on_text(
        "/api/v1/pages/" + page.slug + "/files",
        json{{"files", {{{"path", mpn + ".kicad_sym"}}, {{"path", mpn + ".kicad_mod"}}}}}.dump());
    mock.on_text("/api/v1/pages/" + page.slug + "/files/" + mpn + ".kicad_sym",
                 page_library(blocks), "text/plain");
    mock.on_text("/api/v1/pages/" + page.slug + "/files/" + mpn + ".kicad_mod", page.footprint_text,
                 "text/plain");
    pages.push_back(std::move(page));
  }
  return pages;
}

// Loads a symbol library in KiCad and answers KiCad's own rewrite of it (empty when it fails).
std::string kicad_reading(const fs::path& lib) {
  TempDir out;
  const fs::path rewritten = out.path() / "out.kicad_sym";
  const std::string cmd = "timeout 120 kicad-cli sym upgrade --force -o '" + rewritten.string() +
                          "' '" + lib.string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 || !fs::exists(rewritten)) return "";
  return read_file(rewritten);
}

size_t unit_svgs(const fs::path& lib, const std::string& symbol) {
  TempDir out;
  const std::string cmd = "timeout 60 kicad-cli sym export svg -s '" + symbol + "' -o '" +
                          out.path().string() + "' '" + lib.string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return 0;
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(out.path())) n += e.path().extension() == ".svg";
  return n;
}

// One official library's multi-unit symbols installed through api/apply into a copy of the
// official "Timer" library and a copy of the "Crystal" footprint library.
void install_and_compare(const std::string& lib_name, size_t derived) {
  MockPlatform mock;
  Desktop desk;
  const fs::path libs = desk.home() / "libs";
  fs::create_directories(libs);
  fs::copy_file(kOfficialSymbols / "Timer.kicad_sym", libs / "Target.kicad_sym");
  fs::copy(kOfficialFootprints / "Crystal.pretty", libs / "Foot.pretty");
  const std::string before = read_file(libs / "Target.kicad_sym");
  desk.write_tables(table_row("Target", (libs / "Target.kicad_sym").string()),
                    table_row("Foot", (libs / "Foot.pretty").string()));
  const std::vector<PairPage> pages = publish(mock, lib_name, derived);
  ASSERT_GT(pages.size(), 3u);
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  json items = json::array();
  for (const auto& p : pages)
    items.push_back({{"slug", p.slug}, {"symLib", "Target"}, {"fpLib", "Foot"}});
  ASSERT_EQ(post_apply(m, {{"items", items}})["status"], "started");
  const json result = wait_done(m, 50)["result"];
  EXPECT_EQ(result["errors"], json::array()) << result.dump(1);
  EXPECT_EQ(result["count"], pages.size());

  const std::string installed = read_file(libs / "Target.kicad_sym");
  EXPECT_EQ(installed.substr(0, before.rfind(')')), before.substr(0, before.rfind(')')));
  const std::string kicad = kicad_reading(libs / "Target.kicad_sym");
  ASSERT_FALSE(kicad.empty()) << "KiCad could not load the library";
  auto source = sexpr::parse(read_file(kOfficialSymbols / (lib_name + ".kicad_sym")));
  auto ours = sexpr::parse(installed);
  auto read_by_kicad = sexpr::parse(kicad);
  ASSERT_TRUE(source && ours && read_by_kicad);
  size_t compared = 0;
  for (const auto& p : pages) {
    const Expected want = expected_of(source->root(), p.symbol);
    const auto got = top_symbol(ours->root(), p.symbol);
    const auto kicad_got = top_symbol(read_by_kicad->root(), p.symbol);
    ASSERT_TRUE(got && kicad_got) << p.symbol;
    EXPECT_FALSE(got->child("extends")) << p.symbol;
    EXPECT_EQ(unit_content(*got), want.units) << p.symbol;
    EXPECT_EQ(unit_content(*kicad_got), want.units) << p.symbol << " as KiCad reads it";
    Expected props = want;
    props.props["Footprint"] = "Foot:" + p.footprint_name;
    EXPECT_EQ(properties(*got), props.props) << p.symbol;
    EXPECT_EQ(read_file(libs / "Foot.pretty" / (p.footprint_name + ".kicad_mod")), p.footprint_text)
        << p.symbol;
    ++compared;
  }
  EXPECT_EQ(compared, pages.size());
  std::printf("[ %s ] %zu symbols installed and compared\n", lib_name.c_str(), compared);
  // KiCad plots one picture per unit of a derived symbol as of its parent.
  const PairPage& last = pages.back();
  EXPECT_EQ(unit_svgs(libs / "Target.kicad_sym", last.symbol),
            unit_svgs(kOfficialSymbols / (lib_name + ".kicad_sym"), last.symbol));
  // The Footprint property resolves: the table's "Foot" holds that footprint for KiCad.
  EXPECT_TRUE(kicad_exports_svg("fp export svg", libs / "Foot.pretty",
                                "--footprint '" + last.footprint_name + "'"));
}

TEST(KicadPairInstall, ValveMultiUnitSymbolsKeepEveryUnitPinTypeAndAlternate) {
  install_and_compare("Valve", 10);
}
TEST(KicadPairInstall, OperationalAmplifiersKeepEveryUnit) {
  install_and_compare("Amplifier_Operational", 12);
}
TEST(KicadPairInstall, LogicSymbolsKeepEveryUnit) {
  install_and_compare("74xx", 12);
}
TEST(KicadPairInstall, RelaysKeepEveryUnit) {
  install_and_compare("Relay", 0);
}

// Part-document pages keep the writer, with the Footprint property naming the installed
// footprint; a page whose footprint cannot be installed keeps its own Footprint text; a derived
// symbol whose parent the page lacks is refused and nothing is written for it.
TEST(KicadPairInstall, FootprintPropertyAndRefusedPages) {
  MockPlatform mock;
  Desktop desk;
  const fs::path libs = desk.home() / "libs";
  fs::create_directories(libs);
  desk.write_tables(table_row("Target", (libs / "Target.kicad_sym").string()),
                    table_row("Foot", (libs / "Foot.pretty").string()));
  serve_part(mock, "doc-part", part_doc("DOC1", "DOC_SYM", "FP One"));
  const std::string valve = read_file(kOfficialSymbols / "Valve.kicad_sym");
  auto serve_pair = [&](const std::string& slug, const std::string& sym, const std::string& mod) {
    mock.on_text("/api/v1/pages/" + slug + "/files",
                 json{{"files", {{{"path", "P.kicad_sym"}}, {{"path", "P.kicad_mod"}}}}}.dump());
    mock.on_text("/api/v1/pages/" + slug + "/files/P.kicad_sym", sym, "text/plain");
    mock.on_text("/api/v1/pages/" + slug + "/files/P.kicad_mod", mod, "text/plain");
  };
  const std::string good_mod = read_file(kPairFallbackFootprint);
  const std::string bad_mod =
      "(footprint \"Bad\" (descr \"two\nlines\") (pad \"1\" smd rect (at 0 0) (size 1 1) (layers "
      "\"F.Cu\")))\n";
  serve_pair("ecc81", page_library(official_block(valve, "ECC81")), bad_mod);
  serve_pair("ecc83", page_library(official_block(valve, "ECC83")), good_mod);
  Manager m(desktop_env_vars(mock, desk), {}, desk.extra_path());
  ASSERT_EQ(post_apply(m, items_body({{"doc-part", "Target", "Foot"},
                                      {"ecc81", "Target", "Foot"},
                                      {"ecc83", "Target", "Foot"}}))["status"],
            "started");
  const json r = wait_done(m, 50)["result"];
  EXPECT_EQ(r["added"], json({{{"symbol", "DOC_SYM"}, {"symLib", "Target"}},
                              {{"symbol", "ECC81"}, {"symLib", "Target"}}}))
      << r.dump(1);
  ASSERT_EQ(r["errors"].size(), 2u) << r.dump(1);
  EXPECT_NE(r["errors"][0].get<std::string>().find(
                "ecc83: cannot be installed as a KiCad symbol: symbol ECC83 extends ECC81"),
            std::string::npos)
      << r.dump(1);
  EXPECT_NE(
      r["errors"][1].get<std::string>().find(
          "ecc81: cannot be installed as a KiCad footprint: a quoted text holds a line break"),
      std::string::npos)
      << r.dump(1);
  auto lib = sexpr::parse(read_file(libs / "Target.kicad_sym"));
  ASSERT_TRUE(lib);
  EXPECT_EQ(properties(*top_symbol(lib->root(), "DOC_SYM"))["Footprint"], "Foot:FP_One");
  EXPECT_EQ(properties(*top_symbol(lib->root(), "ECC81"))["Footprint"], "Valve:Valve_Noval_P");
  EXPECT_FALSE(top_symbol(lib->root(), "ECC83"));
  EXPECT_TRUE(fs::exists(libs / "Foot.pretty" / "FP_One.kicad_mod"));
  EXPECT_TRUE(fs::exists(libs / "Foot.pretty" / "DIP-14_W7.62mm.kicad_mod"));
  EXPECT_FALSE(fs::exists(libs / "Foot.pretty" / "Bad.kicad_mod"));
  EXPECT_FALSE(kicad_reading(libs / "Target.kicad_sym").empty());
}

}  // namespace
}  // namespace vorn::test
