// vorn-desktop: the desktop bridge for a desktop that is this machine.
//
//   vorn-desktop shell_execute '{"command": "..."}'
//       runs the command with `sh -c` and prints {"exit_code", "stderr", "stdout"} as JSON; exits
//       0 when the command ran (whatever its own status), 1 when it could not be run.
//   vorn-desktop pull_file '{"filePaths": [path], "saveTo": dir}'
//       copies the file into dir under its name (text after the last "/").
//   vorn-desktop send_file '{"filePaths": [paths...], "dest": dir}'
//       creates dir with its parents and copies every file into it.
// Files are written to a temporary name in the target folder and renamed into place, so a
// reader never sees half a file. Any failure prints a message on stderr and exits 1; an unknown
// subcommand or bad JSON exits 2.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

int fail(const std::string& message, int status = 1) {
  std::cerr << "vorn-desktop: " << message << "\n";
  return status;
}

void drain(int fd, std::string& into, bool& open) {
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) open = false;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

// Runs sh -c; reads both pipes until the shell itself exits. A command that leaves a child in
// the background holding the pipes (a detached dialog) does not keep the bridge waiting.
int shell_execute(const json& arg) {
  if (!arg.contains("command") || !arg["command"].is_string()) return fail("missing \"command\"", 2);
  const std::string command = arg["command"].get<std::string>();
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return fail("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "sh", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) return fail(std::string("cannot start sh: ") + std::strerror(rc));
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
  std::string out, err;
  bool out_open = true, err_open = true, exited = false;
  int status = 0;
  while (!exited) {
    if (!out_open && !err_open) {
      exited = waitpid(pid, &status, 0) == pid || errno != EINTR;
      continue;
    }
    pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0}, {err_open ? err_pipe[0] : -1, POLLIN, 0}};
    poll(fds, 2, 20);
    if (out_open) drain(out_pipe[0], out, out_open);
    if (err_open) drain(err_pipe[0], err, err_open);
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;
  }
  if (out_open) drain(out_pipe[0], out, out_open);
  if (err_open) drain(err_pipe[0], err, err_open);
  close(out_pipe[0]);
  close(err_pipe[0]);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const json answer = {{"stdout", out}, {"stderr", err}, {"exit_code", code}};
  std::cout << answer.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
  return 0;
}

std::string base_name(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies `from` into folder `dest` under its base name, through a temporary file and a rename.
bool copy_into(const std::string& from, const std::string& dest, std::string& why) {
  const std::string name = base_name(from);
  if (name.empty() || name == "." || name == "..") {
    why = "no file name in " + from;
    return false;
  }
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) {
    why = from + ": not a readable file";
    return false;
  }
  const fs::path target = fs::path(dest) / name;
  const fs::path temp = fs::path(dest) / ("." + name + ".vorn-desktop-" + std::to_string(getpid()));
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) {
    why = from + ": " + ec.message();
    return false;
  }
  fs::rename(temp, target, ec);
  if (ec) {
    why = target.string() + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

std::vector<std::string> string_list(const json& arg, const char* key) {
  std::vector<std::string> out;
  if (!arg.contains(key) || !arg[key].is_array()) return out;
  for (const auto& v : arg[key]) {
    if (v.is_string()) out.push_back(v.get<std::string>());
  }
  return out;
}

int pull_file(const json& arg) {
  const auto paths = string_list(arg, "filePaths");
  if (paths.size() != 1 || !arg.contains("saveTo") || !arg["saveTo"].is_string()) {
    return fail("pull_file needs one path in \"filePaths\" and \"saveTo\"", 2);
  }
  const std::string save_to = arg["saveTo"].get<std::string>();
  std::error_code ec;
  fs::create_directories(save_to, ec);
  std::string why;
  if (!copy_into(paths[0], save_to, why)) return fail(why);
  return 0;
}

int send_file(const json& arg) {
  const auto paths = string_list(arg, "filePaths");
  if (!arg.contains("dest") || !arg["dest"].is_string()) return fail("send_file needs \"dest\"", 2);
  const std::string dest = arg["dest"].get<std::string>();
  std::error_code ec;
  fs::create_directories(dest, ec);
  if (!fs::is_directory(dest, ec)) return fail(dest + ": not a folder");
  int status = 0;
  for (const auto& p : paths) {
    std::string why;
    if (!copy_into(p, dest, why)) status = fail(why);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: vorn-desktop <shell_execute|pull_file|send_file> <json>", 2);
  const std::string op = argv[1];
  const json arg = json::parse(argv[2], nullptr, false);
  if (arg.is_discarded() || !arg.is_object()) return fail("the argument is not a JSON object", 2);
  if (op == "shell_execute") return shell_execute(arg);
  if (op == "pull_file") return pull_file(arg);
  if (op == "send_file") return send_file(arg);
  return fail("unknown subcommand " + op, 2);
}
