// A small JSON reader that keeps byte offsets for every value, so that typed readers built
// on it can report errors with a line and a column ("expected `,` or `}` at line 3 column
// 7"). Numbers keep the form they were written in: unsigned integer, negative integer or
// floating point. Object members keep document order and duplicates.
//
// Internal to the codec. Pure; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace altium_codec::detail {

enum class JsonKind { null, boolean, unsigned_int, negative_int, floating, string, array, object };

struct JsonMember;

struct JsonNode {
  JsonKind kind = JsonKind::null;
  bool boolean = false;
  uint64_t unsigned_int = 0;
  int64_t negative_int = 0;
  double floating = 0;
  std::string string;
  std::vector<JsonNode> items;      // array elements
  std::vector<JsonMember> members;  // object members in document order
  size_t start = 0;                 // offset of the first byte of the value
  size_t end = 0;                   // offset just past the value
};

struct JsonMember {
  std::string key;
  size_t key_end = 0;  // offset just past the key's closing quote
  JsonNode value;
};

// A failure with the byte offset its line and column are computed from.
struct JsonError {
  std::string message;
  size_t offset = 0;
};

// Parses one JSON value filling the whole text (surrounding whitespace allowed).
std::expected<JsonNode, JsonError> parse_json_dom(std::string_view text);

// "{message} at line {l} column {c}": line counts line feeds before `offset` plus one;
// column counts the bytes between the last line feed and `offset`.
std::string with_position(std::string_view text, const JsonError& error);

// How a value is named in type errors: "string \"x\"", "integer `5`", "floating point
// `1.5`", "boolean `true`", "null", "sequence", "map".
std::string describe_unexpected(const JsonNode& node);

// Shortest round-trip text of a double with a decimal point or exponent ("1.0", "1e20").
std::string shortest_float_text(double value);

}  // namespace altium_codec::detail
