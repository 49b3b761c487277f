// Apply job benchmark: 50 components over 5 symbol libraries (copies of official KiCad
// libraries) and 3 footprint libraries, through the real local bridge on a sandbox HOME, with an
// in-process platform serving the part documents. Prints wall time, bridge calls and time per
// component. Usage: apply_bench [tools-bin-dir] (default: ../tools/bin beside this program).
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "desktop/apply_job.h"
#include "desktop/bridge.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* kSymbolLibs[] = {"Device", "Timer", "Relay", "Amplifier_Operational", "Buffer"};
const char* kFootprintLibs[] = {"BenchFpA", "BenchFpB", "BenchFpC"};

json part_doc(int i) {
  json pins = json::array();
  for (int p = 0; p < 8; ++p) {
    pins.push_back({{"number", std::to_string(p + 1)}, {"name", "P" + std::to_string(p)},
                    {"x", p < 4 ? -400 : 400}, {"y", (p % 4) * 100}, {"rotation", p < 4 ? 0 : 180}});
  }
  json pads = json::array();
  for (int p = 0; p < 8; ++p) {
    pads.push_back({{"number", std::to_string(p + 1)}, {"x_mm", p * 1.27}, {"y_mm", 0}, {"w_mm", 0.6}, {"h_mm", 1.5}});
  }
  return {{"schema_version", 1}, {"mpn", "BENCH" + std::to_string(i)},
          {"symbol", {{"name", "BENCH_PART_" + std::to_string(i)}, {"pins", pins},
                      {"graphics", {{{"kind", "rect"}, {"x1", -300}, {"y1", -100}, {"x2", 300}, {"y2", 400}}}}}},
          {"footprint", {{"name", "BENCH_FP_" + std::to_string(i)}, {"pads", pads}}}};
}

void write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

}  // namespace

int main(int argc, char** argv) {
  const fs::path tools = argc > 1 ? fs::path(argv[1]) : fs::canonical("/proc/self/exe").parent_path().parent_path() / "tools/bin";
  const fs::path home = fs::temp_directory_path() / ("vorn-apply-bench-" + std::to_string(getpid()));
  fs::create_directories(home / ".config/kicad/9.0");
  std::string sym_rows, fp_rows;
  for (const char* lib : kSymbolLibs) {
    const fs::path copy = home / "libs" / (std::string("Bench") + lib + ".kicad_sym");
    fs::create_directories(copy.parent_path());
    fs::copy_file(fs::path("/usr/share/kicad/symbols") / (std::string(lib) + ".kicad_sym"), copy);
    sym_rows += "(lib (name \"Bench" + std::string(lib) + "\")(type \"KiCad\")(uri \"" + copy.string() + "\"))\n";
  }
  for (const char* lib : kFootprintLibs) {
    fp_rows += "(lib (name \"" + std::string(lib) + "\")(type \"KiCad\")(uri \"" + (home / "libs" / lib).string() + ".pretty\"))\n";
  }
  write(home / ".config/kicad/9.0/sym-lib-table", "(sym_lib_table\n" + sym_rows + ")\n");
  write(home / ".config/kicad/9.0/fp-lib-table", "(fp_lib_table\n" + fp_rows + ")\n");

  httplib::Server platform;
  // One worker per connection of a parallel curl (the library's default pool of 8 would hold the
  // other connections until a keep-alive ends).
  platform.new_task_queue = [] { return new httplib::ThreadPool(160); };
  platform.set_keep_alive_max_count(1000);
  vorn::ApplyRequest request;
  for (int i = 0; i < 50; ++i) {
    const std::string slug = "bench-" + std::to_string(i);
    const std::string doc = part_doc(i).dump();
    platform.Get("/api/v1/pages/" + slug + "/files", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"files":[{"path":"p.vorn-lbr.json"}]})", "application/json");
    });
    platform.Get("/api/v1/pages/" + slug + "/files/p.vorn-lbr.json",
                 [doc](const httplib::Request&, httplib::Response& res) { res.set_content(doc, "application/json"); });
    request.items.push_back({slug, std::string("Bench") + kSymbolLibs[i % 5], kFootprintLibs[i % 3]});
  }
  const int port = platform.bind_to_any_port("127.0.0.1");
  std::thread server([&] { platform.listen_after_bind(); });
  while (!platform.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));

  setenv("HOME", home.c_str(), 1);
  setenv("VORN_PLATFORM_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  setenv("PATH", (tools.string() + ":" + getenv("PATH")).c_str(), 1);

  vorn::ApplyProgress progress;
  const auto before = vorn::bridge_call_count();
  const auto t0 = std::chrono::steady_clock::now();
  const json result = vorn::run_apply_job(request, progress);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const auto calls = vorn::bridge_call_count() - before;

  std::printf("apply job: 50 components, 5 symbol libraries, 3 footprint libraries\n");
  std::printf("  added %d, errors %zu\n", result["count"].get<int>(), result["errors"].size());
  std::printf("  wall time %.3f s, bridge calls %llu (environment detection included), %.1f ms per component\n",
              secs, static_cast<unsigned long long>(calls), secs * 1000 / 50);
  platform.stop();
  server.join();
  fs::remove_all(home);
  return result["count"].get<int>() == 50 ? 0 : 1;
}
