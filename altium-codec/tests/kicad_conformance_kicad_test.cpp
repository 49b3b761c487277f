// Conformance against the official KiCad 9 libraries and kicad-cli:
//  - every symbol of every official symbol library imports when asked for by its own name, and
//    every official footprint imports;
//  - for a deterministic sample of symbols and footprints spread over all libraries, the
//    writers' output loads in kicad-cli (one batched library / .pretty folder each), and
//    importing the written text again gives the same pins and pads.
// Skipped when the KiCad libraries are not installed.
#include "altium_codec/kicad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "altium_codec/footprint_writer.h"
#include "altium_codec/symbol_writer.h"

namespace altium_codec {
namespace {

namespace fs = std::filesystem;

const fs::path kSymbolDir = "/usr/share/kicad/symbols";
const fs::path kFootprintDir = "/usr/share/kicad/footprints";
// About one in this many symbols / footprints is round-tripped, plus the first of each library.
constexpr std::uint64_t kSymbolSampleEvery = 30;
constexpr std::uint64_t kFootprintSampleEvery = 25;

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::uint64_t fnv1a(std::string_view a, std::string_view b) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::string_view s : {a, std::string_view("/"), b}) {
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  }
  return h;
}

std::vector<fs::path> files_in(const fs::path& dir, std::string_view ext, bool recurse_pretty) {
  std::vector<fs::path> out;
  if (!fs::is_directory(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (recurse_pretty && e.is_directory() && e.path().extension() == ".pretty") {
      for (const auto& f : fs::directory_iterator(e.path())) {
        if (f.path().extension() == ext) out.push_back(f.path());
      }
    } else if (!recurse_pretty && e.path().extension() == ext) {
      out.push_back(e.path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Runs `work(i)` for i in [0, n) on two threads (the machine's budget).
template <class F>
void parallel_for(std::size_t n, F work) {
  std::atomic<std::size_t> next{0};
  auto loop = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < n;) work(i);
  };
  std::thread other(loop);
  loop();
  other.join();
}

struct SampledSymbol {
  std::string library;
  Symbol symbol;
};
struct SampledFootprint {
  std::string file;
  Footprint footprint;
};

// Everything the tests check, computed once for the whole suite.
struct Corpus {
  std::size_t libraries = 0, symbols = 0, footprint_files = 0, footprints = 0;
  std::vector<std::string> failures;
  std::vector<SampledSymbol> sampled_symbols;
  std::vector<SampledFootprint> sampled_footprints;
};

const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus out;
    std::mutex mu;
    auto fail = [&](std::string what) {
      std::lock_guard lock(mu);
      if (out.failures.size() < 20) out.failures.push_back(std::move(what));
    };
    const std::string any_footprint = "(footprint \"ANY\" (pad \"1\" smd rect (at 0 0)))";

    const auto libs = files_in(kSymbolDir, ".kicad_sym", false);
    out.libraries = libs.size();
    std::vector<std::vector<SampledSymbol>> lib_samples(libs.size());
    std::atomic<std::size_t> symbol_count{0};
    parallel_for(libs.size(), [&](std::size_t li) {
      const std::string text = read_file(libs[li]);
      const std::string lib_name = libs[li].stem().string();
      auto doc = sexpr::parse(text);
      if (!doc) return fail(libs[li].string() + ": " + doc.error());
      std::vector<std::string> names;
      for (sexpr::Node n : doc->root()) {
        if (n.is_list() && n.head() == "symbol") names.emplace_back(n.atom(1).value_or(""));
      }
      // The real entry point once per library, paired with a footprint.
      if (!names.empty()) {
        auto part = import_kicad(text, any_footprint, names.front());
        if (!part) fail(lib_name + ": " + part.error());
      }
      for (std::size_t i = 0; i < names.size(); ++i) {
        auto sym = import_kicad_symbol(doc->root(), names[i]);
        if (!sym) {
          fail(lib_name + ":" + names[i] + ": " + sym.error());
          continue;
        }
        if (sym->name != names[i] && names.size() > 1) {
          // Only a case-insensitive twin earlier in the library may take the name.
          bool twin = false;
          for (std::size_t j = 0; j < i; ++j) {
            twin |= names[j].size() == names[i].size() &&
                    std::equal(names[j].begin(), names[j].end(), names[i].begin(),
                               [](char a, char b) { return std::tolower(a) == std::tolower(b); });
          }
          if (!twin) fail(lib_name + ":" + names[i] + " imported as " + sym->name);
        }
        ++symbol_count;
        if (i == 0 || fnv1a(lib_name, names[i]) % kSymbolSampleEvery == 0) {
          lib_samples[li].push_back(SampledSymbol{lib_name, std::move(*sym)});
        }
      }
    });
    out.symbols = symbol_count;
    for (auto& v : lib_samples) {
      for (auto& s : v) out.sampled_symbols.push_back(std::move(s));
    }

    const auto fps = files_in(kFootprintDir, ".kicad_mod", true);
    out.footprint_files = fps.size();
    const std::string any_symbol = "(kicad_symbol_lib (symbol \"ANY\" (pin (number \"1\"))))";
    std::vector<std::optional<Footprint>> fp_samples(fps.size());
    std::atomic<std::size_t> footprint_count{0};
    parallel_for(fps.size(), [&](std::size_t i) {
      const std::string text = read_file(fps[i]);
      auto part = import_kicad(any_symbol, text, "ANY");
      if (!part) return fail(fps[i].string() + ": " + part.error());
      ++footprint_count;
      const std::string lib = fps[i].parent_path().filename().string();
      const bool first_of_lib = i == 0 || fps[i - 1].parent_path() != fps[i].parent_path();
      if (first_of_lib || fnv1a(lib, fps[i].filename().string()) % kFootprintSampleEvery == 0) {
        fp_samples[i] = std::move(part->footprint);
      }
    });
    out.footprints = footprint_count;
    for (std::size_t i = 0; i < fps.size(); ++i) {
      if (fp_samples[i]) {
        out.sampled_footprints.push_back(SampledFootprint{
            fps[i].parent_path().filename().string() + "/" + fps[i].filename().string(),
            std::move(*fp_samples[i])});
      }
    }
    return out;
  }();
  return c;
}

bool kicad_installed() {
  return fs::is_directory(kSymbolDir) && fs::is_directory(kFootprintDir);
}

bool has_kicad_cli() {
  return std::system("kicad-cli version >/dev/null 2>&1") == 0;
}

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "codec-kicad-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path); }
};

std::size_t count_files(const fs::path& dir, std::string_view ext) {
  std::size_t n = 0;
  if (!fs::is_directory(dir)) return 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) n += e.path().extension() == ext;
  return n;
}

