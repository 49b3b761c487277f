// Embed page helpers: the fit style insertion and the one-component folder names.
#include "parts/part_embed.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

const std::string kFit =
    "<style id=\"vorn-fit\">@media(max-width:639px){aside{display:none!important}header{display:none!important}.tools,.av-tools{top:8px!important}}"
    ".tools,.av-tools{gap:2px!important;padding:2px!important;left:8px!important}"
    ".tools button,.av-tools button{width:22px!important;height:22px!important}"
    ".tools button svg,.av-tools button svg{width:13px!important;height:13px!important}</style>";

TEST(PartEmbed, FitStyleGoesBeforeTheFirstHeadEndOnly) {
  EXPECT_EQ(insert_fit_style("<html><head><title>x</title></head><body></head></body>"),
            "<html><head><title>x</title>" + kFit + "</head><body></head></body>");
  EXPECT_EQ(insert_fit_style("<p>no head</p></HEAD>"), "<p>no head</p></HEAD>");
  EXPECT_EQ(insert_fit_style(""), "");
}

TEST(PartEmbed, FolderNamesAreOneComponentAndOneToOne) {
  EXPECT_EQ(path_component("../../x"), "..%2F..%2Fx");
  EXPECT_EQ(path_component("a\\..\\b"), "a%5C..%5Cb");
  EXPECT_EQ(path_component(std::string_view("a\0b", 3)), "a%00b");
  EXPECT_EQ(path_component("plain-slug_1.2"), "plain-slug_1.2");
  // "a/b" and "a%2Fb" must not share a folder.
  EXPECT_NE(path_component("a/b"), path_component("a%2Fb"));
  EXPECT_EQ(path_component(".."), "..");  // safe only behind a prefix, which every caller adds
}

TEST(PartEmbed, EmbedCacheKeepsTheLaterInsertion) {
  EmbedCache cache;
  EXPECT_FALSE(cache.find("s/symbol"));
  cache.insert("s/symbol", "one");
  cache.insert("s/symbol", "two");
  EXPECT_EQ(cache.find("s/symbol"), "two");
  EXPECT_FALSE(cache.find("s/footprint"));
}

TEST(PartEmbed, UnknownKindsAnswerTheFallbackWithoutLoading) {
  EXPECT_EQ(part_embed_page("anything", "model"),
            "<p style='font:13px system-ui;color:#8b93a3;padding:20px'>viewer not available</p>");
  EXPECT_EQ(part_embed_page("anything", ""), std::string(kEmbedFallbackPage));
}

}  // namespace
}  // namespace vorn
