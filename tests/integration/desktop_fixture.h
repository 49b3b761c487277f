// Shared pieces of the desktop, apply and library-safety integration tests: a sandbox HOME with
// KiCad library tables, component pages on the mock platform, a wrapper around the real local
// bridge that logs every call and can be told to fail some of them, and job polling.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "harness.h"

namespace vorn::test {

namespace fs = std::filesystem;
using nlohmann::json;

inline const fs::path kOfficialSymbols = "/usr/share/kicad/symbols";
inline const fs::path kOfficialFootprints = "/usr/share/kicad/footprints";

// A part document with one symbol and one footprint.
inline json part_doc(const std::string& mpn, const std::string& symbol, const std::string& footprint) {
  return json{{"schema_version", 1},
              {"mpn", mpn},
              {"symbol",
               {{"name", symbol},
                {"pins", json::array({{{"number", "1"}, {"name", "A"}, {"x", -300}, {"y", 0}, {"rotation", 0}},
                                      {{"number", "2"}, {"name", "B"}, {"x", 300}, {"y", 0}, {"rotation", 180}}})},
                {"graphics", json::array({{{"kind", "rect"}, {"x1", -100}, {"y1", -50}, {"x2", 100}, {"y2", 50}}})}}},
              {"footprint",
               {{"name", footprint},
                {"pads", json::array({{{"number", "1"}, {"x_mm", -1}, {"y_mm", 0}, {"w_mm", 1}, {"h_mm", 1}},
                                      {{"number", "2"}, {"x_mm", 1}, {"y_mm", 0}, {"w_mm", 1}, {"h_mm", 1}}})}}}};
}

// Serves a component page holding one part document.
inline void serve_part(MockPlatform& mock, const std::string& slug, const json& doc) {
  const std::string file = "part.vorn-lbr.json";
  mock.on_text("/api/v1/pages/" + slug + "/files", json{{"files", {{{"path", file}}}}}.dump());
  mock.on_text("/api/v1/pages/" + slug + "/files/" + file, doc.dump());
}

inline void make_executable(const fs::path& p, const std::string& text) {
  write_file(p, text);
  chmod(p.c_str(), 0755);
}

// A desktop on this machine: HOME is a temp folder; the real bridge runs behind a wrapper that
// logs "<op> <json>" lines and fails pull_file / send_file / shell_execute for arguments holding
// the texts in fail_pull / fail_send / fail_shell (one per line).
class Desktop {
 public:
  Desktop() {
    fs::create_directories(bin());
    fs::create_directories(home());
    make_executable(bin() / "vorn-desktop",
                    "#!/bin/sh\n"
                    "d=" + root_.path().string() + "\n"
                    "printf '%s %s\\n' \"$1\" \"$2\" >> \"$d/calls.log\"\n"
                    "for k in pull send shell; do\n"
                    "  case \"$1\" in pull_file) op=pull;; send_file) op=send;; *) op=shell;; esac\n"
                    "  [ \"$k\" = \"$op\" ] || continue\n"
                    "  [ -f \"$d/fail_$k\" ] || continue\n"
                    "  while IFS= read -r pat; do\n"
                    "    [ -n \"$pat\" ] && case \"$2\" in *\"$pat\"*) exit 1;; esac\n"
                    "  done < \"$d/fail_$k\"\n"
                    "done\n"
                    "[ -f \"$d/slow\" ] && sleep 1\n"
                    "exec " VORN_TOOLS_BIN_DIR "/vorn-desktop \"$@\"\n");
  }

  fs::path home() const { return root_.path() / "home"; }
  fs::path bin() const { return root_.path() / "bin"; }
  std::string extra_path() const { return bin().string() + ":" VORN_TOOLS_BIN_DIR; }

