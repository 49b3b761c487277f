// Merging new symbols into a KiCad symbol library text without touching what is there, and
// verifying the result before it may be sent. Blocks are cut the way KiCad reads them:
// parentheses are counted outside quoted strings only (a backslash escapes the next character).
// Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// The nine characters that open a symbol block: "(symbol " and a double quote.
inline constexpr std::string_view kSymbolOpening = "(symbol \"";

struct SymbolEntry {
  std::string name;
  std::string block;  // from the opening "(" to its matching ")"
};

// Position of the ")" matching the "(" at `open`, counting outside quoted strings only.
std::optional<size_t> matching_close(std::string_view text, size_t open);

// Index just past the KiCad quoted string (backslash escapes) that starts at `quote`;
// text.size() when it is unterminated.
size_t skip_quoted_string(std::string_view text, size_t quote);

// The first symbol block of a library text (as the symbol writer produces it), or nothing when
// the text has no symbol opening, no closing quote after the name or no matching ")".
std::optional<SymbolEntry> first_symbol_entry(std::string_view library_text);

// Occurrences of the symbol opening anywhere in the text (the shrink guard's count).
size_t count_symbol_openings(std::string_view text);

// "(kicad_symbol_lib\n\t(version 20231120)\n\t(generator \"vorn-lbr\")\n\t(generator_version \"8.0\")\n)\n"
std::string new_library_header();

struct MergeResult {
  std::string base;                   // the pulled text, or the header when it had no library
  std::string text;                   // the merged library
  std::vector<std::string> inserted;  // names of the entries actually added, in order
};

// Adds every entry whose name the base does not hold yet (existing symbols always win; of two
// new entries with one name the first wins) before the base's last ")".
MergeResult merge_symbols(const std::optional<std::string>& pulled, const std::vector<SymbolEntry>& entries);

// Checks a merge before it is sent: the merged text parses, its root is "kicad_symbol_lib", it
// holds every top-level symbol the base held plus the inserted ones (and no other), and every
// top-level symbol block of the base is still there byte for byte, in order. The reason when
// it fails.
std::optional<std::string> verify_merge(const MergeResult& merge);

}  // namespace vorn
