// Host, fetch-metadata and Origin checks.
#include "server/request_guards.h"

#include <arpa/inet.h>

#include "util/text.h"

namespace vorn {
namespace {

// The host part of a Host authority ("localhost:8785" -> "localhost").
std::string authority_host(std::string_view authority) {
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    return to_lower(
        authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1));
  }
  return to_lower(authority.substr(0, authority.find(':')));
}

// "http://localhost:8785" -> "localhost:8785"; empty for an opaque origin such as "null".
std::string origin_authority(std::string_view origin) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos) return "";
  const std::string_view rest = origin.substr(scheme + 3);
  return to_lower(rest.substr(0, rest.find('/')));
}

bool equals_ignoring_case(std::optional<std::string_view> value, std::string_view expected) {
  return value && to_lower(trim(*value)) == expected;
}

bool is_from_another_site(const GuardedRequest& r) {
  return equals_ignoring_case(r.fetch_site, "cross-site") ||
         equals_ignoring_case(r.fetch_site, "same-site");
}

// A link followed in the browser's own window: the page itself may be opened from anywhere.
bool is_top_level_navigation_to_page(const GuardedRequest& r) {
  return r.method == "GET" && r.path == "/" && equals_ignoring_case(r.fetch_mode, "navigate") &&
         equals_ignoring_case(r.fetch_dest, "document");
}

}  // namespace

bool is_loopback_host(std::string_view host) {
  std::string h = to_lower(host);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h == "localhost" || h == "::1") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return false;
}

std::optional<std::string> refusal_reason(const GuardedRequest& r, bool guard_host) {
  const std::string_view host = r.host.value_or("");
  if (guard_host && !host.empty() && !is_loopback_host(authority_host(host))) {
    return "forbidden: this server only answers requests addressed to localhost";
  }
  if (is_from_another_site(r) && !is_top_level_navigation_to_page(r)) {
    return "forbidden: requests made by another web site are refused";
  }
  if (r.origin && (origin_authority(*r.origin).empty() ||
                   origin_authority(*r.origin) != to_lower(trim(host)))) {
    return "forbidden: cross-origin request refused";
  }
  return std::nullopt;
}

}  // namespace vorn
