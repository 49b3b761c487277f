// Throughput of the s-expression reader over the official KiCad libraries, beside the floor of
// merely reading the same bytes into memory.
//
//   sexpr_bench [symbol_dir] [footprint_dir]     (defaults under /usr/share/kicad)
//
// Prints, for the symbol libraries, the footprints and both together: bytes, read MB/s (files
// from the page cache into strings, best of 3), parse MB/s (in-memory text to tree, the text
// copied into the tree, best of 3), the same without the copy (parse_borrowed), and each parse
// speed as a multiple of the read speed. Times are the thread's CPU time (user + system), which a
// busy shared machine disturbs far less than wall time.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "altium_codec/sexpr.h"

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

struct Figures {
  double bytes = 0, read_s = 1e30, parse_s = 1e30, borrowed_s = 1e30;
  std::size_t nodes = 0, files = 0, errors = 0;
};

static Figures measure(const std::vector<fs::path>& files) {
  Figures f;
  f.files = files.size();
  std::vector<std::string> texts;
  for (int round = 0; round < 3; ++round) {
    texts.clear();
    texts.reserve(files.size());
    const double t0 = cpu_seconds();
    for (const auto& p : files) texts.push_back(slurp(p));
    f.read_s = std::min(f.read_s, cpu_seconds() - t0);
  }
  f.bytes = 0;
  for (const auto& t : texts) f.bytes += static_cast<double>(t.size());
  for (int round = 0; round < 3; ++round) {
    std::size_t nodes = 0, errors = 0;
    const double t0 = cpu_seconds();
    for (const auto& t : texts) {
      auto doc = altium_codec::sexpr::parse(t);
      if (doc) {
        nodes += doc->node_count();
      } else {
        ++errors;
      }
    }
    f.parse_s = std::min(f.parse_s, cpu_seconds() - t0);
    f.nodes = nodes;
    f.errors = errors;
  }
  for (int round = 0; round < 3; ++round) {
    const double t0 = cpu_seconds();
    for (const auto& t : texts) {
      auto doc = altium_codec::sexpr::parse_borrowed(t);
      if (!doc) std::abort();
    }
    f.borrowed_s = std::min(f.borrowed_s, cpu_seconds() - t0);
  }
  return f;
}

static void report(const char* what, const Figures& f) {
  const double mb = f.bytes / 1e6;
  std::printf(
      "%-11s %6zu files %8.1f MB %10zu nodes %zu errors | read %5.0f MB/s | parse %5.0f MB/s"
      " (%.2f x read) | parse_borrowed %5.0f MB/s (%.2f x read)\n",
      what, f.files, mb, f.nodes, f.errors, mb / f.read_s, mb / f.parse_s, f.read_s / f.parse_s,
      mb / f.borrowed_s, f.read_s / f.borrowed_s);
}

int main(int argc, char** argv) {
  const fs::path sym_dir = argc > 1 ? argv[1] : "/usr/share/kicad/symbols";
  const fs::path fp_dir = argc > 2 ? argv[2] : "/usr/share/kicad/footprints";
  const auto syms = collect(sym_dir, ".kicad_sym");
  const auto fps = collect(fp_dir, ".kicad_mod");
  if (syms.empty() && fps.empty()) {
    std::fprintf(stderr, "no KiCad files under %s or %s\n", sym_dir.c_str(), fp_dir.c_str());
    return 1;
  }
  const Figures s = measure(syms);
  const Figures f = measure(fps);
  Figures all;
  all.files = s.files + f.files;
  all.bytes = s.bytes + f.bytes;
  all.nodes = s.nodes + f.nodes;
  all.errors = s.errors + f.errors;
  all.read_s = s.read_s + f.read_s;
  all.parse_s = s.parse_s + f.parse_s;
  all.borrowed_s = s.borrowed_s + f.borrowed_s;
  report("symbols", s);
  report("footprints", f);
  report("all", all);
  return 0;
}
