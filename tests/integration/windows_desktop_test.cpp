// A Windows desktop behind a stand-in bridge that answers as cmd.exe would and logs every
// PowerShell script it is sent, decoded from the launch form: hostile folder names reach the
// script only as the one quoted value the template builder makes of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "desktop/command_templates.h"
#include "harness.h"

namespace vorn::test {
namespace {

namespace fs = std::filesystem;

class WindowsBridge {
 public:
  WindowsBridge() {
    const fs::path bridge = dir_.path() / "vorn-desktop";
    write_file(bridge,
               "#!/usr/bin/env python3\n"
               "import base64, json, sys\n"
               "cmd = json.loads(sys.argv[2]).get('command', '') if len(sys.argv) > 2 else ''\n"
               "out = ''\n"
               "if cmd == 'echo $HOME': out = '$HOME'\n"
               "elif cmd == 'echo %USERPROFILE%': out = 'C:\\\\Users\\\\me'\n"
               "elif cmd.startswith('powershell -NoProfile -STA -EncodedCommand '):\n"
               "    script = base64.b64decode(cmd.split(' ')[-1]).decode('utf-16-le')\n"
               "    with open('" +
                   log().string() +
                   "', 'a') as f: f.write(json.dumps(script) + '\\n')\n"
                   "    out = '@@ERR@@'\n"
                   "print(json.dumps({'stdout': out}))\n");
    chmod(bridge.c_str(), 0755);
  }
  std::string path() const { return dir_.path().string(); }
  fs::path log() const { return dir_.path() / "scripts.log"; }
  std::vector<std::string> scripts() const {
    std::vector<std::string> out;
    if (!fs::exists(log())) return out;
    const std::string all = read_file(log());
    size_t start = 0;
    for (size_t nl = all.find('\n'); nl != std::string::npos;
         start = nl + 1, nl = all.find('\n', start)) {
      out.push_back(nlohmann::json::parse(all.substr(start, nl - start)).get<std::string>());
    }
    return out;
  }

 private:
  TempDir dir_;
};

std::string percent_encode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%%%02X", c);
    out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(buf);
  }
  return out;
}

TEST(WindowsDesktop, FolderListingScriptHoldsTheFolderAsOneString) {
  WindowsBridge bridge;
  Manager m({}, {}, bridge.path());
  EXPECT_EQ(nlohmann::json::parse(m.get("/api/env").body)["os"], "windows");
  const std::vector<std::string> folders = {"C:\\x\u2019; New-Item C:\\MARK; \u2019",
                                            "C:\\it's",
                                            "C:\\a\u2018b\u201Ac\u201Bd",
                                            "C:\\$(New-Item C:\\MARK)",
                                            "C:\\`$x`n",
                                            "C:\\one\ntwo\r\n'; New-Item C:\\MARK"};
  for (const std::string& folder : folders) {
    const std::string body = m.get("/api/list-dirs?p=" + percent_encode(folder)).body;
    EXPECT_NE(body.find("\"dirs\":[]"), std::string::npos) << body;
    const std::vector<std::string> scripts = bridge.scripts();
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(), ps_list_folder_script(folder)) << folder;
  }
}

}  // namespace
}  // namespace vorn::test
