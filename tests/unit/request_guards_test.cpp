// The request guards as one table: which requests pass, and why the others are refused.
#include "server/request_guards.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

using Header = std::optional<std::string_view>;
constexpr Header kNone = std::nullopt;

struct Case {
  const char* name;
  GuardedRequest request;
  bool refused;
};

TEST(RequestGuards, FetchMetadataOriginAndHost) {
  const Header host = "localhost:8785";
  const Case cases[] = {
      {"curl without browser headers",
       {"GET", "/api/pick-folder", host, kNone, kNone, kNone, kNone},
       false},
      {"no headers at all", {"GET", "/api/list-dirs", kNone, kNone, kNone, kNone, kNone}, false},
      {"the page's own fetch",
       {"GET", "/api/env", host, kNone, "same-origin", "cors", "empty"},
       false},
      {"address typed by the user",
       {"GET", "/api/env", host, kNone, "none", "navigate", "document"},
       false},
      {"same-origin POST",
       {"POST", "/api/apply", host, "http://localhost:8785", "same-origin", "cors", "empty"},
       false},
      {"link from anywhere to the page",
       {"GET", "/", host, kNone, "cross-site", "navigate", "document"},
       false},
      {"link from another port to the page",
       {"GET", "/", host, kNone, "same-site", "Navigate", "document"},
       false},
      {"img from another site",
       {"GET", "/api/pick-folder", host, kNone, "cross-site", "no-cors", "image"},
       true},
      {"img from another port",
       {"GET", "/api/list-dirs", host, kNone, "same-site", "no-cors", "image"},
       true},
      {"script from another port",
       {"GET", "/api/libraries", host, kNone, "same-site", "no-cors", "script"},
       true},
      {"iframe of the page", {"GET", "/", host, kNone, "same-site", "navigate", "iframe"}, true},
      {"top-level link to a route",
       {"GET", "/api/pick-folder", host, kNone, "cross-site", "navigate", "document"},
       true},
      {"form POST to the page",
       {"POST", "/", host, "http://localhost:9000", "same-site", "navigate", "document"},
       true},
      {"form POST without fetch metadata",
       {"POST", "/api/apply", host, "http://localhost:9000", kNone, kNone, kNone},
       true},
      {"GET with a foreign origin",
       {"GET", "/api/list-dirs", host, "http://evil.example", kNone, kNone, kNone},
       true},
      {"opaque origin", {"GET", "/api/env", host, "null", kNone, kNone, kNone}, true},
      {"origin differing only in case",
       {"GET", "/api/env", host, "http://LOCALHOST:8785", kNone, kNone, kNone},
       false},
      {"origin on another port",
       {"GET", "/api/env", host, "http://localhost:8786", kNone, kNone, kNone},
       true},
      {"foreign host", {"GET", "/", "evil.example", kNone, kNone, kNone, kNone}, true},
      {"IPv6 loopback host", {"GET", "/", "[::1]:8785", kNone, kNone, kNone, kNone}, false},
      {"127/8 host", {"GET", "/", "127.1.2.3", kNone, kNone, kNone, kNone}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(refusal_reason(c.request, true).has_value(), c.refused) << c.name;
  }
  // A non-loopback bind drops only the Host check.
  EXPECT_FALSE(
      refusal_reason({"GET", "/", "workspace.example", kNone, kNone, kNone, kNone}, false));
  EXPECT_TRUE(refusal_reason(
      {"GET", "/api/env", "workspace.example", kNone, "cross-site", "no-cors", "image"}, false));
}

}  // namespace
}  // namespace vorn
