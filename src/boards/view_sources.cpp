// The viewer's KiCad files at a stored render version: the render manifest's history tells which
// commit uploaded a version, and the page's files are read at that commit.
#include "boards/view_sources.h"

#include "boards/board_data.h"
#include "boards/work_files.h"
#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

constexpr std::string_view kManifest = "render/manifest.json";
// Commits whose manifest is read while looking for a version's upload (one fetch each).
constexpr size_t kMaxCommitsSearched = 40;
// Sheets fetched for one schematic view (one fetch each); a design has far fewer.
constexpr size_t kMaxSheets = 256;

// The version a manifest names as current and the hash of its newest render, as one text;
// nothing when the text is not a manifest.
std::optional<std::string> manifest_key(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const Json m = Json::parse(*text, nullptr, false);
  if (!m.is_object()) return std::nullopt;
  const auto current = m.find("current");
  if (current == m.end() || current->is_null()) return std::nullopt;
  std::string hash;
  if (const auto v = m.find("versions");
      v != m.end() && v->is_array() && !v->empty() && (*v)[0].is_object()) {
    if (const auto h = (*v)[0].find("hash"); h != (*v)[0].end() && h->is_string())
      hash = h->get<std::string>();
  }
  const std::string name = current->is_string() ? current->get<std::string>() : current->dump();
  return name + "\n" + hash;
}

std::string manifest_version(const std::string& key) {
  return key.substr(0, key.find('\n'));
}

}  // namespace

std::optional<std::string> view_source(const std::vector<std::string>& paths,
                                       std::string_view kind) {
  if (kind == "pcb") {
    for (const std::string& p : paths) {
      if (ends_with(p, ".kicad_pcb")) return p;
    }
    return std::nullopt;
  }
  std::optional<std::string> root_name;
  for (const std::string& p : paths) {
    if (ends_with(p, ".kicad_pro")) {
      const std::string_view leaf = last_segment(p);
      root_name = std::string(leaf.substr(0, leaf.size() - 10)) + ".kicad_sch";
      break;
    }
  }
  std::optional<std::string> first;
  for (const std::string& p : paths) {
    if (!ends_with(p, ".kicad_sch")) continue;
    if (root_name && last_segment(p) == *root_name) return p;
    if (!first) first = p;
  }
  return first;
}

std::optional<std::string> render_commit(
    const Json& log, std::string_view version,
    const std::function<std::optional<std::string>(const std::string&)>& manifest_at,
    size_t max_commits) {
  if (!log.is_array()) return std::nullopt;
  std::optional<std::string> wanted, found;
  size_t read = 0;
  for (const Json& entry : log) {
    if (read >= max_commits) break;
    if (!entry.is_object()) continue;
    const auto hash = entry.find("hash");
    if (hash == entry.end() || !hash->is_string()) continue;
    const std::string ref = hash->get<std::string>();
    ++read;
    const auto key = manifest_key(manifest_at(ref));
    if (!wanted) {
      if (key && manifest_version(*key) == version) wanted = key, found = ref;
      continue;
    }
    if (key != wanted) break;  // an older render (or none): `found` uploaded the version
    found = ref;
  }
  return found;
}

std::optional<ViewSources> fetch_view_sources(std::string_view slug, std::string_view kind,
                                              const std::optional<std::string>& version) {
  if (!is_safe_slug(slug)) return std::nullopt;
  const std::vector<std::string> paths = list_page_files(slug);
  const auto main = view_source(paths, kind);
  if (!main) return std::nullopt;

  // Without a version, or for the version that is current now, the current files are the ones.
  std::optional<std::string> ref;
  if (version) {
    const auto now = manifest_key(fetch_page_file(slug, kManifest));
    if (!now || manifest_version(*now) != *version) {
      ref = render_commit(
          commit_log(slug), *version,
          [&](const std::string& at) {
            return fetch_page_file_at_ref(slug, std::string(kManifest), at);
          },
          kMaxCommitsSearched);
      if (!ref) return std::nullopt;
    }
  }
  auto fetch = [&](const std::string& path) {
    return ref ? fetch_page_file_at_ref(slug, path, *ref) : fetch_page_file(slug, path);
  };

  ViewSources out;
  out.main_path = *main;
  auto main_bytes = fetch(*main);
  if (!main_bytes) return std::nullopt;
  out.files.push_back({*main, std::move(*main_bytes)});
  if (kind == "sch") {
    // Every other sheet of the page, so the viewer can open the sub-sheets the root refers to;
    // a sheet missing at that version is simply left out.
    for (const std::string& p : paths) {
      if (p == *main || !ends_with(p, ".kicad_sch")) continue;
      if (out.files.size() >= kMaxSheets) break;
      if (auto bytes = fetch(p)) out.files.push_back({p, std::move(*bytes)});
    }
  }
  return out;
}

}  // namespace vorn::boards
