// The desktop bridge: every shell command and file transfer on the user's desktop goes through
// the outside program `vorn-desktop`, started with exactly two arguments (a subcommand and one
// compact JSON text). No operation fails loudly: each yields a result, nothing, or false.
//
// Thread-safety: run_and_read (and run_command, built on it) holds one process-wide lock from
// the start of the bridge to its exit, so desktop commands whose output is read never overlap.
// run_and_forget, pull_file and send_files take no lock and may overlap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Local folder that pulls land in and that the apply job stages its files in.
inline constexpr std::string_view kStagingDir = "/tmp/vorn-lbr-apply";
inline constexpr std::string_view kBridgeProgram = "vorn-desktop";

// `shell_execute`: the bridge's standard output (invalid UTF-8 replaced), or nothing when the
// bridge cannot be started or exits non-zero.
[[nodiscard]] std::optional<std::string> bridge_run_and_read(std::string_view command);

// The "stdout" member of the run-and-read answer, trimmed; nothing when any step fails or the
// trimmed text is empty.
[[nodiscard]] std::optional<std::string> bridge_run_command(std::string_view command);

// Runs the command and waits for the bridge to exit; status and output are ignored.
void bridge_run_and_forget(std::string_view command);

// Local file name a pull of `desktop_path` lands in: the staging folder, "/", and the text after
// the last "/" or "\" of the path (the whole path when it has none).
std::string pulled_local_path(std::string_view desktop_path);

// `pull_file`: the pulled file's text. Any earlier local copy is removed first, so a failed pull
// never yields text from an older pull. Nothing when the local file cannot be read (or the name
// is unusable: empty, "." or "..").
[[nodiscard]] std::optional<std::string> bridge_pull_file(std::string_view desktop_path);

// As bridge_pull_file, but the file's bytes exactly as pulled (no UTF-8 repair).
[[nodiscard]] std::optional<std::string> bridge_pull_file_bytes(std::string_view desktop_path);
// As bridge_pull_file_bytes, into the local folder `save_to` (a job's or request's own folder,
// which must exist) instead of the shared staging folder.
[[nodiscard]] std::optional<std::string> bridge_pull_file_bytes_into(std::string_view desktop_path,
                                                                     std::string_view save_to);

// `send_file`: true only when the bridge started and exited with status 0.
[[nodiscard]] bool bridge_send_files(const std::vector<std::string>& local_paths,
                                     std::string_view dest_folder);

// Number of bridge programs started by this process (for benchmarks and tests).
std::uint64_t bridge_call_count();

// The text of a JSON answer's "stdout" member, trimmed; nothing when the answer is not a JSON
// object with a string "stdout" or when the trimmed text is empty.
std::optional<std::string> stdout_member(std::string_view bridge_output);

}  // namespace vorn
