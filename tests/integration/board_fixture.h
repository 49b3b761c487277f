// Shared pieces of the board, render, delivery and project-diff integration tests: serving
// board pages on the mock platform, answering as the export service, building tar archives with
// the real tar, fake outside programs that log their arguments, and a sandbox desktop reached
// through the real local bridge.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace vorn::test::boards {

namespace fs = std::filesystem;
using nlohmann::json;

inline std::string page(const std::string& slug, const std::string& tail) { return "/api/v1/pages/" + slug + tail; }

inline void serve_list(MockPlatform& mock, const std::string& slug, const std::vector<std::string>& paths) {
  json files = json::array();
  for (const auto& p : paths) files.push_back({{"path", p}});
  mock.on_text(page(slug, "/files"), json{{"files", files}}.dump());
}

inline void serve_file(MockPlatform& mock, const std::string& slug, const std::string& name, const std::string& bytes,
                       const std::string& type = "application/octet-stream") {
  mock.on_text(page(slug, "/files/" + name), bytes, type);
}

inline void serve_deps(MockPlatform& mock, const std::string& slug, const json& deps) {
  serve_file(mock, slug, "package.json", json{{"dependencies", deps}}.dump(), "application/json");
}

inline void make_executable(const fs::path& p, const std::string& text) {
  write_file(p, text);
  chmod(p.c_str(), 0755);
}

// A tar archive of the given files (name → content), made by the real tar.
inline std::string make_tar(const std::vector<std::pair<std::string, std::string>>& files, const std::string& extra_cmd = "") {
  TempDir dir;
  const fs::path src = dir.path() / "src";
  fs::create_directories(src);
  for (const auto& [name, content] : files) write_file(src / name, content);
  if (!extra_cmd.empty()) {
    const std::string cmd = "cd '" + src.string() + "' && " + extra_cmd;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  const std::string cmd = "tar -cf '" + (dir.path() / "a.tar").string() + "' -C '" + src.string() + "' .";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return read_file(dir.path() / "a.tar");
}

// Member names of a tar archive given as bytes (plain or gzip-compressed).
inline std::vector<std::string> tar_names(const std::string& bytes) {
  TempDir dir;
  write_file(dir.path() / "x.tar", bytes);
  const std::string cmd = "tar -tf '" + (dir.path() / "x.tar").string() + "' > '" + (dir.path() / "list").string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::vector<std::string> names;
  const std::string all = read_file(dir.path() / "list");
  size_t start = 0;
  for (size_t nl = all.find('\n'); nl != std::string::npos; start = nl + 1, nl = all.find('\n', start)) {
    names.push_back(all.substr(start, nl - start));
  }
  return names;
}

// One file of a tar archive given as bytes.
inline std::string tar_member(const std::string& bytes, const std::string& name) {
  TempDir dir;
  write_file(dir.path() / "x.tar", bytes);
  fs::create_directories(dir.path() / "out");
  const std::string cmd = "tar -xf '" + (dir.path() / "x.tar").string() + "' -C '" + (dir.path() / "out").string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return read_file(dir.path() / "out" / name);
}

// A GLB whose JSON chunk stamps the up axis (or carries only `marker` in its asset).
inline std::string glb(const std::string& up_axis, const std::string& marker = "m") {
  std::string chunk = json{{"asset", {{"version", "2.0"}, {"generator", marker},
                                      {"extras", {{"vornMolecule", {{"upAxis", up_axis}}}}}}}}.dump();
  std::string out = "glTF";
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  u32(2);
  u32(static_cast<uint32_t>(20 + chunk.size()));
  u32(static_cast<uint32_t>(chunk.size()));
  out += "JSON" + chunk;
  return out;
}

// An SVG text longer than the export service's error-page limit.
inline std::string svg(const std::string& label) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>" + label + "</text><!-- padding padding --></svg>";
}

inline const std::string kExportSch = "/kicad/sch/export/svg-project";
inline const std::string kExportPcb = "/kicad/pcb/export/svg?layers=B.Cu,In2.Cu,In1.Cu,F.Cu,F.Silkscreen,Edge.Cuts";
inline const std::string kExportGlb = "/kicad/pcb/export/glb-package?F=--include-silkscreen&F=--include-pads";

// The bodies the mock received for one target, in order.
inline std::vector<std::string> bodies(const MockPlatform& mock, const std::string& target) {
  std::vector<std::string> out;
  for (const auto& s : mock.seen()) {
    if (s.target == target) out.push_back(s.body);
  }
  return out;
}

inline json get_json(const Manager& m, const std::string& target) {
  return json::parse(m.get(target).body, nullptr, false);
}

// Polls until the predicate holds for the JSON answer of `target`.
template <typename Pred>
json poll_json(const Manager& m, const std::string& target, Pred pred, int timeout_s = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  json last;
  while (std::chrono::steady_clock::now() < deadline) {
    last = get_json(m, target);
    if (pred(last)) return last;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "condition not reached for " << target << ": " << last.dump();
  return last;
}

// A desktop on this machine: HOME is a sandbox folder and the real local bridge runs behind a
// wrapper that logs "<op> <json>" lines.
class SandboxDesktop {
 public:
  SandboxDesktop() {
    fs::create_directories(bin());
    fs::create_directories(home());
    make_executable(bin() / "vorn-desktop",
                    "#!/bin/sh\nprintf '%s %s\\n' \"$1\" \"$2\" >> '" + (root_.path() / "calls.log").string() +
                        "'\nexec " VORN_TOOLS_BIN_DIR "/vorn-desktop \"$@\"\n");
  }
  fs::path home() const { return root_.path() / "home"; }
  fs::path bin() const { return root_.path() / "bin"; }
  std::string extra_path() const { return bin().string(); }
  std::string calls() const {
    return fs::exists(root_.path() / "calls.log") ? read_file(root_.path() / "calls.log") : "";
  }
  void clear_calls() const { fs::remove(root_.path() / "calls.log"); }

 private:
  TempDir root_;
};

}  // namespace vorn::test::boards
