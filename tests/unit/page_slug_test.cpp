// The one rule that turns a received slug into the page it names.
#include <gtest/gtest.h>

#include "platform/platform_api.h"

namespace vorn {
namespace {

struct Case {
  const char* received;
  const char* slug;
  bool accepted;  // whether a platform read takes the result
};

TEST(PageSlug, EncodedSlashIsTheOnlyEscapeTaken) {
  const Case cases[] = {
      {"blinky", "blinky", true},
      {"acme/blinky", "acme/blinky", true},
      {"acme%2Fblinky", "acme/blinky", true},
      {"acme%2fblinky", "acme/blinky", true},
      {"a%2Fb%2Fc", "a/b/c", true},
      // Everything else comes back as received, and no platform read accepts it.
      {"acme%2E%2E", "acme%2E%2E", false},
      {"acme%2F..", "acme%2F..", false},
      {"acme%2F", "acme%2F", false},
      {"%2Facme", "%2Facme", false},
      {"acme%2F%2Fb", "acme%2F%2Fb", false},
      {"acme%252Fb", "acme%252Fb", false},
      {"acme%2Fb%3Fx", "acme%2Fb%3Fx", false},
      {"acme%2Fb c", "acme%2Fb c", false},
      {"acme%2", "acme%2", false},
      {"a/../b", "a/../b", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(page_slug(c.received), c.slug) << c.received;
    EXPECT_EQ(is_safe_url_path(page_slug(c.received)), c.accepted) << c.received;
  }
}

}  // namespace
}  // namespace vorn
