// What the apply job installs for a loaded part. A component page that carries a KiCad pair
// installs its own KiCad text: the chosen symbol's block from the page's library (every unit and
// body style, pin types and shapes, alternates, graphics, properties), flattened when it extends
// another symbol, under the name the part record carries, and the page's own footprint file (3D
// model references kept). A part-document page goes through the symbol and footprint writers.
// Either way the KiCad guard (kicad_guard.h) decides first whether KiCad could load it. Pure;
// thread-safe.
#pragma once

#include <expected>
#include <string>

#include "desktop/library_merge.h"
#include "parts/part_loading.h"

namespace vorn {

// The symbol entry to merge, its Footprint property naming `footprint_ref` ("<lib>:<name>")
// when that is not empty; the reason when KiCad could not load it.
[[nodiscard]] std::expected<SymbolEntry, std::string> symbol_to_install(
    const LoadedPart& loaded, const std::string& footprint_ref);

// The footprint file text to install; the reason when KiCad could not load it.
[[nodiscard]] std::expected<std::string, std::string> footprint_to_install(
    const LoadedPart& loaded);

}  // namespace vorn
