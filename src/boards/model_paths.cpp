// Model path rewriting and model gathering.
#include "boards/model_paths.h"

#include "boards/work_files.h"
#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

constexpr std::string_view kModelOpen = "(model \"";
constexpr std::string_view kVarPrefix = "${";
constexpr std::string_view kProjectPrefix = "${KIPRJMOD}/";

std::optional<std::string> first_fetch(std::string_view slug, const std::optional<std::string>& shapes,
                                       const std::string& name) {
  if (shapes) {
    if (auto bytes = fetch_page_file(slug, *shapes + "/" + name)) return bytes;
  }
  if (auto bytes = fetch_page_file(slug, "3d/" + name)) return bytes;
  return fetch_page_file(slug, name);
}

}  // namespace

RewrittenBoard rewrite_model_paths(std::string_view text) {
  RewrittenBoard out;
  out.text.reserve(text.size());
  size_t pos = 0;
  while (true) {
    const size_t at = text.find(kModelOpen, pos);
    if (at == std::string_view::npos) break;
    const size_t start = at + kModelOpen.size();
    const size_t close = text.find('"', start);
    if (close == std::string_view::npos) break;  // unterminated: the rest is copied unchanged
    out.text.append(text.substr(pos, start - pos));
    const std::string_view path = text.substr(start, close - start);
    if (path.starts_with(kVarPrefix)) {
      out.text.append(path);
      const std::string slashed = replace_all(path, "\\", "/");
      if (slashed.starts_with(kProjectPrefix)) out.refs.project_relative.insert(slashed.substr(kProjectPrefix.size()));
    } else {
      const std::string name(last_segment_any(path));
      out.refs.names.insert(name);
      out.text.append("${KIPRJMOD}/3d/").append(name);
    }
    pos = close;
  }
  out.text.append(text.substr(pos));
  return out;
}

bool is_safe_project_relative(std::string_view path) {
  return !path.empty() && !path.starts_with('/') && path.find("..") == std::string_view::npos &&
         is_safe_url_path(path);
}

void gather_models(std::string_view slug, const std::filesystem::path& folder, const ModelRefs& refs,
                   const std::optional<std::string>& shapes_folder) {
  std::error_code ec;
  const std::filesystem::path models = folder / "3d";
  std::filesystem::create_directories(models, ec);
  for (const std::string& name : refs.names) {
    // A name such as ".." or "" would land outside "3d"; such a reference has no file to fetch.
    if (!is_plain_file_name(name)) continue;
    if (auto bytes = first_fetch(slug, shapes_folder, name)) (void)write_bytes(models / name, *bytes);
  }
  for (const std::string& path : refs.project_relative) {
    if (!is_safe_project_relative(path)) continue;
    auto bytes = fetch_page_file(slug, path);
    if (!bytes) continue;
    const std::filesystem::path target = folder / path;
    std::filesystem::create_directories(target.parent_path(), ec);
    (void)write_bytes(target, *bytes);
  }
}

}  // namespace vorn::boards
