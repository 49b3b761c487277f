// The command runner: the one way the manager starts outside programs (curl, vorn-desktop,
// vorn-wiki, tar, python3, the viewer tools). A program is looked up on PATH and started directly
// with an argument vector, never through a shell. Every call blocks the calling thread until the
// child exits; any number of threads may run children at once (no lock here).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorn {

struct CommandResult {
  bool started = false;         // false: not found, not executable, NUL in an argument, no resources
  int exit_code = -1;           // valid when started and !signaled
  bool signaled = false;        // the child ended by a signal
  std::string out;              // every byte written to standard output
  std::string err;              // every byte written to standard error

  bool ok() const { return started && !signaled && exit_code == 0; }
};

// Runs `program` with stdin from /dev/null, capturing stdout and stderr in full. Both pipes are
// drained together, so a child that fills one never blocks.
[[nodiscard]] CommandResult run_capture(const std::string& program, const std::vector<std::string>& args);

// Runs `program` sharing the server's standard streams, optionally in `cwd`. Output is not
// captured; the result carries only started and the exit status.
[[nodiscard]] CommandResult run_inherit(const std::string& program, const std::vector<std::string>& args,
                                        const std::optional<std::string>& cwd = std::nullopt);

}  // namespace vorn
