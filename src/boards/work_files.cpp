// Work-file names and file helpers.
#include "boards/work_files.h"

#include <fstream>
#include <sstream>

#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn::boards {

std::string staging_name(std::string_view slug) { return replace_all(slug, "/", "_"); }

std::string folder_name(std::string_view slug) {
  return replace_all(replace_all(slug, "/", "_"), " ", "_");
}

bool is_safe_slug(std::string_view slug) { return is_safe_url_path(slug) && slug.size() <= 200; }

bool is_plain_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\\0", 3)) ==
                                                             std::string_view::npos;
}

bool is_inside_path(std::string_view relative) {
  for (const std::string& segment : split(relative, "/")) {
    if (!is_plain_file_name(segment)) return false;
  }
  return true;
}

std::string_view last_segment(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view last_segment_any(std::string_view path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<std::string> read_bytes(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(buffer).str();
}

bool write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool reset_folder(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

void ensure_staging_root() {
  std::error_code ec;
  std::filesystem::create_directories(std::string(kStagingRoot), ec);
}

}  // namespace vorn::boards
