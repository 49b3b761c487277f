// curl-backed platform reads, the API key and the identity.
#include "platform/platform_api.h"

#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/config.h"
#include "proc/runner.h"
#include "util/text.h"

namespace vorn {
namespace {

std::string page_url(std::string_view slug, std::string_view tail) {
  std::string url = platform_base_url();
  url += "/api/v1/pages/";
  url += slug;
  url += tail;
  return url;
}

std::optional<std::string> read_key_file() {
  std::ifstream in(api_key_file_path(), std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = to_utf8_lossy(buffer.str());
  const std::string_view key = trim(text);
  if (key.empty()) return std::nullopt;
  return std::string(key);
}

std::optional<std::string> compute_api_key() {
  if (auto key = read_key_file()) return key;
  const char* env = std::getenv("VORN_API_KEY");
  if (env && *env && is_valid_utf8(env)) return std::string(env);
  return std::nullopt;
}

// The first non-empty string found along one of the dotted paths.
std::string first_string(const nlohmann::json& root, std::initializer_list<const char*> paths) {
  for (const char* path : paths) {
    const nlohmann::json* node = &root;
    for (const auto& segment : split(path, ".")) {
      if (!node->is_object()) {
        node = nullptr;
        break;
      }
      auto it = node->find(segment);
      if (it == node->end()) {
        node = nullptr;
        break;
      }
      node = &*it;
    }
    if (node && node->is_string() && !node->get<std::string>().empty()) return node->get<std::string>();
  }
  return "";
}

}  // namespace

bool is_safe_url_path(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == ' ' || c == '?' || c == '#' || c == '%' || c == '\\') return false;
  }
  for (const auto& segment : split(text, "/")) {
    if (segment.empty() || segment == "." || segment == "..") return false;
  }
  return true;
}

std::string page_slug(std::string_view received) {
  std::string decoded;
  decoded.reserve(received.size());
  for (size_t i = 0; i < received.size(); ++i) {
    const std::string_view escape = received.substr(i, 3);
    if (escape == "%2F" || escape == "%2f") {
      decoded += '/';
      i += 2;
    } else {
      decoded += received[i];
    }
  }
  if (!is_safe_url_path(decoded)) return std::string(received);
  return decoded;
}

std::string_view page_name(std::string_view slug) {
  const size_t slash = slug.rfind('/');
  return slash == std::string_view::npos ? slug : slug.substr(slash + 1);
}

std::optional<std::string> api_key() {
  static std::mutex mutex;
  static bool computed = false;
  static std::optional<std::string> key;
  std::lock_guard lock(mutex);
  if (!computed) {
    key = compute_api_key();
    computed = true;
  }
  return key;
}

bool is_web_url(std::string_view url) {
  const std::string lower = to_lower(url.substr(0, 8));
  return starts_with(lower, "http://") || starts_with(lower, "https://");
}

std::optional<std::string> api_key_for(std::string_view url) {
  // The key goes only to the platform host itself, compared exactly.
  if (platform_host().empty() || url_host(url) != platform_host()) return std::nullopt;
  auto key = api_key();
  if (!key || key->find_first_of("\r\n") != std::string::npos) return std::nullopt;
  return key;
}

std::optional<std::string> fetch_url(const std::string& url) {
  if (!is_web_url(url)) return std::nullopt;
  // --globoff: brackets and braces in a name must not expand into several requests.
  // --proto/--proto-redir: a platform answer can never send curl to file:// or other schemes.
  std::vector<std::string> args = {
      "-s",        "-f",      "-L",          "--max-time",    "12",
      "--globoff", "--proto", "=http,https", "--proto-redir", "=http,https"};
  if (auto key = api_key_for(url)) {
    args.push_back("-H");
    args.push_back("Authorization: Bearer " + *key);
  }
  args.push_back(url);
  CommandResult r = run_capture("curl", args);
  if (!r.ok() || r.out.empty()) return std::nullopt;
  return std::move(r.out);
}

