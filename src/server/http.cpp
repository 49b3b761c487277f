// Response builders and request-parameter helpers.
#include "server/http.h"

#include "util/text.h"

namespace vorn {

std::string_view Request::path() const {
  std::string_view u = url;
  return u.substr(0, u.find('?'));
}

std::string_view Request::query() const {
  std::string_view u = url;
  const size_t q = u.find('?');
  return q == std::string_view::npos ? std::string_view{} : u.substr(q + 1);
}

Response json_response(std::string json_text) {
  return Response{200, "application/json", std::move(json_text), {}, {}};
}

Response json_response(const Json& value) {
  return json_response(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Response not_found() { return text_response(404, "not found"); }

Response text_response(int status, std::string text) {
  return Response{status, std::string(kTextType), std::move(text), {}, {}};
}

Response html_response(std::string html) {
  return Response{200, std::string(kHtmlType), std::move(html), {}, {}};
}

Response binary_response(std::string bytes, std::string_view content_type, int status) {
  return Response{status, std::string(content_type), std::move(bytes), {}, {}};
}

namespace {

std::string value_after(std::string_view url, size_t start) {
  std::string_view rest = url.substr(start);
  return percent_decode(rest.substr(0, rest.find('&')));
}

}  // namespace

std::string query_param(std::string_view url, std::string_view key) {
  const std::string needle = std::string(key) + "=";
  const size_t at = url.find(needle);
  return at == std::string_view::npos ? std::string() : value_after(url, at + needle.size());
}

std::string marker_param(std::string_view url, std::string_view marker) {
  const size_t at = url.find(marker);
  return at == std::string_view::npos ? std::string() : value_after(url, at + marker.size());
}

bool has_flag(std::string_view url, std::string_view flag) {
  return url.find(flag) != std::string_view::npos;
}

bool accepts_gzip(std::string_view accept_encoding) {
  for (const std::string& item : split(accept_encoding, ",")) {
    const std::string_view entry = trim(item);
    const std::string_view coding = trim(entry.substr(0, entry.find(';')));
    if (to_lower(coding) != "gzip") continue;
    const size_t q = entry.find("q=");
    if (q == std::string_view::npos) return true;
    const std::string_view value = trim(entry.substr(q + 2));
    return value.find_first_not_of("0.") != std::string_view::npos;  // q=0, q=0.0 refuse it
  }
  return false;
}

bool etag_matches(std::string_view if_none_match, std::string_view etag) {
  for (const std::string& item : split(if_none_match, ",")) {
    std::string_view tag = trim(item);
    if (tag == "*") return true;
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag == etag) return true;
  }
  return false;
}

}  // namespace vorn
