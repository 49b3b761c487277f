// Symbol and footprint texts for the apply job: the page's own KiCad text, or the writers'.
#include "desktop/kicad_pair_install.h"

#include <altium_codec/footprint_writer.h>
#include <altium_codec/kicad.h>
#include <altium_codec/sexpr.h>
#include <altium_codec/symbol_writer.h>

#include "desktop/kicad_guard.h"
#include "desktop/kicad_symbol_blocks.h"

namespace vorn {
namespace {

namespace sexpr = altium_codec::sexpr;

std::expected<SymbolEntry, std::string> written_symbol(const altium_codec::Symbol& record,
                                                       const std::string& footprint_ref) {
  altium_codec::Symbol symbol = record;
  if (!footprint_ref.empty()) symbol.footprint = footprint_ref;
  if (auto why = symbol_refusal(symbol)) return std::unexpected(*why);
  auto entry = first_symbol_entry(altium_codec::write_kicad_symbol_lib(symbol));
  if (!entry) return std::unexpected("the symbol writer gave no symbol block");
  return std::move(*entry);
}

// The top-level symbol the importer took: the only one, or the first named like the record.
std::expected<std::string, std::string> chosen_name(std::string_view library_text,
                                                    const std::string& record_name) {
  auto doc = sexpr::parse_borrowed(library_text);
  if (!doc) return std::unexpected("the symbol library does not parse: " + doc.error());
  std::vector<std::string> names;
  for (const sexpr::Node c : doc->root()) {
    if (c.is_list() && c.head() == "symbol") names.emplace_back(c.atom(1).value_or(""));
  }
  if (names.size() == 1) return names.front();
  for (const auto& n : names) {
    if (n == record_name) return n;
  }
  return std::unexpected("the library holds no symbol " + record_name);
}

// The block read back as KiCad would read it in a library of the page's version: the record the
// guard checks (pins of every unit, names, angles, texts).
std::expected<altium_codec::Symbol, std::string> read_back(const std::string& block,
                                                           unsigned long version) {
  const std::string library =
      "(kicad_symbol_lib (version " + std::to_string(version) + ")\n" + block + "\n)\n";
  auto doc = sexpr::parse(library);
  if (!doc) return std::unexpected("the symbol block does not parse: " + doc.error());
  return altium_codec::import_kicad_symbol(doc->root(), "");
}

std::expected<SymbolEntry, std::string> page_symbol(const LoadedPart& loaded,
                                                    const std::string& footprint_ref) {
  const std::string& library = loaded.kicad->symbol_library;
  const std::string& name = loaded.part.symbol.name;
  if (auto why = kicad_text_refusal(library)) return std::unexpected(*why);
  auto source_name = chosen_name(library, name);
  if (!source_name) return std::unexpected(source_name.error());
  auto block = standalone_symbol_block(library, *source_name, name);
  if (block && !footprint_ref.empty()) block = with_footprint_property(*block, footprint_ref);
  if (!block) return std::unexpected(block.error());
  if (auto why = kicad_text_refusal(*block)) return std::unexpected(*why);
  auto record = read_back(*block, library_version(library));
  if (!record) return std::unexpected(record.error());
  if (auto why = symbol_refusal(*record)) return std::unexpected(*why);
  return SymbolEntry{name, std::move(*block)};
}

std::expected<std::string, std::string> page_footprint(const LoadedPart& loaded) {
  const std::string& text = loaded.kicad->footprint;
  if (auto why = kicad_text_refusal(text)) return std::unexpected(*why);
  auto doc = sexpr::parse_borrowed(text);
  if (!doc) return std::unexpected("the footprint does not parse: " + doc.error());
  const auto head = doc->root().head();
  if (head != "footprint" && head != "module")
    return std::unexpected("the footprint file holds no footprint");
  if (!doc->root().atom(1)) return std::unexpected("the footprint has no name");
  return text;
}

}  // namespace

std::expected<SymbolEntry, std::string> symbol_to_install(const LoadedPart& loaded,
                                                          const std::string& footprint_ref) {
  if (!loaded.kicad) return written_symbol(loaded.part.symbol, footprint_ref);
  return page_symbol(loaded, footprint_ref);
}

std::expected<std::string, std::string> footprint_to_install(const LoadedPart& loaded) {
  if (auto why = footprint_refusal(loaded.part.footprint)) return std::unexpected(*why);
  if (!loaded.kicad) return altium_codec::write_kicad_footprint(loaded.part.footprint);
  return page_footprint(loaded);
}

}  // namespace vorn
