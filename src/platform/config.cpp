// Environment-backed configuration values.
#include "platform/config.h"

#include <cstdlib>

#include "util/text.h"

namespace vorn {
namespace {

std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  std::string value = (v && *v) ? v : fallback;
  while (!value.empty() && value.back() == '/') value.pop_back();
  return value;
}

}  // namespace

const std::string& platform_base_url() {
  static const std::string v = env_or("VORN_PLATFORM_URL", VORN_DEFAULT_PLATFORM_URL);
  return v;
}

const std::string& platform_host() {
  static const std::string v = url_host(platform_base_url());
  return v;
}

const std::string& export_service_url() {
  static const std::string v = env_or("VORN_EXPORT_URL", VORN_DEFAULT_EXPORT_URL);
  return v;
}

const std::string& org_site_url() {
  static const std::string v = env_or("VORN_ORG_SITE_URL", VORN_DEFAULT_ORG_SITE_URL);
  return v;
}

const std::string& api_key_file_path() {
  static const std::string v = [] {
    const char* p = std::getenv("VORN_API_KEY_FILE");
    return std::string(p && *p ? p : "/var/run/vorn/api-key");
  }();
  return v;
}

std::string url_host(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    return to_lower(rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1));
  }
  return to_lower(rest.substr(0, rest.find(':')));
}

}  // namespace vorn
