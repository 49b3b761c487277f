// Moving existing project files into the delivery's backup folder.
#include "boards/project_backup.h"

#include <ctime>

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "server/http.h"
#include "util/text.h"

namespace vorn::boards {
namespace {

constexpr std::string_view kPosixKeep =
    "cd {} 2>/dev/null || exit 0; for f in {}; do if [ -f \"$f\" ]; then "
    "mkdir -p {}/\"$(dirname \"$f\")\" && mv -f \"$f\" {}/\"$f\" && printf '%s\\n' \"$f\"; fi; "
    "done";

constexpr std::string_view kWindowsKeep =
    "$ProgressPreference='SilentlyContinue'; $d='{}'; $b=Join-Path $d '{}'; foreach($f in @({})){ "
    "$p=Join-Path $d $f; if(Test-Path -LiteralPath $p -PathType Leaf){ $t=Join-Path $b $f; "
    "New-Item -ItemType Directory -Force -Path (Split-Path -Parent $t) | Out-Null; "
    "Move-Item -LiteralPath $p -Destination $t -Force; [Console]::Out.Write($f + [char]10) } }";

}  // namespace

std::string backup_folder_name(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char buf[32];
  std::strftime(buf, sizeof buf, ".backup-%Y%m%dT%H%M%SZ", &utc);
  return buf;
}

std::string cmd_keep_existing(bool windows, std::string_view folder, std::string_view backup,
                              const std::vector<std::string>& rels) {
  if (windows) {
    std::string list;
    for (const auto& r : rels) list += (list.empty() ? "'" : ",'") + powershell_quote_inner(r) + "'";
    return powershell_launch(
        fill_template(kWindowsKeep, {powershell_quote_inner(folder), powershell_quote_inner(backup), list}));
  }
  // "./" keeps a name that begins with "-" from being read as an option.
  std::string list;
  for (const auto& r : rels) list += (list.empty() ? "" : " ") + posix_quote("./" + r);
  const std::string b = posix_quote(backup);
  return fill_template(kPosixKeep, {posix_quote(folder), list, b, b});
}

std::optional<std::vector<std::string>> keep_existing(const DesktopEnv& env,
                                                      std::string_view folder,
                                                      std::string_view backup,
                                                      const std::vector<std::string>& rels) {
  std::vector<std::string> moved;
  if (rels.empty()) return moved;
  const auto answer = bridge_run_and_read(cmd_keep_existing(env.windows(), folder, backup, rels));
  if (!answer) return std::nullopt;
  const Json doc = Json::parse(*answer, nullptr, false);
  if (!doc.is_object() || !doc.contains("stdout") || !doc["stdout"].is_string())
    return std::nullopt;
  for (const std::string& line : split(doc["stdout"].get<std::string>(), "\n")) {
    std::string_view t = trim(line);
    if (t.starts_with("./")) t.remove_prefix(2);
    if (!t.empty()) moved.emplace_back(t);
  }
  return moved;
}

}  // namespace vorn::boards
