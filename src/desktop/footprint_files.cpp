// Footprint file names and the footprint listing of one desktop folder.
#include "desktop/footprint_files.h"

#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "util/text.h"

namespace vorn {
namespace {

constexpr std::string_view kModSuffix = ".kicad_mod";

bool unsafe_in_file_name(unsigned char c) {
  return c < 0x20 || c == 0x7f ||
         std::string_view("/\\:*?\"<>| ").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string footprint_file_name(std::string_view name, std::string_view fallback) {
  std::string out(name.empty() ? fallback : name);
  for (char& c : out) {
    if (unsafe_in_file_name(static_cast<unsigned char>(c))) c = '_';
  }
  return out + std::string(kModSuffix);
}

std::set<std::string> footprint_names(std::string_view listing) {
  std::set<std::string> names;
  for (const std::string& line : split(listing, "\n")) {
    std::string_view t = trim(line);
    const auto cut = t.find_last_of("/\\");
    if (cut != std::string_view::npos) t = t.substr(cut + 1);
    t = trim(t);
    if (t.size() > kModSuffix.size() && ends_with(t, kModSuffix)) names.emplace(t);
  }
  return names;
}

std::string footprint_key(const DesktopEnv& env, std::string_view file_name) {
  return env.os == "linux" ? std::string(file_name) : to_lower(file_name);
}

std::optional<std::set<std::string>> desktop_footprints(const DesktopEnv& env,
                                                        std::string_view folder) {
  // The raw answer: an empty "stdout" is an empty folder, not a failure.
  const auto answer = bridge_run_and_read(cmd_list_folder_footprints(env.windows(), folder));
  if (!answer) return std::nullopt;
  const Json doc = Json::parse(*answer, nullptr, false);
  if (!doc.is_object() || !doc.contains("stdout") || !doc["stdout"].is_string())
    return std::nullopt;
  return footprint_names(doc["stdout"].get<std::string>());
}

}  // namespace vorn
