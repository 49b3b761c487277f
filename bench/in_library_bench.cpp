// In-library benchmark: `api/in-library` for 50 slugs against 20 copies of official KiCad symbol
// libraries (and 5 official footprint folders reached through links in the sandbox), through
// the real local bridge on a sandbox HOME, with an in-process platform serving the part
// documents. Prints wall time and bridge calls.
// Usage: in_library_bench [tools-bin-dir] (default: ../tools/bin beside this program).
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "desktop/bridge.h"
#include "server/handlers.h"

namespace fs = std::filesystem;
using nlohmann::json;

int main(int argc, char** argv) {
  const fs::path tools = argc > 1 ? fs::path(argv[1]) : fs::canonical("/proc/self/exe").parent_path().parent_path() / "tools/bin";
  const fs::path home = fs::temp_directory_path() / ("vorn-inlib-bench-" + std::to_string(getpid()));
  fs::create_directories(home / ".config/kicad/9.0");
  fs::create_directories(home / "libs");
  std::string sym_rows, fp_rows;
  int n = 0;
  for (const char* lib : {"Device", "Timer", "Relay", "Amplifier_Operational", "Buffer", "Regulator_Linear",
                          "Transistor_FET", "Diode", "LED", "Connector_Generic", "Switch", "Sensor_Temperature",
                          "Interface_UART", "Memory_EEPROM", "Logic_LevelTranslator", "Power_Protection",
                          "Reference_Voltage", "Oscillator", "Transistor_BJT", "Amplifier_Audio"}) {
    const fs::path copy = home / "libs" / (std::string(lib) + ".kicad_sym");
    fs::copy_file(fs::path("/usr/share/kicad/symbols") / (std::string(lib) + ".kicad_sym"), copy);
    sym_rows += "(lib (name \"" + std::string(lib) + "\")(uri \"" + copy.string() + "\"))\n";
    ++n;
  }
  for (const char* fp : {"Package_SO", "Package_DIP", "Resistor_SMD", "Capacitor_SMD", "Package_TO_SOT_SMD"}) {
    const fs::path link = home / "fp" / (std::string(fp) + ".pretty");
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(fs::path("/usr/share/kicad/footprints") / (std::string(fp) + ".pretty"), link);
    fp_rows += "(lib (name \"" + std::string(fp) + "\")(uri \"" + link.string() + "\"))\n";
  }
  std::ofstream(home / ".config/kicad/9.0/sym-lib-table") << "(sym_lib_table\n" << sym_rows << ")\n";
  std::ofstream(home / ".config/kicad/9.0/fp-lib-table") << "(fp_lib_table\n" << fp_rows << ")\n";

  // Half the slugs are official part numbers, half are unknown parts with a known footprint.
  const char* known[] = {"lm358", "ne555", "lm7805", "2n3904", "bc547", "lm324", "tl072", "ams1117-3.3", "1n4148", "bss138"};
  httplib::Server platform;
  std::string slugs;
  for (int i = 0; i < 50; ++i) {
    const std::string slug = i < 10 ? known[i] : "inlib-" + std::to_string(i);
    const json doc = {{"schema_version", 1}, {"mpn", slug},
                      {"symbol", {{"name", "SYM_" + std::to_string(i)}, {"pins", json::array()}}},
                      {"footprint", {{"name", i % 2 ? "SOIC-8_3.9x4.9mm_P1.27mm" : "X" + std::to_string(i)}, {"pads", json::array()}}}};
    platform.Get("/api/v1/pages/" + slug + "/files", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"files":[{"path":"p.vorn-lbr.json"}]})", "application/json");
    });
    platform.Get("/api/v1/pages/" + slug + "/files/p.vorn-lbr.json",
                 [text = doc.dump()](const httplib::Request&, httplib::Response& res) { res.set_content(text, "application/json"); });
    slugs += (i ? "," : "") + slug;
  }
  const int port = platform.bind_to_any_port("127.0.0.1");
  std::thread server([&] { platform.listen_after_bind(); });
  while (!platform.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  setenv("HOME", home.c_str(), 1);
  setenv("VORN_PLATFORM_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);
  setenv("PATH", (tools.string() + ":" + getenv("PATH")).c_str(), 1);

  vorn::Request warm{"GET", "/api/env", "", "", false};
  (void)vorn::handle_env(warm, "");  // environment detection, once per process
  vorn::Request request{"GET", "/api/in-library?slugs=" + slugs, "", "", false};
  const auto before = vorn::bridge_call_count();
  const auto t0 = std::chrono::steady_clock::now();
  const vorn::Response r = vorn::handle_in_library(request, "");
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const auto calls = vorn::bridge_call_count() - before;
  const json found = json::parse(r.body);
  std::printf("in-library: 50 slugs, %d symbol libraries, 5 footprint libraries\n", n);
  std::printf("  found %zu, wall time %.3f s, bridge calls %llu\n", found.size(), secs,
              static_cast<unsigned long long>(calls));
  platform.stop();
  server.join();
  fs::remove_all(home);
  return 0;
}
