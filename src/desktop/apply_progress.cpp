// The apply progress record and the two apply routes.
#include <thread>

#include "desktop/apply_job.h"
#include "desktop/desktop_env.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {

std::optional<Json> ApplyProgress::snapshot() const {
  std::lock_guard lock(mutex_);
  return record_;
}

std::expected<ApplyRequest, RequestError> ApplyProgress::begin(const Json& body) {
  std::lock_guard lock(mutex_);
  if (record_ && record_->value("done", true) == false) return std::unexpected(already_running_error());
  auto request = check_apply_fields(body);
  if (!request) return request;
  total_ = request->items.size();
  record_ = Json{{"stage", "Starting…"}, {"current", 0}, {"total", total_}, {"done", false}};
  return request;
}

void ApplyProgress::set_stage(std::string stage, size_t current) {
  std::lock_guard lock(mutex_);
  record_ = Json{{"stage", std::move(stage)}, {"current", current}, {"total", total_}, {"done", false}};
}

void ApplyProgress::finish(Json result) {
  std::lock_guard lock(mutex_);
  record_ = Json{{"stage", "Done"}, {"current", total_}, {"total", total_}, {"done", true},
                 {"result", std::move(result)}};
}

ApplyProgress& apply_progress() {
  static ApplyProgress progress;
  return progress;
}

namespace {

// Refuses a job that could not reach the desktop or names a folder that is not an absolute path
// of the desktop's system (an empty "dest" means the default folder).
std::optional<RequestError> desktop_refusal(const Json& body) {
  const DesktopEnv env = desktop_env();
  if (!env.known()) return RequestError{std::string(kDesktopUnreachable), std::nullopt};
  const auto dest = body.find("dest");
  if (dest == body.end() || !dest->is_string()) return std::nullopt;
  const std::string_view folder = trim(dest->get_ref<const std::string&>());
  if (folder.empty() || is_desktop_absolute(env, folder)) return std::nullopt;
  return RequestError{std::string(kInvalidDestPath), std::nullopt};
}

}  // namespace

Response handle_apply(const Request& request, std::string_view) {
  auto body = parse_apply_body(request.body);
  if (!body) return json_response(error_body(body.error()));
  // A request that fails its own checks is answered by begin() (in the usual order) without
  // asking the desktop anything; a sound one is refused when the desktop cannot take it.
  if (check_apply_fields(*body)) {
    if (auto refusal = desktop_refusal(*body)) return json_response(error_body(*refusal));
  }
  auto checked = apply_progress().begin(*body);
  if (!checked) return json_response(error_body(checked.error()));
  const size_t total = checked->items.size();
  std::thread([req = std::move(*checked)] { (void)run_apply_job(req, apply_progress()); }).detach();
  return json_response(Json{{"status", "started"}, {"total", total}});
}

Response handle_apply_progress(const Request&, std::string_view) {
  if (auto record = apply_progress().snapshot()) return json_response(*record);
  return json_response(Json{{"stage", "idle"}, {"done", true}});
}

}  // namespace vorn
