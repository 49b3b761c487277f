// Commit activity: the board and schematic of every commit fetched as one batch, then pairwise
// comparison.
#include "boards/board_activity.h"

#include <algorithm>
#include <future>
#include <memory>
#include <system_error>
#include <tuple>

#include "boards/board_data.h"
#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "util/siphash.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

struct FileChoice {
  std::optional<std::string> board;
  std::optional<std::string> schematic;
};

FileChoice choose_files(const std::vector<std::string>& paths) {
  FileChoice c;
  for (const std::string& p : paths) {
    if (!c.board && ends_with(p, ".kicad_pcb")) c.board = p;
    if (!c.schematic && ends_with(p, ".kicad_sch")) c.schematic = p;
  }
  return c;
}

bool differ(const std::optional<FileDigest>& a, const std::optional<FileDigest>& b) {
  if (a.has_value() != b.has_value()) return true;
  return a && !a->same_text(*b);
}

size_t count_missing(const std::set<std::string>& from, const std::set<std::string>& in) {
  return static_cast<size_t>(
      std::count_if(from.begin(), from.end(), [&](const std::string& r) { return !in.count(r); }));
}

}  // namespace

FileDigest digest_file(std::string_view text, bool with_references) {
  FileDigest d;
  d.size = text.size();
  std::tie(d.hash_a, d.hash_b) = siphash13_128(text, 0x0123456789abcdefULL, 0xfedcba9876543210ULL);
  if (with_references) d.references = reference_set(text);
  return d;
}

Json enrich_activity(const Json& log, const std::vector<CommitFiles>& files) {
  Json out = Json::array();
  for (size_t i = 0; i < log.size(); ++i) {
    Json entry = log[i];
    const bool has_older = i + 1 < log.size() && i + 1 < files.size();
    if (has_older && (entry.is_object() || entry.is_null())) {
      const CommitFiles& now = files[i];
      const CommitFiles& before = files[i + 1];
      entry["pcb_changed"] = differ(now.board, before.board);
      entry["sch_changed"] = differ(now.schematic, before.schematic);
      if (now.board && before.board) {
        entry["comp_added"] = count_missing(now.board->references, before.board->references);
        entry["comp_removed"] = count_missing(before.board->references, now.board->references);
      }
    }
    out.push_back(std::move(entry));
  }
  return out;
}

Json board_activity(std::string_view slug) {
  const Json log = commit_log(slug);
  if (!log.is_array() || log.empty()) return Json{{"activity", Json::array()}};
  const FileChoice choice = choose_files(list_page_files(slug));
  // Two files per commit: request 2i is the board of entry i, 2i+1 its schematic.
  std::vector<PageFileRequest> requests;
  for (const Json& entry : log) {
    std::optional<std::string> ref;
    if (entry.is_object()) {
      auto hash = entry.find("hash");
      if (hash != entry.end() && hash->is_string()) ref = hash->get<std::string>();
    }
    // No ref: no name either, so the request yields nothing without reaching the platform.
    requests.push_back({std::string(slug), ref ? choice.board : std::nullopt, ref.value_or("")});
    requests.push_back(
        {std::string(slug), ref ? choice.schematic : std::nullopt, ref.value_or("")});
  }
  // Each text is reduced to its digest as it arrives, on two threads: every other text goes to
  // a helper while this thread reads and digests the next, so at most two texts are held.
  std::vector<CommitFiles> files(log.size());
  auto digest_into = [&files](size_t k, std::string text) {
    const bool board = k % 2 == 0;
    (board ? files[k / 2].board : files[k / 2].schematic) = digest_file(text, board);
  };
  std::future<void> helper;
  for_each_page_file(requests, [&](size_t k, std::optional<std::string> body) {
    if (!body) return;
    auto text = std::make_shared<std::string>(std::move(*body));
    if (!helper.valid()) {
      try {
        helper = std::async(std::launch::async,
                            [&digest_into, k, text] { digest_into(k, std::move(*text)); });
        return;
      } catch (const std::system_error&) {
        // No thread to be had: the text (still held here) is digested on this thread.
      }
    }
    digest_into(k, std::move(*text));
    if (helper.valid()) helper.get();
  });
  if (helper.valid()) helper.get();
  return Json{{"activity", enrich_activity(log, files)}};
}

}  // namespace vorn::boards
