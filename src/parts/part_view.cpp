// Part view record, layer table and the route /api/part/<slug>.
#include "parts/part_view.h"

#include <algorithm>
#include <array>
#include <map>

#include "parts/part_loading.h"
#include "parts/part_svg.h"
#include "parts/part_units.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

using altium_codec::FpLayerRole;

constexpr std::string_view kLoadHint = "the page needs an vorn-lbr JSON, or <MPN>.kicad_sym + <MPN>.kicad_mod";

struct LayerRow {
  FpLayerRole role;
  std::string_view name;
  std::string_view key;
  std::string_view kicad;
  std::string_view altium;
};

// The footprint layer table: one row per role, in role-index order.
constexpr std::array<LayerRow, 5> kLayerRows = {{
    {FpLayerRole::silk, "Silkscreen", "silk", "F.SilkS", "Mechanical 13 (Assembly Top)"},
    {FpLayerRole::courtyard, "Courtyard", "courtyard", "F.CrtYd", "Mechanical 15 (Courtyard Top)"},
    {FpLayerRole::fab, "Fabrication / Assembly", "fab", "F.Fab", "Mechanical 13 (Assembly Top)"},
    {FpLayerRole::copper, "Copper", "copper", "F.Cu", "Top Layer"},
    {FpLayerRole::other, "Other", "other", "F.Fab", "Mechanical 1"},
}};

const LayerRow& row_of(FpLayerRole role) {
  for (const auto& row : kLayerRows) {
    if (row.role == role) return row;
  }
  return kLayerRows.back();
}

Json error_record(const std::string& message) {
  return Json{{"status", "error"}, {"error", message}, {"hint", Json::array({kLoadHint})}};
}

}  // namespace

Json layer_table(const altium_codec::Footprint& footprint) {
  // Role text -> (row, count); a std::map keeps the entries sorted by role text.
  std::map<std::string_view, std::pair<const LayerRow*, size_t>> counts;
  if (!footprint.pads.empty()) counts[row_of(FpLayerRole::copper).name] = {&row_of(FpLayerRole::copper), footprint.pads.size()};
  for (const auto& graphic : footprint.graphics) {
    const FpLayerRole role = std::visit([](const auto& shape) { return shape.layer.role; }, graphic);
    const LayerRow& row = row_of(role);
    auto& slot = counts[row.name];
    slot.first = &row;
    ++slot.second;
  }
  Json table = Json::array();
  for (const auto& [name, entry] : counts) {
    const LayerRow& row = *entry.first;
    table.push_back(Json{{"role", row.name}, {"key", row.key}, {"count", entry.second}, {"kicad", row.kicad},
                         {"altium", row.altium}});
  }
  return table;
}

Json part_view(std::string_view slug) {
  const std::vector<std::string> files = list_page_files(slug);
  auto loaded = load_part(slug, files);
  if (!loaded) return error_record(loaded.error());
  const auto& part = loaded->part;
  const bool glb = std::any_of(files.begin(), files.end(), [](const std::string& f) { return ends_with(f, ".glb"); });
  Json record{{"status", "ok"},
              {"slug", slug},
              {"mpn", part.mpn},
              {"source", loaded->source},
              {"symbol_svg", symbol_svg(part.symbol)},
              {"footprint_svg", footprint_svg(part.footprint, pin_name_map(part.symbol))},
              {"layers", layer_table(part.footprint)},
              {"glb", glb},
              {"pins", part.symbol.pins.size()},
              {"pads", part.footprint.pads.size()}};
  // KiCad-pair pages add their units (pictures and pin types), part documents stay as they are.
  if (Json units = part_units(*loaded); !units.empty()) record["units"] = std::move(units);
  return record;
}

Response handle_part(const Request&, std::string_view received) {
  return json_response(part_view(page_slug(received)));
}

}  // namespace vorn
