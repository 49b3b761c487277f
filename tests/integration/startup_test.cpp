// Start-up, binding and the request guards, against the real executable.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace vorn::test {
namespace {

TEST(Startup, PrintsTheThreeLinesWithThePlatformBase) {
  Manager m(Env{{"VORN_PLATFORM_URL", "http://127.0.0.1:1"}});
  const std::string p = std::to_string(m.port());
  EXPECT_EQ(m.stdout_text(),
            "OK: Vorn Project Manager on http://localhost:" + p + "\n"
            "Hint: open it in a browser, or `vorn-desktop desktop_open_url {\"url\":\"http://localhost:" + p + "\"}`.\n"
            "Hint: the component list is fetched from http://127.0.0.1:1; click a row to open the viewer.\n");
  const HttpAnswer r = m.get("/nothing");
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.body, "not found");
  EXPECT_EQ(r.content_type, "text/plain; charset=UTF-8");
}

TEST(Startup, BindFailureNamesHostPortAndCause) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, 1);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string port = std::to_string(ntohs(addr.sin_port));
  const ExitResult r = run_manager({"--port=" + port});
  close(fd);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: bind 127.0.0.1:" + port + ": Address already in use\n");

  const ExitResult bad = run_manager({"--port=1"}, {{"VORN_LBR_BIND", ""}});
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(bad.err.starts_with("ERROR: bind :1: ")) << bad.err;
}

