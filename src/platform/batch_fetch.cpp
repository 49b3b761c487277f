// Batch fetch: the curl config file, one curl run per chunk, and the per-transfer status lines.
#include "platform/batch_fetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/platform_api.h"
#include "proc/runner.h"
#include "util/text.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// A folder only this process's user can enter, removed (with everything in it) on destruction.
class PrivateFolder {
 public:
  PrivateFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vorn-fetch-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;  // mkdtemp creates it with mode 0700
  }
  ~PrivateFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A config-file value: double-quoted, with backslash and quote escaped. Control characters
// never get here (see fetchable), so a value can neither end its line nor its quotes early.
std::string config_quoted(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// A URL that may go into the config file: a web URL without control characters (curl refuses
// those in a URL anyway, so fetch_url yields nothing for them too).
bool fetchable(const std::string& url) {
  if (!is_web_url(url)) return false;
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// The options every transfer carries, the same ones fetch_url passes; the status line names
// the transfer by its output file.
std::string transfer_options(const BatchLimits& limits) {
  std::string text;
  text += "fail\nlocation\ngloboff\n";
  text += "max-time = " + std::to_string(limits.max_time_seconds) + "\n";
  text += "proto = \"=http,https\"\nproto-redir = \"=http,https\"\n";
  text += "write-out = \"%{filename_effective}\\t%{exitcode}\\t%{size_download}\\n\"\n";
  return text;
}

struct Transfer {
  size_t index;  // into the caller's URL list
  std::optional<std::string> key;
};

// The config text: one group of transfers per API key (none, or the platform's), each group
// with its own options, separated by "next" so a key header never applies to another group.
std::string config_text(const std::vector<std::string>& urls, const std::vector<Transfer>& chunk,
                        const std::string& folder, const BatchLimits& limits) {
  std::string text;
  bool first_group = true;
  for (const bool keyed : {false, true}) {
    std::string group;
    for (const Transfer& t : chunk) {
      if (t.key.has_value() != keyed) continue;
      if (group.empty()) {
        group = transfer_options(limits);
        if (keyed) group += "header = " + config_quoted("Authorization: Bearer " + *t.key) + "\n";
      }
      group += "url = " + config_quoted(urls[t.index]) + "\n";
      group += "output = " + config_quoted(folder + "/" + std::to_string(t.index)) + "\n";
    }
    if (group.empty()) continue;
    if (!first_group) text += "next\n";
    text += group;
    first_group = false;
  }
  return text;
}

// Writes the config file, created for the owner only (0600) and never over an existing file.
bool write_private_file(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0 && done == text.size();
}

bool is_decimal(std::string_view text) {
  return !text.empty() && text.size() < 20 && text.find_first_not_of("0123456789") == text.npos;
}

// The whole file, read straight into a string of its size; nothing for an empty or unreadable one.
std::optional<std::string> read_body(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string body;
  struct stat st {};
  if (fstat(fd, &st) == 0 && st.st_size > 0) body.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < body.size()) {
    const ssize_t n = read(fd, body.data() + done, body.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  body.resize(done);
  if (body.empty()) return std::nullopt;
  return body;
}

// curl exit codes that settle a transfer: success, an HTTP status of 400 or more (--fail), and
// the time limit. Any other failure (a refused or reset connection, an empty reply, a reused
// connection the server had just closed) says nothing about the URL, so it is tried once more.
bool settled(std::string_view exit_code) {
  return exit_code == "0" || exit_code == "22" || exit_code == "28";
}

// Runs one chunk in one curl process; hands the body of every transfer that succeeded to
// `sink`, as soon as it is read, and marks it delivered. Transfers that failed unsettled, or that
// curl did not report, are added to `retry` (when given).
void run_chunk(const std::vector<std::string>& urls, const std::vector<Transfer>& chunk,
               const BatchLimits& limits, const FetchSink& sink, std::vector<bool>& delivered,
               std::vector<Transfer>* retry) {
  PrivateFolder folder;
  if (!folder.ok()) return;
  const std::string config = folder.path() + "/transfers.conf";
  if (!write_private_file(config, config_text(urls, chunk, folder.path(), limits))) return;
  // --parallel-immediate: without it curl holds every transfer to a host until the first
  // answer shows whether the connection can multiplex, so one slow answer would stall the rest.
  const CommandResult r =
      run_capture("curl", {"-s", "--parallel", "--parallel-immediate", "--parallel-max",
                           std::to_string(limits.parallel), "--config", config});
  if (!r.started) return;
  // One line per finished transfer: "<folder>/<index>\t<exit code>\t<bytes received>".
  const std::string prefix = folder.path() + "/";
  std::vector<bool> answered(urls.size(), false);  // settled one way or the other
  for (const auto& line : split(r.out, "\n")) {
    const auto fields = split(line, "\t");
    if (fields.size() != 3 || !starts_with(fields[0], prefix)) continue;
    const std::string name = fields[0].substr(prefix.size());
    if (!is_decimal(name) || !is_decimal(fields[2])) continue;
    const size_t index = std::stoul(name);
    if (index >= urls.size() || delivered[index]) continue;
    answered[index] = settled(fields[1]);
    if (fields[1] != "0") continue;
    auto body = read_body(prefix + name);
    // curl 7.88 can lose the body of a transfer in parallel mode while reporting success; a
    // file that disagrees with the byte count is fetched again on its own.
    if ((body ? body->size() : 0) != std::stoull(fields[2])) body = fetch_url(urls[index]);
    std::filesystem::remove(prefix + name);
    delivered[index] = true;
    sink(index, std::move(body));
  }
  if (!retry) return;
  // Transfers that failed unsettled, or of which curl said nothing at all.
  for (const Transfer& t : chunk) {
    if (!answered[t.index] && !delivered[t.index]) retry->push_back(t);
  }
}

// One chunk, then its unsettled transfers once more with fewer at a time.
void run_chunk_with_retry(const std::vector<std::string>& urls, const std::vector<Transfer>& chunk,
                          const BatchLimits& limits, const FetchSink& sink,
                          std::vector<bool>& delivered) {
  std::vector<Transfer> retry;
  run_chunk(urls, chunk, limits, sink, delivered, &retry);
  if (retry.empty()) return;
  BatchLimits gentle = limits;
  gentle.parallel = std::max<size_t>(limits.parallel / 8, 1);
  run_chunk(urls, retry, gentle, sink, delivered, nullptr);
}

}  // namespace

void for_each_fetched(const std::vector<std::string>& urls, const FetchSink& sink,
                      const BatchLimits& limits) {
  std::vector<bool> delivered(urls.size(), false);
  const size_t chunk_size = std::max<size_t>(limits.chunk, 1);
  std::vector<Transfer> chunk;
  for (size_t i = 0; i < urls.size(); ++i) {
    if (!fetchable(urls[i])) continue;
    chunk.push_back({i, api_key_for(urls[i])});
    if (chunk.size() == chunk_size) {
      run_chunk_with_retry(urls, chunk, limits, sink, delivered);
      chunk.clear();
    }
  }
  if (!chunk.empty()) run_chunk_with_retry(urls, chunk, limits, sink, delivered);
  for (size_t i = 0; i < urls.size(); ++i) {
    if (!delivered[i]) sink(i, std::nullopt);
  }
}

FetchResults fetch_urls(const std::vector<std::string>& urls, const BatchLimits& limits) {
  FetchResults results(urls.size());
  for_each_fetched(
      urls, [&](size_t i, std::optional<std::string> body) { results[i] = std::move(body); },
      limits);
  return results;
}

void for_each_page_file(const std::vector<PageFileRequest>& requests, const FetchSink& sink) {
  std::vector<std::string> urls;
  std::vector<size_t> owner;  // request index of each URL
  std::vector<bool> asked(requests.size(), false);
  for (size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    const auto url = r.ref ? page_file_at_ref_url(r.slug, r.name, *r.ref)
                           : (r.name ? page_file_url(r.slug, *r.name) : std::nullopt);
    if (!url) continue;
    urls.push_back(*url);
    owner.push_back(i);
    asked[i] = true;
  }
  for_each_fetched(urls, [&](size_t k, std::optional<std::string> body) {
    if (body && requests[owner[k]].ref && !is_valid_utf8(*body)) body.reset();
    sink(owner[k], std::move(body));
  });
  for (size_t i = 0; i < requests.size(); ++i) {
    if (!asked[i]) sink(i, std::nullopt);
  }
}

FetchResults fetch_page_files(const std::vector<PageFileRequest>& requests) {
  FetchResults results(requests.size());
  for_each_page_file(
      requests, [&](size_t i, std::optional<std::string> body) { results[i] = std::move(body); });
  return results;
}

FetchResults fetch_page_files_text(const std::vector<PageFileRequest>& requests) {
  FetchResults results = fetch_page_files(requests);
  for (auto& body : results) {
    if (body) *body = to_utf8_lossy(*body);  // a ref's answer is valid already: unchanged
  }
  return results;
}

std::vector<std::vector<std::string>> list_pages_files(const std::vector<std::string>& slugs) {
  std::vector<std::string> urls;
  std::vector<size_t> owner;
  for (size_t i = 0; i < slugs.size(); ++i) {
    if (auto url = page_resource_url(slugs[i], "files")) {
      urls.push_back(std::move(*url));
      owner.push_back(i);
    }
  }
  const FetchResults bodies = fetch_urls(urls);
  std::vector<std::vector<std::string>> lists(slugs.size());
  for (size_t k = 0; k < urls.size(); ++k) {
    if (bodies[k]) lists[owner[k]] = parse_file_list(*bodies[k]);
  }
  return lists;
}

}  // namespace vorn
