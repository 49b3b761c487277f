// One-pass s-expression reader: tokenizing and tree building happen in the same loop over the
// bytes, writing nodes straight into one pre-order array. Errors keep the precedence of a
// separate tokenizer pass: a string left open anywhere wins over tree errors, so trailing
// content is only reported once the rest of the text has been scanned.
#include "altium_codec/sexpr.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace altium_codec::sexpr {
namespace {

using detail::NodeRec;

enum CharClass : std::uint8_t { kWord, kSpace, kLineFeed, kOpen, kClose, kQuote, kHigh };

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0x80; c < 0x100; ++c) t[c] = kHigh;
  t['\t'] = t['\v'] = t['\f'] = t['\r'] = t[' '] = kSpace;
  t['\n'] = kLineFeed;
  t['('] = kOpen;
  t[')'] = kClose;
  t['"'] = kQuote;
  return t;
}
constexpr std::array<std::uint8_t, 256> kClass = make_classes();

// Byte length of the Unicode white space character encoded at p (whose first byte is >= 0x80),
// or 0 when the character there is not white space: U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000.
inline std::size_t unicode_space_len(const char* p, const char* end) noexcept {
  const auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 == 0xC2) {
    if (end - p < 2) return 0;
    const auto b1 = static_cast<unsigned char>(p[1]);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  }
  if (b0 < 0xE1 || b0 > 0xE3 || end - p < 3) return 0;
  const auto b1 = static_cast<unsigned char>(p[1]);
  const auto b2 = static_cast<unsigned char>(p[2]);
  if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
  if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
  if (b1 == 0x80) {
    return (b2 <= 0x8A && b2 >= 0x80) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
  }
  return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;
}

std::string unterminated(std::uint32_t line) {
  return "unterminated string starting at line " + std::to_string(line);
}

}  // namespace

std::expected<Document, std::string> parse(std::string_view text) {
  return parse_owned(std::string(text));
}

std::expected<Document, std::string> parse_owned(std::string&& text) {
  auto storage = std::make_unique<detail::DocumentStorage>();
  storage->text = std::move(text);
  const std::string_view view = storage->text;
  return detail::parse_into(std::move(storage), view);
}

std::expected<Document, std::string> parse_borrowed(std::string_view text) {
  return detail::parse_into(std::make_unique<detail::DocumentStorage>(), text);
}

std::expected<Document, std::string> detail::parse_into(std::unique_ptr<DocumentStorage> storage,
                                                        std::string_view source) {
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(std::string("s-expression text too large"));
  }
  // data() of an empty view may be null; atoms must never have a null text.
  const char* p = source.empty() ? "" : source.data();
  const char* const end = p + source.size();
  std::vector<NodeRec>& nodes = storage->nodes;
  // KiCad text averages about 7 bytes per node; denser text just grows the array.
  nodes.reserve(source.size() / 6 + 2);

  struct Open {
    std::uint32_t index;
    std::uint32_t line;
  };
  std::vector<Open> stack;
  stack.reserve(32);

  enum Phase { kBefore, kInside, kAfter } phase = kBefore;
  std::uint32_t line = 1;
  // The first token after the root list, kept until the whole text is known to tokenize.
  std::string trailing;
  std::uint32_t trailing_line = 0;

  auto add_text = [&](const char* s, std::size_t len, std::uint32_t tok_line) {
    if (phase == kInside) {
      ++nodes[stack.back().index].size;
      nodes.push_back(NodeRec{s, static_cast<std::uint32_t>(len), 1});
    } else if (phase == kAfter && trailing.empty()) {
      trailing = debug_quote(std::string_view(s, len));
      trailing_line = tok_line;
    }
  };

  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    switch (kClass[c]) {
      case kSpace:
        ++p;
        continue;
      case kLineFeed:
        ++line;
        ++p;
        continue;
      case kOpen:
        ++p;
        if (phase == kInside) {
          ++nodes[stack.back().index].size;
        } else if (phase == kAfter) {
          if (trailing.empty()) {
            trailing = "'('";
            trailing_line = line;
          }
          continue;
        } else {
          phase = kInside;
        }
        stack.push_back(Open{static_cast<std::uint32_t>(nodes.size()), line});
        nodes.push_back(NodeRec{nullptr, 0, 1});
        continue;
      case kClose:
        ++p;
        if (phase == kInside) {
          const std::uint32_t index = stack.back().index;
          nodes[index].span = static_cast<std::uint32_t>(nodes.size() - index);
          stack.pop_back();
          if (stack.empty()) phase = kAfter;
        } else if (phase == kAfter && trailing.empty()) {
          trailing = "')'";
          trailing_line = line;
        }
        continue;
      case kQuote: {
        const std::uint32_t start_line = line;
        const char* const s = p + 1;
        const char* r = s;
        // Fast scan while there is nothing to unescape: the atom views the source.
        while (r < end && *r != '"' && *r != '\\') {
          if (*r == '\n') ++line;
          ++r;
        }
        if (r == end) return std::unexpected(unterminated(start_line));
        if (*r == '"') {
          p = r + 1;
          add_text(s, static_cast<std::size_t>(r - s), start_line);
          continue;
        }
        std::string unescaped(s, r);
        while (true) {
          if (r == end) return std::unexpected(unterminated(start_line));
          const char ch = *r++;
          if (ch == '"') break;
          if (ch == '\\') {
            if (r == end) return std::unexpected(unterminated(start_line));
            const char e = *r++;
            if (e == 'n') {
              unescaped.push_back('\n');
            } else if (e == 't') {
              unescaped.push_back('\t');
            } else {
              if (e == '\n') ++line;
              unescaped.push_back(e);
            }
            continue;
          }
          if (ch == '\n') ++line;
          unescaped.push_back(ch);
        }
        p = r;
        if (phase == kBefore) continue;
        // A deque never moves its elements, so the text stays put as more are added.
        const std::string& kept = storage->escaped.emplace_back(std::move(unescaped));
        add_text(kept.data(), kept.size(), start_line);
        continue;
      }
      case kHigh:
        if (std::size_t n = unicode_space_len(p, end)) {
          p += n;
          continue;
        }
        [[fallthrough]];
      default: {
        const char* const s = p;
        ++p;
        while (p < end) {
          const std::uint8_t k = kClass[static_cast<unsigned char>(*p)];
          if (k == kWord || k == kQuote) {
            ++p;
          } else if (k == kHigh && unicode_space_len(p, end) == 0) {
            ++p;
          } else {
            break;
          }
        }
        add_text(s, static_cast<std::size_t>(p - s), line);
        continue;
      }
    }
  }

  if (phase == kBefore) return std::unexpected(std::string("no s-expression found"));
  if (phase == kInside) {
    return std::unexpected("unbalanced s-expression: '(' at line " +
                           std::to_string(stack.back().line) + " is never closed");
  }
  if (!trailing.empty()) {
    return std::unexpected("trailing content after the root s-expression: " + trailing +
                           " at line " + std::to_string(trailing_line));
  }
  return Document(std::move(storage));
}

