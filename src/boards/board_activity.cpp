// Commit activity: per-commit fetches through a small bounded pool, then pairwise comparison.
#include "boards/board_activity.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "boards/board_data.h"
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

// Runs job(i) for i in [0, count) on up to `parallelism` threads (the caller's among them).
template <typename Job>
void run_bounded(size_t count, size_t parallelism, Job job) {
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i = next++; i < count; i = next++) job(i);
  };
  const size_t threads = std::min(count, std::max<size_t>(parallelism, 1));
  std::vector<std::jthread> pool;
  for (size_t t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // fewer threads; the caller's own loop still finishes the work
    }
  }
  worker();
}

bool differ(const std::optional<FileDigest>& a, const std::optional<FileDigest>& b) {
  if (a.has_value() != b.has_value()) return true;
  return a && !a->same_text(*b);
}

size_t count_missing(const std::set<std::string>& from, const std::set<std::string>& in) {
  return static_cast<size_t>(std::count_if(from.begin(), from.end(), [&](const std::string& r) { return !in.count(r); }));
}

}  // namespace

FileDigest digest_file(std::string_view text, bool with_references) {
  FileDigest d;
  d.size = text.size();
  d.hash_a = siphash13(text, 0x0123456789abcdefULL, 0xfedcba9876543210ULL);
  d.hash_b = siphash13(text, 0x5bd1e9955bd1e995ULL, 0x9e3779b97f4a7c15ULL);
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

Json board_activity(std::string_view slug, size_t parallelism) {
  const Json log = commit_log(slug);
  if (!log.is_array() || log.empty()) return Json{{"activity", Json::array()}};
  const FileChoice choice = choose_files(list_page_files(slug));
  std::vector<CommitFiles> files(log.size());
  // Two fetches per commit: index 2i is the board of entry i, 2i+1 its schematic.
  run_bounded(log.size() * 2, parallelism, [&](size_t k) {
    const Json& entry = log[k / 2];
    if (!entry.is_object()) return;
    auto hash = entry.find("hash");
    if (hash == entry.end() || !hash->is_string()) return;
    const std::string& ref = hash->get_ref<const std::string&>();
    const bool board = k % 2 == 0;
    auto text = fetch_page_file_at_ref(slug, board ? choice.board : choice.schematic, ref);
    if (!text) return;
    (board ? files[k / 2].board : files[k / 2].schematic) = digest_file(*text, board);
  });
  return Json{{"activity", enrich_activity(log, files)}};
}

}  // namespace vorn::boards
