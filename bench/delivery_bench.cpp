// Wall time of a project-only delivery of a KiCad demo project (default: the largest demo, video),
// split into platform fetches, the self-contain script and desktop transfers. The desktop is this
// machine through the local bridge (its folder is passed as the first argument).
// Usage: delivery_bench <folder holding vorn-desktop> [demo folder]
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "boards/project_delivery.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: delivery_bench <bridge folder> [demo folder]\n"), 1;
  const fs::path demo = argc > 2 ? argv[2] : "/usr/share/kicad/demos/video";
  std::map<std::string, std::string> files;
  nlohmann::json list = nlohmann::json::array();
  for (const auto& e : fs::recursive_directory_iterator(demo)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), demo).string();
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream b;
    b << in.rdbuf();
    files[rel] = b.str();
    list.push_back({{"path", rel}});
  }
  const std::string list_text = nlohmann::json{{"files", list}}.dump();
  httplib::Server server;
  server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string prefix = "/api/v1/pages/bench/files";
    if (req.path == prefix) return res.set_content(list_text, "application/json");
    auto it = req.path.size() > prefix.size() ? files.find(req.path.substr(prefix.size() + 1)) : files.end();
    if (it == files.end()) {
      res.status = 404;
      return;
    }
    res.set_content(it->second, "application/octet-stream");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const fs::path home = fs::temp_directory_path() / ("vorn-delivery-bench-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("VORN_PLATFORM_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  setenv("PATH", (std::string(argv[1]) + ":" + std::getenv("PATH")).c_str(), 1);

  vorn::DeliveryTimings t;
  vorn::ProgressSink sink = [](std::string_view) {};
  const auto start = std::chrono::steady_clock::now();
  const auto result = vorn::deliver_project({"bench", (home / "out").string(), true, &t}, sink);
  const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %zu files delivered, total %.3f s: fetch %.3f s, script %.3f s, desktop %.3f s\n",
              demo.c_str(), result ? (*result)["files"].size() : 0, total, t.fetch, t.script, t.desktop);
  server.stop();
  thread.join();
  fs::remove_all(home);
  return 0;
}
