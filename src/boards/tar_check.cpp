// Tar header walk: validates names and member types without extracting anything.
#include "boards/tar_check.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vorn::boards {
namespace {

constexpr size_t kBlock = 512;

std::string_view field(std::string_view header, size_t offset, size_t length) {
  std::string_view f = header.substr(offset, length);
  const size_t nul = f.find('\0');
  return nul == std::string_view::npos ? f : f.substr(0, nul);
}

std::optional<uint64_t> octal(std::string_view text) {
  uint64_t value = 0;
  bool digits = false;
  for (char c : text) {
    if (c == ' ' && !digits) continue;
    if (c == ' ') break;
    if (c < '0' || c > '7') return std::nullopt;
    if (value > (UINT64_MAX >> 3)) return std::nullopt;
    value = value * 8 + static_cast<uint64_t>(c - '0');
    digits = true;
  }
  if (!digits) return std::nullopt;
  return value;
}

bool checksum_ok(std::string_view header) {
  const auto stored = octal(field(header, 148, 8));
  if (!stored) return false;
  uint64_t sum = 0;
  for (size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? uint64_t{' '} : static_cast<unsigned char>(header[i]);
  }
  return sum == *stored;
}

bool is_zero_block(std::string_view block) { return block.find_first_not_of('\0') == std::string_view::npos; }

// A member name that extracts inside the folder: relative, without "..", not empty.
bool safe_member_name(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  bool any = false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view segment = name.substr(start, end - start);
    if (segment == "..") return false;
    if (!segment.empty() && segment != ".") any = true;
    start = end + 1;
  }
  return any || name == "." || name == "./";
}

// Reads "<len> <key>=<value>\n" records; nothing when malformed.
std::optional<std::string> pax_path(std::string_view records, bool& has_link) {
  std::optional<std::string> path;
  while (!records.empty()) {
    const size_t space = records.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto len = [&]() -> std::optional<uint64_t> {
      uint64_t v = 0;
      for (char c : records.substr(0, space)) {
        if (c < '0' || c > '9' || v > 1'000'000'000) return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
      }
      return v;
    }();
    if (!len || *len <= space + 1 || *len > records.size()) return std::nullopt;
    const std::string_view record = records.substr(space + 1, *len - space - 2);
    const size_t eq = record.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view key = record.substr(0, eq);
      if (key == "path") path = std::string(record.substr(eq + 1));
      if (key == "linkpath") has_link = true;
    }
    records.remove_prefix(*len);
  }
  return path ? path : std::optional<std::string>(std::string());
}

}  // namespace

bool is_safe_tar(std::string_view bytes) {
  size_t pos = 0;
  std::optional<std::string> next_name;  // from a GNU long-name or pax header
  bool saw_member = false;
  while (pos + kBlock <= bytes.size()) {
    const std::string_view header = bytes.substr(pos, kBlock);
    if (is_zero_block(header)) return saw_member && !next_name;
    if (!checksum_ok(header)) return false;
    const auto size = octal(field(header, 124, 12));
    if (!size) return false;
    const uint64_t padded = (*size + kBlock - 1) / kBlock * kBlock;
    if (padded > bytes.size() - pos - kBlock) return false;
    const std::string_view data = bytes.substr(pos + kBlock, *size);
    pos += kBlock + padded;
    const char type = header[156];
    if (type == 'L') {
      next_name = std::string(field(data, 0, data.size()));
      continue;
    }
    if (type == 'x' || type == 'g') {
      bool has_link = false;
      const auto path = pax_path(data, has_link);
      if (!path || has_link) return false;
      if (type == 'g' && !path->empty()) return false;
      if (type == 'x' && !path->empty()) next_name = *path;
      continue;
    }
    if (type != '0' && type != '\0' && type != '5') return false;
    std::string name;
    if (next_name) {
      name = std::move(*next_name);
      next_name.reset();
    } else {
      const std::string_view prefix = field(header, 345, 155);
      name = std::string(field(header, 0, 100));
      if (field(header, 257, 5) == "ustar" && !prefix.empty()) name = std::string(prefix) + "/" + name;
    }
    if (!safe_member_name(name)) return false;
    saw_member = true;
  }
  // An archive may end without its closing zero blocks; GNU tar accepts that too.
  return saw_member && !next_name && pos == bytes.size();
}

}  // namespace vorn::boards