TEST(Startup, RenderFlagWithoutSlugExitsOneSilently) {
  for (auto args : {std::vector<std::string>{"--render-board"}, std::vector<std::string>{"--render-board", ""}}) {
    const ExitResult r = run_manager(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

TEST(Guards, ForeignHostIsRefusedAndCrossOriginPostToo) {
  Manager m;
  const std::string self = "localhost:" + std::to_string(m.port());
  EXPECT_EQ(m.get("/nothing", {{"Host", "evil.example:80"}}).status, 403);
  EXPECT_EQ(m.get("/nothing", {{"Host", "[::1]:9"}}).status, 404);
  const HttpAnswer cross = m.post("/api/apply", "{}", {{"Origin", "http://evil.example"}});
  EXPECT_EQ(cross.status, 403);
  EXPECT_EQ(cross.content_type, "text/plain; charset=UTF-8");
  EXPECT_EQ(cross.body, "forbidden: cross-origin request refused");
  // Same origin reaches the route.
  const HttpAnswer same = m.post("/api/apply", "{}", {{"Host", self}, {"Origin", "http://" + self}});
  EXPECT_NE(same.status, 403);
}

// A bridge that only logs: anything it is asked to run shows up in the log.
class LoggingBridge {
 public:
  LoggingBridge() {
    write_file(dir_.path() / "vorn-desktop",
               "#!/bin/sh\necho \"$*\" >> '" + log().string() + "'\necho '{}'\n");
    chmod((dir_.path() / "vorn-desktop").c_str(), 0755);
  }
  std::string path() const { return dir_.path().string(); }
  std::filesystem::path log() const { return dir_.path() / "calls.log"; }
  std::string calls() const { return std::filesystem::exists(log()) ? read_file(log()) : ""; }

 private:
  TempDir dir_;
};

TEST(Guards, OtherSitesAndOriginsReachNoRoute) {
  LoggingBridge bridge;
  Manager m({}, {}, bridge.path());
  const std::string self = "localhost:" + std::to_string(m.port());
  const std::string other_port = "http://localhost:" + std::to_string(m.port() + 1);
  const std::vector<httplib::Headers> foreign = {
      {{"Sec-Fetch-Site", "cross-site"},
       {"Sec-Fetch-Mode", "no-cors"},
       {"Sec-Fetch-Dest", "image"}},
      {{"Sec-Fetch-Site", "same-site"},
       {"Sec-Fetch-Mode", "no-cors"},
       {"Sec-Fetch-Dest", "script"}},
      {{"Sec-Fetch-Site", "same-site"},
       {"Sec-Fetch-Mode", "navigate"},
       {"Sec-Fetch-Dest", "iframe"}},
      {{"Sec-Fetch-Site", "cross-site"},
       {"Sec-Fetch-Mode", "navigate"},
       {"Sec-Fetch-Dest", "document"}},
      {{"Host", self}, {"Origin", other_port}},
      {{"Host", self}, {"Origin", "null"}},
  };
  for (const auto& headers : foreign) {
    for (const char* target :
         {"/api/pick-folder", "/api/list-dirs?p=%2Ftmp", "/api/suggest-path?p=x",
          "/api/in-library?slugs=abc", "/api/libraries", "/api/env"}) {
      const HttpAnswer r = m.get(target, headers);
      EXPECT_EQ(r.status, 403) << target;
      EXPECT_EQ(r.content_type, "text/plain; charset=UTF-8") << target;
      EXPECT_TRUE(r.body.starts_with("forbidden: ")) << target << " " << r.body;
    }
    EXPECT_EQ(m.post("/api/apply", R"({"items":[{"slug":"abc"}]})", headers).status, 403);
  }
  EXPECT_EQ(m.get("/", foreign[2]).status, 403);  // framing the page
  EXPECT_EQ(m.get("/api/apply-progress").body,
            R"({"done":true,"stage":"idle"})");  // no job started
  EXPECT_EQ(bridge.calls(), "");
  // A link from another site still opens the page; requests without browser headers are unchanged.
  EXPECT_EQ(m.get("/", {{"Sec-Fetch-Site", "cross-site"},
                        {"Sec-Fetch-Mode", "navigate"},
                        {"Sec-Fetch-Dest", "document"}})
                .status,
            200);
  EXPECT_EQ(m.get("/api/env",
                  {{"Sec-Fetch-Site", "same-origin"}, {"Host", self}, {"Origin", "http://" + self}})
                .status,
            200);
  EXPECT_NE(bridge.calls(), "");
}

TEST(Guards, NonLoopbackBindKeepsOnlyTheOriginCheck) {
  Manager m(Env{{"VORN_LBR_BIND", "0.0.0.0"}});
  EXPECT_EQ(m.get("/nothing", {{"Host", "workspace.example"}}).status, 404);
  EXPECT_EQ(m.post("/api/apply", "{}", {{"Host", "workspace.example"}, {"Origin", "http://other.example"}}).status,
            403);
}

TEST(Serving, PageAndViewerScriptWithTagsAndTheirGzipForm) {
  Manager m;
  const std::filesystem::path build = std::filesystem::path(VORN_TOOLS_BIN_DIR).parent_path().parent_path();
  const std::string page = read_file(std::filesystem::path(VORN_SOURCE_DIR) / "assets" / "index.html");
  struct Case {
    const char* path;
    std::string plain;
    std::string gzip;
  };
  const std::vector<Case> cases = {
      {"/", page, read_file(build / "assets" / "index.html.gz")},
      {"/vendor/model-viewer.min.js",
       read_file(std::filesystem::path(VORN_SOURCE_DIR) / "node_modules/@google/model-viewer/dist/model-viewer.min.js"),
       read_file(build / "assets" / "model-viewer.min.js.gz")}};
  for (const Case& c : cases) {
    ASSERT_GT(c.gzip.size(), 100u) << c.path;
    // No gzip asked (or only codings we do not make): the bytes as they are.
    for (const char* accept : {"", "br", "gzip;q=0, br"}) {
      const HttpAnswer r = m.get(c.path, {{"Accept-Encoding", accept}});
      EXPECT_EQ(r.status, 200) << c.path;
      EXPECT_EQ(r.headers.count("Content-Encoding"), 0u) << c.path << accept;
      EXPECT_TRUE(r.body == c.plain) << c.path << " " << accept;
    }
    const HttpAnswer plain = m.get(c.path);
    const HttpAnswer gz = m.get(c.path, {{"Accept-Encoding", "gzip, deflate, br"}});
    EXPECT_EQ(gz.status, 200);
    EXPECT_EQ(gz.headers.find("Content-Encoding")->second, "gzip") << c.path;
    EXPECT_TRUE(gz.body == c.plain) << c.path;  // the test client undoes the gzip
    const std::string tag = plain.headers.find("ETag")->second;
    const std::string gz_tag = gz.headers.find("ETag")->second;
    EXPECT_TRUE(tag.starts_with('"') && tag.ends_with('"')) << tag;  // strong
    EXPECT_NE(tag, gz_tag);
    // A matching tag answers 304 with no body; another tag (or the other form's) the bytes.
    const HttpAnswer again = m.get(c.path, {{"If-None-Match", "\"x\", " + tag}});
    EXPECT_EQ(again.status, 304) << c.path;
    EXPECT_TRUE(again.body.empty());
    EXPECT_EQ(m.get(c.path, {{"If-None-Match", "W/" + gz_tag}, {"Accept-Encoding", "gzip"}}).status, 304);
    EXPECT_EQ(m.get(c.path, {{"If-None-Match", gz_tag}}).status, 200) << c.path;
    EXPECT_EQ(m.get(c.path, {{"If-None-Match", "\"stale\""}}).status, 200) << c.path;
  }
  // The stored gzip form is the page itself.
  const ExitResult unzipped =
      run_executable("/bin/sh", {"-c", "gzip -dc '" + (build / "assets" / "index.html.gz").string() + "'"});
  EXPECT_TRUE(unzipped.out == page);
  EXPECT_EQ(m.get("/").content_type, "text/html; charset=utf-8");
  EXPECT_EQ(m.get("/vendor/model-viewer.min.js").content_type, "text/javascript; charset=utf-8");
}

TEST(Guards, OversizedPostBodyGetsTheRoutesBadBodyAnswer) {
  Manager m;
  const HttpAnswer r = m.post("/api/apply", std::string(9u << 20, ' '));
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.body.starts_with("{\"error\":\"bad body: ")) << r.body.substr(0, 200);
  // Invalid UTF-8 reaches the route as empty text: the same answer.
  EXPECT_TRUE(m.post("/api/apply", "{\"items\":\"\xFF\"}").body.find("bad body: ") != std::string::npos);
}

}  // namespace
}  // namespace vorn::test
