// Symbol blocks cut from KiCad library text: choice, flattening, renaming, Footprint property.
#include "desktop/kicad_symbol_blocks.h"

#include <altium_codec/kicad_text.h>
#include <altium_codec/sexpr.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "desktop/library_merge.h"

namespace vorn {
namespace {

namespace sexpr = altium_codec::sexpr;

// KiCad resolves a chain of derived symbols; a longer chain than this is taken as a loop.
constexpr int kMaxInheritanceDepth = 8;

// Fields every KiCad symbol has; an empty one in a derived symbol keeps the parent's value.
constexpr std::string_view kMandatoryFields[] = {"Reference", "Value", "Footprint", "Datasheet",
                                                 "Description"};

struct Span {
  size_t begin = 0;
  size_t end = 0;  // one past the last byte
};

struct Edit {
  Span span;
  std::string text;
};

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where a list of a tree read (borrowed) from `text` stands in the text: its head is a bare word
// viewing the text, and its "(" is the last one before the head.
std::optional<Span> list_span(std::string_view text, sexpr::Node list) {
  if (!list.is_list() || list.size() == 0) return std::nullopt;
  const sexpr::Node head = *list.begin();
  const char* p = head.text().data();
  if (!head.is_atom() || p < text.data() || p >= text.data() + text.size()) return std::nullopt;
  size_t at = static_cast<size_t>(p - text.data());
  while (at > 0 && is_space(text[at - 1])) --at;
  if (at == 0 || text[at - 1] != '(') return std::nullopt;
  const auto close = matching_close(text, at - 1);
  if (!close) return std::nullopt;
  return Span{at - 1, *close + 1};
}

// Spans of the atoms that directly follow the "(" at `open`, up to the first nested list or the
// closing ")"; a quoted atom's span holds its quotes.
std::vector<Span> leading_atoms(std::string_view text, size_t open) {
  std::vector<Span> atoms;
  size_t i = open + 1;
  while (i < text.size()) {
    while (i < text.size() && is_space(text[i])) ++i;
    if (i >= text.size() || text[i] == '(' || text[i] == ')') break;
    const size_t start = i;
    if (text[i] == '"') {
      i = skip_quoted_string(text, i);
    } else {
      while (i < text.size() && !is_space(text[i]) && text[i] != '(' && text[i] != ')') ++i;
    }
    atoms.push_back(Span{start, i});
  }
  return atoms;
}

std::string quoted(std::string_view text) {
  return "\"" + altium_codec::quote_kicad(text) + "\"";
}

std::string apply_edits(std::string_view text, std::vector<Edit> edits) {
  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.span.begin > b.span.begin; });
  std::string out(text);
  for (const Edit& e : edits) out.replace(e.span.begin, e.span.end - e.span.begin, e.text);
  return out;
}

std::expected<sexpr::Document, std::string> read(std::string_view text) {
  auto doc = sexpr::parse_borrowed(text);
  if (!doc) return std::unexpected("the symbol text does not parse: " + doc.error());
  return doc;
}

// The direct child lists of `parent` with the given head.
std::vector<sexpr::Node> children(sexpr::Node parent, std::string_view head) {
  std::vector<sexpr::Node> out;
  for (const sexpr::Node c : parent) {
    if (c.is_list() && c.head() == head) out.push_back(c);
  }
  return out;
}

// The block of the top-level symbol `name`, as it stands in the library text.
std::expected<std::string, std::string> raw_block(std::string_view library_text, sexpr::Node root,
                                                  std::string_view name) {
  for (const sexpr::Node s : children(root, "symbol")) {
    if (s.atom(1) != name) continue;
    const auto span = list_span(library_text, s);
    if (!span)
      return std::unexpected("the block of symbol " + std::string(name) + " cannot be cut");
    return std::string(library_text.substr(span->begin, span->end - span->begin));
  }
  return std::unexpected("the library holds no symbol " + std::string(name));
}

bool is_mandatory(std::string_view field) {
  return std::find(std::begin(kMandatoryFields), std::end(kMandatoryFields), field) !=
         std::end(kMandatoryFields);
}

