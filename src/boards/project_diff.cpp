// Route /api/project-diff: compares the project library left on the desktop by an earlier
// project-only delivery with the symbols the board's schematics place, and lists which
// components are added or kept and which library symbols are flagged for deletion. Changes
// nothing; runs on the request's thread.
#include "boards/project_diff.h"

#include "boards/board_data.h"
#include "boards/work_files.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "desktop/staging.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace boards {
namespace {

constexpr std::string_view kSymbolOpen = "(symbol \"";
constexpr std::string_view kLibIdOpen = "(lib_id \"";

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Every quoted value after `needle`, up to the next double quote.
std::vector<std::string_view> values_after(std::string_view text, std::string_view needle) {
  std::vector<std::string_view> values;
  size_t pos = 0;
  while ((pos = text.find(needle, pos)) != std::string_view::npos) {
    const size_t start = pos + needle.size();
    const size_t close = text.find('"', start);
    values.push_back(text.substr(start, close == std::string_view::npos ? close : close - start));
    if (close == std::string_view::npos) break;
    pos = close;
  }
  return values;
}

std::set<std::string> board_symbol_set(const std::string& board) {
  std::set<std::string> names;
  if (board.empty()) return names;
  for (const std::string& path : list_page_files(board)) {
    if (!ends_with(path, ".kicad_sch")) continue;
    auto text = fetch_page_file_text(board, path);
    if (!text) continue;
    for (std::string_view id : values_after(*text, kLibIdOpen)) {
      const size_t colon = id.rfind(':');
      const std::string_view name = colon == std::string_view::npos ? id : id.substr(colon + 1);
      if (!name.empty()) names.insert(normalise_symbol_name(name));
    }
  }
  return names;
}

}  // namespace

bool is_unit_symbol_name(std::string_view name) {
  const size_t last = name.rfind('_');
  if (last == std::string_view::npos) return false;
  const size_t middle = last == 0 ? std::string_view::npos : name.rfind('_', last - 1);
  if (middle == std::string_view::npos) return false;
  return all_digits(name.substr(middle + 1, last - middle - 1)) && all_digits(name.substr(last + 1));
}

std::string normalise_symbol_name(std::string_view name) {
  std::string lower = to_lower(name);
  lower = replace_all(replace_all(lower, "\u00b5", "u"), "\u03bc", "u");
  std::string out;
  for (char c : lower) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) out.push_back(c);
  }
  return out;
}

std::vector<std::string> library_symbol_names(std::string_view library_text) {
  std::vector<std::string> names;
  for (std::string_view name : values_after(library_text, kSymbolOpen)) {
    if (!is_unit_symbol_name(name)) names.emplace_back(name);
  }
  return names;
}

std::string library_path(std::string_view dest, std::string_view sep, std::string_view nickname) {
  while (!dest.empty() && (dest.back() == '/' || dest.back() == '\\')) dest.remove_suffix(1);
  return std::string(dest) + std::string(sep) + std::string(nickname) + ".kicad_sym";
}

Json project_diff(const std::string& board, const std::string& dest) {
  const DesktopEnv env = desktop_env();
  const std::string nickname = folder_name(board);
  std::string path = library_path(dest, env.sep(), nickname);
  if (desktop_file_exists(path) != Existence::exists) {
    if (auto found = bridge_run_command(cmd_find_project_library(env.windows(), env.home, nickname))) {
      const std::string_view first = trim(std::string_view(*found).substr(0, found->find('\n')));
      if (!first.empty()) path = std::string(first);
    }
  }
  std::vector<std::string> names;
  bool exists = false;
  // Pulled into a folder of this request's own: an apply job may be staging the same names.
  const StagingFolder staging("diff");
  std::optional<std::string> text;
  if (!staging.path().empty()) text = bridge_pull_file_bytes_into(path, staging.path());
  if (text && is_valid_utf8(*text)) {
    names = library_symbol_names(*text);
  }
  exists = !names.empty() || desktop_file_exists(path) == Existence::exists;

  const std::set<std::string> placed = board_symbol_set(board);
  Json remove = Json::array();
  for (const std::string& n : names) {
    if (!placed.count(normalise_symbol_name(n))) remove.push_back(n);
  }
  Json components = Json::array();
  if (!board.empty()) {
    for (const std::string& c : board_component_list(board)) components.push_back(c);
  }
  return Json{{"exists", exists},
              {"add", exists ? Json::array() : components},
              {"keep", exists ? components : Json::array()},
              {"remove", std::move(remove)}};
}

}  // namespace boards

Response handle_project_diff(const Request& request, std::string_view) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  const std::string board = page_slug(query_param(request.url, "board"));
  std::string dest(trim(query_param(request.url, "dest")));
  if (dest.empty()) dest = default_project_folder(env, board);
  if (!is_desktop_absolute(env, dest))
    return json_response(Json{{"error", std::string(kInvalidDestPath)}});
  return json_response(boards::project_diff(board, dest));
}

}  // namespace vorn
