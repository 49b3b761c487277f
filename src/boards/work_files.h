// Local work files of the boards subsystem: the staging root "/tmp/vorn-lbr-apply", the names
// derived from slugs for folders under it, and small file helpers that report failure as values.
// Pure functions over the file system; thread-safe as far as the file system is.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::boards {

inline constexpr std::string_view kStagingRoot = "/tmp/vorn-lbr-apply";

// The slug with every "/" replaced by "_" (work files of the board render and export calls).
std::string staging_name(std::string_view slug);
// The slug with every "/" and every blank replaced by "_" (delivery, view and render folders).
std::string folder_name(std::string_view slug);

// True when a slug may name local work files: it must also be usable as a platform path (no dot
// segments, control characters, "%", "?", "#", backslashes or blanks at its ends). Every caller
// that builds a path from a request's slug checks this first, so no slug reshapes a path.
bool is_safe_slug(std::string_view slug);

// True for a single path component that stays inside its folder: not empty, not "." or "..",
// no "/" , "\" or NUL.
bool is_plain_file_name(std::string_view name);

// True for a relative path whose every "/"-separated segment is a plain file name, so it stays
// inside its folder ("v1..2.kicad_pcb" and "a/b" do; "../x", "a//b" and "./a" do not).
bool is_inside_path(std::string_view relative);

// The text after the last "/" (the whole text when there is none).
std::string_view last_segment(std::string_view path);
// The text after the last "/" or "\".
std::string_view last_segment_any(std::string_view path);

std::optional<std::string> read_bytes(const std::filesystem::path& path);
// Writes the whole file (creating or truncating it); false on any failure.
[[nodiscard]] bool write_bytes(const std::filesystem::path& path, std::string_view bytes);
// Removes the folder with its contents (errors ignored) and creates it again with parents.
[[nodiscard]] bool reset_folder(const std::filesystem::path& path);
// Creates the staging root with parents; errors ignored.
void ensure_staging_root();

}  // namespace vorn::boards
