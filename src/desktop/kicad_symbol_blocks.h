// Cutting one symbol out of a KiCad symbol library text so that it stands on its own in another
// library: every unit and body style, pin types and shapes, alternates, graphics and properties
// are kept byte for byte; a symbol that extends another one of the same text is flattened the
// way KiCad flattens it (the parent's drawing and flags, the derived symbol's properties over
// the parent's); the symbol and its unit symbols ("<name>_<unit>_<style>") take a new name; the
// Footprint property can be pointed at an installed footprint. The tree comes from the codec's
// s-expression reader; blocks are cut from the text with quote-aware parenthesis matching.
// Pure; thread-safe.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// The top-level symbol `name` of `library_text`, flattened when it extends another symbol of
// the text, renamed with its units to `new_name`. The reason when it cannot be cut (no such
// symbol, a missing or circular parent, a unit symbol without a unit suffix, text the reader
// refuses).
[[nodiscard]] std::expected<std::string, std::string> standalone_symbol_block(
    std::string_view library_text, std::string_view name, std::string_view new_name);

// The block with the value of its own Footprint property set to `value` (quoted as KiCad
// quotes); a hidden Footprint property is added after the last property when it has none.
[[nodiscard]] std::expected<std::string, std::string> with_footprint_property(
    std::string_view block, std::string_view value);

// The unit numbers above 0 of a standalone block's unit symbols, ascending.
std::vector<int> unit_numbers(std::string_view block);

// The block keeping only the unit symbols of unit 0 (shared by all units) and of `unit`, each in
// body style 0 or 1: what KiCad draws when that unit is placed.
[[nodiscard]] std::expected<std::string, std::string> unit_block(std::string_view block, int unit);

// The version number of a library text's header (0 when it has none), so that a cut block can
// be read back the way its own library would be read.
unsigned long library_version(std::string_view library_text);

}  // namespace vorn