  void fail(const std::string& op, const std::string& pattern) {
    std::string old = fs::exists(root_.path() / ("fail_" + op)) ? read_file(root_.path() / ("fail_" + op)) : "";
    write_file(root_.path() / ("fail_" + op), old + pattern + "\n");
  }
  void clear_failures() {
    for (auto op : {"pull", "send", "shell"}) fs::remove(root_.path() / (std::string("fail_") + op));
  }
  void set_slow(bool on) {
    if (on) write_file(root_.path() / "slow", "1");
    else fs::remove(root_.path() / "slow");
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    if (!fs::exists(root_.path() / "calls.log")) return out;
    std::string all = read_file(root_.path() / "calls.log");
    size_t start = 0;
    for (size_t nl = all.find('\n'); nl != std::string::npos; start = nl + 1, nl = all.find('\n', start)) {
      out.push_back(all.substr(start, nl - start));
    }
    return out;
  }
  size_t count_calls(const std::string& op, const std::string& holding = "") const {
    size_t n = 0;
    for (const auto& c : calls()) {
      if (c.starts_with(op + " ") && c.find(holding) != std::string::npos) ++n;
    }
    return n;
  }
  void clear_calls() { fs::remove(root_.path() / "calls.log"); }

  // KiCad tables in the version folders "8.0" (listed first) and "9.0".
  void write_tables(const std::string& sym_rows_8, const std::string& fp_rows_8, const std::string& sym_rows_9 = "",
                    const std::string& fp_rows_9 = "") {
    const fs::path cfg = home() / ".config" / "kicad";
    fs::create_directories(cfg / "8.0");
    fs::create_directories(cfg / "9.0");
    write_file(cfg / "8.0" / "sym-lib-table", "(sym_lib_table\n  (version 7)\n" + sym_rows_8 + ")\n");
    write_file(cfg / "8.0" / "fp-lib-table", "(fp_lib_table\n  (version 7)\n" + fp_rows_8 + ")\n");
    write_file(cfg / "9.0" / "sym-lib-table", "(sym_lib_table\n  (version 7)\n" + sym_rows_9 + ")\n");
    write_file(cfg / "9.0" / "fp-lib-table", "(fp_lib_table\n  (version 7)\n" + fp_rows_9 + ")\n");
  }

 private:
  TempDir root_;
};

inline std::string table_row(const std::string& name, const std::string& uri) {
  return "  (lib (name \"" + name + "\")(type \"KiCad\")(uri \"" + uri + "\")(options \"\")(descr \"\"))\n";
}

inline Env desktop_env_vars(const MockPlatform& mock, const Desktop& desk) {
  return Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}};
}

// Polls the progress record until done; the final record.
inline json wait_done(const Manager& m, int timeout_s = 120) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  while (std::chrono::steady_clock::now() < deadline) {
    const json rec = json::parse(m.get("/api/apply-progress").body, nullptr, false);
    if (rec.is_object() && rec.value("done", false) && rec.contains("result")) return rec;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  ADD_FAILURE() << "apply job did not finish";
  return json();
}

// {"items": [{"slug", "symLib"[, "fpLib"]}...]}, built explicitly.
inline json items_body(std::initializer_list<std::initializer_list<std::string>> items) {
  json list = json::array();
  for (const auto& il : items) {
    const std::vector<std::string> it(il);
    json item = json::object();
    item["slug"] = it.at(0);
    if (it.size() > 1) item["symLib"] = it[1];
    if (it.size() > 2) item["fpLib"] = it[2];
    list.push_back(item);
  }
  json body = json::object();
  body["items"] = list;
  return body;
}

inline json post_apply(const Manager& m, const json& body) {
  return json::parse(m.post("/api/apply", body.dump()).body, nullptr, false);
}

// Runs a kicad-cli export into a fresh folder; true when it succeeds and writes an SVG. A time
// limit turns a KiCad hang on a bad library into a failure.
inline bool kicad_exports_svg(const std::string& command, const fs::path& input, const std::string& options = "") {
  TempDir out;
  const std::string cmd = "timeout 300 kicad-cli " + command + " -o '" + out.path().string() + "' " + options +
                          " '" + input.string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return false;
  for (const auto& e : fs::directory_iterator(out.path())) {
    if (e.path().extension() == ".svg") return true;
  }
  return false;
}

// kicad-cli loads the symbol library (exports one symbol, or all when none is named).
inline bool kicad_loads(const fs::path& lib, const std::string& symbol = "") {
  return kicad_exports_svg("sym export svg", lib, symbol.empty() ? "" : "-s '" + symbol + "'");
}

// kicad-cli loads the footprint library (a .pretty folder) and exports every footprint.
inline bool kicad_footprints_load(const fs::path& pretty) {
  return kicad_exports_svg("fp export svg", pretty);
}

}  // namespace vorn::test
