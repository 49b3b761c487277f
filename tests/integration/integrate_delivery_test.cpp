// "Integrate into my libraries" delivery of the KiCad demo projects into a sandbox home whose
// tables hold some of the nicknames the demos use: kicad-cli's ERC must report no missing symbol
// or footprint library and its DRC no missing footprint library; the project-local tables hold
// rows only for the nicknames the user lacks; the user's tables stay byte for byte.
#include <regex>

#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

const fs::path kDemos = "/usr/share/kicad/demos";

// Nicknames many demos use, as the user's own table rows (absolute paths into the installation).
const std::string kUserSymRows =
    "  (lib (name \"power\")(type \"KiCad\")(uri "
    "\"/usr/share/kicad/symbols/power.kicad_sym\")(options \"\")(descr \"\"))\n"
    "  (lib (name \"Device\")(type \"KiCad\")(uri "
    "\"/usr/share/kicad/symbols/Device.kicad_sym\")(options \"\")(descr \"\"))\n";
const std::string kUserFpRows =
    "  (lib (name \"Resistor_SMD\")(type \"KiCad\")(uri "
    "\"/usr/share/kicad/footprints/Resistor_SMD.pretty\")(options \"\")(descr \"\"))\n"
    "  (lib (name \"Capacitor_SMD\")(type \"KiCad\")(uri "
    "\"/usr/share/kicad/footprints/Capacitor_SMD.pretty\")(options \"\")(descr \"\"))\n";

json deliver(const Manager& m, const json& body) {
  const json started = json::parse(m.post("/api/apply", body.dump()).body, nullptr, false);
  EXPECT_EQ(started.value("status", ""), "started") << started.dump();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);
  while (std::chrono::steady_clock::now() < deadline) {
    const json rec = json::parse(m.get("/api/apply-progress").body, nullptr, false);
    if (rec.value("done", false) && rec.contains("result")) return rec["result"];
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "apply job did not finish";
  return json();
}

// The demo's project files (KiCad's own project tables are not part of a page's project).
void serve_demo_project(MockPlatform& mock, const std::string& slug, const fs::path& root) {
  std::vector<std::string> paths;
  for (const auto& e : fs::directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".kicad_pro" && ext != ".kicad_sch" && ext != ".kicad_pcb"))
      continue;
    const std::string name = e.path().filename().string();
    paths.push_back(name);
    serve_file(mock, slug, name, read_file(e.path()));
  }
  std::sort(paths.begin(), paths.end());
  serve_list(mock, slug, paths);
}

// Descriptions of kicad-cli's report entries that name a library the configuration lacks.
std::vector<std::string> missing_library_reports(const std::string& report_json) {
  std::vector<std::string> out;
  static const std::regex missing("does not include the (symbol|footprint) library '[^']*'");
  const std::string& text = report_json;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), missing);
       it != std::sregex_iterator(); ++it) {
    out.push_back(it->str());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string kicad_report(const fs::path& home, const std::string& kind, const fs::path& file) {
  const fs::path out = file.parent_path() / (kind + "-report.json");
  const std::string cmd = "cd '" + file.parent_path().string() + "' && HOME='" + home.string() +
                          "' timeout 50 kicad-cli " + kind + " --format json -o '" + out.string() +
                          "' '" + file.string() + "' >/dev/null 2>&1";
  (void)std::system(cmd.c_str());
  EXPECT_TRUE(fs::exists(out)) << cmd;  // a report even when violations were found
  return fs::exists(out) ? read_file(out) : "";
}

void deliver_demo(const std::string& demo) {
  const fs::path root = kDemos / demo;
  if (!fs::exists(root) || std::system("command -v kicad-cli >/dev/null") != 0)
    GTEST_SKIP() << "no KiCad demos";
  MockPlatform mock;
  SandboxDesktop desk;
  const fs::path cfg = desk.home() / ".config/kicad/9.0";
  fs::create_directories(cfg);
  write_file(cfg / "sym-lib-table", "(sym_lib_table\n  (version 7)\n" + kUserSymRows + ")\n");
  write_file(cfg / "fp-lib-table", "(fp_lib_table\n  (version 7)\n" + kUserFpRows + ")\n");
  const std::string sym_before = read_file(cfg / "sym-lib-table");
  const std::string fp_before = read_file(cfg / "fp-lib-table");
  const std::string slug = "demos/" + std::regex_replace(demo, std::regex("[^A-Za-z0-9_.-]"), "-");
  serve_demo_project(mock, slug, root);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"HOME", desk.home().string()}}, {},
            desk.extra_path());
  const fs::path folder = desk.home() / "out";
  const json result = deliver(m, {{"board", slug}, {"dest", folder.string()}});
  ASSERT_FALSE(result["project"]["files"].empty()) << result.dump();

  size_t checked = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().extension() != ".kicad_pro") continue;
    const fs::path sch = folder / (e.path().stem().string() + ".kicad_sch");
    const fs::path pcb = folder / (e.path().stem().string() + ".kicad_pcb");
    if (fs::exists(sch)) {
      EXPECT_EQ(missing_library_reports(kicad_report(desk.home(), "sch erc", sch)),
                std::vector<std::string>{})
          << demo << " " << sch.filename();
      ++checked;
    }
    if (fs::exists(pcb)) {
      EXPECT_EQ(missing_library_reports(kicad_report(desk.home(), "pcb drc", pcb)),
                std::vector<std::string>{})
          << demo << " " << pcb.filename();
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
  EXPECT_EQ(read_file(cfg / "sym-lib-table"), sym_before);
  EXPECT_EQ(read_file(cfg / "fp-lib-table"), fp_before);
  // The project tables name only what the user lacks.
  for (const char* table : {"sym-lib-table", "fp-lib-table"}) {
    if (!fs::exists(folder / table)) continue;
    const std::string text = read_file(folder / table);
    for (const char* have : {"(name \"power\")", "(name \"Device\")", "(name \"Resistor_SMD\")",
                             "(name \"Capacitor_SMD\")"}) {
      EXPECT_EQ(text.find(have), std::string::npos) << demo << " " << table << " has " << have;
    }
  }
  std::printf("[ %s ] delivered, %zu ERC/DRC runs clean of missing libraries\n", demo.c_str(),
              checked);
}

class IntegrateDelivery : public ::testing::TestWithParam<std::string> {};

TEST_P(IntegrateDelivery, DemoOpensWithoutMissingLibraries) {
  deliver_demo(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Demos, IntegrateDelivery,
                         // Every demo with its project at the top of its folder, but vme-wren (too
                         // slow for the test budget).
                         ::testing::Values("ecc83", "complex_hierarchy", "flat_hierarchy",
                                           "interf_u", "microwave", "multichannel",
                                           "pic_programmer", "royalblue54L_feather", "stickhub",
                                           "tiny_tapeout", "video", "kit-dev-coldfire-xilinx_5213",
                                           "test_xil_95108", "custom_pads_test",
                                           "test_pads_inside_pads"),
                         [](const auto& info) {
                           return std::regex_replace(info.param, std::regex("[^A-Za-z0-9]"), "_");
                         });

}  // namespace
}  // namespace vorn::test::boards
