// Text helpers: UTF-8 validation and decoding, case mapping, percent-decoding, Base64, UTF-16LE
// and POSIX quoting.
#include "util/text.h"

#include <cstdint>
#include <cstring>

namespace vorn {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence starting at `i`, or 0 when it is ill-formed.
size_t utf8_sequence_length(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) {
    return 0;
  }
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

// Length of the maximal ill-formed prefix at `i` (at least 1), so that one U+FFFD replaces it,
// as WHATWG decoders do.
size_t ill_formed_length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = (c >= 0xC2 && c <= 0xDF)   ? 2
             : (c >= 0xE0 && c <= 0xEF) ? 3
             : (c >= 0xF0 && c <= 0xF4) ? 4
                                        : 1;
  size_t k = 1;
  while (k < n && i + k < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    unsigned char lo = 0x80, hi = 0xBF;
    if (k == 1) {
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    if (b < lo || b > hi) break;
    ++k;
  }
  return k;
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

// Decodes `s` (already valid UTF-8) into code points.
template <typename F>
void for_each_code_point(std::string_view s, F&& f) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_sequence_length(s, i);
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0;
    if (n == 1) {
      cp = c;
    } else if (n == 2) {
      cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
    } else if (n == 3) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
    } else if (n == 4) {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
           (s[i + 3] & 0x3F);
    } else {
      cp = 0xFFFD;
    }
    f(cp);
    i += n ? n : ill_formed_length(s, i);
  }
}

uint32_t upper_code_point(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c == 0xB5) return 0x39C;                               // micro sign -> Greek capital mu
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;  // Latin-1
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149) {
    // Latin Extended-A: pairs alternate; which member is lower depends on the block.
    const bool odd_lower = (c < 0x138) || (c > 0x148 && c < 0x178);
    if (odd_lower && (c & 1)) return c - 1;
    if (!odd_lower && c > 0x138 && c < 0x149 && !(c & 1)) return c - 1;
    if (c > 0x178 && c < 0x17F && !(c & 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;  // Greek
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return c - 32;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

uint32_t lower_code_point(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

template <typename Map>
std::string map_code_points(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  for_each_code_point(text, [&](uint32_t cp) { append_utf8(out, map(cp)); });
  return out;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    // Runs of ASCII, the bulk of most texts, eight bytes at a time.
    if (i + 8 <= bytes.size()) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const size_t n = utf8_sequence_length(bytes, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  for (size_t i = 0; i < bytes.size();) {
    const size_t n = utf8_sequence_length(bytes, i);
    if (n) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out.append(kReplacement);
      i += ill_formed_length(bytes, i);
    }
  }
  return out;
}

std::string_view trim(std::string_view text) {
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::string to_upper(std::string_view text) {
  return map_code_points(text, upper_code_point);
}
std::string to_lower(std::string_view text) {
  return map_code_points(text, lower_code_point);
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.starts_with(prefix);
}
bool ends_with(std::string_view text, std::string_view suffix) {
  return text.ends_with(suffix);
}

std::string percent_decode(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      bytes += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else if (c == '+') {
      bytes += ' ';
    } else {
      bytes += c;
    }
  }
  return to_utf8_lossy(bytes);
}

std::string base64_encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v =
        (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string utf16le_encode(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  for_each_code_point(utf8, [&](uint32_t cp) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 | (cp >> 10));
      unit(0xDC00 | (cp & 0x3FF));
    } else {
      unit(cp);
    }
  });
  return out;
}

std::string posix_quote(std::string_view arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += '\'';
  return out;
}

std::string powershell_quote_inner(std::string_view text) {
  const std::string utf8 = to_utf8_lossy(text);
  std::string out;
  out.reserve(utf8.size() + 8);
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\'') {
      out += "''";
      continue;
    }
    // U+2018..U+201B are E2 80 98..9B in UTF-8.
    const std::string_view three = std::string_view(utf8).substr(i, 3);
    if (three.size() == 3 && three[0] == '\xE2' && three[1] == '\x80' && three[2] >= '\x98' &&
        three[2] <= '\x9B') {
      out += three;
      out += three;
      i += 2;
      continue;
    }
    out += utf8[i];
  }
  return out;
}

std::string powershell_quote(std::string_view text) {
  return "'" + powershell_quote_inner(text) + "'";
}

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(sep, start);
    if (at == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, at - start));
    start = at + sep.size();
  }
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(from, start);
    if (at == std::string_view::npos) break;
    out.append(text.substr(start, at - start));
    out.append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

}  // namespace vorn
