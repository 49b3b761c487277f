// Footprint file names and listings, and the command that moves a project's existing files into
// its backup folder (run for real in a POSIX shell on a temporary folder).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "boards/project_backup.h"
#include "desktop/footprint_files.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

TEST(FootprintFiles, NamesEveryDesktopCanCreate) {
  const std::pair<std::string, std::string> cases[] = {
      {"R_0805", "R_0805.kicad_mod"},
      {"a/b c", "a_b_c.kicad_mod"},
      {"..\\..\\x", ".._.._x.kicad_mod"},
      {"C:\\evil", "C__evil.kicad_mod"},
      {"a*b?c\"d<e>f|g", "a_b_c_d_e_f_g.kicad_mod"},
      {"t\tn\x01x\x7f", "t_n_x_.kicad_mod"},
      {"Ω-µ", "Ω-µ.kicad_mod"},
  };
  for (const auto& [name, file] : cases) EXPECT_EQ(footprint_file_name(name, "slug"), file) << name;
  EXPECT_EQ(footprint_file_name("", "acme/r 1"), "acme_r_1.kicad_mod");
}

TEST(FootprintFiles, ListingsOfEachSystem) {
  EXPECT_EQ(
      footprint_names("/h/F.pretty/A.kicad_mod\n/h/F.pretty/b c.kicad_mod\n/h/F.pretty/x.txt\n"),
      (std::set<std::string>{"A.kicad_mod", "b c.kicad_mod"}));
  EXPECT_EQ(footprint_names("A.kicad_mod\r\nC:\\F.pretty\\B.kicad_mod\r\n\r\n.kicad_mod\r\n"),
            (std::set<std::string>{"A.kicad_mod", "B.kicad_mod"}));
  EXPECT_TRUE(footprint_names("").empty());
  EXPECT_EQ(footprint_key(DesktopEnv{"linux", "/h"}, "Ab.kicad_mod"), "Ab.kicad_mod");
  EXPECT_EQ(footprint_key(DesktopEnv{"windows", "C:\\h"}, "Ab.kicad_mod"), "ab.kicad_mod");
  EXPECT_EQ(footprint_key(DesktopEnv{"macos", "/h"}, "Ab.kicad_mod"), "ab.kicad_mod");
}

TEST(ProjectBackup, FolderNameIsUtcTime) {
  using namespace std::chrono;
  EXPECT_EQ(boards::backup_folder_name(system_clock::time_point(seconds(1700000000))),
            ".backup-20231114T221320Z");
}

std::string run_sh(const std::string& command) {
  const std::string quoted = "sh -c '" + [&] {
    std::string q;
    for (char c : command) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q;
  }() + "'";
  std::string out;
  FILE* p = popen(quoted.c_str(), "r");
  char buf[256];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  return out;
}

TEST(ProjectBackup, PosixCommandMovesOnlyExistingFiles) {
  const fs::path dir =
      fs::temp_directory_path() / ("keep-test-" + std::to_string(getpid())) / "it's a project";
  fs::remove_all(dir.parent_path());
  fs::create_directories(dir / "3d");
  std::ofstream(dir / "P.kicad_sch") << "mine";
  std::ofstream(dir / "3d" / "m $(x).step") << "model";
  std::ofstream(dir / "other.txt") << "untouched";
  std::ofstream(dir / "-rf") << "a name like an option";
  const std::string cmd = boards::cmd_keep_existing(
      false, dir.string(), ".backup-T", {"P.kicad_sch", "new.kicad_pro", "3d/m $(x).step", "-rf"});
  EXPECT_EQ(run_sh(cmd), "./P.kicad_sch\n./3d/m $(x).step\n./-rf\n");
  EXPECT_TRUE(fs::exists(dir / ".backup-T" / "-rf"));
  EXPECT_FALSE(fs::exists(dir / "P.kicad_sch"));
  std::ifstream kept(dir / ".backup-T" / "P.kicad_sch");
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "mine");
  EXPECT_TRUE(fs::exists(dir / ".backup-T" / "3d" / "m $(x).step"));
  EXPECT_TRUE(fs::exists(dir / "other.txt"));
  // A folder that does not exist yet: nothing to keep, no backup folder made.
  EXPECT_EQ(run_sh(boards::cmd_keep_existing(false, (dir / "nope").string(), ".backup-T",
                                             {"P.kicad_sch"})),
            "");
  EXPECT_FALSE(fs::exists(dir / "nope"));
  fs::remove_all(dir.parent_path());
}

}  // namespace
}  // namespace vorn
