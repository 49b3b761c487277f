// Project delivery: the last step of an apply job that names a board. Copies the board's KiCad
// project (and its 3D models; in project-only mode a self-contained project library, otherwise
// project libraries for the nicknames the user's tables lack, project_libraries.h) from the
// platform into a folder on the desktop. Runs on the apply worker; never fails the job.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

namespace vorn {

// Sets the apply job's progress stage; the current count becomes the total.
using ProgressSink = std::function<void(std::string_view stage)>;

// Wall time spent in each kind of work of one delivery (for benchmarks), in seconds.
struct DeliveryTimings {
  double fetch = 0;     // platform: file list, project files, models
  double script = 0;    // the self-contain script
  double desktop = 0;   // bridge commands and transfers
};

struct DeliveryRequest {
  std::string board;          // accepted board slug
  std::string dest;           // the request's "dest" (may be empty or blanks)
  bool project_only = false;  // the project-only library mode
  DeliveryTimings* timings = nullptr;  // filled when given
};

inline constexpr std::string_view kStageSelfContained =
    "Building self-contained project (symbols, footprints, lib-tables)\u2026";
inline constexpr std::string_view kStagePlainProject = "Fetching KiCad project files (schematic, PCB, sheets)\u2026";

// The project result {"folder", "files"} for the apply result's "project" member. Always a value:
// every fetch, write and bridge failure only shortens "files".
[[nodiscard]] std::optional<Json> deliver_project(const DeliveryRequest& request,
                                                  ProgressSink& set_stage);

}  // namespace vorn
