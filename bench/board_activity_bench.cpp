// Wall time of the commit activity of a board with 50 commits whose board file is a real KiCad
// demo board (several MB), its files fetched in batches (each one curl process), beside the floor:
// the same reads by one curl --parallel process from the same server.
// Usage: board_activity_bench [board.kicad_pcb] [commits]
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "boards/board_activity.h"

// The library's listen backlog of 5 leaves most of a parallel curl's connections waiting for SYN
// retries (1, 3, 7 s), which both the manager and the floor would pay at random.
class BenchServer : public httplib::Server {
 public:
  void widen_backlog(int backlog) { ::listen(svr_sock_, backlog); }
};

int main(int argc, char** argv) {
  const std::string board_path =
      argc > 1 ? argv[1] : "/usr/share/kicad/demos/video/video.kicad_pcb";
  const int commits = argc > 2 ? std::atoi(argv[2]) : 50;
  std::ifstream in(board_path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string board = buffer.str();
  if (board.empty()) return std::fprintf(stderr, "cannot read %s\n", board_path.c_str()), 1;

  BenchServer server;
  // One worker per connection of a parallel curl; the library's default pool of 8 would hold
  // the other connections until a keep-alive ends.
  server.new_task_queue = [] { return new httplib::ThreadPool(160); };
  server.set_keep_alive_max_count(1000);
  nlohmann::json log = nlohmann::json::array();
  for (int i = 0; i < commits; ++i)
    log.push_back({{"hash", "c" + std::to_string(i)}, {"message", "m"}});
  const std::string log_text = nlohmann::json{{"log", log}}.dump();
  server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/api/v1/pages/bench/log") return res.set_content(log_text, "application/json");
    if (req.path == "/api/v1/pages/bench/files") {
      return res.set_content(R"({"files":[{"path":"b.kicad_pcb"},{"path":"b.kicad_sch"}]})",
                             "application/json");
    }
    const std::string ref = req.get_param_value("ref");
    // Every fifth commit changes the board: one reference more.
    const int n = ref.empty() ? 0 : std::atoi(ref.c_str() + 1) / 5;
    if (req.path == "/api/v1/pages/bench/files/b.kicad_pcb") {
      return res.set_content(board + "(property \"Reference\" \"X" + std::to_string(n) + "\")",
                             "text/plain");
    }
    res.set_content("(kicad_sch " + std::to_string(n) + ")", "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  server.widen_backlog(1024);
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  setenv("VORN_PLATFORM_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);

  nlohmann::json reference;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const nlohmann::json answer = vorn::boards::board_activity("bench");
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (reference.is_null()) reference = answer;
    std::printf("commits=%d board=%zu bytes run %d: %.3f s, same answer: %s\n", commits,
                board.size(), run, s, answer == reference ? "yes" : "NO");
  }
  // Floor: the same 2 x commits file reads by one curl --parallel process from the same server.
  const std::string config = "/tmp/board_activity_bench_" + std::to_string(getpid()) + ".conf";
  {
    std::ofstream out(config);
    const std::string base =
        "http://127.0.0.1:" + std::to_string(port) + "/api/v1/pages/bench/files/";
    for (int i = 0; i < commits; ++i) {
      for (const char* name : {"b.kicad_pcb", "b.kicad_sch"}) {
        out << "url = \"" << base << name << "?ref=c" << i << "\"\noutput = \"/dev/null\"\n";
      }
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string command =
      "curl -s --parallel --parallel-immediate --parallel-max 64 --config " + config;
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "floor curl failed\n");
  const double floor_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("floor (one curl --parallel, same %d reads): %.3f s\n", commits * 2, floor_s);
  std::remove(config.c_str());
  server.stop();
  thread.join();
  return 0;
}
