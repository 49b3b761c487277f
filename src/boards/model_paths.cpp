// Model path rewriting and model gathering.
#include "boards/model_paths.h"

#include "boards/work_files.h"
#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

constexpr std::string_view kModelOpen = "(model \"";
constexpr std::string_view kVarPrefix = "${";
constexpr std::string_view kProjectPrefix = "${KIPRJMOD}/";

// Fetches page files in one batch; the answer of request i at index i.
FetchResults fetch_files(std::string_view slug, const std::vector<std::string>& names) {
  std::vector<PageFileRequest> requests;
  for (const auto& name : names) requests.push_back({std::string(slug), name, std::nullopt});
  return fetch_page_files(requests);
}

// The first answer of "<shapes>/<name>", "3d/<name>", "<name>" for every name; each round is
// one batch holding only the names still missing.
std::vector<std::optional<std::string>> fetch_models(std::string_view slug,
                                                     const std::optional<std::string>& shapes,
                                                     const std::vector<std::string>& names) {
  std::vector<std::optional<std::string>> found(names.size());
  std::vector<std::string> prefixes = {"3d/", ""};
  if (shapes) prefixes.insert(prefixes.begin(), *shapes + "/");
  for (const auto& prefix : prefixes) {
    std::vector<std::string> paths;
    std::vector<size_t> owner;
    for (size_t i = 0; i < names.size(); ++i) {
      if (found[i]) continue;
      paths.push_back(prefix + names[i]);
      owner.push_back(i);
    }
    FetchResults bodies = fetch_files(slug, paths);
    for (size_t k = 0; k < paths.size(); ++k) found[owner[k]] = std::move(bodies[k]);
  }
  return found;
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
  std::vector<std::string> names;
  for (const std::string& name : refs.names) {
    // A name such as ".." or "" would land outside "3d"; such a reference has no file to fetch.
    if (is_plain_file_name(name)) names.push_back(name);
  }
  const auto models_found = fetch_models(slug, shapes_folder, names);
  for (size_t i = 0; i < names.size(); ++i) {
    if (models_found[i]) (void)write_bytes(models / names[i], *models_found[i]);
  }
  std::vector<std::string> paths;
  for (const std::string& path : refs.project_relative) {
    if (is_safe_project_relative(path)) paths.push_back(path);
  }
  const FetchResults bodies = fetch_files(slug, paths);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!bodies[i]) continue;
    const std::filesystem::path target = folder / paths[i];
    std::filesystem::create_directories(target.parent_path(), ec);
    (void)write_bytes(target, *bodies[i]);
  }
}

}  // namespace vorn::boards
