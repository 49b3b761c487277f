// The component catalog and the EDA kinds route against the mock platform, through the real
// curl and the real executable.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "harness.h"

namespace vorn::test {
namespace {

using nlohmann::json;

const std::string kListing = "/api/v1/pages?type=component&limit=200&offset=";

// A folder with a vorn-wiki that prints `whoami` (so that a fake elsewhere on PATH never decides
// the identity of these tests).
struct FakeWiki {
  TempDir dir;
  explicit FakeWiki(const std::string& whoami) {
    const auto path = dir.path() / "vorn-wiki";
    write_file(path, "#!/bin/sh\ncat <<'EOF'\n" + whoami + "\nEOF\n");
    chmod(path.c_str(), 0755);
  }
  std::string bin() const { return dir.path().string(); }
};

// A batch of `n` records whose slugs cycle through `distinct` names, with an optional total.
std::string batch(int n, int distinct, std::optional<long long> total, const std::string& title = "") {
  json pages = json::array();
  for (int i = 0; i < n; ++i) {
    json record{{"slug", "p" + std::to_string(i % distinct)}};
    if (!title.empty()) record["title"] = title;
    pages.push_back(record);
  }
  json doc{{"pages", pages}};
  if (total) doc["total"] = *total;
  return doc.dump();
}

json components(const Manager& m, const std::string& target = "/api/components") {
  const HttpAnswer r = m.get(target);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "application/json");
  return json::parse(r.body);
}

TEST(CatalogPaging, FullBatchEqualToTotalIsTheOnlyBatch) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  mock.on_text(kListing + "0", batch(200, 3, 200));
  mock.on_text(kListing + "200", batch(200, 3, 400));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  EXPECT_EQ(components(m)["components"].size(), 200u);
  EXPECT_EQ(mock.count(kListing), 1u);
}

TEST(CatalogPaging, FullBatchWithoutTotalIsTheOnlyBatch) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  mock.on_text(kListing + "0", batch(200, 3, std::nullopt));
  mock.on_text(kListing + "200", batch(200, 3, 400));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  EXPECT_EQ(components(m)["components"].size(), 200u);
  EXPECT_EQ(mock.count(kListing), 1u);
}

TEST(CatalogPaging, AtMostTwentyFiveBatchesAreRead) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  for (int offset = 0; offset <= 5200; offset += 200) mock.on_text(kListing + std::to_string(offset), batch(200, 4, 10000));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  const json list = components(m);
  EXPECT_EQ(list["components"].size(), 5000u);
  EXPECT_EQ(mock.count(kListing), 25u);
  EXPECT_EQ(mock.count(kListing + "4800"), 1u);
  EXPECT_EQ(mock.count(kListing + "5000"), 0u);
  // Four distinct slugs: four file listings, however many entries carry them.
  EXPECT_EQ(mock.count("/api/v1/pages/p"), 4u);
}

TEST(CatalogPaging, LaterBatchesFollowEachAnswerNotThePlan) {
  // The first answer announces 1,000 pages; the second batch is longer than asked and the third
  // ends the listing early: the entries are what reading one batch after another gives.
  MockPlatform mock;
  FakeWiki wiki("{}");
  mock.on_text(kListing + "0", batch(200, 3, 1000, "a"));
  mock.on_text(kListing + "200", batch(250, 3, 1000, "b"));
  mock.on_text(kListing + "400", batch(200, 3, 1000, "wrong"));  // off the real offsets
  mock.on_text(kListing + "450", batch(200, 3, 10000, "c"));
  mock.on_text(kListing + "650", batch(100, 3, 10000, "d"));
  mock.on_text(kListing + "750", batch(200, 3, 10000, "never"));
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  const json list = components(m);
  std::map<std::string, size_t> titles;
  for (const json& entry : list["components"]) ++titles[entry["title"].get<std::string>()];
  EXPECT_EQ(titles, (std::map<std::string, size_t>{{"a", 200}, {"b", 250}, {"c", 200}, {"d", 100}}));
  EXPECT_EQ(mock.count(kListing + "750"), 0u);
}

