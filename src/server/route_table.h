// The ordered route table and the request handler that walks it. Matching uses the path only
// (the raw target up to its first "?"), so a query never changes which row is taken.
#pragma once

#include <span>
#include <string_view>

#include "server/handlers.h"

namespace vorn {

enum class Match {
  kEquals,             // the whole path equals the text
  kPrefix,             // the path starts with the text; the handler gets the rest
  kPrefixWithEnrich,   // starts with the text and contains "/enrich" anywhere
};

struct Route {
  Match match;
  std::string_view path;
  Handler handler;
};

// The GET routes, top to bottom; the first row whose test holds handles the request.
std::span<const Route> route_table();

// POST goes only to "/api/apply"; GET walks the table; everything else is not found.
Response handle_request(const Request& request);

}  // namespace vorn
