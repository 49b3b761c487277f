// Command runner throughput: runs per second of `true`, and MiB/s of a child writing 64 MiB to
// stdout, each beside a plain fork/exec + read loop measured in the same run (the floor).
//   build/bench/runner_bench [runs]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "proc/runner.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The floor: fork, exec, read stdout to the end, wait.
size_t plain_fork_exec(const char* program, char* const argv[]) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    execvp(program, argv);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return out.size();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
  char* true_argv[] = {const_cast<char*>("true"), nullptr};

  auto t = Clock::now();
  for (int i = 0; i < runs; ++i) (void)vorn::run_capture("true", {});
  const double capture_rate = runs / seconds_since(t);
  t = Clock::now();
  for (int i = 0; i < runs; ++i) plain_fork_exec("true", true_argv);
  const double plain_rate = runs / seconds_since(t);
  std::printf("true: run_capture %.0f runs/s, fork/exec %.0f runs/s (ratio %.2f)\n", capture_rate, plain_rate,
              capture_rate / plain_rate);

  const int big_runs = 10;
  const double mib = 64.0;
  char* big_argv[] = {const_cast<char*>("head"), const_cast<char*>("-c"), const_cast<char*>("67108864"),
                      const_cast<char*>("/dev/zero"), nullptr};
  t = Clock::now();
  for (int i = 0; i < big_runs; ++i) (void)vorn::run_capture("head", {"-c", "67108864", "/dev/zero"});
  const double capture_mibs = big_runs * mib / seconds_since(t);
  t = Clock::now();
  for (int i = 0; i < big_runs; ++i) plain_fork_exec("head", big_argv);
  const double plain_mibs = big_runs * mib / seconds_since(t);
  std::printf("64 MiB stdout: run_capture %.0f MiB/s, fork/exec %.0f MiB/s (ratio %.2f)\n", capture_mibs,
              plain_mibs, capture_mibs / plain_mibs);
  return 0;
}
