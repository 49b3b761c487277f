// The remote KiCad export call: posts a request body to "<service>/kicad/<kind>/export/<format>"
// through curl and hands back the exported artefact. Thread-safe: request files are named per
// staging name, kind and format.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::boards {

// Answers of this size or smaller are error pages, never artefacts.
inline constexpr size_t kMinExportAnswer = 65;

// True when the captured output of a finished curl run counts as an answer.
bool is_export_answer(bool curl_ok, std::string_view output);

// The artefact, or nothing (request file not writable, curl failure, short or "error code" body).
std::optional<std::string> export_call(std::string_view staging_name, std::string_view kind, std::string_view format,
                                       std::string_view query, std::string_view body);

}  // namespace vorn::boards
