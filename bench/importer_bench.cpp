// KiCad importer throughput over the official libraries, and peak memory for the largest
// symbol library.
//
//   importer_bench [symbol_dir] [footprint_dir]     (defaults under /usr/share/kicad)
//
// symbols/s: every symbol of every library imported by its own name, each library parsed once
// (the parse is included in the time). footprints/s: every footprint parsed and imported.
// Peak memory: the growth of the resident high-water mark while import_kicad() runs on the
// largest library (measured first, before anything else is allocated). Times are the thread's
// CPU time (user + system).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "altium_codec/kicad.h"

namespace fs = std::filesystem;

// CPU time of this thread (user + system), so that figures hold on a busy shared machine.
static double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

static std::vector<fs::path> collect(const fs::path& dir, const std::string& ext) {
  std::vector<fs::path> out;
  if (!fs::is_directory(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() == ext) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

static std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::string s;
  in.seekg(0, std::ios::end);
  s.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  return s;
}

static long max_rss_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int main(int argc, char** argv) {
  const fs::path sym_dir = argc > 1 ? argv[1] : "/usr/share/kicad/symbols";
  const fs::path fp_dir = argc > 2 ? argv[2] : "/usr/share/kicad/footprints";
  const auto libs = collect(sym_dir, ".kicad_sym");
  const auto fps = collect(fp_dir, ".kicad_mod");
  if (libs.empty() || fps.empty()) {
    std::fprintf(stderr, "no KiCad libraries under %s and %s\n", sym_dir.c_str(), fp_dir.c_str());
    return 1;
  }
  const std::string small_fp = "(footprint \"F\" (pad \"1\" smd rect))";

  // Peak memory of one import of the largest library.
  const auto largest = *std::max_element(libs.begin(), libs.end(), [](auto& a, auto& b) {
    return fs::file_size(a) < fs::file_size(b);
  });
  {
    const std::string text = slurp(largest);
    // The first symbol of the file is a top-level one.
    const std::size_t q = text.find("(symbol \"") + 9;
    const std::string name = text.substr(q, text.find('"', q) - q);
    const long before = max_rss_kb();
    const double t0 = cpu_seconds();
    auto part = altium_codec::import_kicad(text, small_fp, name);
    const double secs = cpu_seconds() - t0;
    const long after = max_rss_kb();
    auto first = altium_codec::sexpr::parse(text);
    if (!part) std::fprintf(stderr, "%s\n", part.error().c_str());
    std::printf(
        "largest library %s: %.1f MB, %zu nodes, import %.3f s, "
        "peak RSS growth %.1f MB (%.2f x the text)\n",
        largest.filename().c_str(), text.size() / 1e6, first ? first->node_count() : 0, secs,
        (after - before) / 1024.0, (after - before) * 1024.0 / text.size());
  }

  std::size_t symbols = 0, sym_errors = 0, pins = 0;
  double sym_bytes = 0;
  std::vector<std::string> texts;
  for (const auto& p : libs) texts.push_back(slurp(p));
  double t0 = cpu_seconds();
  for (const auto& text : texts) {
    sym_bytes += text.size();
    auto doc = altium_codec::sexpr::parse(text);
    if (!doc) {
      ++sym_errors;
      continue;
    }
    for (auto n : doc->root()) {
      if (!n.is_list() || n.head() != "symbol") continue;
      auto s = altium_codec::import_kicad_symbol(doc->root(), n.atom(1).value_or(""));
      if (s) {
        ++symbols;
        pins += s->pins.size();
      } else {
        ++sym_errors;
      }
    }
  }
  const double sym_s = cpu_seconds() - t0;
  texts.clear();

  std::size_t footprints = 0, fp_errors = 0, pads = 0;
  double fp_bytes = 0;
  for (const auto& p : fps) texts.push_back(slurp(p));
  t0 = cpu_seconds();
  for (const auto& text : texts) {
    fp_bytes += text.size();
    auto doc = altium_codec::sexpr::parse(text);
    if (!doc) {
      ++fp_errors;
      continue;
    }
    auto f = altium_codec::import_kicad_footprint(doc->root());
    ++footprints;
    pads += f.pads.size();
  }
  const double fp_s = cpu_seconds() - t0;

  std::printf(
      "symbols:    %zu imported (%zu pins, %zu errors) from %zu libraries in %.2f s: "
      "%.0f symbols/s, %.0f MB/s\n",
      symbols, pins, sym_errors, libs.size(), sym_s, symbols / sym_s, sym_bytes / 1e6 / sym_s);
  std::printf(
      "footprints: %zu imported (%zu pads, %zu errors) in %.2f s: %.0f footprints/s, "
      "%.0f MB/s\n",
      footprints, pads, fp_errors, fp_s, footprints / fp_s, fp_bytes / 1e6 / fp_s);
  return sym_errors + fp_errors == 0 ? 0 : 1;
}
