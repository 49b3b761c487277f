// Library tables, `api/libraries` and `api/suggest-path`.
#include "desktop/library_discovery.h"

#include <set>

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

constexpr std::string_view kSymTable = "sym-lib-table";
constexpr std::string_view kFpTable = "fp-lib-table";
constexpr size_t kMaxSuggestions = 14;
// Where KiCad's own libraries live; rows pointing there are not the user's.
constexpr std::string_view kInstallMarkers[] = {"/usr/share/kicad", "/usr/lib/kicad",
                                                 "program files\\kicad", "program files/kicad",
                                                 "/applications/kicad"};

// The text after `key` and a double quote, up to the next double quote.
std::optional<std::string> quoted_field(std::string_view piece, std::string_view key) {
  const std::string opening = std::string(key) + "\"";
  const auto at = piece.find(opening);
  if (at == std::string_view::npos) return std::nullopt;
  const auto start = at + opening.size();
  const auto end = piece.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(piece.substr(start, end - start));
}

bool is_kicad_own(const LibraryEntry& e) {
  if (e.name == "KiCad" || e.uri.starts_with("${KICAD")) return true;
  const std::string lower = to_lower(e.uri);
  for (auto marker : kInstallMarkers) {
    if (lower.find(marker) != std::string::npos) return true;
  }
  return false;
}

std::vector<LibraryEntry> read_table(const DesktopEnv& env, std::string_view table) {
  const auto text = bridge_run_command(cmd_read_lib_tables(env.windows(), kicad_config_dir(env), table));
  if (!text) return {};
  return parse_library_tables(*text);
}

Json entries_json(const std::vector<LibraryEntry>& entries) {
  Json out = Json::array();
  for (const auto& e : entries) out.push_back(Json{{"name", e.name}, {"uri", e.uri}});
  return out;
}

}  // namespace

std::string kicad_config_dir(const DesktopEnv& env) {
  if (env.os == "macos") return env.home + "/Library/Preferences/kicad";
  if (env.windows()) return env.home + "\\AppData\\Roaming\\kicad";
  return env.home + "/.config/kicad";
}

std::vector<LibraryEntry> parse_library_tables(std::string_view text) {
  std::vector<LibraryEntry> kept;
  std::set<std::string> names;
  for (const auto& piece : split(text, "(lib ")) {
    auto name = quoted_field(piece, "(name ");
    auto uri = quoted_field(piece, "(uri ");
    if (!name || !uri || name->empty()) continue;
    LibraryEntry entry{std::move(*name), std::move(*uri)};
    if (is_kicad_own(entry) || !names.insert(entry.name).second) continue;
    kept.push_back(std::move(entry));
  }
  return kept;
}

std::vector<std::string> table_nicknames(std::string_view text) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const auto& piece : split(text, "(lib ")) {
    auto name = quoted_field(piece, "(name ");
    if (name && !name->empty() && seen.insert(*name).second) names.push_back(std::move(*name));
  }
  return names;
}

TableNicknames read_table_nicknames(const DesktopEnv& env) {
  TableNicknames names;
  for (auto [table, out] : {std::pair{kSymTable, &names.sym}, std::pair{kFpTable, &names.fp}}) {
    const auto text = bridge_run_command(cmd_read_lib_tables(env.windows(), kicad_config_dir(env), table));
    if (text) *out = table_nicknames(*text);
  }
  return names;
}

UserLibraries read_user_libraries(const DesktopEnv& env) {
  UserLibraries libs;
  libs.sym_libs = read_table(env, kSymTable);
  libs.fp_libs = read_table(env, kFpTable);
  return libs;
}

std::map<std::string, std::string> library_map(const std::vector<LibraryEntry>& entries) {
  std::map<std::string, std::string> out;
  for (const auto& e : entries) out.emplace(e.name, e.uri);
  return out;
}

Json library_list_json(const UserLibraries& libs) {
  return Json{{"symLibs", entries_json(libs.sym_libs)}, {"fpLibs", entries_json(libs.fp_libs)}};
}

std::string clean_suggest_prefix(std::string_view prefix) {
  std::string out;
  for (char c : prefix) {
    if (std::string_view("\"'`;|&\n\r$").find(c) == std::string_view::npos) out += c;
  }
  return out;
}

std::vector<std::string> suggestion_lines(std::string_view answer) {
  std::vector<std::string> dirs;
  for (auto& line : split(answer, "\n")) {
    std::string_view v = line;
    while (!v.empty() && (v.back() == '\r' || v.back() == '/' || v.back() == '\\')) v.remove_suffix(1);
    if (v.empty()) continue;
    dirs.emplace_back(v);
    if (dirs.size() == kMaxSuggestions) break;
  }
  return dirs;
}

Response handle_libraries(const Request&, std::string_view) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  return json_response(library_list_json(read_user_libraries(env)));
}

Response handle_suggest_path(const Request& request, std::string_view) {
  const std::string prefix = clean_suggest_prefix(marker_param(request.url, "?p="));
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  Json dirs = Json::array();
  // A relative prefix would be completed in whatever folder the bridge runs in.
  if (!is_desktop_absolute(env, prefix)) return json_response(Json{{"dirs", dirs}});
  const auto answer = bridge_run_command(cmd_list_subfolders_by_prefix(env.windows(), prefix));
  if (answer) {
    for (auto& d : suggestion_lines(*answer)) dirs.push_back(std::move(d));
  }
  return json_response(Json{{"dirs", dirs}});
}

}  // namespace vorn
