// A staging folder of its own for one apply job or one request, under "/tmp/vorn-lbr-apply":
// files pulled from the desktop and files about to be sent never meet another job's or
// request's files of the same name. Made with a unique name (mkdtemp) and removed with its
// contents when the owner ends. Thread-safe: each owner has its own folder.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

class StagingFolder {
 public:
  // "/tmp/vorn-lbr-apply/<prefix>-XXXXXX"; path() is empty when it could not be made.
  explicit StagingFolder(std::string_view prefix);
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vorn
