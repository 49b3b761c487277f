// Apply request checks, in order, with their messages.
#include "desktop/apply_request.h"

#include "platform/platform_api.h"

namespace vorn {
namespace {

bool is_ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string string_member(const Json& object, const char* key, std::string_view fallback) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::string(fallback);
  return it->get<std::string>();
}

}  // namespace

bool is_accepted_slug(std::string_view slug) {
  if (slug.empty() || slug.size() > 128 || slug.find("..") != std::string_view::npos) return false;
  for (char c : slug) {
    if (!is_ascii_alnum(c) && c != '-' && c != '.' && c != '/' && c != '_') return false;
  }
  return true;
}

bool is_accepted_library_name(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!is_ascii_alnum(c) && c != '-' && c != '.' && c != '_') return false;
  }
  return true;
}

std::expected<Json, RequestError> parse_apply_body(std::string_view body) {
  Json doc;
  try {
    doc = Json::parse(body);
  } catch (const Json::exception& e) {
    return std::unexpected(RequestError{"bad body: " + std::string(e.what()), std::nullopt});
  }
  if (!doc.is_object()) {
    return std::unexpected(RequestError{"bad body: expected a JSON object", std::nullopt});
  }
  if (const auto t = doc.find("target"); t != doc.end() && t->is_string() && *t != "kicad") {
    return std::unexpected(
        RequestError{"only KiCad add-to-library is implemented right now", std::nullopt});
  }
  return doc;
}

std::expected<ApplyRequest, RequestError> check_apply_fields(const Json& body) {
  ApplyRequest req;
  if (const auto b = body.find("board"); b != body.end() && b->is_string()) {
    const std::string board = page_slug(b->get<std::string>());
    if (!is_accepted_slug(board)) {
      return std::unexpected(RequestError{"invalid board slug: " + board, std::nullopt});
    }
    req.board = board;
  }
  std::vector<std::string> rejected;
  if (const auto items = body.find("items"); items != body.end() && items->is_array()) {
    for (const auto& entry : *items) {
      if (!entry.is_object()) continue;
      const auto s = entry.find("slug");
      if (s == entry.end() || !s->is_string() || s->get_ref<const std::string&>().empty()) continue;
      ApplyItem item{page_slug(s->get<std::string>()),
                     string_member(entry, "symLib", kDefaultLibrary),
                     string_member(entry, "fpLib", kDefaultLibrary)};
      if (!is_accepted_slug(item.slug) || !is_accepted_library_name(item.sym_lib) ||
          !is_accepted_library_name(item.fp_lib)) {
        rejected.push_back(item.slug);
        continue;
      }
      req.items.push_back(std::move(item));
    }
  }
  if (!rejected.empty()) {
    std::string joined;
    for (const auto& s : rejected) joined += (joined.empty() ? "" : ", ") + s;
    return std::unexpected(RequestError{"invalid slug or library name on: " + joined,
                                        "library names may only contain [A-Za-z0-9_.-]"});
  }
  if (req.items.empty() && !req.board) {
    return std::unexpected(RequestError{"no components selected", std::nullopt});
  }
  req.dest = string_member(body, "dest", "");
  if (req.dest.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
    return std::unexpected(RequestError{"invalid dest path", std::nullopt});
  }
  if (const auto p = body.find("project"); p != body.end() && p->is_boolean()) {
    req.project_only = p->get<bool>();
  }
  return req;
}

RequestError already_running_error() {
  return RequestError{"an apply is already running",
                      "poll /api/apply-progress until done:true, then retry"};
}

Json error_body(const RequestError& e) {
  Json out{{"status", "error"}, {"error", e.error}};
  if (e.hint) out["hint"] = *e.hint;
  return out;
}

}  // namespace vorn
