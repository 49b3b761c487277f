// First build of /api/components against a loopback mock platform, through the real curl:
//   catalog_bench [--exe <manager>] [--pages 1000,5000]
// Starts the real manager once per page count, times its first /api/components, samples its
// curl children and reads its peak memory. Beside each figure: one `curl -s` of a file list on
// loopback x requests / cores (what one process per read costs at best).
#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>

#include "catalog_bench_support.h"
#include "platform/catalog.h"
#include "proc/runner.h"

namespace {

using nlohmann::json;

std::vector<int> parse_list(const std::string& text) {
  std::vector<int> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(std::atoi(item.c_str()));
  return out;
}

// Listing batches of 200 with slugs "<prefix>-<index>" and the given total; every file list
// names one KiCad board file.
void serve_platform(bench::Mock& mock, const std::atomic<int>& total, const std::string& prefix) {
  mock.get("/api/v1/pages", [&total, &prefix](const httplib::Request& req, httplib::Response& res) {
    const int offset = std::atoi(req.get_param_value("offset").c_str());
    json pages = json::array();
    for (int i = offset; i < std::min(offset + 200, total.load()); ++i) {
      pages.push_back({{"slug", prefix + "-" + std::to_string(i)}, {"title", "Part " + std::to_string(i)},
                       {"tags", "[\"part\"]"}, {"composite_score", i % 7}});
    }
    res.set_content(json{{"pages", pages}, {"total", total.load()}}.dump(), "application/json");
  });
  mock.get(R"(/api/v1/pages/([^/]+)/files)", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"files":[{"path":"board.kicad_pcb"},{"path":"package.json"}]})", "application/json");
  });
}

// Median wall time of one `curl -s` of a file list on loopback.
double one_curl_seconds(const std::string& base) {
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) {
    const auto t0 = bench::Clock::now();
    const auto r = vorn::run_capture("curl", {"-s", base + "/api/v1/pages/floor-probe/files"});
    times.push_back(bench::seconds_since(t0));
    if (!r.ok()) std::fprintf(stderr, "curl probe failed\n");
  }
  return bench::percentile(times, 0.5);
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe = bench::default_manager_exe();
  std::vector<int> page_counts = {1000, 5000};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--exe") exe = argv[i + 1];
    if (flag == "--pages") page_counts = parse_list(argv[i + 1]);
  }

  std::atomic<int> total{0};
  std::string prefix = "warm";
  bench::Mock mock;
  serve_platform(mock, total, prefix);
  mock.start();
  setenv("VORN_PLATFORM_URL", mock.url().c_str(), 1);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double curl_s = one_curl_seconds(mock.url());
  std::printf("cores %u; one curl -s of a file list on loopback: %.2f ms (median of 30)\n\n", cores, curl_s * 1e3);

  std::printf("First /api/components of the real manager (batched reads):\n");
  std::printf("%6s %9s %10s %10s %8s %10s %10s %12s\n", "pages", "requests", "wall s", "floor s", "ratio",
              "curl pk", "mock pk", "peak RSS MB");
  for (const int pages : page_counts) {
    total = pages;
    prefix = "run" + std::to_string(pages);
    mock.reset_counters();
    bench::ManagerProcess manager(exe, {"VORN_PLATFORM_URL=" + mock.url()});
    if (manager.pid() <= 0) {
      std::fprintf(stderr, "cannot start %s\n", exe.c_str());
      return 1;
    }
    bench::CurlSampler sampler(manager.pid());
    httplib::Client client("127.0.0.1", manager.port());
    client.set_read_timeout(600, 0);
    const auto t0 = bench::Clock::now();
    const auto res = client.Get("/api/components");
    const double wall = bench::seconds_since(t0);
    const int peak = sampler.stop();
    const long requests = mock.requests();
    const double floor_s = curl_s * static_cast<double>(requests) / cores;
    const size_t entries = res ? json::parse(res->body)["components"].size() : 0;
    std::printf("%6d %9ld %10.2f %10.2f %8.2f %10d %10d %12.1f%s\n", pages, requests, wall, floor_s, wall / floor_s,
                peak, mock.peak_in_flight(), static_cast<double>(bench::peak_rss_kb(manager.pid())) / 1024.0,
                entries == static_cast<size_t>(std::min(pages, 5000)) ? "" : "  (entry count wrong!)");
  }
  return 0;
}
