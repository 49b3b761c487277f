// Batch fetch through the real curl against the mock platform, each batch in a fresh probe
// process (so the once-computed API key starts over) with its own TMPDIR to watch the private
// config folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace vorn::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class BatchFetch : public ::testing::Test {
 protected:
  json run(const std::vector<std::string>& args) {
    Env env{{"VORN_PLATFORM_URL", platform.url()},
            {"VORN_API_KEY_FILE", (dir.path() / "api-key").string()},
            {"VORN_API_KEY", ""},
            {"TMPDIR", tmp.path().string()}};
    const ExitResult r = run_executable(VORN_FETCH_PROBE, args, env, 60000);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
  json batch(const std::vector<std::string>& urls, int max_seconds = 12, size_t chunk = 1000) {
    std::string list;
    for (const auto& u : urls) list += u + "\n";
    write_file(dir.path() / "urls.txt", list);
    return run({"batch", (dir.path() / "urls.txt").string(), std::to_string(max_seconds),
                std::to_string(chunk)});
  }
  std::string auth_of(const std::string& target) {
    for (const auto& s : platform.seen()) {
      if (s.target == target) return s.authorization;
    }
    return "<not requested>";
  }
  size_t leftovers() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()));
  }

  MockPlatform platform;
  TempDir dir;
  TempDir tmp;
};

TEST_F(BatchFetch, EachAnswerLandsOnItsOwnUrl) {
  const std::string base = platform.url();
  platform.on_text("/a", "A");
  platform.on_text("/b", "B");
  platform.on_text("/empty", "");
  platform.on("/boom", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content("err", "text/plain");
  });
  platform.on("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
    res.set_content("late", "text/plain");
  });
  platform.on("/to-file", [this](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "file://" + (dir.path() / "api-key").string());
  });
  platform.on("/moved", [](const httplib::Request&, httplib::Response& res) {
    res.status = 301;
    res.set_header("Location", "/b");
  });
  write_file(dir.path() / "api-key", "local secret");
  const json got =
      batch({base + "/slow", base + "/a", base + "/missing", base + "/boom", base + "/empty",
             "file://" + (dir.path() / "api-key").string(), base + "/to-file", base + "/moved",
             "http://127.0.0.1:1/closed", base + "/b", base + "/a"},
            3);
  const json want = json::parse(R"([null,"A",null,null,null,null,null,"B",null,"B","A"])");
  EXPECT_EQ(got, want);
  EXPECT_EQ(leftovers(), 0u) << "the private config folder must be removed";
}

TEST_F(BatchFetch, KeyOnlyForThePlatformHostAndItsFileStaysPrivate) {
  write_file(dir.path() / "api-key", "secret\n");
  std::string folder_mode, config_mode;
  platform.on("/mine", [&](const httplib::Request&, httplib::Response& res) {
    // While curl runs: one private folder holding the config file, readable by its owner only.
    for (const auto& entry : fs::directory_iterator(tmp.path())) {
      struct stat st {};
      stat(entry.path().c_str(), &st);
      folder_mode = std::to_string(st.st_mode & 0777);
      for (const auto& inner : fs::directory_iterator(entry.path())) {
        if (inner.path().extension() != ".conf") continue;
        stat(inner.path().c_str(), &st);
        config_mode = std::to_string(st.st_mode & 0777);
      }
    }
    res.set_content("mine", "text/plain");
  });
  platform.on_text("/other", "other");
  const std::string other = "http://localhost:" + std::to_string(platform.port()) + "/other";
  EXPECT_EQ(batch({other, platform.url() + "/mine", other + "?" + platform.url()}),
            json::parse(R"(["other","mine",null])"));
  EXPECT_EQ(auth_of("/mine"), "Bearer secret");
  EXPECT_EQ(auth_of("/other"), "");
  EXPECT_EQ(folder_mode, std::to_string(0700));
  EXPECT_EQ(config_mode, std::to_string(0600));
  EXPECT_EQ(leftovers(), 0u);
}

TEST_F(BatchFetch, HostileUrlsCannotBreakTheConfigFile) {
  const std::string base = platform.url();
  platform.on_text("/ok", "OK");
  const std::vector<std::string> hostile = {
      base + "/q\"x",      base + "/b\\\\\"\" output = \"/tmp/vorn-pwned",
      base + "/s p a c e", base + "/t\" url = \"" + base + "/ok",
      base + "/bs\\",      base + "/r[1-3]{a,b}",
  };
  for (const auto& target : {"/q\"x", "/bs\\", "/r[1-3]{a,b}"}) platform.on_text(target, target);
  std::vector<std::string> urls = hostile;
  urls.push_back(base + "/ok");
  const json got = batch(urls);
  ASSERT_EQ(got.size(), urls.size());
  EXPECT_EQ(got.back(), "OK");
  // Each hostile URL gives what the single fetch gives for it.
  for (size_t i = 0; i < hostile.size(); ++i) {
    EXPECT_EQ(got[i], run({"url", hostile[i]})) << hostile[i];
  }
  EXPECT_FALSE(fs::exists("/tmp/vorn-pwned"));
  EXPECT_EQ(platform.count("/ok"), 1u) << "no URL may smuggle in another transfer";
}

TEST_F(BatchFetch, UnsafePageNamesNeverReachCurl) {
  platform.on_text("/api/v1/pages/p/files/good.txt", "good");
  EXPECT_EQ(run({"batch-files", "p", "../x", "good.txt", "a?b", "a b"}),
            json::parse(R"([null,"good",null,null])"));
  EXPECT_EQ(run({"batch-files", "../etc", "good.txt"}), json::parse("[null]"));
  EXPECT_EQ(platform.seen().size(), 1u);
}

TEST_F(BatchFetch, FiveThousandUrlsInChunks) {
  constexpr int kCount = 5000;
  std::vector<std::string> urls;
  for (int i = 0; i < kCount; ++i) {
    const std::string target = "/n/" + std::to_string(i);
    if (i % 97 != 0) platform.on_text(target, "body " + std::to_string(i));
    urls.push_back(platform.url() + target);
  }
  const json got = batch(urls, 12, 1200);
  ASSERT_EQ(got.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    if (i % 97 == 0) {
      EXPECT_TRUE(got[i].is_null()) << i;
    } else {
      EXPECT_EQ(got[i], "body " + std::to_string(i)) << i;
    }
  }
  EXPECT_EQ(platform.count("/n/"), static_cast<size_t>(kCount));
  EXPECT_EQ(leftovers(), 0u);
}

}  // namespace
}  // namespace vorn::test
