// Unique staging folders under the staging root.
#include "desktop/staging.h"

#include <stdlib.h>

#include <filesystem>
#include <vector>

#include "desktop/bridge.h"

namespace vorn {

namespace fs = std::filesystem;

StagingFolder::StagingFolder(std::string_view prefix) {
  std::error_code ec;
  fs::create_directories(std::string(kStagingDir), ec);
  std::string pattern = std::string(kStagingDir) + "/" + std::string(prefix) + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return;
  path_ = buf.data();
  // The bridge writes pulls into this folder and may run as another user.
  fs::permissions(path_, fs::perms::all, fs::perm_options::replace, ec);
}

StagingFolder::~StagingFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace vorn
