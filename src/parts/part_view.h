// The part view record answered by /api/part/<slug>: identity, source, the two pictures, the
// footprint layer table and counts of a component page, or the error form when the part cannot
// be loaded. Nothing is cached; every call loads the part again. Thread-safe.
#pragma once

#include <altium_codec/part.h>

#include <string_view>

#include "server/http.h"

namespace vorn {

// One entry per layer role present, ordered by role text: {"role","key","count","kicad","altium"}.
Json layer_table(const altium_codec::Footprint& footprint);

// The record for a slug; never fails (a loading failure gives the error form).
Json part_view(std::string_view slug);

}  // namespace vorn
