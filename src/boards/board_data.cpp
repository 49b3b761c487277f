// Page dependencies, component lists, logs, reference sets, version tokens and GLB stamps.
#include "boards/board_data.h"

#include <cstdint>
#include <unordered_set>

#include "boards/work_files.h"
#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

constexpr std::string_view kReferenceOpen = "(property \"Reference\" \"";

// The raw reference of one array element of "dependencies", if it gives one.
std::optional<std::string> element_reference(const Json& element) {
  if (element.is_string()) return element.get<std::string>();
  if (!element.is_object()) return std::nullopt;
  for (const char* key : {"slug", "ref", "name"}) {
    auto it = element.find(key);
    if (it == element.end()) continue;
    if (!it->is_string()) return std::nullopt;  // the first present key decides
    return it->get<std::string>();
  }
  return std::nullopt;
}

uint32_t le32(std::string_view bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

}  // namespace

std::string normalise_reference(std::string_view raw) {
  return std::string(trim(last_segment(raw)));
}

std::vector<std::string> parse_dependencies(std::string_view package_json) {
  std::vector<std::string> out;
  const Json doc = Json::parse(package_json, nullptr, false);
  if (!doc.is_object()) return out;
  auto deps = doc.find("dependencies");
  if (deps == doc.end()) return out;
  if (deps->is_array()) {
    for (const Json& element : *deps) {
      if (auto raw = element_reference(element)) out.push_back(normalise_reference(*raw));
    }
  } else if (deps->is_object()) {
    for (const auto& [key, value] : deps->items()) out.push_back(normalise_reference(key));
  }
  return out;
}

std::vector<std::string> page_dependencies(std::string_view slug) {
  auto text = fetch_page_file_text(slug, "package.json");
  return text ? parse_dependencies(*text) : std::vector<std::string>{};
}

std::vector<std::string> board_component_list(std::string_view slug) {
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  auto add = [&](const std::string& s) {
    if (seen.insert(s).second) out.push_back(s);
  };
  const std::vector<std::string> deps = page_dependencies(slug);
  // The package.json of every dependency, read in one batch.
  std::vector<PageFileRequest> requests;
  for (const std::string& dep : deps) requests.push_back({dep, "package.json", std::nullopt});
  const FetchResults texts = fetch_page_files_text(requests);
  for (size_t i = 0; i < deps.size(); ++i) {
    const std::string& dep = deps[i];
    const std::vector<std::string> inner = texts[i] ? parse_dependencies(*texts[i]) : std::vector<std::string>{};
    if (inner.empty()) {
      add(dep);
    } else {
      for (const std::string& c : inner) add(c);
    }
  }
  return out;
}

Json commit_log(std::string_view slug) {
  auto body = fetch_page_resource(slug, "log");
  if (!body) return Json::array();
  const Json doc = Json::parse(*body, nullptr, false);
  if (!doc.is_object()) return Json::array();
  auto it = doc.find("log");
  return it == doc.end() ? Json::array() : *it;
}

std::set<std::string> reference_set(std::string_view text) {
  std::set<std::string> refs;
  size_t pos = text.find(kReferenceOpen);
  while (pos != std::string_view::npos) {
    const size_t start = pos + kReferenceOpen.size();
    const size_t next = text.find(kReferenceOpen, start);
    const std::string_view piece = text.substr(start, next == std::string_view::npos ? next : next - start);
    const std::string_view ref = piece.substr(0, piece.find('"'));
    if (!ref.empty() && ref != "REF**") refs.emplace(ref);
    pos = next;
  }
  return refs;
}

std::optional<std::string> version_token(std::string_view query) {
  for (const std::string& piece : split(query, "&")) {
    if (!piece.starts_with("v=")) continue;
    std::string token = piece.substr(2);
    if (token.find("..") != std::string::npos || token.find('/') != std::string::npos) return std::nullopt;
    return token;
  }
  return std::nullopt;
}

std::optional<std::string> board_model(std::string_view slug) {
  if (auto text = fetch_page_file_text(slug, "package.json")) {
    const Json doc = Json::parse(*text, nullptr, false);
    if (doc.is_object()) {
      auto it = doc.find("model_3d_path");
      if (it != doc.end() && it->is_string() && !it->get<std::string>().empty()) {
        std::string_view path = it->get_ref<const std::string&>();
        while (path.starts_with("./")) path.remove_prefix(2);
        while (path.starts_with("/")) path.remove_prefix(1);
        if (auto bytes = fetch_page_file(slug, path)) return bytes;
      }
    }
  }
  return fetch_page_file(slug, std::string(page_name(slug)) + ".glb");
}

std::optional<std::string> glb_up_axis(std::string_view glb) {
  if (glb.size() < 20 || !glb.starts_with("glTF")) return std::nullopt;
  const uint64_t length = le32(glb, 12);
  if (glb.size() < 20 + length) return std::nullopt;
  const Json doc = Json::parse(glb.substr(20, length), nullptr, false);
  if (doc.is_discarded()) return std::nullopt;
  const Json* node = &doc;
  for (const char* key : {"asset", "extras", "vornMolecule", "upAxis"}) {
    if (!node->is_object()) return std::nullopt;
    auto it = node->find(key);
    if (it == node->end()) return std::nullopt;
    node = &*it;
  }
  if (!node->is_string()) return std::nullopt;
  return to_lower(node->get<std::string>());
}

}  // namespace vorn::boards
