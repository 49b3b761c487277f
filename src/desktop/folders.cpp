// Folder pick (start, collect) and folder listing on the desktop.
#include "desktop/folders.h"

#include <atomic>
#include <chrono>

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

std::atomic<std::uint64_t> g_pick_counter{0};

constexpr std::string_view kPending = "__PENDING__";
constexpr std::string_view kCancelled = "__CANCELLED__";
constexpr std::string_view kListError = "@@ERR@@";
constexpr std::string_view kListSeparator = "\n@@\n";

std::string collect_pick(const DesktopEnv& env, const std::string& id) {
  if (env.windows()) {
    // The script removes the file as it reads it, so an answer of blanks is final (cancelled),
    // not pending: only a missing answer keeps the pick pending.
    const auto answer = bridge_run_and_read(powershell_launch(ps_pick_result_script(id)));
    if (!answer) return std::string(kPending);
    const Json doc = Json::parse(*answer, nullptr, false);
    if (!doc.is_object() || !doc.contains("stdout") || !doc["stdout"].is_string()) {
      return std::string(kPending);
    }
    return doc["stdout"].get<std::string>();
  }
  const std::string file = pick_file_posix(id);
  auto answer = bridge_run_command(cmd_pick_cat(file));
  if (!answer) return std::string(kPending);
  (void)bridge_run_and_read(cmd_pick_rm(file));
  return *answer;
}

FolderListing list_posix(std::string_view folder) {
  FolderListing listing;
  const auto resolved = bridge_run_command(cmd_resolve_folder(folder));
  listing.path = resolved ? *resolved : std::string(folder);
  const auto parent = bridge_run_command(cmd_parent_folder(listing.path));
  if (parent && *parent != listing.path) listing.parent = *parent;
  if (const auto lines = bridge_run_command(cmd_list_subfolders(listing.path))) {
    add_listing_lines(listing, *lines);
  }
  return listing;
}

}  // namespace

std::string next_pick_id() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const std::uint64_t n = g_pick_counter.fetch_add(1);
  return std::to_string(ms < 0 ? 0 : ms) + "_" + std::to_string(n);
}

std::string clean_pick_id(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      out += c;
    }
  }
  return out;
}

Json pick_answer(std::string_view text) {
  const std::string_view t = trim(text);
  if (t == kPending) return Json{{"pending", true}};
  if (t.empty() || t == kCancelled) return Json{{"cancelled", true}};
  return Json{{"path", std::string(t)}};
}

void add_listing_lines(FolderListing& listing, std::string_view lines) {
  for (const auto& line : split(lines, "\n")) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    listing.dirs.emplace_back(std::string(trim(std::string_view(line).substr(0, tab))),
                              std::string(trim(std::string_view(line).substr(tab + 1))));
  }
}

FolderListing parse_windows_listing(std::string_view folder, const std::optional<std::string>& answer) {
  FolderListing listing{std::string(folder), "", {}};
  if (!answer || answer->empty() || answer->find(kListError) != std::string::npos) return listing;
  const std::string text = replace_all(*answer, "\r", "");
  const auto cut = text.find(kListSeparator);
  const std::string head = text.substr(0, cut);
  const auto nl = head.find('\n');
  listing.path = head.substr(0, nl);
  listing.parent = nl == std::string::npos ? "" : head.substr(nl + 1);
  if (const auto nl2 = listing.parent.find('\n'); nl2 != std::string::npos) listing.parent.resize(nl2);
  if (cut != std::string::npos) add_listing_lines(listing, std::string_view(text).substr(cut + kListSeparator.size()));
  return listing;
}

Json listing_json(const FolderListing& listing) {
  Json dirs = Json::array();
  for (const auto& [name, path] : listing.dirs) dirs.push_back(Json{{"name", name}, {"path", path}});
  return Json{{"path", listing.path}, {"parent", listing.parent}, {"dirs", dirs}};
}

Response handle_pick_folder(const Request&, std::string_view) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  const std::string id = next_pick_id();
  (void)bridge_run_and_read(cmd_pick_start(env.os, id));
  return json_response(Json{{"token", id}});
}

Response handle_pick_folder_result(const Request& request, std::string_view) {
  const std::string id = clean_pick_id(marker_param(request.url, "?f="));
  if (id.empty()) return json_response(Json{{"cancelled", true}});
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  return json_response(pick_answer(collect_pick(env, id)));
}

Response handle_list_dirs(const Request& request, std::string_view) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return json_response(desktop_unreachable_body());
  std::string folder = marker_param(request.url, "?p=");
  if (folder.empty()) folder = env.home;
  if (!is_desktop_absolute(env, folder))
    return json_response(Json{{"error", std::string(kInvalidDestPath)}});
  if (env.windows()) {
    const auto answer = bridge_run_command(powershell_launch(ps_list_folder_script(folder)));
    return json_response(listing_json(parse_windows_listing(folder, answer)));
  }
  return json_response(listing_json(list_posix(folder)));
}

}  // namespace vorn
