// Remote export call through curl with the request body in a work file.
#include "boards/export_service.h"

#include <filesystem>

#include "boards/work_files.h"
#include "platform/config.h"
#include "proc/runner.h"

namespace vorn::boards {

bool is_export_answer(bool curl_ok, std::string_view output) {
  return curl_ok && output.size() >= kMinExportAnswer && !output.starts_with("error code");
}

std::optional<std::string> export_call(std::string_view staging_name, std::string_view kind, std::string_view format,
                                       std::string_view query, std::string_view body) {
  ensure_staging_root();
  const std::string request_file = std::string(kStagingRoot) + "/kx-" + std::string(staging_name) + "-" +
                                   std::string(kind) + "-" + std::string(format) + ".in";
  if (!write_bytes(request_file, body)) return std::nullopt;
  const std::string url = export_service_url() + "/kicad/" + std::string(kind) + "/export/" + std::string(format) +
                          std::string(query);
  // The body is binary: without a content type curl labels it a URL-encoded form, which servers
  // may try to parse as one (and refuse beyond a few kilobytes).
  CommandResult r = run_capture("curl", {"-s", "--max-time", "150", "-X", "POST", "-H",
                                         "Content-Type: application/octet-stream", "--data-binary",
                                         "@" + request_file, url});
  std::error_code ec;
  std::filesystem::remove(request_file, ec);
  if (!is_export_answer(r.ok(), r.out)) return std::nullopt;
  return std::move(r.out);
}

}  // namespace vorn::boards
