// Apply job benchmark: 50 components over 5 symbol libraries (copies of official KiCad
// libraries) and 3 footprint libraries, through the real local bridge on a sandbox HOME, with an
// in-process platform serving the part documents. Prints wall time, bridge calls and time per
// component; how often each part's file list and file were requested from the platform; the
// platform time of the job (first request received to last answer sent) beside the network floor
// of the same URLs fetched by one parallel curl right after; the peak number of curl processes
// started under this process, sampled every 2 ms; and the peak resident memory of this process
// (which also holds the platform). Usage: apply_bench [tools-bin-dir] (default: ../tools/bin
// beside this program).
#include <httplib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <vector>

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
    pins.push_back({{"number", std::to_string(p + 1)},
                    {"name", "P" + std::to_string(p)},
                    {"x", p < 4 ? -400 : 400},
                    {"y", (p % 4) * 100},
                    {"rotation", p < 4 ? 0 : 180}});
  }
  json pads = json::array();
  for (int p = 0; p < 8; ++p) {
    pads.push_back({{"number", std::to_string(p + 1)},
                    {"x_mm", p * 1.27},
                    {"y_mm", 0},
                    {"w_mm", 0.6},
                    {"h_mm", 1.5}});
  }
  return {
      {"schema_version", 1},
      {"mpn", "BENCH" + std::to_string(i)},
      {"symbol",
       {{"name", "BENCH_PART_" + std::to_string(i)},
        {"pins", pins},
        {"graphics", {{{"kind", "rect"}, {"x1", -300}, {"y1", -100}, {"x2", 300}, {"y2", 400}}}}}},
      {"footprint", {{"name", "BENCH_FP_" + std::to_string(i)}, {"pads", pads}}}};
}

void write(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

using Clock = std::chrono::steady_clock;

// The library's listen backlog of 5 leaves most of a parallel curl's connections waiting for SYN
// retries (1, 3, 7 s), which both the job and the floor would pay at random.
class BenchServer : public httplib::Server {
 public:
  void widen_backlog(int backlog) { ::listen(svr_sock_, backlog); }
};

// What the platform saw: requests per target, first request received, last answer sent.
struct PlatformLog {
  std::mutex mu;
  std::map<std::string, int> hits;
  std::optional<Clock::time_point> first, last;

  void received(const std::string& target) {
    std::lock_guard lock(mu);
    ++hits[target];
    if (!first) first = Clock::now();
  }
  void answered() {
    std::lock_guard lock(mu);
    last = Clock::now();
  }
};

// Parent pid and command name of one process, from /proc/<pid>/stat (the name sits in parentheses
// and may itself hold spaces or parentheses, so the fields after it start past the last ')').
bool read_stat(const std::string& pid, int& ppid, std::string& comm) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const auto open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  comm = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 1));
  char state;
  return static_cast<bool>(rest >> state >> ppid);
}

// Curl processes descending from this process right now (other work on the machine may run curl
// too, so processes outside this tree are not counted).
int curl_descendants() {
  std::unordered_map<int, int> parent;
  std::vector<int> curls;
  for (const auto& entry :
       fs::directory_iterator("/proc", fs::directory_options::skip_permission_denied)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    int ppid = 0;
    std::string comm;
    if (!read_stat(name, ppid, comm)) continue;
    const int pid = std::stoi(name);
    parent[pid] = ppid;
    if (comm == "curl") curls.push_back(pid);
  }
  const int self = getpid();
  int count = 0;
  for (int pid : curls) {
    for (int hop = 0; hop < 64 && pid > 1; ++hop) {
      const auto it = parent.find(pid);
      if (it == parent.end()) break;
      pid = it->second;
      if (pid == self) {
        ++count;
        break;
      }
    }
  }
  return count;
}

// Samples curl_descendants() every 2 ms until stopped; keeps the peak.
class CurlSampler {
 public:
  CurlSampler() : thread_([this] { run(); }) {}
  int stop() {
    stop_ = true;
    thread_.join();
    return peak_;
  }

