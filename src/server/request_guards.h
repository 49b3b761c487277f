// The request guards every request passes before routing. They keep other web pages away from
// the manager: any page the user visits can make the browser send requests to localhost, and GET
// routes open dialogs and run commands on the desktop.
//
//  - Host: on a loopback bind, a Host that is not a loopback name is refused (DNS rebinding).
//  - Fetch metadata: a browser marks requests made for another site ("Sec-Fetch-Site" of
//    "cross-site" or "same-site"; a page on another port of localhost is same-site). They are
//    refused, except a top-level GET navigation to "/", so a link to the manager still opens it.
//  - Origin: a request, of any method, whose Origin does not name the Host it was sent to.
// Requests without these headers (curl, scripts, the tools) pass unchanged. Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// The parts of a request the guards look at; a header that is absent is nullopt.
struct GuardedRequest {
  std::string_view method;
  std::string_view path;  // without the query
  std::optional<std::string_view> host;
  std::optional<std::string_view> origin;
  std::optional<std::string_view> fetch_site;
  std::optional<std::string_view> fetch_mode;
  std::optional<std::string_view> fetch_dest;
};

// The plain-text reason for a 403, or nothing when the request may go on. `guard_host` turns on
// the Host check (loopback binds).
std::optional<std::string> refusal_reason(const GuardedRequest& request, bool guard_host);

// True for localhost, 127.0.0.0/8 and ::1 (with or without brackets).
bool is_loopback_host(std::string_view host);

}  // namespace vorn