std::optional<std::string> page_file_url(std::string_view slug, std::string_view name) {
  if (!is_safe_url_path(slug) || !is_safe_url_path(name)) return std::nullopt;
  return page_url(slug, "/files/" + std::string(name));
}

std::optional<std::string> page_file_at_ref_url(std::string_view slug,
                                                const std::optional<std::string>& name,
                                                std::string_view ref) {
  if (!name) return std::nullopt;
  // The ref goes into the query: refuse anything that would end or extend it.
  for (unsigned char c : ref) {
    if (c <= 0x20 || c == 0x7F || c == '&' || c == '#' || c == '%' || c == '?') return std::nullopt;
  }
  auto url = page_file_url(slug, *name);
  if (url) *url += "?ref=" + std::string(ref);
  return url;
}

std::optional<std::string> page_resource_url(std::string_view slug, std::string_view what) {
  if (!is_safe_url_path(slug)) return std::nullopt;
  return page_url(slug, "/" + std::string(what));
}

std::optional<std::string> fetch_page_file(std::string_view slug, std::string_view name) {
  const auto url = page_file_url(slug, name);
  if (!url) return std::nullopt;
  return fetch_url(*url);
}

std::optional<std::string> fetch_page_file_text(std::string_view slug, std::string_view name) {
  auto bytes = fetch_page_file(slug, name);
  if (!bytes) return std::nullopt;
  return to_utf8_lossy(*bytes);
}

std::optional<std::string> fetch_page_file_at_ref(std::string_view slug,
                                                  const std::optional<std::string>& name,
                                                  std::string_view ref) {
  const auto url = page_file_at_ref_url(slug, name, ref);
  if (!url) return std::nullopt;
  auto bytes = fetch_url(*url);
  if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
  return bytes;
}

std::optional<std::string> fetch_page_resource(std::string_view slug, std::string_view what) {
  const auto url = page_resource_url(slug, what);
  if (!url) return std::nullopt;
  return fetch_url(*url);
}

std::vector<std::string> parse_file_list(std::string_view body) {
  std::vector<std::string> names;
  const auto doc = nlohmann::json::parse(body, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return names;
  const auto files = doc.find("files");
  if (files == doc.end() || !files->is_array()) return names;
  for (const auto& element : *files) {
    if (!element.is_object()) continue;
    auto member = element.find("path");
    if (member == element.end()) member = element.find("name");
    if (member != element.end() && member->is_string()) names.push_back(member->get<std::string>());
  }
  return names;
}

std::vector<std::string> list_page_files(std::string_view slug) {
  auto body = fetch_page_resource(slug, "files");
  if (!body) return {};
  return parse_file_list(*body);
}

Identity parse_identity(std::string_view json_text) {
  Identity id;
  const auto doc = nlohmann::json::parse(json_text, nullptr, false);
  if (doc.is_discarded()) return id;
  id.user = first_string(doc, {"data.user.username", "data.user.name", "data.user.handle",
                               "user.username", "data.username", "username"});
  const nlohmann::json* orgs = nullptr;
  if (doc.is_object()) {
    if (auto data = doc.find("data"); data != doc.end() && data->is_object()) {
      if (auto o = data->find("orgs"); o != data->end()) orgs = &*o;
    }
    if (!orgs) {
      if (auto o = doc.find("orgs"); o != doc.end()) orgs = &*o;
    }
  }
  if (!orgs || !orgs->is_array()) return id;
  for (const auto& element : *orgs) {
    std::string name;
    if (element.is_object()) {
      if (auto n = element.find("name"); n != element.end() && n->is_string())
        name = n->get<std::string>();
    } else if (element.is_string()) {
      name = element.get<std::string>();
    }
    if (!name.empty()) id.orgs.push_back(std::move(name));
  }
  return id;
}

Identity identity() {
  static std::mutex mutex;
  static std::optional<Identity> stored;
  std::lock_guard lock(mutex);
  if (!stored) {
    CommandResult r = run_capture("vorn-wiki", {"whoami", "--json"});
    stored = r.started ? parse_identity(r.out) : Identity{};
  }
  return *stored;
}

}  // namespace vorn