TEST(CatalogEntries, RecordsBecomeEntriesWithKindsAndIdentity) {
  MockPlatform mock;
  FakeWiki wiki(R"({"data":{"user":{"username":"ann"},"orgs":[{"name":"acme"},"beta",{"x":1}]}})");
  mock.on_text(kListing + "0",
               R"({"total":5,"pages":[)"
               R"({"slug":"k1","title":"Board One","tags":"[\"board\"]","composite_score":5,"starred":true},)"
               R"({"slug":"k2","tags":"not json","author_name":"bob","org_name":"acme","visibility":"public"},)"
               R"({"title":"no slug"},"junk",{"slug":""}]})");
  mock.on_text("/api/v1/pages/k1/files", R"({"files":[{"path":"Board.KICAD_PCB"},{"name":"b.f3d"}]})");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  const HttpAnswer r = m.get("/api/components");
  EXPECT_EQ(r.body,
            R"({"components":[)"
            R"({"brief":"","eda":["kicad","fusion"],"org":"","owner":"","score":5.0,"slug":"k1","starred":true,)"
            R"("tags":["board"],"title":"Board One","version":"","visibility":""},)"
            R"({"brief":"","eda":[],"org":"acme","owner":"bob","score":0.0,"slug":"k2","starred":false,)"
            R"("tags":[],"title":"k2","version":"","visibility":"public"}],)"
            R"("hints":["click a component to open its viewer"],"me":"ann","orgs":["acme","beta"],"status":"ok"})");
}

TEST(CatalogEntries, NothingListedGivesTheFiveFallbackEntries) {
  MockPlatform mock;  // refuses everything
  FakeWiki wiki("not json");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"VORN_API_KEY", ""}}, {}, wiki.bin());
  const HttpAnswer r = m.get("/api/components");
  EXPECT_EQ(r.body,
            R"({"components":[)"
            R"({"brief":"","eda":[],"slug":"cl21a476mqynnne","title":"CL21A476MQYNNNE"},)"
            R"({"brief":"","eda":[],"slug":"cq03saf4702t5e","title":"CQ03SAF4702T5E"},)"
            R"({"brief":"","eda":[],"slug":"lqm18pnr47mfhd","title":"LQM18PNR47MFHD"},)"
            R"({"brief":"","eda":[],"slug":"machinepinlargestandard","title":"MACHINEPINLARGESTANDARD"},)"
            R"({"brief":"","eda":[],"slug":"machinecontactmedium","title":"MACHINECONTACTMEDIUM"}],)"
            R"("fallback":true,"hints":["click a component to open its viewer"],"me":"","orgs":[],"status":"ok"})");
  // The fallback entries get their kinds looked up like any other entry (once: kinds are kept).
  EXPECT_EQ(mock.count("/api/v1/pages/cl21a476mqynnne/files"), 1u);
  // A failed listing is not kept: the next request asks the platform again.
  EXPECT_EQ(m.get("/api/components").body, r.body);
  EXPECT_EQ(mock.count(kListing), 2u);
  EXPECT_EQ(mock.count("/api/v1/pages/cl21a476mqynnne/files"), 1u);
}

TEST(CatalogCache, AListThatFellBackIsReplacedOnceThePlatformAnswers) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  std::atomic<int> calls{0};
  mock.on(kListing + "0", [&](const httplib::Request&, httplib::Response& res) {
    if (++calls == 1) {
      res.status = 503;
      return;
    }
    res.set_content(batch(1, 1, 1, "up"), "application/json");
  });
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  EXPECT_TRUE(components(m).value("fallback", false));
  const json good = components(m);
  EXPECT_FALSE(good.contains("fallback"));
  EXPECT_EQ(good["components"][0]["title"], "up");
  EXPECT_EQ(components(m)["components"][0]["title"], "up");
  EXPECT_EQ(calls.load(), 2);  // the good list is kept
}

