// Request helpers and route-table dispatch.
#include <gtest/gtest.h>

#include "cli.h"
#include "server/route_table.h"

namespace vorn {
namespace {

TEST(QueryHelpers, FirstOccurrenceAnywhereInTheUrl) {
  EXPECT_EQ(query_param("/api/project-diff/dest=x?board=b&dest=%2Fhome", "dest"), "x?board=b");
  EXPECT_EQ(query_param("/api/project-diff?board=a%20b&dest=y", "board"), "a b");
  EXPECT_EQ(query_param("/x?y=1", "dest"), "");
  EXPECT_EQ(marker_param("/api/list-dirs?p=%2Fhome%2Fme&x=1", "?p="), "/home/me");
  EXPECT_EQ(marker_param("/api/list-dirs?x=1&p=2", "?p="), "");
  EXPECT_TRUE(has_flag("/api/components?x=refresh=10", "refresh=1"));
}

Response get(std::string url, std::string method = "GET") {
  return handle_request(Request{std::move(method), std::move(url), {}, {}, false});
}

TEST(ConditionalHeaders, GzipAcceptanceAndTagMatching) {
  for (const char* yes : {"gzip", "deflate, GZIP", "br;q=1, gzip;q=0.5", " gzip ; q=1"}) {
    EXPECT_TRUE(accepts_gzip(yes)) << yes;
  }
  for (const char* no : {"", "br", "gzip;q=0", "gzip; q=0.000", "x-gzip", "gzipped"}) {
    EXPECT_FALSE(accepts_gzip(no)) << no;
  }
  EXPECT_TRUE(etag_matches("\"a\"", "\"a\""));
  EXPECT_TRUE(etag_matches("\"b\", W/\"a\"", "\"a\""));
  EXPECT_TRUE(etag_matches("*", "\"a\""));
  EXPECT_FALSE(etag_matches("", "\"a\""));
  EXPECT_FALSE(etag_matches("\"ab\"", "\"a\""));
  EXPECT_FALSE(etag_matches("a", "\"a\""));
}

TEST(Routing, MethodsOtherThanGetAndPostAreNotFound) {
  for (const char* method : {"HEAD", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
    const Response r = get("/", method);
    EXPECT_EQ(r.status, 404) << method;
    EXPECT_EQ(r.body, "not found");
  }
  EXPECT_EQ(get("/", "POST").status, 404);
  EXPECT_EQ(get("/api/components", "POST").status, 404);
}

TEST(Routing, ExactRowsAndQueriesDoNotChangeTheRow) {
  EXPECT_EQ(get("/api/components/").status, 404);
  EXPECT_EQ(get("/nothing").status, 404);
  const Response page = get("/?x=1");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
  const Response gif = get("/loader.gif");
  EXPECT_EQ(gif.content_type, "image/gif");
  ASSERT_EQ(gif.headers.size(), 1u);
  EXPECT_EQ(gif.headers[0].second, "public, max-age=86400");
}

TEST(Routing, TableOrderSendsEnrichPathsToTheirOwnRow) {
  const auto table = route_table();
  auto row_of = [&](std::string_view path) {
    for (size_t i = 0; i < table.size(); ++i) {
      const Route& r = table[i];
      const bool hit = r.match == Match::kEquals ? path == r.path
                       : r.match == Match::kPrefix
                           ? path.starts_with(r.path)
                           : path.starts_with(r.path) && path.find("/enrich") != std::string_view::npos;
      if (hit) return static_cast<int>(i) + 1;
    }
    return 0;
  };
  EXPECT_EQ(row_of("/api/pick-folder"), 4);
  EXPECT_EQ(row_of("/api/pick-folder-result"), 5);
  EXPECT_EQ(row_of("/board-view/a/b/enrich"), 24);
  EXPECT_EQ(row_of("/board-view/a/b"), 25);
  EXPECT_EQ(row_of("/api/part/"), 13);
}

TEST(CommandLine, ScanOrderAndPortParsing) {
  EXPECT_EQ(parse_command_line({}).port, 8785);
  EXPECT_EQ(parse_command_line({"-p", "9000", "--port=9100"}).port, 9100);
  EXPECT_EQ(parse_command_line({"--port", "abc"}).port, 8785);
  EXPECT_EQ(parse_command_line({"--port=+80"}).port, 80);
  for (const char* bad : {"--port=70000", "--port=abc", "--port=", "--port= 80"}) {
    EXPECT_EQ(parse_command_line({"-p", "9000", bad}).port, 9000) << bad;
  }
  const CommandLine consumed = parse_command_line({"-p", "--render-board", "x"});
  EXPECT_FALSE(consumed.render_mode);
  EXPECT_EQ(consumed.port, 8785);
  const CommandLine render = parse_command_line({"--render-board", "b", "--port=1"});
  EXPECT_TRUE(render.render_mode);
  EXPECT_EQ(*render.render_slug, "b");
  EXPECT_EQ(render.port, 8785);
  EXPECT_FALSE(parse_command_line({"--render-board"}).render_slug.has_value());
}

}  // namespace
}  // namespace vorn
