// The component catalog: every platform page of type component as one JSON document (the
// answer of /api/components), built from the paged listing, with the EDA kinds of every entry
// and the user's identity, and cached as text for the life of the process until a request
// carries "refresh=1".
//
// Thread-safe: the cache lock is held for a whole build, so concurrent requests queue behind
// one build and then answer its text. The EDA lookups of a build run on a bounded pool of
// scoped worker threads that are joined before the lock is released.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/http.h"

namespace vorn {

// Platform listing page size and the most pages read in one build.
inline constexpr int kListingBatch = 200;
inline constexpr int kListingMaxOffset = 4999;
// Concurrent EDA lookups (each one curl) during a build; see bench/catalog_bench.cpp.
inline constexpr size_t kEdaLookupPool = 16;

// One entry of the list from a page record of the listing; nothing when the record has no
// usable slug. The "eda" member is added later.
std::optional<Json> component_entry(const Json& page_record);

// The five entries answered when the listing yields none.
std::vector<Json> fallback_entries();

// Whether the listing continues after a batch of `batch_size` records that moved the offset to
// `new_offset`, given the response document.
bool listing_continues(size_t batch_size, const Json& response, long long new_offset);

// Runs `lookup` for every index in [0, count) on at most `pool_size` threads (the calling
// thread included) and returns when all are done.
void run_bounded(size_t count, size_t pool_size, const std::function<void(size_t)>& lookup);

// Builds the serialised component list (no caching); `pool_size` bounds the EDA lookups. When the
// listing yielded nothing, the list holds the fallback entries, carries "fallback": true, and
// `used_fallback` (when given) is set.
std::string build_component_list(size_t pool_size = kEdaLookupPool, bool* used_fallback = nullptr);

}  // namespace vorn
