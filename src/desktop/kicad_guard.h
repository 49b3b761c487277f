// The KiCad guard: refuses a part's symbol or footprint before it goes into a user library when
// the writer's text for it could not be loaded by KiCad. KiCad refuses a whole library (or hangs
// while opening it) over one bad entry, so one such part would make every other symbol or
// footprint in the user's library unusable. Checked: names that break the quoting or KiCad's
// naming rules, line breaks in quoted text, text that is not UTF-8, pin angles KiCad does not
// take, pad angles it cannot normalise, empty shapes, numbers that do not print as numbers.
// The writers themselves are left unchanged. Pure; thread-safe.
#pragma once

#include <altium_codec/part.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Why the symbol cannot be installed, or nothing when it can.
std::optional<std::string> symbol_refusal(const altium_codec::Symbol& symbol);

// Why the footprint cannot be installed, or nothing when it can.
std::optional<std::string> footprint_refusal(const altium_codec::Footprint& footprint);

// Why a piece of KiCad text taken from a page as it stands (a symbol block, a footprint file)
// cannot go into a user library: text that is not UTF-8, or a line break inside a quoted string.
std::optional<std::string> kicad_text_refusal(std::string_view text);

}  // namespace vorn
