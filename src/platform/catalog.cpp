// Component catalog: the paged listing, the entries, the EDA lookups on a bounded pool, the
// identity, and the process-wide cache of the finished text behind one lock.
#include "platform/catalog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "boards/eda_kinds.h"
#include "platform/config.h"
#include "platform/platform_api.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

constexpr std::string_view kHint = "click a component to open its viewer";
constexpr std::string_view kRefreshFlag = "refresh=1";
constexpr std::array<std::string_view, 5> kFallbackSlugs = {
    "cl21a476mqynnne", "cq03saf4702t5e", "lqm18pnr47mfhd", "machinepinlargestandard", "machinecontactmedium"};

// The cached text of the last list built, behind the lock that is held for a whole build.
class ComponentListCache {
 public:
  // The cached text, building it first (under the lock) when the cache is empty or `refresh`.
  std::string get(bool refresh) {
    std::lock_guard lock(mutex_);
    if (refresh) text_.reset();
    if (text_) return *text_;
    bool fallback = false;
    std::string text = build_component_list(kEdaLookupPool, &fallback);
    // A list that fell back to the built-in entries is not kept: the next request tries again.
    if (!fallback) text_ = text;
    return text;
  }

 private:
  std::mutex mutex_;
  std::optional<std::string> text_;
};

ComponentListCache& list_cache() {
  static ComponentListCache cache;
  return cache;
}

// The string member `key`, or `fallback` when missing or not a string.
std::string string_member(const Json& record, const char* key, std::string_view fallback) {
  const auto it = record.find(key);
  if (it != record.end() && it->is_string()) return it->get<std::string>();
  return std::string(fallback);
}

Json tags_member(const Json& record) {
  const auto it = record.find("tags");
  if (it == record.end()) return Json::array();
  if (!it->is_string()) return *it;
  Json parsed = Json::parse(it->get_ref<const std::string&>(), nullptr, false);
  return parsed.is_discarded() ? Json::array() : parsed;
}

// One batch of the listing; nothing when the fetch or the parse fails.
std::optional<Json> fetch_batch(long long offset) {
  const auto body = fetch_url(platform_base_url() + "/api/v1/pages?type=component&limit=" +
                              std::to_string(kListingBatch) + "&offset=" + std::to_string(offset));
  if (!body) return std::nullopt;
  Json doc = Json::parse(*body, nullptr, false);
  if (doc.is_discarded()) return std::nullopt;
  return doc;
}

// Every entry of the listing, batch after batch.
std::vector<Json> list_entries() {
  std::vector<Json> entries;
  long long offset = 0;
  while (true) {
    const auto doc = fetch_batch(offset);
    if (!doc || !doc->is_object()) break;
    const auto pages = doc->find("pages");
    if (pages == doc->end() || !pages->is_array() || pages->empty()) break;
    for (const auto& record : *pages) {
      if (auto entry = component_entry(record)) entries.push_back(std::move(*entry));
    }
    offset += static_cast<long long>(pages->size());
    if (!listing_continues(pages->size(), *doc, offset)) break;
  }
  return entries;
}

// Sets "eda" on every entry, looking each distinct slug up once on the bounded pool.
void add_eda_kinds(std::vector<Json>& entries, size_t pool_size) {
  std::vector<std::string> slugs;
  std::unordered_map<std::string, size_t> index_of;
  for (const auto& entry : entries) {
    const auto& slug = entry["slug"].get_ref<const std::string&>();
    if (index_of.emplace(slug, slugs.size()).second) slugs.push_back(slug);
  }
  std::vector<EdaKinds> kinds(slugs.size());
  run_bounded(slugs.size(), pool_size, [&](size_t i) { kinds[i] = eda_kinds(slugs[i]); });
  for (auto& entry : entries) entry["eda"] = kinds[index_of.at(entry["slug"].get<std::string>())];
}

}  // namespace

std::optional<Json> component_entry(const Json& record) {
  if (!record.is_object()) return std::nullopt;
  const std::string slug = string_member(record, "slug", "");
  if (slug.empty()) return std::nullopt;
  double score = 0.0;
  if (const auto it = record.find("composite_score"); it != record.end() && it->is_number()) {
    score = it->get<double>();
  }
  bool starred = false;
  if (const auto it = record.find("starred"); it != record.end() && it->is_boolean()) starred = it->get<bool>();
  return Json{{"slug", slug},
              {"title", string_member(record, "title", slug)},
              {"brief", string_member(record, "brief", "")},
              {"tags", tags_member(record)},
              {"owner", string_member(record, "author_name", "")},
              {"org", string_member(record, "org_name", "")},
              {"starred", starred},
              {"visibility", string_member(record, "visibility", "")},
              {"version", string_member(record, "version", "")},
              {"score", score}};
}

std::vector<Json> fallback_entries() {
  std::vector<Json> entries;
  for (const auto slug : kFallbackSlugs) {
    entries.push_back(Json{{"slug", slug}, {"title", to_upper(slug)}, {"brief", ""}});
  }
  return entries;
}

bool listing_continues(size_t batch_size, const Json& response, long long new_offset) {
  if (batch_size < static_cast<size_t>(kListingBatch)) return false;
  const auto total = response.find("total");
  if (total == response.end()) return false;
  // Only an integer counts: 10000.0 or "10000" end the listing like a missing total.
  long long value = 0;
  if (total->is_number_unsigned()) {
    const auto u = total->get<unsigned long long>();
    value = u > 1'000'000'000'000ULL ? 1'000'000'000'000LL : static_cast<long long>(u);
  } else if (total->is_number_integer()) {
    value = total->get<long long>();
  } else {
    return false;
  }
  return value >= 0 && value > new_offset && new_offset <= kListingMaxOffset;
}

void run_bounded(size_t count, size_t pool_size, const std::function<void(size_t)>& lookup) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < count; i = next++) lookup(i);
  };
  const size_t helpers = std::min(count, std::max<size_t>(pool_size, 1)) - (count > 0 ? 1 : 0);
  std::vector<std::jthread> threads;
  threads.reserve(helpers);
  for (size_t t = 0; t < helpers; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the ones running (and this one) do the rest
    }
  }
  work();
}

std::string build_component_list(size_t pool_size, bool* used_fallback) {
  std::vector<Json> entries = list_entries();
  const bool fallback = entries.empty();
  if (fallback) entries = fallback_entries();
  if (used_fallback) *used_fallback = fallback;
  add_eda_kinds(entries, pool_size);
  const Identity me = identity();
  Json list{{"status", "ok"},
            {"components", std::move(entries)},
            {"me", me.user},
            {"orgs", me.orgs},
            {"hints", Json::array({kHint})}};
  // Tells the page that the platform yielded nothing and these are the built-in entries.
  if (fallback) list["fallback"] = true;
  return list.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Response handle_components(const Request& request, std::string_view) {
  return json_response(list_cache().get(has_flag(request.url, kRefreshFlag)));
}

}  // namespace vorn
