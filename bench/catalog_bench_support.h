// Shared by the catalog and part view benchmarks: a loopback mock platform with a large thread
// pool and an in-flight counter, the manager executable started as a child, a sampler of its
// concurrent curl children, its peak memory, and small statistics helpers.
#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A mock platform on 127.0.0.1; handlers are registered before start().
class Mock {
 public:
  Mock() {
    server_.new_task_queue = [] { return new httplib::ThreadPool(256); };
  }
  ~Mock() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  template <class F>
  void get(const std::string& pattern, F handler) {
    server_.Get(pattern, [this, handler](const httplib::Request& req, httplib::Response& res) {
      const int now = ++in_flight_;
      int p = peak_.load();
      while (now > p && !peak_.compare_exchange_weak(p, now)) {
      }
      ++requests_;
      handler(req, res);
      --in_flight_;
    });
  }
  void start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void reset_counters() {
    peak_ = 0;
    requests_ = 0;
  }
  int peak_in_flight() const { return peak_.load(); }
  long requests() const { return requests_.load(); }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<int> in_flight_{0}, peak_{0};
  std::atomic<long> requests_{0};
};

// Counts the live `curl` children of `parent` every few milliseconds and keeps the peak.
class CurlSampler {
 public:
  explicit CurlSampler(pid_t parent) : parent_(parent), thread_([this] { loop(); }) {}
  ~CurlSampler() { stop(); }
  int stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  void loop() {
    while (running_) {
      int n = 0;
      for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        std::ifstream in(entry.path() / "stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        const size_t close = line.rfind(')');
        const size_t open = line.find('(');
        if (close == std::string::npos || open == std::string::npos) continue;
        const std::string comm = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        char state;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent_ && comm == "curl") ++n;
      }
      peak_ = std::max(peak_, n);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  }
  pid_t parent_;
  std::atomic<bool> running_{true};
  int peak_ = 0;
  std::thread thread_;
};

// Peak resident memory (VmHWM) of a process, in kB.
inline long peak_rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

inline int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// The manager executable beside this build: <build>/src/vorn-project-manager.
inline std::string default_manager_exe() {
  const auto self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "src" / "vorn-project-manager").string();
}

// The real manager on a free port, with extra environment, its output discarded.
class ManagerProcess {
 public:
  ManagerProcess(const std::string& exe, const std::vector<std::string>& extra_env) {
    port_ = free_port();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string port_arg = "--port=" + std::to_string(port_);
    std::vector<char*> argv{const_cast<char*>(exe.c_str()), port_arg.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    httplib::Client probe("127.0.0.1", port_);
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
      if (probe.Get("/nothing")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~ManagerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

inline double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace bench
