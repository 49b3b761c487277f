// The symbol guard: refuses a part's symbol before it goes into a user library when the symbol
// writer's text for it could not be loaded by KiCad (names that break the quoting or KiCad's
// naming rules, pin angles KiCad does not take, empty shapes, numbers that do not print as
// numbers). The writer itself is left unchanged. Pure; thread-safe.
#pragma once

#include <altium_codec/part.h>

#include <optional>
#include <string>

namespace vorn {

// Why the symbol cannot be installed, or nothing when it can.
std::optional<std::string> symbol_refusal(const altium_codec::Symbol& symbol);

}  // namespace vorn
