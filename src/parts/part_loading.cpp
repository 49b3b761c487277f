// Part loading: picks the part document or the KiCad pair among a page's files, fetches it and
// turns it into a VornLbrPart.
#include "parts/part_loading.h"

#include <altium_codec/kicad.h>

#include <algorithm>
#include <optional>

#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "util/text.h"

namespace vorn {
namespace {

// Part-document suffixes, in order of preference (exact, case-sensitive).
constexpr std::string_view kDocumentSuffixes[] = {".vorn-lbr.json", ".vornlbr.json"};
constexpr std::string_view kSymbolSuffix = ".kicad_sym";
constexpr std::string_view kFootprintSuffix = ".kicad_mod";

std::optional<std::string> first_with_suffix(const std::vector<std::string>& files,
                                             std::string_view suffix) {
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

std::optional<std::string> fetch_named(std::string_view slug,
                                       const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return fetch_page_file_text(slug, *name);
}

LoadResult from_document(const std::string& name, const std::string& text) {
  auto part = altium_codec::parse_vorn_lbr_part(text);
  if (!part) return std::unexpected(name + " is not valid vorn-lbr JSON: " + part.error());
  return LoadedPart{std::move(*part), std::string(kSourcePartDocument)};
}

LoadResult from_kicad(std::string_view slug, const std::optional<std::string>& symbol,
                      const std::optional<std::string>& footprint) {
  if (!symbol || !footprint)
    return std::unexpected("no vorn-lbr JSON or KiCad files on " + std::string(slug));
  auto part = altium_codec::import_kicad(*symbol, *footprint, to_upper(page_name(slug)));
  if (!part) return std::unexpected(std::move(part.error()));
  return LoadedPart{std::move(*part), std::string(kSourceKicad), KicadPairText{*symbol, *footprint}};
}

}  // namespace

LoadResult load_part(std::string_view slug) {
  return load_part(slug, list_page_files(slug));
}

LoadResult load_part(std::string_view slug, const std::vector<std::string>& files) {
  if (const auto document = choose_document(files)) {
    if (const auto text = fetch_page_file_text(slug, *document))
      return from_document(*document, *text);
  }
  const auto symbol = fetch_named(slug, first_with_suffix(files, kSymbolSuffix));
  const auto footprint = fetch_named(slug, first_with_suffix(files, kFootprintSuffix));
  return from_kicad(slug, symbol, footprint);
}

std::map<std::string, LoadResult> load_parts(const std::vector<std::string>& slugs) {
  std::vector<std::string> unique;
  for (const auto& slug : slugs) {
    if (std::find(unique.begin(), unique.end(), slug) == unique.end()) unique.push_back(slug);
  }
  const auto lists = list_pages_files(unique);
  // Part documents first; a page whose document yields nothing falls back to its KiCad pair.
  std::vector<PageFileRequest> documents;
  for (size_t i = 0; i < unique.size(); ++i)
    documents.push_back({unique[i], choose_document(lists[i]), {}});
  const FetchResults texts = fetch_page_files_text(documents);
  std::map<std::string, LoadResult> parts;
  std::vector<PageFileRequest> pairs;
  std::vector<size_t> pair_owner;
  for (size_t i = 0; i < unique.size(); ++i) {
    if (texts[i]) {
      parts.emplace(unique[i], from_document(*documents[i].name, *texts[i]));
      continue;
    }
    pairs.push_back({unique[i], first_with_suffix(lists[i], kSymbolSuffix), {}});
    pairs.push_back({unique[i], first_with_suffix(lists[i], kFootprintSuffix), {}});
    pair_owner.push_back(i);
  }
  const FetchResults pair_texts = fetch_page_files_text(pairs);
  for (size_t k = 0; k < pair_owner.size(); ++k) {
    const std::string& slug = unique[pair_owner[k]];
    parts.emplace(slug, from_kicad(slug, pair_texts[2 * k], pair_texts[2 * k + 1]));
  }
  return parts;
}

}  // namespace vorn
