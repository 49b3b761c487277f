// Loading the part of a component page: the part document (".vorn-lbr.json", then
// ".vornlbr.json") when the page has one, otherwise the KiCad pair (".kicad_sym" + ".kicad_mod")
// through the importer. Every consumer (part view, embed pages, in-library check, apply job) gets
// its record here, so all of them see the same part and the same errors. Nothing is cached.
// Thread-safe.
#pragma once

#include <altium_codec/part.h>

#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

inline constexpr std::string_view kSourcePartDocument = "vorn-lbr json";
inline constexpr std::string_view kSourceKicad = "kicad (generated)";

// The texts of a page's KiCad pair, as fetched.
struct KicadPairText {
  std::string symbol_library;  // the ".kicad_sym" file
  std::string footprint;       // the ".kicad_mod" file
};

struct LoadedPart {
  altium_codec::VornLbrPart part;
  std::string source;                       // kSourcePartDocument or kSourceKicad
  std::optional<KicadPairText> kicad = {};  // KiCad-pair pages: the texts the part came from
};

// The part of a page, or the loading error message.
[[nodiscard]] std::expected<LoadedPart, std::string> load_part(std::string_view slug);
// As above with the page's file listing already fetched (the part view lists the files anyway).
[[nodiscard]] std::expected<LoadedPart, std::string> load_part(
    std::string_view slug, const std::vector<std::string>& files);

using LoadResult = std::expected<LoadedPart, std::string>;

// The parts of many pages, each exactly as load_part would give it, with every platform read of
// one step carried by one batch (file lists, then part documents, then KiCad pairs). Keyed by
// slug; every slug of the list is present.
[[nodiscard]] std::map<std::string, LoadResult> load_parts(const std::vector<std::string>& slugs);

}  // namespace vorn
