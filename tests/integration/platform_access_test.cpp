// Platform reads through the real curl against the mock platform, each in a fresh probe process
// so the once-computed API key and identity start over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace vorn::test {
namespace {

using nlohmann::json;

class PlatformAccess : public ::testing::Test {
 protected:
  json probe(std::vector<std::string> args, Env env = {}, const std::string& extra_path = "") {
    env.emplace("VORN_PLATFORM_URL", platform.url());
    env.emplace("VORN_API_KEY_FILE", (dir.path() / "api-key").string());
    const ExitResult r = run_executable(VORN_FETCH_PROBE, args, env, 20000, extra_path);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
  std::string auth_of_last() { return platform.seen().back().authorization; }

  MockPlatform platform;
  TempDir dir;
};

TEST_F(PlatformAccess, KeySourcesAndPrecedence) {
  platform.on_text("/api/v1/pages/p/files/a.txt", "A");
  write_file(dir.path() / "api-key", "  file-key\n");
  EXPECT_EQ(probe({"file", "p", "a.txt"}, {{"VORN_API_KEY", "env-key"}}), "A");
  EXPECT_EQ(auth_of_last(), "Bearer file-key");

  write_file(dir.path() / "api-key", " \n\t");
  probe({"file", "p", "a.txt"}, {{"VORN_API_KEY", "env-key"}});
  EXPECT_EQ(auth_of_last(), "Bearer env-key");

  std::filesystem::remove(dir.path() / "api-key");
  probe({"file", "p", "a.txt"}, {{"VORN_API_KEY", ""}});
  EXPECT_EQ(auth_of_last(), "");
}

TEST_F(PlatformAccess, KeyGoesOnlyToThePlatformHost) {
  write_file(dir.path() / "api-key", "secret");
  platform.on_text("/img?pages.example=127.0.0.1", "png");
  // Same server reached by another host name: no key, even though the URL text holds the host.
  const std::string other = "http://localhost:" + std::to_string(platform.port()) + "/img?pages.example=127.0.0.1";
  EXPECT_EQ(probe({"url", other}), "png");
  EXPECT_EQ(auth_of_last(), "");
}

TEST_F(PlatformAccess, FailuresAndEmptyBodiesGiveNothing) {
  platform.on("/api/v1/pages/p/files/boom", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content("err", "text/plain");
  });
  platform.on_text("/api/v1/pages/p/files/empty", "");
  EXPECT_TRUE(probe({"file", "p", "missing"}).is_null());
  EXPECT_TRUE(probe({"file", "p", "boom"}).is_null());
  EXPECT_TRUE(probe({"file", "p", "empty"}).is_null());
  EXPECT_TRUE(probe({"url", "http://127.0.0.1:1/nothing-listens"}).is_null());
}

TEST_F(PlatformAccess, FileListElementRules) {
  platform.on_text("/api/v1/pages/p/files",
                   R"({"files":[{"path":"a.kicad_sym"},{"name":"b.json"},"plain",{"path":7,"name":"c"},{},)"
                   R"({"path":"d/e.glb","name":"ignored"}]})");
  EXPECT_EQ(probe({"list", "p"}), json::parse(R"(["a.kicad_sym","b.json","d/e.glb"])"));
  platform.on_text("/api/v1/pages/q/files", R"({"files":{"path":"x"}})");
  EXPECT_EQ(probe({"list", "q"}), json::array());
  EXPECT_EQ(probe({"list", "nothing"}), json::array());
}

TEST_F(PlatformAccess, FileAtRefMustBeUtf8) {
  platform.on_text("/api/v1/pages/p/files/s.txt?ref=abc", "old");
  platform.on_text("/api/v1/pages/p/files/b.bin?ref=abc", "\xFF\xFE", "application/octet-stream");
  EXPECT_EQ(probe({"ref", "p", "s.txt", "abc"}), "old");
  EXPECT_TRUE(probe({"ref", "p", "b.bin", "abc"}).is_null());
}

TEST_F(PlatformAccess, UnsafeSlugsAndNamesNeverReachCurl) {
  for (const char* slug : {"../../admin", "a/../b", "a?x=1", "a#b", "a b", "a\nb", "/abs", "a//b", "a%2e", "a\\b"}) {
    EXPECT_TRUE(probe({"file", slug, "f.txt"}).is_null()) << slug;
    EXPECT_EQ(probe({"list", slug}), json::array()) << slug;
  }
  EXPECT_TRUE(probe({"file", "ok", "../x"}).is_null());
  EXPECT_EQ(platform.seen().size(), 0u);
  // Slugs with "/" between non-empty segments stay valid.
  platform.on_text("/api/v1/pages/org/lib/files/f.txt", "nested");
  EXPECT_EQ(probe({"file", "org/lib", "f.txt"}), "nested");
}

TEST_F(PlatformAccess, BracketsAreNotGlobbed) {
  platform.on_text("/api/v1/pages/p/files/r[1-3]{a,b}.txt", "one");
  EXPECT_EQ(probe({"file", "p", "r[1-3]{a,b}.txt"}), "one");
  EXPECT_EQ(platform.seen().size(), 1u);
}

TEST_F(PlatformAccess, OnlyWebSchemesEvenAcrossRedirects) {
  write_file(dir.path() / "secret.txt", "local secret");
  EXPECT_TRUE(probe({"url", "file://" + (dir.path() / "secret.txt").string()}).is_null());
  platform.on("/hero", [this](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "file://" + (dir.path() / "secret.txt").string());
  });
  EXPECT_TRUE(probe({"url", platform.url() + "/hero"}).is_null());
}

TEST_F(PlatformAccess, IdentityFromVornWiki) {
  TempDir bin;
  auto fake = [&](const std::string& output) {
    write_file(bin.path() / "vorn-wiki", "#!/bin/sh\nprintf '%s' '" + output + "'\nexit 3\n");
    chmod((bin.path() / "vorn-wiki").c_str(), 0755);
  };
  fake(R"({"username":"top"})");
  EXPECT_EQ(probe({"identity"}, {}, bin.path()), json::parse(R"({"user":"top","orgs":[]})"));
  fake(R"({"data":{"user":{"username":"","name":"n"},"orgs":[{"name":"acme"},"beta",{"name":""},7]},"orgs":["x"]})");
  EXPECT_EQ(probe({"identity"}, {}, bin.path()), json::parse(R"({"user":"n","orgs":["acme","beta"]})"));
  fake("not json");
  EXPECT_EQ(probe({"identity"}, {}, bin.path()), json::parse(R"({"user":"","orgs":[]})"));
  std::filesystem::remove(bin.path() / "vorn-wiki");
  EXPECT_EQ(probe({"identity"}, {{"PATH", "/usr/bin:/bin"}}, bin.path()), json::parse(R"({"user":"","orgs":[]})"));
}

}  // namespace
}  // namespace vorn::test
