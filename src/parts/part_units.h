// The units of a component for the component view. A KiCad-pair page shows each unit of its
// symbol as KiCad places it (the shared drawing plus that unit's own pins and graphics, body
// style 1), with the pins' electrical types; a part-document page has no units of its own
// (its one picture is the symbol picture). Pure; thread-safe.
#pragma once

#include "parts/part_loading.h"
#include "server/http.h"

namespace vorn {

// [{"unit": n, "svg": picture, "pins": [{"number", "name", "type"}...]}...] in unit order;
// empty for part documents and for symbols that cannot be cut.
Json part_units(const LoadedPart& loaded);

}  // namespace vorn
