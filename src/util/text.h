// Small text helpers shared by every subsystem: UTF-8 checking and lossy decoding, trimming,
// case mapping, percent-decoding of request parameters, Base64 and UTF-16LE encoding (for the
// PowerShell launch form) and POSIX shell quoting. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// True when `bytes` is well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

// Decodes bytes as UTF-8, replacing every ill-formed sequence with U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// Removes leading and trailing ASCII white space.
std::string_view trim(std::string_view text);

// Unicode-aware enough for slugs and names: ASCII letters plus the Latin-1 and Greek/Cyrillic
// ranges that have simple one-to-one case pairs.
std::string to_upper(std::string_view text);
std::string to_lower(std::string_view text);

bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);

// "%XX" becomes the byte, "+" a space, a lone "%" stays; invalid UTF-8 becomes U+FFFD.
std::string percent_decode(std::string_view text);

// Standard Base64 with padding.
std::string base64_encode(std::string_view bytes);

// UTF-8 text to UTF-16 little-endian bytes (invalid input is decoded lossily first).
std::string utf16le_encode(std::string_view utf8);

// POSIX single-quote quoting: it's -> 'it'\''s'; the empty text -> ''.
std::string posix_quote(std::string_view arg);

// The inside of a PowerShell single-quoted string holding `text`: PowerShell ends such a string
// at the ASCII quote and at U+2018, U+2019, U+201A and U+201B alike, so each of the five is
// doubled (a doubled quote stands for itself). The text is decoded lossily as UTF-8 first, so no
// malformed sequence can turn into a quote later. Every PowerShell template fills its quoted
// values through this.
std::string powershell_quote_inner(std::string_view text);
// "'" + powershell_quote_inner(text) + "'".
std::string powershell_quote(std::string_view text);

// Splits at every occurrence of `sep` (empty pieces kept).
std::vector<std::string> split(std::string_view text, std::string_view sep);

// Replaces every occurrence of `from` with `to`.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace vorn