std::string safe_name(std::string_view s) {
  std::string out;
  for (char c : s) out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return out;
}

TEST(KicadConformance, EveryOfficialSymbolAndFootprintImports) {
  if (!kicad_installed()) GTEST_SKIP() << "KiCad libraries not installed under /usr/share/kicad";
  const Corpus& c = corpus();
  std::printf("imported %zu symbols from %zu libraries, %zu of %zu footprints\n", c.symbols,
              c.libraries, c.footprints, c.footprint_files);
  for (const auto& f : c.failures) ADD_FAILURE() << f;
  EXPECT_GT(c.libraries, 100u);
  EXPECT_GT(c.symbols, 10000u);
  EXPECT_GT(c.footprint_files, 10000u);
  EXPECT_EQ(c.footprints, c.footprint_files);
}

TEST(KicadConformance, WrittenSymbolsLoadInKicadCliAndReimportWithSamePins) {
  if (!kicad_installed()) GTEST_SKIP() << "KiCad libraries not installed under /usr/share/kicad";
  if (!has_kicad_cli()) GTEST_SKIP() << "kicad-cli not on PATH";
  const Corpus& c = corpus();
  ASSERT_GE(c.sampled_symbols.size(), 500u);

  std::string merged;
  std::size_t shifted = 0, pins = 0;
  for (std::size_t i = 0; i < c.sampled_symbols.size(); ++i) {
    Symbol s = c.sampled_symbols[i].symbol;
    s.name = safe_name(c.sampled_symbols[i].library + "_" + s.name) + "_rt" + std::to_string(i);
    const std::string text = write_kicad_symbol_lib(s);
    const std::string where = c.sampled_symbols[i].library + ":" + c.sampled_symbols[i].symbol.name;

    auto again = import_kicad(text, "(footprint \"X\")", s.name);
    ASSERT_TRUE(again) << where << ": " << again.error();
    const Symbol& r = again->symbol;
    EXPECT_EQ(r.name, s.name);
    ASSERT_EQ(r.pins.size(), s.pins.size()) << where;
    // The written symbol is centred within 25 mils already; a centre of exactly +-25 mils may
    // snap once more by one grid step, the same for every pin.
    const std::int64_t dx = s.pins.empty() ? 0 : std::int64_t{s.pins[0].x} - r.pins[0].x;
    const std::int64_t dy = s.pins.empty() ? 0 : std::int64_t{s.pins[0].y} - r.pins[0].y;
    EXPECT_TRUE(dx % 50 == 0 && std::abs(dx) <= 50 && dy % 50 == 0 && std::abs(dy) <= 50)
        << where << " moved by " << dx << "," << dy;
    shifted += dx != 0 || dy != 0;
    for (std::size_t k = 0; k < s.pins.size(); ++k) {
      const Pin& a = s.pins[k];
      const Pin& b = r.pins[k];
      pins++;
      EXPECT_EQ(a.number, b.number) << where;
      EXPECT_EQ(a.name == "~" ? "" : a.name, b.name) << where;
      EXPECT_EQ(a.x - dx, b.x) << where << " pin " << a.number;
      EXPECT_EQ(a.y - dy, b.y) << where << " pin " << a.number;
      EXPECT_EQ(a.rotation, b.rotation) << where << " pin " << a.number;
      EXPECT_EQ(a.length.value_or(200), b.length.value_or(-1)) << where << " pin " << a.number;
    }
    if (HasFailure()) return;
    if (merged.empty()) merged = text.substr(0, text.find("\t(symbol \""));
    const std::size_t begin = text.find("\t(symbol \"");
    merged += text.substr(begin, text.size() - 2 - begin);
  }
  merged += ")\n";

  TempDir dir;
  std::ofstream(dir.path / "roundtrip.kicad_sym", std::ios::binary) << merged;
  const std::string cmd = "kicad-cli sym export svg --output '" + (dir.path / "svg").string() +
                          "' '" + (dir.path / "roundtrip.kicad_sym").string() + "' >'" +
                          (dir.path / "log").string() + "' 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(status, 0) << read_file(dir.path / "log");
  const std::size_t svgs = count_files(dir.path / "svg", ".svg");
  std::printf(
      "round-tripped %zu symbols (%zu pins, %zu re-snapped by one grid step); "
      "kicad-cli exported %zu SVGs\n",
      c.sampled_symbols.size(), pins, shifted, svgs);
  EXPECT_GE(svgs, c.sampled_symbols.size()) << read_file(dir.path / "log");
}

