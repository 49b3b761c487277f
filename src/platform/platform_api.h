// Platform API access: every read of the pages platform (and every other web GET) goes through
// fetch_url, which runs curl. Every operation yields nothing on any failure; callers choose their
// own fallback. Thread-safe: the API key and the identity are each computed once under a lock.
//
// Slugs and file names are placed into URLs as they are, so they are checked first: a slug or
// name that could reshape the request (dot segments, "?", "#", "%", white space, control
// characters, backslashes, empty segments) yields nothing without running curl.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

struct Identity {
  std::string user;
  std::vector<std::string> orgs;
};

// True when `text` can be placed into a platform URL path unchanged.
bool is_safe_url_path(std::string_view text);

// The page a received slug names. The page sends slugs URI-encoded, so an owner/name slug
// arrives as "owner%2Fname": every "%2F" (either case of the hex digits) stands for "/". The
// decoded text is the slug when it is safe to place into a platform path; otherwise the received
// text comes back unchanged, and since it then holds a "%" or an unsafe segment, every platform
// read and every folder name made from it refuses it. Every route, the apply request and the
// render mode take their slugs through here, so both spellings name one page, one work folder,
// one library and one cache entry.
std::string page_slug(std::string_view received);

// The page's own name: the part of its slug after the last "/" ("acme/blinky" -> "blinky"; a
// one-part slug is its own name). Part numbers, default folder names and model file names are
// made from it, never from the owner part.
std::string_view page_name(std::string_view slug);

// Body of an http(s) GET, or nothing (curl missing, HTTP status >= 400, time-out, empty body,
// a scheme other than http/https).
std::optional<std::string> fetch_url(const std::string& url);

std::optional<std::string> fetch_page_file(std::string_view slug, std::string_view name);
// As fetch_page_file, decoded as UTF-8 with invalid sequences replaced.
std::optional<std::string> fetch_page_file_text(std::string_view slug, std::string_view name);
// The file at a version reference; nothing without a name or when the body is not valid UTF-8.
std::optional<std::string> fetch_page_file_at_ref(std::string_view slug,
                                                  const std::optional<std::string>& name,
                                                  std::string_view ref);
// File names of a page in the platform's order; empty on any failure.
std::vector<std::string> list_page_files(std::string_view slug);
// A page API path ("/api/v1/pages/<slug>/<what>"), fetched; nothing for an unsafe slug.
std::optional<std::string> fetch_page_resource(std::string_view slug, std::string_view what);

// The API key: the key file (trimmed), else VORN_API_KEY; computed once.
std::optional<std::string> api_key();

// The rules every GET shares, whether it runs alone or in a batch:
// - only http and https URLs are fetched;
// - the key is sent only to a URL whose host equals the platform host, and never a key that
//   could break the header line.
bool is_web_url(std::string_view url);
std::optional<std::string> api_key_for(std::string_view url);

// Platform URLs of page files, or nothing when the slug, the name (or the ref) could reshape
// the request. fetch_page_file and fetch_page_file_at_ref fetch exactly these.
std::optional<std::string> page_file_url(std::string_view slug, std::string_view name);
std::optional<std::string> page_file_at_ref_url(std::string_view slug,
                                                const std::optional<std::string>& name,
                                                std::string_view ref);
std::optional<std::string> page_resource_url(std::string_view slug, std::string_view what);
// The names of a file-list answer, in order (the rules of list_page_files).
std::vector<std::string> parse_file_list(std::string_view body);

// The user's identity from `vorn-wiki whoami --json`; computed once.
Identity identity();

// Identity parsed from vorn-wiki's output (exposed for tests).
Identity parse_identity(std::string_view json_text);

}  // namespace vorn
