// Batch fetch: many GETs carried by one curl process, which runs them in parallel over reused
// connections. For every URL the answer is exactly what fetch_url would give for it alone (the
// body, or nothing on a status of 400 or more, a time-out, an empty body, a refused scheme), and
// a failed transfer affects only its own URL.
//
// The rules of the single fetch hold for every transfer: no URL globbing, http and https only
// (redirects included), a per-transfer time limit, and the API key only for URLs whose host is
// the platform host. The transfers are handed to curl in a config file (so the key never shows
// on a command line); that file lives in a private folder of its own, is readable by the owner
// only, and is removed with the folder when the batch ends. Large batches run as consecutive
// chunks, one curl process at a time per caller.
//
// The page-level helpers build their URLs with the same checks as the single reads
// (platform_api.h): an unsafe slug, name or ref yields nothing for its entry and never reaches
// curl. Thread-safe: every batch has its own folder.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

struct BatchLimits {
  int max_time_seconds = 12;  // per transfer, as for fetch_url
  size_t parallel = 64;       // transfers open at once within one curl process
  size_t chunk = 2500;        // transfers handed to one curl process
};

using FetchResults = std::vector<std::optional<std::string>>;

// Called once per URL (or request) with its index and answer, in the order the answers arrive;
// a body is handed over as soon as it is read, so a caller that reduces each one at once never
// holds the whole batch in memory.
using FetchSink = std::function<void(size_t index, std::optional<std::string> body)>;

// One answer per URL, in the order of `urls`.
FetchResults fetch_urls(const std::vector<std::string>& urls, const BatchLimits& limits = {});
void for_each_fetched(const std::vector<std::string>& urls, const FetchSink& sink,
                      const BatchLimits& limits = {});

// A file of a page, optionally at a version reference.
struct PageFileRequest {
  std::string slug;
  std::optional<std::string> name;
  std::optional<std::string> ref;
};

// As fetch_page_file (no ref) or fetch_page_file_at_ref (with a ref), for each request.
FetchResults fetch_page_files(const std::vector<PageFileRequest>& requests);
void for_each_page_file(const std::vector<PageFileRequest>& requests, const FetchSink& sink);
// As fetch_page_file_text (no ref) or fetch_page_file_at_ref (with a ref), for each request.
FetchResults fetch_page_files_text(const std::vector<PageFileRequest>& requests);

// As list_page_files, for each slug.
std::vector<std::vector<std::string>> list_pages_files(const std::vector<std::string>& slugs);

}  // namespace vorn