TEST(KicadConformance, WrittenFootprintsLoadInKicadCliAndReimportWithSamePads) {
  if (!kicad_installed()) GTEST_SKIP() << "KiCad libraries not installed under /usr/share/kicad";
  if (!has_kicad_cli()) GTEST_SKIP() << "kicad-cli not on PATH";
  const Corpus& c = corpus();
  ASSERT_GE(c.sampled_footprints.size(), 500u);

  TempDir dir;
  const fs::path pretty = dir.path / "roundtrip.pretty";
  fs::create_directories(pretty);
  std::size_t pads = 0;
  for (std::size_t i = 0; i < c.sampled_footprints.size(); ++i) {
    Footprint f = c.sampled_footprints[i].footprint;
    const std::string where = c.sampled_footprints[i].file;
    f.name = "rt" + std::to_string(i) + "_" + safe_name(f.name);
    const std::string text = write_kicad_footprint(f);
    std::ofstream(pretty / (f.name + ".kicad_mod"), std::ios::binary) << text;

    auto again = import_kicad("(kicad_symbol_lib (symbol \"X\"))", text, "X");
    ASSERT_TRUE(again) << where << ": " << again.error();
    const Footprint& r = again->footprint;
    EXPECT_EQ(r.name, f.name);
    ASSERT_EQ(r.pads.size(), f.pads.size()) << where;
    for (std::size_t k = 0; k < f.pads.size(); ++k) {
      const Pad& a = f.pads[k];
      const Pad& b = r.pads[k];
      pads++;
      EXPECT_EQ(a.number, b.number) << where;
      EXPECT_NEAR(a.x_mm, b.x_mm, 1e-6) << where << " pad " << a.number;
      EXPECT_NEAR(a.y_mm, b.y_mm, 1e-6) << where << " pad " << a.number;
      EXPECT_NEAR(a.w_mm, b.w_mm, 1e-6) << where << " pad " << a.number;
      EXPECT_NEAR(a.h_mm, b.h_mm, 1e-6) << where << " pad " << a.number;
      EXPECT_NEAR(a.rotation, b.rotation, 1e-6) << where << " pad " << a.number;
      EXPECT_NEAR(a.drill_mm, b.drill_mm, 1e-6) << where << " pad " << a.number;
      EXPECT_EQ(a.shape, b.shape) << where << " pad " << a.number;
      EXPECT_EQ(a.drill_mm > 0 ? a.plated : std::nullopt, b.plated) << where << " pad " << a.number;
    }
    if (HasFailure()) return;
  }

  const std::string cmd = "kicad-cli fp export svg --output '" + (dir.path / "svg").string() +
                          "' '" + pretty.string() + "' >'" + (dir.path / "log").string() + "' 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_EQ(status, 0) << read_file(dir.path / "log");
  const std::size_t svgs = count_files(dir.path / "svg", ".svg");
  std::printf("round-tripped %zu footprints (%zu pads); kicad-cli exported %zu SVGs\n",
              c.sampled_footprints.size(), pads, svgs);
  EXPECT_EQ(svgs, c.sampled_footprints.size()) << read_file(dir.path / "log");
}

}  // namespace
}  // namespace altium_codec
