// Presence of components in the user's libraries: listings, matching and `api/in-library`.
#include "desktop/in_library.h"

#include "desktop/apply_request.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "desktop/library_discovery.h"
#include "parts/part_loading.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Text after the last "/" or "\" of a path.
std::string_view last_component(std::string_view path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view without_suffix(std::string_view text, std::string_view suffix) {
  if (text.ends_with(suffix)) text.remove_suffix(suffix.size());
  return text;
}

std::string symbol_library_of(std::string_view path) {
  return std::string(without_suffix(last_component(path), ".kicad_sym"));
}

// Maximal runs of ASCII letters, digits and ".".
std::vector<std::string_view> tokens(std::string_view text) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < text.size()) {
    if (!(is_alpha(text[i]) || is_digit(text[i]) || text[i] == '.')) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && (is_alpha(text[j]) || is_digit(text[j]) || text[j] == '.')) ++j;
    out.push_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

const std::string* lookup(const std::map<std::string, std::string>& m, const std::string& key) {
  const auto it = m.find(key);
  return it == m.end() ? nullptr : &it->second;
}

// The "value+package" test: a listed symbol whose key holds both the value and the package.
const std::string* by_value_and_package(const LibraryListings& l, const altium_codec::VornLbrPart& part) {
  auto code = package_code(part.footprint.name);
  if (!code) code = package_code(part.symbol.name);
  if (!code) return nullptr;
  std::string value_key;
  for (auto token : tokens(part.symbol.name)) {
    if (token.find_first_of("0123456789") == std::string_view::npos || package_code(token)) continue;
    value_key = match_key(token);
    break;
  }
  if (value_key.size() < 2) return nullptr;
  for (const auto& [key, lib] : l.symbol_keys) {
    if (key.find(value_key) != std::string::npos && key.find(*code) != std::string::npos) return &lib;
  }
  return nullptr;
}

std::pair<std::string, std::string> symbol_library_for(const LibraryListings& l, std::string_view slug,
                                                       const altium_codec::VornLbrPart* part) {
  const std::string mpn = to_upper(page_name(slug));
  const std::string slug_key = match_key(mpn);
  if (const auto* lib = lookup(l.mpn_hits, to_lower(mpn))) return {"mpn", *lib};
  for (const auto& [key, lib] : l.symbol_keys) {
    if (key.size() >= 5 && slug_key.starts_with(key)) return {"mpn", lib};
  }
  if (!part) return {};
  if (const std::string key = match_key(part->symbol.name); key.size() >= 3) {
    if (const auto* lib = lookup(l.symbol_keys, key)) return {"symbol", *lib};
  }
  if (const auto* lib = by_value_and_package(l, *part)) return {"value+package", *lib};
  return {};
}

std::string footprint_library_for(const LibraryListings& l, std::string_view slug,
                                  const altium_codec::VornLbrPart* part) {
  if (part) {
    const std::string key = match_key(part->footprint.name);
    if (!key.empty()) {
      if (const auto* lib = lookup(l.footprint_keys, key)) return *lib;
    }
  }
  const std::string slug_key = match_key(to_upper(page_name(slug)));
  for (const auto& [key, lib] : l.footprint_keys) {
    if (key.size() >= 5 && slug_key.starts_with(key)) return lib;
  }
  return {};
}

std::vector<std::string> accepted_slugs(std::string_view parameter) {
  std::vector<std::string> out;
  for (const auto& piece : split(parameter, ",")) {
    // Only slugs the apply job would accept reach a command line.
    if (std::string slug = page_slug(piece); is_accepted_slug(slug)) out.push_back(std::move(slug));
  }
  return out;
}

std::vector<std::string> uris(const std::vector<LibraryEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.uri);
  return out;
}

}  // namespace

std::string match_key(std::string_view text) {
  std::string lower = replace_all(replace_all(to_lower(text), "\xC2\xB5", "u"), "\xCE\xBC", "u");
  std::string out;
  for (char c : lower) {
    if (is_alpha(c) || is_digit(c)) out += c;
  }
  return out;
}

