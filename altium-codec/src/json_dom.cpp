#include "json_dom.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace altium_codec::detail {
namespace {

// Containers may nest this deep; the 128th level fails (bounds stack use).
constexpr int kMaxDepth = 128;

constexpr std::string_view kEofValue = "EOF while parsing a value";
constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kInvalidCodePoint = "invalid unicode code point";
constexpr std::string_view kControlChar =
    "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kUnexpectedEndOfHex = "unexpected end of hex escape";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the valid UTF-8 sequence starting at `s[i]` (non-ASCII lead), or 0.
size_t utf8_sequence_length(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  size_t len = 0;
  uint32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    return 0;
  }
  return len;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::expected<JsonNode, JsonError> parse_document() {
    JsonNode root;
    if (!parse_value(root)) return std::unexpected(std::move(error_));
    skip_whitespace();
    if (index_ < text_.size()) {
      fail_peek(kTrailingCharacters);
      return std::unexpected(std::move(error_));
    }
    return root;
  }

 private:
  bool at_end() const { return index_ >= text_.size(); }
  char peek() const { return text_[index_]; }

  void skip_whitespace() {
    while (index_ < text_.size()) {
      char c = text_[index_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') break;
      ++index_;
    }
  }

  // An error located just past the consumed input.
  bool fail_here(std::string_view message) {
    error_ = {std::string(message), index_};
    return false;
  }
  // An error located on the next, not yet consumed, byte.
  bool fail_peek(std::string_view message) {
    error_ = {std::string(message), std::min(index_ + 1, text_.size())};
    return false;
  }

  bool parse_value(JsonNode& node) {
    skip_whitespace();
    if (at_end()) return fail_peek(kEofValue);
    node.start = index_;
    bool ok = true;
    switch (peek()) {
      case 'n':
        ++index_;
        ok = parse_ident("ull");
        node.kind = JsonKind::null;
        break;
      case 't':
        ++index_;
        ok = parse_ident("rue");
        node.kind = JsonKind::boolean;
        node.boolean = true;
        break;
      case 'f':
        ++index_;
        ok = parse_ident("alse");
        node.kind = JsonKind::boolean;
        node.boolean = false;
        break;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        ok = parse_number(node);
        break;
      case '"':
        ++index_;
        node.kind = JsonKind::string;
        ok = parse_string(node.string);
        break;
      case '[':
        ok = parse_array(node);
        break;
      case '{':
        ok = parse_object(node);
        break;
      default:
        return fail_peek(kExpectedValue);
    }
    node.end = index_;
    return ok;
  }

  bool parse_ident(std::string_view rest) {
    for (char expected : rest) {
      if (at_end()) return fail_here(kEofValue);
      char c = text_[index_++];
      if (c != expected) return fail_here(kExpectedIdent);
    }
    return true;
  }

  bool parse_number(JsonNode& node) {
    size_t begin = index_;
    bool negative = false;
    if (peek() == '-') {
      negative = true;
      ++index_;
    }
    if (at_end()) return fail_here(kEofValue);
    char first = text_[index_++];
    if (!is_digit(first)) return fail_here(kInvalidNumber);
    if (first == '0') {
      if (!at_end() && is_digit(peek())) return fail_peek(kInvalidNumber);
    } else {
      while (!at_end() && is_digit(peek())) ++index_;
    }
    bool integral = true;
    if (!at_end() && peek() == '.') {
      integral = false;
      ++index_;
      if (at_end()) return fail_peek(kEofValue);
      if (!is_digit(peek())) return fail_peek(kInvalidNumber);
      while (!at_end() && is_digit(peek())) ++index_;
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      integral = false;
      ++index_;
      if (!at_end() && (peek() == '+' || peek() == '-')) ++index_;
      if (at_end()) return fail_here(kEofValue);
      char c = text_[index_++];
      if (!is_digit(c)) return fail_here(kInvalidNumber);
      while (!at_end() && is_digit(peek())) ++index_;
    }
    std::string_view lexeme = text_.substr(begin, index_ - begin);
    if (integral) {
      std::string_view digits = negative ? lexeme.substr(1) : lexeme;
      uint64_t magnitude = 0;
      auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
      if (ec == std::errc() && ptr == digits.data() + digits.size()) {
        if (!negative) {
          node.kind = JsonKind::unsigned_int;
          node.unsigned_int = magnitude;
          return true;
        }
        // "-0" and magnitudes beyond the signed range are read as floating point.
        if (magnitude != 0 && magnitude <= uint64_t{1} << 63) {
          node.kind = JsonKind::negative_int;
          node.negative_int = static_cast<int64_t>(0 - magnitude);
          return true;
        }
      }
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(lexeme.data(), lexeme.data() + lexeme.size(), value);
    if (ec == std::errc::result_out_of_range) {
      // from_chars reports both overflow and underflow; strtod tells them apart.
      std::string copy(lexeme);
      value = std::strtod(copy.c_str(), nullptr);
    }
    if (!std::isfinite(value)) return fail_here(kNumberOutOfRange);
    node.kind = JsonKind::floating;
    node.floating = value;
    return true;
  }

  bool parse_hex4(uint32_t& out) {
    if (index_ + 4 > text_.size()) {
      index_ = text_.size();
      return fail_here(kEofString);
    }
    out = 0;
    for (int k = 0; k < 4; ++k) {
      int v = hex_value(text_[index_++]);
      if (v < 0) return fail_here(kInvalidEscape);
      out = (out << 4) | static_cast<uint32_t>(v);
    }
    return true;
  }

  // Reads string content after the opening quote, through the closing quote.
  bool parse_string(std::string& out) {
    while (true) {
      if (at_end()) return fail_here(kEofString);
      size_t run = index_;
      while (index_ < text_.size()) {
        unsigned char c = static_cast<unsigned char>(text_[index_]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++index_;
      }
      out.append(text_.substr(run, index_ - run));
      if (at_end()) return fail_here(kEofString);
      unsigned char c = static_cast<unsigned char>(text_[index_]);
      if (c == '"') {
        ++index_;
        return true;
      }
      if (c < 0x20) {
        ++index_;
        return fail_here(kControlChar);
      }
      if (c >= 0x80) {
        size_t len = utf8_sequence_length(text_, index_);
        if (len == 0) {
          ++index_;
          return fail_here(kInvalidCodePoint);
        }
        out.append(text_.substr(index_, len));
        index_ += len;
        continue;
      }
      // Escape sequence.
      ++index_;
      if (at_end()) return fail_here(kEofString);
      char e = text_[index_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!parse_hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return fail_here(kLoneSurrogate);
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (index_ + 2 > text_.size() || text_[index_] != '\\' || text_[index_ + 1] != 'u') {
              return fail_here(kUnexpectedEndOfHex);
            }
            index_ += 2;
            uint32_t low = 0;
            if (!parse_hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail_here(kLoneSurrogate);
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default:
          return fail_here(kInvalidEscape);
      }
    }
  }

  bool enter() {
    if (++depth_ >= kMaxDepth) return fail_peek(kRecursionLimit);
    return true;
  }

  bool parse_array(JsonNode& node) {
    node.kind = JsonKind::array;
    if (!enter()) return false;
    ++index_;  // '['
    bool first = true;
    while (true) {
      skip_whitespace();
      if (at_end()) return fail_peek(kEofList);
      char c = peek();
      if (c == ']') break;
      if (!first) {
        if (c != ',') return fail_peek(kExpectedListCommaOrEnd);
        ++index_;
        skip_whitespace();
        if (at_end()) return fail_peek(kEofValue);
        if (peek() == ']') return fail_peek(kTrailingComma);
      }
      first = false;
      node.items.emplace_back();
      if (!parse_value(node.items.back())) return false;
    }
    ++index_;  // ']'
    --depth_;
    return true;
  }

  bool parse_object(JsonNode& node) {
    node.kind = JsonKind::object;
    if (!enter()) return false;
    ++index_;  // '{'
    bool first = true;
    while (true) {
      skip_whitespace();
      if (at_end()) return fail_peek(kEofObject);
      char c = peek();
      if (c == '}') break;
      if (!first) {
        if (c != ',') return fail_peek(kExpectedObjectCommaOrEnd);
        ++index_;
        skip_whitespace();
        if (at_end()) return fail_peek(kEofValue);
        c = peek();
        if (c == '}') return fail_peek(kTrailingComma);
      }
      if (c != '"') return fail_peek(kKeyMustBeString);
      first = false;
      ++index_;
      JsonMember& member = node.members.emplace_back();
      if (!parse_string(member.key)) return false;
      member.key_end = index_;
      skip_whitespace();
      if (at_end()) return fail_peek(kEofObject);
      if (peek() != ':') return fail_peek(kExpectedColon);
      ++index_;
      if (!parse_value(member.value)) return false;
    }
    ++index_;  // '}'
    --depth_;
    return true;
  }

  std::string_view text_;
  size_t index_ = 0;
  int depth_ = 0;
  JsonError error_;
};

void append_debug_string(std::string& out, std::string_view s) {
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace

std::expected<JsonNode, JsonError> parse_json_dom(std::string_view text) {
  return Parser(text).parse_document();
}

std::string with_position(std::string_view text, const JsonError& error) {
  size_t line = 1;
  size_t column = 0;
  size_t limit = std::min(error.offset, text.size());
  for (size_t i = 0; i < limit; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 0;
    } else {
      ++column;
    }
  }
  return error.message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string shortest_float_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Shortest round-trip digits and decimal exponent, then laid out the way a reader
  // expects: plain decimals for moderate magnitudes, "1.5e20" style beyond.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  size_t e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') digits += c;
  }
  int exp10 = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int length = static_cast<int>(digits.size());
  int kk = exp10 + 1;  // value = 0.digits * 10^kk
  int k = kk - length;
  if (k >= 0 && kk <= 16) {
    out += digits;
    out.append(static_cast<size_t>(k), '0');
    out += ".0";
  } else if (kk > 0 && kk <= 16) {
    out += digits.substr(0, static_cast<size_t>(kk));
    out += '.';
    out += digits.substr(static_cast<size_t>(kk));
  } else if (kk > -5 && kk <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-kk), '0');
    out += digits;
  } else {
    out += digits[0];
    if (length > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'e';
    out += std::to_string(kk - 1);
  }
  return out;
}

std::string describe_unexpected(const JsonNode& node) {
  std::string out;
  switch (node.kind) {
    case JsonKind::null:
      return "null";
    case JsonKind::boolean:
      return node.boolean ? "boolean `true`" : "boolean `false`";
    case JsonKind::unsigned_int:
      return "integer `" + std::to_string(node.unsigned_int) + "`";
    case JsonKind::negative_int:
      return "integer `" + std::to_string(node.negative_int) + "`";
    case JsonKind::floating:
      return "floating point `" + shortest_float_text(node.floating) + "`";
    case JsonKind::string:
      out = "string ";
      append_debug_string(out, node.string);
      return out;
    case JsonKind::array:
      return "sequence";
    case JsonKind::object:
      return "map";
  }
  return out;
}

}  // namespace altium_codec::detail
