// The command runner: start failures, full capture of both streams, stdin at end-of-file, and
// arguments passed byte for byte.
#include "proc/runner.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vorn {
namespace {

TEST(Runner, MissingProgramIsNotStarted) {
  const CommandResult r = run_capture("vorn-no-such-program-xyz", {});
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(run_inherit("vorn-no-such-program-xyz", {}).started);
}

TEST(Runner, NulInAnArgumentMeansNotStarted) {
  EXPECT_FALSE(run_capture("true", {std::string("a\0b", 3)}).started);
}

TEST(Runner, ExitStatusAndSignal) {
  const CommandResult r = run_capture("sh", {"-c", "echo out; echo err >&2; exit 7"});
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 7);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  EXPECT_FALSE(r.ok());
  const CommandResult killed = run_capture("sh", {"-c", "kill -9 $$"});
  EXPECT_TRUE(killed.signaled);
  EXPECT_FALSE(killed.ok());
}

TEST(Runner, MegabytesOnStderrDoNotDeadlock) {
  const CommandResult r = run_capture("sh", {"-c", "head -c 8000000 /dev/zero >&2; echo done"});
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.err.size(), 8000000u);
  EXPECT_EQ(r.out, "done\n");
}

TEST(Runner, StdinIsAtEndOfFile) {
  const CommandResult r = run_capture("sh", {"-c", "cat; echo eof"});
  EXPECT_EQ(r.out, "eof\n");
}

TEST(Runner, JsonArgumentArrivesByteForByte) {
  const std::string arg = "{\"command\":\"echo 'a b' \\\"$HOME\\\"\\n\",\n \"x\":[1, 2]}\t*";
  const CommandResult r = run_capture("printf", {"%s", arg});
  EXPECT_EQ(r.out, arg);
}

TEST(Runner, InheritRunsInTheGivenFolder) {
  const auto dir = std::filesystem::temp_directory_path() / "vorn-runner-test";
  std::filesystem::create_directories(dir);
  const CommandResult r = run_inherit("sh", {"-c", "[ \"$(pwd)\" = '" + dir.string() + "' ]"}, dir.string());
  EXPECT_TRUE(r.ok());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vorn