// The parent's block with the derived symbol's properties: each one replaces the parent's
// property of the same name or is added after the parent's last property; an empty mandatory
// field keeps the parent's value. Name and flags stay the parent's (renaming comes later).
std::expected<std::string, std::string> inherit(const std::string& parent,
                                                const std::string& derived) {
  auto parent_doc = read(parent);
  if (!parent_doc) return std::unexpected(parent_doc.error());
  auto derived_doc = read(derived);
  if (!derived_doc) return std::unexpected(derived_doc.error());
  std::map<std::string, Span, std::less<>> parent_props;
  size_t insert_at = 0;
  for (const sexpr::Node p : children(parent_doc->root(), "property")) {
    const auto span = list_span(parent, p);
    if (!span) return std::unexpected("a property of the parent cannot be cut");
    parent_props.emplace(std::string(p.atom(1).value_or("")), *span);
    insert_at = span->end;
  }
  if (insert_at == 0) {
    const auto atoms = leading_atoms(parent, 0);
    insert_at = atoms.size() > 1 ? atoms[1].end : 1;
  }
  std::vector<Edit> edits;
  std::string added;
  for (const sexpr::Node p : children(derived_doc->root(), "property")) {
    const std::string field(p.atom(1).value_or(""));
    if (is_mandatory(field) && p.atom(2).value_or("").empty() && parent_props.contains(field))
      continue;
    const auto span = list_span(derived, p);
    if (!span) return std::unexpected("a property of the derived symbol cannot be cut");
    std::string text = derived.substr(span->begin, span->end - span->begin);
    if (const auto it = parent_props.find(field); it != parent_props.end()) {
      edits.push_back(Edit{it->second, std::move(text)});
    } else {
      added += "\n\t\t" + text;
    }
  }
  if (!added.empty()) edits.push_back(Edit{Span{insert_at, insert_at}, std::move(added)});
  return apply_edits(parent, std::move(edits));
}

// The symbol's block with every parent it extends folded in.
std::expected<std::string, std::string> resolved_block(std::string_view library_text,
                                                       sexpr::Node root, std::string_view name,
                                                       int depth) {
  if (depth > kMaxInheritanceDepth)
    return std::unexpected("symbol " + std::string(name) + " extends itself");
  auto block = raw_block(library_text, root, name);
  if (!block) return block;
  auto doc = read(*block);
  if (!doc) return std::unexpected(doc.error());
  const auto extends = doc->root().child("extends");
  if (!extends) return block;
  const auto parent_name = extends->atom(1);
  if (!parent_name)
    return std::unexpected("symbol " + std::string(name) + " extends no named symbol");
  auto parent = resolved_block(library_text, root, *parent_name, depth + 1);
  if (!parent) {
    return std::unexpected("symbol " + std::string(name) + " extends " + std::string(*parent_name) +
                           ": " + parent.error());
  }
  return inherit(*parent, *block);
}

// "_<digits>_<digits>" at the end of a unit symbol's name, or nothing.
std::optional<std::string_view> unit_suffix(std::string_view unit_name) {
  size_t i = unit_name.size();
  for (int part = 0; part < 2; ++part) {
    const size_t digits_end = i;
    while (i > 0 && unit_name[i - 1] >= '0' && unit_name[i - 1] <= '9') --i;
    if (i == digits_end || i == 0 || unit_name[i - 1] != '_') return std::nullopt;
    --i;
  }
  return unit_name.substr(i);
}

// The block under `new_name`: the symbol's own name and the names of its unit symbols.
std::expected<std::string, std::string> renamed(const std::string& block,
                                                std::string_view new_name) {
  auto doc = read(block);
  if (!doc) return std::unexpected(doc.error());
  std::vector<Edit> edits;
  const auto head_atoms = leading_atoms(block, 0);
  if (head_atoms.size() < 2) return std::unexpected("the symbol has no name");
  edits.push_back(Edit{head_atoms[1], quoted(new_name)});
  for (const sexpr::Node unit : children(doc->root(), "symbol")) {
    const std::string_view unit_name = unit.atom(1).value_or("");
    const auto suffix = unit_suffix(unit_name);
    if (!suffix)
      return std::unexpected("unit symbol " + std::string(unit_name) + " has no unit suffix");
    const auto span = list_span(block, unit);
    if (!span) return std::unexpected("unit symbol " + std::string(unit_name) + " cannot be cut");
    const auto atoms = leading_atoms(block, span->begin);
    if (atoms.size() < 2) return std::unexpected("a unit symbol has no name");
    edits.push_back(Edit{atoms[1], quoted(std::string(new_name) + std::string(*suffix))});
  }
  return apply_edits(block, std::move(edits));
}

