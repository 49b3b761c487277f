// Commit activity of a board: its commit log with, per commit, whether the board and schematic
// changed against the previous commit and how many references came and went. Thread-safe; a
// call fetches the per-commit files in one batch (platform/batch_fetch.h).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/http.h"

namespace vorn::boards {

// What is kept of one fetched file: a 128-bit fingerprint with the length (compared instead of
// the text, so a request holds no more than two file texts at a time) and, for board files, the
// reference set.
struct FileDigest {
  uint64_t size = 0;
  uint64_t hash_a = 0;
  uint64_t hash_b = 0;
  std::set<std::string> references;

  bool same_text(const FileDigest& other) const {
    return size == other.size && hash_a == other.hash_a && hash_b == other.hash_b;
  }
};

FileDigest digest_file(std::string_view text, bool with_references);

struct CommitFiles {
  std::optional<FileDigest> board;
  std::optional<FileDigest> schematic;
};

// The log entries (newest first) enriched from the files fetched for each entry (same index).
Json enrich_activity(const Json& log, const std::vector<CommitFiles>& files);

// {"activity": [...]} for a board; every file of every commit is read in one batch.
Json board_activity(std::string_view slug);

}  // namespace vorn::boards
