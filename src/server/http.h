// The request and response shapes every handler works with, and the shared request helpers.
// Handlers see the raw request target (never a decoded path) and answer a Response; the server
// layer (server.h) turns that into HTTP. Pure functions; thread-safe.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn {

// nlohmann's default object is a std::map, so serialised keys come out in ascending byte order.
using Json = nlohmann::json;

struct Request {
  std::string method;  // "GET", "POST", ...
  std::string url;     // the request target exactly as received: path plus optional "?" query
  std::string body;    // POST only; empty when not valid UTF-8
  // What the asset routes read of the request headers (other handlers ignore them).
  std::string if_none_match;  // the If-None-Match header as sent
  bool accepts_gzip = false;  // Accept-Encoding lists gzip (and does not refuse it)

  std::string_view path() const;   // up to the first "?"
  std::string_view query() const;  // after the first "?", empty when none
};

struct Response {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // Bytes that live for the whole process (the embedded assets): when set they are the body,
  // sent from where they are without a copy per request.
  std::string_view static_body;
};

inline constexpr std::string_view kHtmlType = "text/html; charset=utf-8";
inline constexpr std::string_view kTextType = "text/plain; charset=UTF-8";

// Status 200, compact JSON, "application/json".
Response json_response(std::string json_text);
Response json_response(const Json& value);
// Status 404, body "not found".
Response not_found();
// A plain-text answer with the given status (404 "not rendered", "no glb", ...).
Response text_response(int status, std::string text);
Response html_response(std::string html);
Response binary_response(std::string bytes, std::string_view content_type, int status = 200);

// Value after the first "<key>=" anywhere in the URL text, up to "&" or the end, percent-decoded;
// empty when absent.
std::string query_param(std::string_view url, std::string_view key);
// Value after the first occurrence of a leading marker such as "?p=", "?slugs=", "?f=".
std::string marker_param(std::string_view url, std::string_view marker);
// True when an Accept-Encoding value accepts gzip: listed, and not with q=0.
bool accepts_gzip(std::string_view accept_encoding);
// True when an If-None-Match value names `etag` (or is "*"); weak tags compare by their value.
bool etag_matches(std::string_view if_none_match, std::string_view etag);

// True when the URL text contains the flag (for example "refresh=1") anywhere.
bool has_flag(std::string_view url, std::string_view flag);

}  // namespace vorn
