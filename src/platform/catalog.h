// The component catalog: every platform page of type component as one JSON document (the
// answer of /api/components), built from the paged listing, with the EDA kinds of every entry
// and the user's identity, and cached as text for the life of the process until a request
// carries "refresh=1".
//
// Thread-safe: the cache lock is held for a whole build, so concurrent requests queue behind
// one build and then answer its text. The listing pages after the first, and the file lists of
// the EDA lookups, are each read as one batch (platform/batch_fetch.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "server/http.h"

namespace vorn {

// Platform listing page size and the most pages read in one build.
inline constexpr int kListingBatch = 200;
inline constexpr int kListingMaxOffset = 4999;

// One entry of the list from a page record of the listing; nothing when the record has no
// usable slug. The "eda" member is added later.
std::optional<Json> component_entry(const Json& page_record);

// The five entries answered when the listing yields none.
std::vector<Json> fallback_entries();

// Whether the listing continues after a batch of `batch_size` records that moved the offset to
// `new_offset`, given the response document.
bool listing_continues(size_t batch_size, const Json& response, long long new_offset);

// Builds the serialised component list (no caching). When the listing yielded nothing, the list
// holds the fallback entries, carries "fallback": true, and `used_fallback` (when given) is set.
std::string build_component_list(bool* used_fallback = nullptr);

}  // namespace vorn