// Unit and body style of a unit symbol's name, or nothing.
std::optional<std::pair<int, int>> unit_and_style(std::string_view unit_name) {
  const auto suffix = unit_suffix(unit_name);
  if (!suffix) return std::nullopt;
  const size_t cut = suffix->rfind('_');
  int unit = 0, style = 0;
  const char* begin = suffix->data();
  const auto u = std::from_chars(begin + 1, begin + cut, unit);
  const auto s = std::from_chars(begin + cut + 1, begin + suffix->size(), style);
  if (u.ec != std::errc() || s.ec != std::errc()) return std::nullopt;
  return std::pair{unit, style};
}

}  // namespace

std::vector<int> unit_numbers(std::string_view block) {
  std::vector<int> units;
  auto doc = sexpr::parse_borrowed(block);
  if (!doc) return units;
  for (const sexpr::Node unit : children(doc->root(), "symbol")) {
    const auto us = unit_and_style(unit.atom(1).value_or(""));
    if (us && us->first > 0 && std::find(units.begin(), units.end(), us->first) == units.end()) {
      units.push_back(us->first);
    }
  }
  std::sort(units.begin(), units.end());
  return units;
}

std::expected<std::string, std::string> unit_block(std::string_view block, int unit) {
  const std::string text(block);
  auto doc = read(text);
  if (!doc) return std::unexpected(doc.error());
  std::vector<Edit> edits;
  for (const sexpr::Node sub : children(doc->root(), "symbol")) {
    const auto us = unit_and_style(sub.atom(1).value_or(""));
    if (us && (us->first == 0 || us->first == unit) && us->second <= 1) continue;
    const auto span = list_span(text, sub);
    if (!span) return std::unexpected("a unit symbol cannot be cut");
    edits.push_back(Edit{*span, ""});
  }
  return apply_edits(text, std::move(edits));
}

std::expected<std::string, std::string> standalone_symbol_block(std::string_view library_text,
                                                                std::string_view name,
                                                                std::string_view new_name) {
  auto library = sexpr::parse_borrowed(library_text);
  if (!library) return std::unexpected("the symbol library does not parse: " + library.error());
  auto block = resolved_block(library_text, library->root(), name, 0);
  if (!block) return block;
  return renamed(*block, new_name);
}

std::expected<std::string, std::string> with_footprint_property(std::string_view block,
                                                                std::string_view value) {
  const std::string text(block);
  auto doc = read(text);
  if (!doc) return std::unexpected(doc.error());
  size_t insert_at = 0;
  for (const sexpr::Node p : children(doc->root(), "property")) {
    const auto span = list_span(text, p);
    if (!span) return std::unexpected("a property cannot be cut");
    insert_at = span->end;
    if (p.atom(1) != "Footprint") continue;
    const auto atoms = leading_atoms(text, span->begin);
    if (atoms.size() >= 3) return apply_edits(text, {Edit{atoms[2], quoted(value)}});
    const size_t after_name = atoms.size() == 2 ? atoms[1].end : span->end - 1;
    return apply_edits(text, {Edit{Span{after_name, after_name}, " " + quoted(value)}});
  }
  if (insert_at == 0) {
    const auto atoms = leading_atoms(text, 0);
    insert_at = atoms.size() > 1 ? atoms[1].end : 1;
  }
  const std::string property =
      "\n\t\t(property \"Footprint\" " + quoted(value) +
      "\n\t\t\t(at 0 0 0)\n\t\t\t(effects (font (size 1.27 1.27)) (hide yes))\n\t\t)";
  return apply_edits(text, {Edit{Span{insert_at, insert_at}, property}});
}

unsigned long library_version(std::string_view library_text) {
  auto doc = sexpr::parse_borrowed(library_text);
  if (!doc) return 0;
  const auto version = doc->root().child("version");
  if (!version) return 0;
  const auto number = version->number(0);
  return number && *number > 0 && *number < 1e12 ? static_cast<unsigned long>(*number) : 0;
}

}  // namespace vorn
