// Integration-test harness: an in-process mock platform (a real HTTP server on 127.0.0.1 that the
// manager reaches through the real curl), the real manager executable started on a free port
// with fake outside programs first on PATH, and a small HTTP client.
#pragma once

#include <httplib.h>
#include <sys/socket.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorn::test {

// A request the mock platform received.
struct Seen {
  std::string method;
  std::string target;
  std::string authorization;
  std::string body;
};

// Answers registered by exact request target ("/api/v1/pages/x/files"); everything else 404.
// The test server with its listen backlog raised after binding: a parallel curl opens dozens of
// connections at once, and the library's backlog of 5 leaves the rest waiting for SYN retries
// (1, 3, 7, 15 s), past a transfer's time limit on a loaded machine.
class MockHttpServer : public httplib::Server {
 public:
  void widen_backlog(int backlog) { ::listen(svr_sock_, backlog); }
};

class MockPlatform {
 public:
  using Answer = std::function<void(const httplib::Request&, httplib::Response&)>;

  MockPlatform();
  ~MockPlatform();

  std::string url() const;  // "http://127.0.0.1:<port>"
  int port() const { return port_; }

  void on(const std::string& target, Answer answer);
  void on_text(const std::string& target, std::string body, std::string type = "application/json");
  void clear();
  std::vector<Seen> seen() const;
  size_t count(const std::string& target_prefix) const;

 private:
  MockHttpServer server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::vector<Seen> seen_;
};

// A temporary folder removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A folder of fake tools that append each call to one log: what they were asked, and how often.
class ToolFolder {
 public:
  std::string path() const { return dir_.path().string(); }
  std::filesystem::path log() const { return dir_.path() / "calls.log"; }
  std::string calls() const;
  // Occurrences of `text` in the log.
  size_t count(const std::string& text) const;

 protected:
  TempDir dir_;
};

struct HttpAnswer {
  int status = 0;
  std::string body;
  std::string content_type;
  httplib::Headers headers;
};

using Env = std::map<std::string, std::string>;

// The real manager on a free loopback port.
class Manager {
 public:
  // `env` entries are added to (or replace) the test process's environment; PATH gets the fakes
  // folder (and `extra_path`, when given) in front.
  explicit Manager(std::map<std::string, std::string> env = {}, std::vector<std::string> args = {},
                   std::string extra_path = "");
  ~Manager();

  int port() const { return port_; }
  const std::string& stdout_text() const { return stdout_; }
  HttpAnswer get(const std::string& target, const httplib::Headers& headers = {}) const;
  HttpAnswer post(const std::string& target, const std::string& body,
                  const httplib::Headers& headers = {}) const;

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string stdout_;
};

// Runs the manager to completion (for command-line and bind-failure cases).
struct ExitResult {
  int status = -1;
  std::string out;
  std::string err;
};
ExitResult run_manager(const std::vector<std::string>& args, std::map<std::string, std::string> env = {},
                       int timeout_ms = 20000);
// Runs any executable the same way (fakes folder, and `extra_path` when given, first on PATH).
ExitResult run_executable(const std::string& exe, const std::vector<std::string>& args,
                          std::map<std::string, std::string> env = {}, int timeout_ms = 20000,
                          const std::string& extra_path = "");

int free_port();
std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, std::string_view text);

}  // namespace vorn::test
