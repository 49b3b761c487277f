// posix_spawnp-based process runner with poll()-driven draining of both output pipes.
#include "proc/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vorn {
namespace {

// Argument vector for posix_spawnp; empty when an argument holds a NUL byte.
std::optional<std::vector<char*>> make_argv(const std::string& program,
                                            const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  if (program.find('\0') != std::string::npos) return std::nullopt;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) {
    if (a.find('\0') != std::string::npos) return std::nullopt;
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

void record_status(CommandResult& result, pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return;
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else {
    result.signaled = true;
  }
}

// Reads both pipes until both reach end-of-file. False on a read error.
bool drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        fds[i].fd = -1;
        --open_count;
      } else if (errno != EINTR && errno != EAGAIN) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

CommandResult run_capture(const std::string& program, const std::vector<std::string>& args) {
  CommandResult result;
  auto argv = make_argv(program, args);
  if (!argv) return result;

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);

  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv->data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }
  const bool drained = drain(out_pipe[0], err_pipe[0], result.out, result.err);
  close(out_pipe[0]);
  close(err_pipe[0]);
  record_status(result, pid);
  result.started = drained;
  return result;
}

CommandResult run_inherit(const std::string& program, const std::vector<std::string>& args,
                          const std::optional<std::string>& cwd) {
  CommandResult result;
  auto argv = make_argv(program, args);
  if (!argv) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (cwd) posix_spawn_file_actions_addchdir_np(&actions, cwd->c_str());
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv->data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  result.started = true;
  record_status(result, pid);
  return result;
}

}  // namespace vorn
