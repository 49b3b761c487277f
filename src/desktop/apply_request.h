// The apply request: the POST body of `api/apply`, its checks (in their fixed order, each with
// its exact message) and the accepted-name rules that `api/in-library` shares. Pure;
// thread-safe. The "already running" check lives with the progress record (apply_job.cpp),
// which runs these checks under its lock.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/http.h"

namespace vorn {

inline constexpr std::string_view kDefaultLibrary = "vorn_lbr";

// 1 to 128 bytes of ASCII letters, digits, "-", ".", "/", "_", without "..".
bool is_accepted_slug(std::string_view slug);
// 1 to 64 bytes of ASCII letters, digits, "-", ".", "_".
bool is_accepted_library_name(std::string_view name);

struct ApplyItem {
  std::string slug;
  std::string sym_lib;
  std::string fp_lib;
};

struct ApplyRequest {
  std::vector<ApplyItem> items;  // accepted items, in request order
  std::optional<std::string> board;
  std::string dest;
  bool project_only = false;
};

struct RequestError {
  std::string error;
  std::optional<std::string> hint;
};

// Checks 1-2: the body parses as a JSON object and names no target other than "kicad".
[[nodiscard]] std::expected<Json, RequestError> parse_apply_body(std::string_view body);
// Checks 4-7 on a parsed body: board, items, something selected, dest.
[[nodiscard]] std::expected<ApplyRequest, RequestError> check_apply_fields(const Json& body);

RequestError already_running_error();
// {"status": "error", "error": ..., ["hint": ...]}
Json error_body(const RequestError& e);

}  // namespace vorn
