// Component catalog: the paged listing (pages after the first fetched as one batch), the entries,
// the EDA lookups (one batch), the identity, and the process-wide cache of the finished text
// behind one lock.
#include "platform/catalog.h"

#include <algorithm>
#include <array>
#include <future>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "boards/eda_kinds.h"
#include "platform/batch_fetch.h"
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
    std::string text = build_component_list(&fallback);
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

std::string listing_url(long long offset) {
  return platform_base_url() +
         "/api/v1/pages?type=component&limit=" + std::to_string(kListingBatch) +
         "&offset=" + std::to_string(offset);
}

// A listing answer as a document; nothing when the fetch or the parse failed.
std::optional<Json> parse_batch(const std::optional<std::string>& body) {
  if (!body) return std::nullopt;
  Json doc = Json::parse(*body, nullptr, false);
  if (doc.is_discarded()) return std::nullopt;
  return doc;
}

// The offsets the listing will ask for after reaching `offset`, if every batch is full and the
// total stays what `response` says; the listing itself still decides batch by batch.
std::vector<long long> planned_offsets(const Json& response, long long offset) {
  std::vector<long long> offsets;
  for (long long next = offset; listing_continues(kListingBatch, response, next);
       next += kListingBatch) {
    offsets.push_back(next);
  }
  return offsets;
}

// Every entry of the listing, batch after batch. The first batch is read alone (its "total" says
// how many follow); the batches it announces are read together, then taken in order under the
// same stop rule as one-by-one reading. A batch that moves the offset off the plan, or a total
// that grows, sends the listing on from where it is.
std::vector<Json> list_entries() {
  std::vector<Json> entries;
  long long offset = 0;
  std::vector<long long> offsets = {0};
  while (!offsets.empty()) {
    std::vector<std::string> urls;
    for (const long long o : offsets) urls.push_back(listing_url(o));
    const FetchResults bodies =
        offsets.size() == 1 ? FetchResults{fetch_url(urls[0])} : fetch_urls(urls);
    std::optional<Json> last;
    for (size_t k = 0; k < offsets.size(); ++k) {
      if (offsets[k] != offset) break;  // off the plan: re-plan from here
      const auto doc = parse_batch(bodies[k]);
      if (!doc || !doc->is_object()) return entries;
      const auto pages = doc->find("pages");
      if (pages == doc->end() || !pages->is_array() || pages->empty()) return entries;
      for (const auto& record : *pages) {
        if (auto entry = component_entry(record)) entries.push_back(std::move(*entry));
      }
      offset += static_cast<long long>(pages->size());
      if (!listing_continues(pages->size(), *doc, offset)) return entries;
      last = std::move(doc);
    }
    offsets = planned_offsets(*last, offset);
    if (offsets.empty()) offsets = {offset};  // the rule said go on: at least the next batch
  }
  return entries;
}

// Sets "eda" on every entry, looking each distinct slug up once.
void add_eda_kinds(std::vector<Json>& entries) {
  std::vector<std::string> slugs;
  std::unordered_map<std::string, size_t> index_of;
  for (const auto& entry : entries) {
    const auto& slug = entry["slug"].get_ref<const std::string&>();
    if (index_of.emplace(slug, slugs.size()).second) slugs.push_back(slug);
  }
  const std::vector<EdaKinds> kinds = eda_kinds_of_pages(slugs);
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
  if (const auto it = record.find("starred"); it != record.end() && it->is_boolean())
    starred = it->get<bool>();
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

namespace {

// The identity, asked beside the platform reads (its own program, computed once per process).
std::future<Identity> identity_in_background() {
  try {
    return std::async(std::launch::async, identity);
  } catch (const std::system_error&) {
    return std::async(std::launch::deferred, identity);  // no thread to be had: asked when needed
  }
}

}  // namespace

std::string build_component_list(bool* used_fallback) {
  std::future<Identity> who = identity_in_background();
  std::vector<Json> entries = list_entries();
  const bool fallback = entries.empty();
  if (fallback) entries = fallback_entries();
  if (used_fallback) *used_fallback = fallback;
  add_eda_kinds(entries);
  const Identity me = who.get();
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