std::optional<std::string_view> Node::head() const noexcept {
  if (!is_list() || rec_->size == 0 || rec_[1].text == nullptr) return std::nullopt;
  return std::string_view(rec_[1].text, rec_[1].size);
}

std::optional<Node> Node::child(std::string_view head) const noexcept {
  for (Node c : *this) {
    if (c.is_list() && c.head() == head) return c;
  }
  return std::nullopt;
}

std::optional<std::string_view> Node::atom(std::size_t index) const noexcept {
  if (!is_list() || index >= rec_->size) return std::nullopt;
  Iterator it = begin();
  for (std::size_t i = 0; i < index; ++i) ++it;
  Node c = *it;
  if (!c.is_atom()) return std::nullopt;
  return c.text();
}

std::vector<Node> Node::lists(std::string_view head) const {
  std::vector<Node> out;
  for_each_list(head, [&](Node n) { out.push_back(n); });
  return out;
}

std::vector<double> Node::numbers() const {
  std::vector<double> out;
  if (!is_list()) return out;
  Iterator it = begin();
  if (it == end()) return out;
  for (++it; it != end(); ++it) {
    Node c = *it;
    if (!c.is_atom()) continue;
    if (auto v = parse_number(c.text())) out.push_back(*v);
  }
  return out;
}

std::optional<double> Node::number(std::size_t k) const noexcept {
  if (!is_list()) return std::nullopt;
  Iterator it = begin();
  if (it == end()) return std::nullopt;
  for (++it; it != end(); ++it) {
    Node c = *it;
    if (!c.is_atom()) continue;
    if (auto v = parse_number(c.text())) {
      if (k == 0) return v;
      --k;
    }
  }
  return std::nullopt;
}

namespace {
bool equals_ignore_case(const char* p, const char* e, std::string_view lower) noexcept {
  if (static_cast<std::size_t>(e - p) != lower.size()) return false;
  for (char ch : lower) {
    char c = *p++;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != ch) return false;
  }
  return true;
}
inline bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}
}  // namespace

std::optional<double> parse_number(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const e = p + text.size();
  if (p == e) return std::nullopt;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (p == e) return std::nullopt;
  double value = 0;
  if (!is_digit(*p) && *p != '.') {
    if (equals_ignore_case(p, e, "inf") || equals_ignore_case(p, e, "infinity")) {
      value = std::numeric_limits<double>::infinity();
    } else if (equals_ignore_case(p, e, "nan")) {
      value = std::numeric_limits<double>::quiet_NaN();
    } else {
      return std::nullopt;
    }
    return negative ? -value : value;
  }
  // Validate: digits [. digits] [e [sign] digits], at least one mantissa digit.
  const char* q = p;
  int digits = 0;
  while (q < e && is_digit(*q)) ++q, ++digits;
  if (q < e && *q == '.') {
    ++q;
    while (q < e && is_digit(*q)) ++q, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (q < e && (*q == 'e' || *q == 'E')) {
    ++q;
    if (q < e && (*q == '+' || *q == '-')) ++q;
    const char* exp_start = q;
    while (q < e && is_digit(*q)) ++q;
    if (q == exp_start) return std::nullopt;
  }
  if (q != e) return std::nullopt;
  const auto result = std::from_chars(p, e, value);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched out of range; strtod saturates to inf or 0.
    std::string copy(p, e);
    value = std::strtod(copy.c_str(), nullptr);
  } else if (result.ec != std::errc() || result.ptr != e) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

namespace {
// "\u{hex}" with lowercase digits and no padding.
void append_unicode_escape(std::string& out, unsigned value) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u{";
  if (value >= 16) out.push_back(kHex[value >> 4]);
  out.push_back(kHex[value & 15]);
  out.push_back('}');
}
}  // namespace

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
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
          append_unicode_escape(out, c);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
          // C1 control characters U+0080..U+009F.
          append_unicode_escape(out, static_cast<unsigned char>(text[i + 1]));
          ++i;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace altium_codec::sexpr
