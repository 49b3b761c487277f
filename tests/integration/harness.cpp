// Mock platform, manager process control and file helpers for integration tests.
#include "harness.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vorn::test {

MockPlatform::MockPlatform() {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    Answer answer;
    {
      std::lock_guard lock(mutex_);
      seen_.push_back({req.method, req.target, req.get_header_value("Authorization"), req.body});
      auto it = answers_.find(req.target);
      if (it != answers_.end()) answer = it->second;
    }
    if (answer) {
      answer(req, res);
    } else {
      res.status = 404;
      res.set_content("missing", "text/plain");
    }
  };
  // Enough workers for every connection of a parallel curl and then some (an idle keep-alive
  // connection holds its worker), and connections kept open rather than closed every five
  // answers, so no request waits behind another's connection.
  server_.new_task_queue = [] { return new httplib::ThreadPool(160); };
  server_.set_keep_alive_max_count(1000);
  server_.Get(".*", handler);
  server_.Post(".*", handler);
  server_.Put(".*", handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  server_.widen_backlog(1024);
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

MockPlatform::~MockPlatform() {
  server_.stop();
  thread_.join();
}

std::string MockPlatform::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void MockPlatform::on(const std::string& target, Answer answer) {
  std::lock_guard lock(mutex_);
  answers_[target] = std::move(answer);
}

void MockPlatform::on_text(const std::string& target, std::string body, std::string type) {
  on(target, [body = std::move(body), type = std::move(type)](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, type);
  });
}

void MockPlatform::clear() {
  std::lock_guard lock(mutex_);
  answers_.clear();
  seen_.clear();
}

std::vector<Seen> MockPlatform::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

size_t MockPlatform::count(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& s : seen_) n += s.target.starts_with(prefix);
  return n;
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("vorn-test-" + std::to_string(rd()) + std::to_string(getpid()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int free_port() {
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

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::filesystem::path& p, std::string_view text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

namespace {

std::vector<std::string> merged_environment(std::map<std::string, std::string> env, const std::string& extra_path) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (auto& [k, v] : env) all[k] = v;
  std::string path = VORN_FAKES_DIR;
  if (!extra_path.empty()) path = extra_path + ":" + path;
  all["PATH"] = path + ":" + (env.count("PATH") ? env["PATH"] : all["PATH"]);
  std::vector<std::string> out;
  for (auto& [k, v] : all) out.push_back(k + "=" + v);
  return out;
}

// Forks the manager with its stdout and stderr on pipes.
int spawn(const std::string& exe, const std::vector<std::string>& args, const std::vector<std::string>& env,
          int out_fd[2], int err_fd[2]) {
  if (pipe(out_fd) != 0 || pipe(err_fd) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd[1], 1);
    dup2(err_fd[1], 2);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    close(out_fd[0]);
    close(err_fd[0]);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out_fd[1]);
  close(err_fd[1]);
  return pid;
}

}  // namespace

Manager::Manager(std::map<std::string, std::string> env, std::vector<std::string> args, std::string extra_path) {
  port_ = free_port();
  args.insert(args.begin(), "--port=" + std::to_string(port_));
  int out_fd[2], err_fd[2];
  pid_ = spawn(VORN_MANAGER_EXE, args, merged_environment(std::move(env), extra_path), out_fd, err_fd);
  close(err_fd[0]);
  // Wait for the three start-up lines.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buf[4096];
  while (std::count(stdout_.begin(), stdout_.end(), '\n') < 3 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out_fd[0], POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      const ssize_t n = read(out_fd[0], buf, sizeof buf);
      if (n <= 0) break;
      stdout_.append(buf, static_cast<size_t>(n));
    }
  }
  close(out_fd[0]);
  if (std::count(stdout_.begin(), stdout_.end(), '\n') < 3) throw std::runtime_error("manager did not start");
}

Manager::~Manager() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

HttpAnswer Manager::get(const std::string& target, const httplib::Headers& headers) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(300, 0);
  auto res = client.Get(target.c_str(), headers);
  if (!res) return {};
  return {res->status, res->body, res->get_header_value("Content-Type"), res->headers};
}

HttpAnswer Manager::post(const std::string& target, const std::string& body, const httplib::Headers& headers) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(300, 0);
  auto res = client.Post(target.c_str(), headers, body, "application/json");
  if (!res) return {};
  return {res->status, res->body, res->get_header_value("Content-Type"), res->headers};
}

ExitResult run_manager(const std::vector<std::string>& args, std::map<std::string, std::string> env, int timeout_ms) {
  return run_executable(VORN_MANAGER_EXE, args, std::move(env), timeout_ms);
}

ExitResult run_executable(const std::string& exe, const std::vector<std::string>& args,
                          std::map<std::string, std::string> env, int timeout_ms, const std::string& extra_path) {
  int out_fd[2], err_fd[2];
  const int pid = spawn(exe, args, merged_environment(std::move(env), extra_path), out_fd, err_fd);
  ExitResult result;
  pollfd fds[2] = {{out_fd[0], POLLIN, 0}, {err_fd[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int open_count = 2;
  char buf[4096];
  while (open_count > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  if (open_count > 0) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (auto& f : fds) if (f.fd >= 0) close(f.fd);
  return result;
}

std::string ToolFolder::calls() const {
  return std::filesystem::exists(log()) ? read_file(log()) : "";
}

size_t ToolFolder::count(const std::string& text) const {
  const std::string all = calls();
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
  return n;
}

}  // namespace vorn::test
