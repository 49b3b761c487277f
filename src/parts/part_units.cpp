// Per-unit pictures and pin types of a KiCad-pair page's symbol.
#include "parts/part_units.h"

#include <altium_codec/kicad.h>
#include <altium_codec/sexpr.h>

#include "desktop/kicad_symbol_blocks.h"
#include "parts/part_svg.h"

namespace vorn {
namespace {

namespace sexpr = altium_codec::sexpr;

// The page's chosen symbol as it stands on its own (derived symbols flattened).
std::optional<std::string> chosen_block(const LoadedPart& loaded) {
  const std::string& library = loaded.kicad->symbol_library;
  auto doc = sexpr::parse_borrowed(library);
  if (!doc) return std::nullopt;
  std::vector<std::string> names;
  for (const sexpr::Node c : doc->root()) {
    if (c.is_list() && c.head() == "symbol") names.emplace_back(c.atom(1).value_or(""));
  }
  std::string name = names.size() == 1 ? names.front() : loaded.part.symbol.name;
  auto block = standalone_symbol_block(library, name, loaded.part.symbol.name);
  if (!block) return std::nullopt;
  return std::move(*block);
}

Json unit_record(const std::string& block, int unit) {
  auto text = unit_block(block, unit);
  if (!text) return nullptr;
  auto doc = sexpr::parse("(kicad_symbol_lib (version 20241209)\n" + *text + "\n)");
  if (!doc) return nullptr;
  auto symbol = altium_codec::import_kicad_symbol(doc->root(), "");
  if (!symbol) return nullptr;
  Json pins = Json::array();
  doc->root().for_each_list("pin", [&pins](sexpr::Node pin) {
    const auto number = pin.child("number");
    const auto name = pin.child("name");
    pins.push_back(Json{{"number", number ? number->atom(1).value_or("") : ""},
                        {"name", name ? name->atom(1).value_or("") : ""},
                        {"type", pin.atom(1).value_or("")}});
  });
  return Json{{"unit", unit}, {"svg", symbol_svg(*symbol)}, {"pins", std::move(pins)}};
}

}  // namespace

Json part_units(const LoadedPart& loaded) {
  Json units = Json::array();
  if (!loaded.kicad) return units;
  const auto block = chosen_block(loaded);
  if (!block) return units;
  for (int unit : unit_numbers(*block)) {
    Json record = unit_record(*block, unit);
    if (!record.is_null()) units.push_back(std::move(record));
  }
  return units;
}

}  // namespace vorn
