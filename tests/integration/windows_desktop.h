// A Windows desktop for the integration tests: the bridge is windows_bridge.py, which keeps
// drive C: in a temporary folder (home C:\Users\me) and logs every call like Desktop does.
#pragma once

#include "desktop_fixture.h"

namespace vorn::test {

class WindowsDesktop {
 public:
  WindowsDesktop() {
    fs::create_directories(bin());
    fs::create_directories(home());
    fs::create_directories(root_.path() / "cwd");
    make_executable(bin() / "vorn-desktop",
                    "#!/bin/sh\n"
                    "printf '%s %s\\n' \"$1\" \"$2\" >> '" +
                        (root_.path() / "calls.log").string() +
                        "'\n"
                        "cd '" +
                        (root_.path() / "cwd").string() +
                        "' && exec python3 '" VORN_SOURCE_DIR
                        "/tests/integration/windows_bridge.py' '" +
                        root_.path().string() + "' \"$@\"\n");
  }
  // The local folder of C:\Users\me, and of the bridge's working folder.
  fs::path home() const { return root_.path() / "C" / "Users" / "me"; }
  fs::path cwd() const { return root_.path() / "cwd"; }
  fs::path drive() const { return root_.path() / "C"; }
  fs::path bin() const { return root_.path() / "bin"; }
  std::string extra_path() const { return bin().string(); }
  std::string calls() const {
    return fs::exists(root_.path() / "calls.log") ? read_file(root_.path() / "calls.log") : "";
  }

 private:
  TempDir root_;
};

}  // namespace vorn::test