 private:
  void run() {
    while (!stop_) {
      peak_ = std::max(peak_.load(), curl_descendants());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<int> peak_{0};
  std::thread thread_;
};

// Seconds one parallel curl process takes to fetch every target from base (bodies discarded).
double curl_floor(const std::string& base, const std::vector<std::string>& targets,
                  const fs::path& dir) {
  const fs::path config = dir / "floor.curlrc";
  std::string text;
  for (const auto& t : targets) text += "url = \"" + base + t + "\"\noutput = \"/dev/null\"\n";
  write(config, text);
  const std::string cmd =
      "curl --parallel --parallel-immediate --parallel-max 64 -s --no-progress-meter -K '" +
      config.string() + "' >/dev/null 2>&1";
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  if (rc != 0) std::fprintf(stderr, "floor curl exited with %d\n", rc);
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path tools =
      argc > 1 ? fs::path(argv[1])
               : fs::canonical("/proc/self/exe").parent_path().parent_path() / "tools/bin";
  const fs::path home =
      fs::temp_directory_path() / ("vorn-apply-bench-" + std::to_string(getpid()));
  fs::create_directories(home / ".config/kicad/9.0");
  std::string sym_rows, fp_rows;
  for (const char* lib : kSymbolLibs) {
    const fs::path copy = home / "libs" / (std::string("Bench") + lib + ".kicad_sym");
    fs::create_directories(copy.parent_path());
    fs::copy_file(fs::path("/usr/share/kicad/symbols") / (std::string(lib) + ".kicad_sym"), copy);
    sym_rows += "(lib (name \"Bench" + std::string(lib) + "\")(type \"KiCad\")(uri \"" +
                copy.string() + "\"))\n";
  }
  for (const char* lib : kFootprintLibs) {
    fp_rows += "(lib (name \"" + std::string(lib) + "\")(type \"KiCad\")(uri \"" +
               (home / "libs" / lib).string() + ".pretty\"))\n";
  }
  write(home / ".config/kicad/9.0/sym-lib-table", "(sym_lib_table\n" + sym_rows + ")\n");
  write(home / ".config/kicad/9.0/fp-lib-table", "(fp_lib_table\n" + fp_rows + ")\n");

  BenchServer platform;
  // One worker per connection of a parallel curl (the library's default pool of 8 would hold the
  // other connections until a keep-alive ends).
  platform.new_task_queue = [] { return new httplib::ThreadPool(160); };
  platform.set_keep_alive_max_count(1000);
  PlatformLog log;
  platform.set_pre_routing_handler([&log](const httplib::Request& req, httplib::Response&) {
    log.received(req.target);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  platform.set_logger(
      [&log](const httplib::Request&, const httplib::Response&) { log.answered(); });
  vorn::ApplyRequest request;
  for (int i = 0; i < 50; ++i) {
    const std::string slug = "bench-" + std::to_string(i);
    const std::string doc = part_doc(i).dump();
    platform.Get("/api/v1/pages/" + slug + "/files",
                 [](const httplib::Request&, httplib::Response& res) {
                   res.set_content(R"({"files":[{"path":"p.vorn-lbr.json"}]})", "application/json");
                 });
    platform.Get("/api/v1/pages/" + slug + "/files/p.vorn-lbr.json",
                 [doc](const httplib::Request&, httplib::Response& res) {
                   res.set_content(doc, "application/json");
                 });
    request.items.push_back(
        {slug, std::string("Bench") + kSymbolLibs[i % 5], kFootprintLibs[i % 3]});
  }
  const int port = platform.bind_to_any_port("127.0.0.1");
  platform.widen_backlog(1024);
  std::thread server([&] { platform.listen_after_bind(); });
  while (!platform.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));

  setenv("HOME", home.c_str(), 1);
  setenv("VORN_PLATFORM_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  setenv("PATH", (tools.string() + ":" + getenv("PATH")).c_str(), 1);

  vorn::ApplyProgress progress;
  const auto before = vorn::bridge_call_count();
  CurlSampler sampler;
  const auto t0 = std::chrono::steady_clock::now();
  const json result = vorn::run_apply_job(request, progress);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const int peak_curls = sampler.stop();
  const auto calls = vorn::bridge_call_count() - before;

  std::printf("apply job: 50 components, 5 symbol libraries, 3 footprint libraries\n");
  std::printf("  added %d, errors %zu\n", result["count"].get<int>(), result["errors"].size());
  std::printf(
      "  wall time %.3f s, bridge calls %llu (environment detection included), %.1f ms per "
      "component\n",
      secs, static_cast<unsigned long long>(calls), secs * 1000 / 50);

  std::map<std::string, int> hits;
  double platform_secs = 0;
  {
    std::lock_guard lock(log.mu);
    hits = log.hits;
    if (log.first && log.last)
      platform_secs = std::chrono::duration<double>(*log.last - *log.first).count();
  }
  int list_min = 1 << 30, list_max = 0, file_min = 1 << 30, file_max = 0;
  for (int i = 0; i < 50; ++i) {
    const std::string page = "/api/v1/pages/bench-" + std::to_string(i) + "/files";
    const int lists = hits.count(page) ? hits.at(page) : 0;
    const int files =
        hits.count(page + "/p.vorn-lbr.json") ? hits.at(page + "/p.vorn-lbr.json") : 0;
    list_min = std::min(list_min, lists), list_max = std::max(list_max, lists);
    file_min = std::min(file_min, files), file_max = std::max(file_max, files);
  }
  int total = 0;
  std::vector<std::string> targets;
  for (const auto& [target, n] : hits) total += n, targets.push_back(target);
  const bool once = list_min == 1 && list_max == 1 && file_min == 1 && file_max == 1;
  std::printf(
      "  platform requests %d over %zu URLs; per part: file list %d..%d, file %d..%d (%s)\n", total,
      targets.size(), list_min, list_max, file_min, file_max, once ? "once each" : "NOT once each");

  {
    std::lock_guard lock(log.mu);
    log.first.reset(), log.last.reset();
  }
  const double floor_secs = curl_floor("http://127.0.0.1:" + std::to_string(port), targets, home);
  double floor_span = 0;
  {
    std::lock_guard lock(log.mu);
    if (log.first && log.last)
      floor_span = std::chrono::duration<double>(*log.last - *log.first).count();
  }
  std::printf(
      "  platform time %.3f s (first request to last answer), floor %.3f s (one curl --parallel, "
      "same %zu URLs, "
      "process wall; %.3f s first request to last answer), ratio %.2fx\n",
      platform_secs, floor_secs, targets.size(), floor_span,
      floor_secs > 0 ? platform_secs / floor_secs : 0.0);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "  peak curl processes %d (sampled every 2 ms), peak resident memory %.1f MB (platform "
      "included)\n",
      peak_curls, usage.ru_maxrss / 1024.0);
  platform.stop();
  server.join();
  fs::remove_all(home);
  return result["count"].get<int>() == 50 ? 0 : 1;
}
