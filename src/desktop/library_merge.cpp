// Symbol block cutting, library merge and merge verification.
#include "desktop/library_merge.h"

#include <altium_codec/sexpr.h>

#include <map>
#include <set>

namespace vorn {
namespace {

namespace sexpr = altium_codec::sexpr;

constexpr int kLibraryVersion = 20231120;
constexpr std::string_view kGeneratorVersion = "8.0";

// Positions of the symbol openings that stand outside quoted strings.
std::vector<size_t> symbol_openings_outside_strings(std::string_view text) {
  std::vector<size_t> out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      i = skip_quoted_string(text, i);
    } else if (text[i] == '(' && text.substr(i, kSymbolOpening.size()) == kSymbolOpening) {
      out.push_back(i);
      i += kSymbolOpening.size() - 1;  // stay on the quote so the name is skipped as a string
    } else {
      ++i;
    }
  }
  return out;
}

std::string name_after_opening(std::string_view text, size_t opening) {
  const size_t start = opening + kSymbolOpening.size();
  const size_t end = text.find('"', start);
  return std::string(text.substr(start, end == std::string_view::npos ? 0 : end - start));
}

// The byte ranges of the root's direct children whose head is "symbol", in order.
std::vector<std::string_view> top_level_symbol_blocks(std::string_view text) {
  std::vector<std::string_view> blocks;
  size_t i = 0;
  while (i < text.size() && text[i] != '(') i = text[i] == '"' ? skip_quoted_string(text, i) : i + 1;
  if (i >= text.size()) return blocks;
  for (++i; i < text.size();) {
    if (text[i] == '"') {
      i = skip_quoted_string(text, i);
    } else if (text[i] == ')') {
      break;  // end of the root
    } else if (text[i] == '(') {
      const auto close = matching_close(text, i);
      if (!close) break;
      const std::string_view block = text.substr(i, *close - i + 1);
      if (block.starts_with("(symbol") && block.size() > 7 &&
          (block[7] == ' ' || block[7] == '\t' || block[7] == '\n' || block[7] == '\r')) {
        blocks.push_back(block);
      }
      i = *close + 1;
    } else {
      ++i;
    }
  }
  return blocks;
}

// Top-level symbol names of a parsed library, with how often each occurs.
std::map<std::string, int> top_level_names(const sexpr::Document& doc) {
  std::map<std::string, int> names;
  for (const sexpr::Node child : doc.root()) {
    if (child.is_list() && child.head() == "symbol") {
      if (const auto name = child.atom(1)) ++names[std::string(*name)];
    }
  }
  return names;
}

}  // namespace

std::optional<size_t> matching_close(std::string_view text, size_t open) {
  int depth = 0;
  for (size_t i = open; i < text.size();) {
    const char c = text[i];
    if (c == '"') {
      i = skip_quoted_string(text, i);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) return i;
    ++i;
  }
  return std::nullopt;
}

std::optional<SymbolEntry> first_symbol_entry(std::string_view library_text) {
  const size_t open = library_text.find(kSymbolOpening);
  if (open == std::string_view::npos) return std::nullopt;
  const size_t name_start = open + kSymbolOpening.size();
  const size_t name_end = library_text.find('"', name_start);
  if (name_end == std::string_view::npos) return std::nullopt;
  const auto close = matching_close(library_text, open);
  if (!close) return std::nullopt;
  return SymbolEntry{std::string(library_text.substr(name_start, name_end - name_start)),
                     std::string(library_text.substr(open, *close - open + 1))};
}

size_t count_symbol_openings(std::string_view text) {
  size_t n = 0;
  for (size_t at = text.find(kSymbolOpening); at != std::string_view::npos;
       at = text.find(kSymbolOpening, at + 1)) {
    ++n;
  }
  return n;
}

std::string new_library_header() {
  return "(kicad_symbol_lib\n\t(version " + std::to_string(kLibraryVersion) +
         ")\n\t(generator \"vorn-lbr\")\n\t(generator_version \"" + std::string(kGeneratorVersion) +
         "\")\n)\n";
}

MergeResult merge_symbols(const std::optional<std::string>& pulled, const std::vector<SymbolEntry>& entries) {
  MergeResult m;
  m.base = pulled && pulled->find("kicad_symbol_lib") != std::string::npos ? *pulled : new_library_header();
  std::set<std::string> names;
  for (size_t at : symbol_openings_outside_strings(m.base)) names.insert(name_after_opening(m.base, at));
  std::string insertion;
  for (const auto& e : entries) {
    if (!names.insert(e.name).second) continue;
    insertion += "\t" + e.block + "\n";
    m.inserted.push_back(e.name);
  }
  const size_t last = m.base.rfind(')');
  if (last == std::string::npos) {
    m.text = m.base + insertion;
  } else {
    m.text = m.base.substr(0, last) + insertion + m.base.substr(last);
  }
  return m;
}

std::optional<std::string> verify_merge(const MergeResult& merge) {
  auto merged = sexpr::parse(merge.text);
  if (!merged) return "the merged library does not parse: " + merged.error();
  if (merged->root().head() != "kicad_symbol_lib") return "the merged root is not kicad_symbol_lib";
  auto base = sexpr::parse(merge.base);
  if (!base) return "the pulled library does not parse: " + base.error();
  std::map<std::string, int> expected = top_level_names(*base);
  for (const auto& name : merge.inserted) ++expected[name];
  const std::map<std::string, int> got = top_level_names(*merged);
  for (const auto& [name, count] : expected) {
    const auto it = got.find(name);
    if (it == got.end() || it->second < count) return "symbol " + name + " is missing";
  }
  if (got != expected) return "the merged library holds symbols that were not added";
  size_t from = 0;
  for (const std::string_view block : top_level_symbol_blocks(merge.base)) {
    const size_t at = std::string_view(merge.text).find(block, from);
    if (at == std::string_view::npos) return "a symbol block of the pulled library changed";
    from = at + block.size();
  }
  return std::nullopt;
}

size_t skip_quoted_string(std::string_view text, size_t quote) {
  for (size_t i = quote + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return text.size();
}

}  // namespace vorn