TEST(CatalogCache, LaterRequestsAnswerFromMemoryAndRefreshIsAPlainTextSearch) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  std::atomic<int> calls{0};
  mock.on(kListing + "0", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(batch(2, 2, 2, "v" + std::to_string(++calls)), "application/json");
  });
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  EXPECT_EQ(components(m)["components"][0]["title"], "v1");
  const size_t seen = mock.seen().size();
  EXPECT_EQ(components(m)["components"][0]["title"], "v1");
  EXPECT_EQ(components(m, "/api/components?refresh=0")["components"][0]["title"], "v1");
  EXPECT_EQ(mock.seen().size(), seen);  // no platform request at all
  EXPECT_EQ(components(m, "/api/components?x=refresh=10")["components"][0]["title"], "v2");
  EXPECT_EQ(components(m, "/api/components?refresh=1")["components"][0]["title"], "v3");
  // A refresh re-reads the listing only: kinds are remembered for the life of the process.
  EXPECT_EQ(mock.count("/api/v1/pages/p0/files"), 1u);
  EXPECT_EQ(mock.count("/api/v1/pages/p1/files"), 1u);
  EXPECT_EQ(m.get("/api/components/").status, 404);
}

TEST(CatalogCache, RefreshDuringABuildWaitsThenBuildsAgain) {
  MockPlatform mock;
  FakeWiki wiki("{}");
  std::atomic<int> calls{0};
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  mock.on(kListing + "0", [&, gate](const httplib::Request&, httplib::Response& res) {
    const int n = ++calls;
    if (n == 1) gate.wait();
    res.set_content(batch(1, 1, 1, "v" + std::to_string(n)), "application/json");
  });
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}}, {}, wiki.bin());
  auto first = std::async(std::launch::async, [&] { return components(m); });
  while (calls.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto refresh = std::async(std::launch::async, [&] { return components(m, "/api/components?refresh=1"); });
  EXPECT_EQ(refresh.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
  EXPECT_EQ(calls.load(), 1);  // the refresh has not started a build of its own
  release.set_value();
  EXPECT_EQ(first.get()["components"][0]["title"], "v1");
  EXPECT_EQ(refresh.get()["components"][0]["title"], "v2");
  EXPECT_EQ(calls.load(), 2);
}

TEST(EdaRoute, KindsFromFileNamesAndAnEmptyListStaysCached) {
  MockPlatform mock;
  mock.on_text("/api/v1/pages/kb/files", R"({"files":[{"path":"Board.KICAD_PCB"}]})");
  mock.on_text("/api/v1/pages/ab/files", R"({"files":[{"path":"a.schdoc"},{"path":"b.f3d"},{"path":"c.PcbDoc"}]})");
  mock.on_text("/api/v1/pages/gb/files", R"({"files":[{"path":"m.glb"},{"path":"package.json"}]})");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  EXPECT_EQ(m.get("/api/board-eda/kb").body, R"({"eda":["kicad"]})");
  EXPECT_EQ(m.get("/api/board-eda/ab").body, R"({"eda":["altium","fusion"]})");
  EXPECT_EQ(m.get("/api/board-eda/gb").body, R"({"eda":[]})");
  const HttpAnswer missing = m.get("/api/board-eda/gone");
  EXPECT_EQ(missing.status, 200);
  EXPECT_EQ(missing.content_type, "application/json");
  EXPECT_EQ(missing.body, R"({"eda":[]})");
  // The page appears later, but the empty answer is remembered.
  mock.on_text("/api/v1/pages/gone/files", R"({"files":[{"path":"x.kicad_sch"}]})");
  EXPECT_EQ(m.get("/api/board-eda/gone").body, R"({"eda":[]})");
  EXPECT_EQ(mock.count("/api/v1/pages/gone/files"), 1u);
  EXPECT_EQ(m.get("/api/board-eda/kb").body, R"({"eda":["kicad"]})");
  EXPECT_EQ(mock.count("/api/v1/pages/kb/files"), 1u);
  // A slug that cannot name a page answers empty without asking the platform.
  const size_t before = mock.seen().size();
  EXPECT_EQ(m.get("/api/board-eda/../x").body, R"({"eda":[]})");
  EXPECT_EQ(m.get("/api/board-eda/").body, R"({"eda":[]})");
  EXPECT_EQ(mock.seen().size(), before);
}

}  // namespace
}  // namespace vorn::test
