// Component entries from page records, the listing's continuation rule and the bounded pool.
#include <gtest/gtest.h>


#include "platform/catalog.h"

namespace vorn {
namespace {

Json entry_of(const char* record_text) {
  auto entry = component_entry(Json::parse(record_text));
  EXPECT_TRUE(entry.has_value()) << record_text;
  return entry.value_or(Json());
}

TEST(CatalogEntry, DefaultsForAMinimalRecord) {
  EXPECT_EQ(entry_of(R"({"slug":"r1"})").dump(),
            R"({"brief":"","org":"","owner":"","score":0.0,"slug":"r1","starred":false,"tags":[],)"
            R"("title":"r1","version":"","visibility":""})");
}

TEST(CatalogEntry, EveryMemberIsCopiedAndScoreIsADouble) {
  EXPECT_EQ(entry_of(R"({"slug":"r2","title":" T ","brief":"b<","tags":["a"],"author_name":"ann",)"
                     R"("org_name":"acme","starred":true,"visibility":"public","version":"1.2",)"
                     R"("composite_score":5,"other":1})")
                .dump(),
            R"({"brief":"b<","org":"acme","owner":"ann","score":5.0,"slug":"r2","starred":true,"tags":["a"],)"
            R"("title":" T ","version":"1.2","visibility":"public"})");
  EXPECT_EQ(entry_of(R"({"slug":"r","composite_score":-2.25})")["score"].dump(), "-2.25");
}

TEST(CatalogEntry, WrongTypesCountAsMissing) {
  const Json e = entry_of(R"({"slug":"r3","title":5,"brief":null,"author_name":[],"starred":"yes",)"
                          R"("composite_score":"9","version":1})");
  EXPECT_EQ(e["title"], "r3");
  EXPECT_EQ(e["brief"], "");
  EXPECT_EQ(e["owner"], "");
  EXPECT_EQ(e["starred"], false);
  EXPECT_EQ(e["score"].dump(), "0.0");
  EXPECT_EQ(e["version"], "");
}

TEST(CatalogEntry, TagsParseFromTextOrPassThrough) {
  EXPECT_EQ(entry_of(R"({"slug":"t","tags":"[\"board\"]"})")["tags"], Json::parse(R"(["board"])"));
  EXPECT_EQ(entry_of(R"({"slug":"t","tags":"board, part"})")["tags"], Json::array());
  EXPECT_EQ(entry_of(R"({"slug":"t","tags":""})")["tags"], Json::array());
  EXPECT_EQ(entry_of(R"({"slug":"t","tags":{"k":1}})")["tags"], Json::parse(R"({"k":1})"));
  EXPECT_EQ(entry_of(R"({"slug":"t","tags":"7"})")["tags"], Json(7));
}

TEST(CatalogEntry, RecordsWithoutAUsableSlugAreSkipped) {
  for (const char* record : {R"({})", R"({"slug":""})", R"({"slug":7})", R"("slug")", R"(null)"}) {
    EXPECT_FALSE(component_entry(Json::parse(record))) << record;
  }
}

TEST(CatalogEntry, FallbackEntriesHaveUpperCaseTitles) {
  const auto entries = fallback_entries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(Json(entries).dump(),
            R"([{"brief":"","slug":"cl21a476mqynnne","title":"CL21A476MQYNNNE"},)"
            R"({"brief":"","slug":"cq03saf4702t5e","title":"CQ03SAF4702T5E"},)"
            R"({"brief":"","slug":"lqm18pnr47mfhd","title":"LQM18PNR47MFHD"},)"
            R"({"brief":"","slug":"machinepinlargestandard","title":"MACHINEPINLARGESTANDARD"},)"
            R"({"brief":"","slug":"machinecontactmedium","title":"MACHINECONTACTMEDIUM"}])");
}

TEST(CatalogListing, ContinuesOnlyOnFullBatchesBelowTotalAndTheCap) {
  const Json total_10000 = Json::parse(R"({"total":10000})");
  EXPECT_TRUE(listing_continues(200, total_10000, 200));
  EXPECT_TRUE(listing_continues(200, total_10000, 4800));
  EXPECT_FALSE(listing_continues(200, total_10000, 5000));  // 25 batches read
  EXPECT_FALSE(listing_continues(199, total_10000, 199));
  EXPECT_FALSE(listing_continues(200, Json::parse(R"({"total":200})"), 200));
  EXPECT_TRUE(listing_continues(200, Json::parse(R"({"total":201})"), 200));
  for (const char* doc : {R"({})", R"({"total":-1})", R"({"total":1e9})", R"({"total":"9999"})", R"({"total":null})"}) {
    EXPECT_FALSE(listing_continues(200, Json::parse(doc), 200)) << doc;
  }
  EXPECT_TRUE(listing_continues(250, Json::parse(R"({"total":18446744073709551615})"), 250));
}

}  // namespace
}  // namespace vorn