std::optional<std::string> package_code(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (!is_digit(text[i])) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && is_digit(text[j])) ++j;
    if (j - i == 4) return std::string(text.substr(i, 4));
    i = j;
  }
  return std::nullopt;
}

std::string regex_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\.^$|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

void add_mpn_hits(LibraryListings& l, std::string_view output, bool windows) {
  for (const auto& line : split(output, "\n")) {
    const auto cut = line.find(windows ? '\t' : ':');
    if (cut == std::string::npos) continue;
    const std::string text = to_lower(trim(std::string_view(line).substr(cut + 1)));
    if (text.empty()) continue;
    l.mpn_hits.emplace(text, symbol_library_of(std::string_view(line).substr(0, cut)));
  }
}

void add_symbol_names(LibraryListings& l, std::string_view output, bool windows) {
  const std::string_view marker = windows ? "\t" : ":(symbol \"";
  for (const auto& line : split(output, "\n")) {
    const auto cut = line.find(marker);
    if (cut == std::string::npos) continue;
    std::string_view name = std::string_view(line).substr(cut + marker.size());
    if (windows) {
      name = trim(name);
    } else {
      if (!name.empty() && name.back() == '\r') name.remove_suffix(1);
      while (!name.empty() && name.back() == '"') name.remove_suffix(1);
    }
    if (name.empty()) continue;
    l.symbol_keys.emplace(match_key(name), symbol_library_of(std::string_view(line).substr(0, cut)));
  }
}

void add_footprint_files(LibraryListings& l, std::string_view output) {
  for (const auto& raw : split(output, "\n")) {
    const std::string_view line = trim(raw);
    const auto cut = line.find_last_of("/\\");
    if (line.empty() || cut == std::string_view::npos) continue;
    const std::string_view file = without_suffix(line.substr(cut + 1), ".kicad_mod");
    const std::string lib(without_suffix(last_component(line.substr(0, cut)), ".pretty"));
    l.footprint_keys.emplace(match_key(file), lib);
  }
}

std::optional<Presence> find_presence(const LibraryListings& l, std::string_view slug,
                                      const altium_codec::VornLbrPart* part) {
  auto [by, lib] = symbol_library_for(l, slug, part);
  std::string fp_lib = footprint_library_for(l, slug, part);
  if (lib.empty() && fp_lib.empty()) return std::nullopt;
  if (lib.empty()) by = "footprint";
  return Presence{by, lib, fp_lib};
}

Response handle_in_library(const Request& request, std::string_view) {
  const std::vector<std::string> slugs = accepted_slugs(marker_param(request.url, "?slugs="));
  Json answer = Json::object();
  if (slugs.empty()) return json_response(answer);
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  const UserLibraries libs = read_user_libraries(env);
  const std::vector<std::string> sym_files = uris(libs.sym_libs);
  const std::vector<std::string> fp_folders = uris(libs.fp_libs);
  LibraryListings listings;
  if (!sym_files.empty()) {
    std::string pattern;
    for (const auto& s : slugs) pattern += (pattern.empty() ? "" : "|") + regex_escape(to_upper(page_name(s)));
    if (auto out = bridge_run_command(cmd_search_names(env.windows(), sym_files, pattern))) {
      add_mpn_hits(listings, *out, env.windows());
    }
    if (auto out = bridge_run_command(cmd_list_symbol_names(env.windows(), sym_files))) {
      add_symbol_names(listings, *out, env.windows());
    }
  }
  if (!fp_folders.empty()) {
    if (auto out = bridge_run_command(cmd_list_footprints(env.windows(), fp_folders))) {
      add_footprint_files(listings, *out);
    }
  }
  for (const auto& slug : slugs) {
    const auto loaded = load_part(slug);
    const auto presence = find_presence(listings, slug, loaded ? &loaded->part : nullptr);
    if (!presence) continue;
    answer[slug] = Json{{"by", presence->by}, {"lib", presence->lib}, {"fpLib", presence->fp_lib}};
  }
  return json_response(answer);
}

}  // namespace vorn
