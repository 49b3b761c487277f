// Part loading: picks the part document or the KiCad pair among a page's files, fetches it and
// turns it into a VornLbrPart.
#include "parts/part_loading.h"

#include <altium_codec/kicad.h>

#include <optional>

#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn {
namespace {

// Part-document suffixes, in order of preference (exact, case-sensitive).
constexpr std::string_view kDocumentSuffixes[] = {".vorn-lbr.json", ".vornlbr.json"};
constexpr std::string_view kSymbolSuffix = ".kicad_sym";
constexpr std::string_view kFootprintSuffix = ".kicad_mod";

std::optional<std::string> first_with_suffix(const std::vector<std::string>& files, std::string_view suffix) {
  for (const auto& name : files) {
    if (ends_with(name, suffix)) return name;
  }
  return std::nullopt;
}

std::optional<std::string> choose_document(const std::vector<std::string>& files) {
  for (const auto suffix : kDocumentSuffixes) {
    if (auto name = first_with_suffix(files, suffix)) return name;
  }
  return std::nullopt;
}

std::optional<std::string> fetch_named(std::string_view slug, const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return fetch_page_file_text(slug, *name);
}

}  // namespace

std::expected<LoadedPart, std::string> load_part(std::string_view slug) {
  return load_part(slug, list_page_files(slug));
}

std::expected<LoadedPart, std::string> load_part(std::string_view slug, const std::vector<std::string>& files) {
  if (const auto document = choose_document(files)) {
    if (const auto text = fetch_page_file_text(slug, *document)) {
      auto part = altium_codec::parse_vorn_lbr_part(*text);
      if (!part) return std::unexpected(*document + " is not valid vorn-lbr JSON: " + part.error());
      return LoadedPart{std::move(*part), std::string(kSourcePartDocument)};
    }
  }
  const auto symbol = fetch_named(slug, first_with_suffix(files, kSymbolSuffix));
  const auto footprint = fetch_named(slug, first_with_suffix(files, kFootprintSuffix));
  if (!symbol || !footprint) return std::unexpected("no vorn-lbr JSON or KiCad files on " + std::string(slug));
  auto part = altium_codec::import_kicad(*symbol, *footprint, to_upper(page_name(slug)));
  if (!part) return std::unexpected(std::move(part.error()));
  return LoadedPart{std::move(*part), std::string(kSourceKicad), KicadPairText{*symbol, *footprint}};
}

}  // namespace vorn
