// `api/in-library`: which components are already in the user's KiCad libraries, and where.
// The whole request costs a fixed number of desktop commands (two library tables, one
// part-number search, one symbol-name listing, one footprint listing) whatever the number of
// slugs or libraries; only the part documents are loaded one per slug.
// The matching itself is pure (find_presence) so it can be tested without a desktop.
// Thread-safe (no state of its own).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <altium_codec/part.h>

#include "server/http.h"

namespace vorn {

// Lower-cased, micro sign and Greek mu as "u", only ASCII letters and digits kept.
std::string match_key(std::string_view text);
// The first run of exactly four ASCII digits (not part of a longer run), or nothing.
std::optional<std::string> package_code(std::string_view text);
// Regex-escapes a part number for the search alternation ("." matches only a dot).
std::string regex_escape(std::string_view text);

// What the three desktop listings gave.
struct LibraryListings {
  std::map<std::string, std::string> mpn_hits;     // matched text (lower-case) → symbol library
  std::map<std::string, std::string> symbol_keys;  // symbol name match key → symbol library
  std::map<std::string, std::string> footprint_keys;  // footprint match key → footprint library
};

struct Presence {
  std::string by;  // "mpn", "symbol", "value+package" or "footprint"
  std::string lib;
  std::string fp_lib;
};

// Parsing of the listing outputs (POSIX "path:text" lines or Windows "path\ttext" lines).
void add_mpn_hits(LibraryListings& l, std::string_view output, bool windows);
void add_symbol_names(LibraryListings& l, std::string_view output, bool windows);
void add_footprint_files(LibraryListings& l, std::string_view output);

// The presence of one slug; `part` is null when its part document could not be loaded.
std::optional<Presence> find_presence(const LibraryListings& l, std::string_view slug,
                                      const altium_codec::VornLbrPart* part);

}  // namespace vorn
