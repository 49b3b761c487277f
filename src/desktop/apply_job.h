// The apply job: installs components into the user's KiCad libraries on the desktop and, when
// the request names a board, hands over to project delivery (boards/project_delivery.h).
// `POST api/apply` checks the request and starts one worker thread; `api/apply-progress` reads
// the progress record. At most one job runs at a time: the "already running" check and the
// publishing of the starting record happen under one hold of ApplyProgress's lock.
//
// Per symbol library: load each part, refuse symbols KiCad could not load (kicad_guard.h),
// pull the desktop file, decide by the existence test when the pull brought nothing, merge
// (library_merge.h), shrink guard, verification, stage, send. Per footprint library: create
// the .pretty folder, stage each footprint KiCad can load, send them in one call. No failure
// stops the job; each becomes one text in the result's "errors".
// Thread-safe: ApplyProgress owns its mutex; the worker is the only writer while a job runs.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/apply_request.h"
#include "server/http.h"

namespace vorn {

class ApplyProgress {
 public:
  // A copy of the record; nothing before the first job.
  std::optional<Json> snapshot() const;
  // Refuses while a job is running; otherwise checks the fields and publishes the starting
  // record, all under one hold of the lock.
  [[nodiscard]] std::expected<ApplyRequest, RequestError> begin(const Json& body);
  // Replaces the record with the working form; "total" unchanged.
  void set_stage(std::string stage, size_t current);
  // The final form for a result.
  void finish(Json result);

 private:
  mutable std::mutex mutex_;
  std::optional<Json> record_;
  size_t total_ = 0;
};

// The process-wide record that the routes use.
ApplyProgress& apply_progress();

// Runs a checked request to its end on the calling thread and publishes the final record;
// answers the result.
Json run_apply_job(const ApplyRequest& request, ApplyProgress& progress);

}  // namespace vorn
