// Latency of /api/part/<slug> on the real manager against a loopback mock platform:
//   part_view_bench [--exe <manager>] [--runs 60] [--lib <.kicad_sym>] [--symbol <name>] [--whole-symbol <name>]
//                   [--mod <.kicad_mod>]
// Three pages: a KiCad pair of one large official symbol cut out of its library, a pair whose
// symbol file is the whole library (another symbol of it), and a part document of the same part. Prints median and p99.
#include <altium_codec/kicad.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "catalog_bench_support.h"
#include "util/text.h"

namespace {

using nlohmann::json;
using namespace altium_codec;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The library header plus the one top-level symbol named `name`.
std::string cut_symbol(const std::string& lib, const std::string& name) {
  const size_t start = lib.find("\n\t(symbol \"" + name + "\"");
  if (start == std::string::npos) return "";
  const size_t end = lib.find("\n\t(symbol \"", start + 1);
  const std::string header = lib.substr(0, lib.find("\n\t(symbol \""));
  return header + lib.substr(start, (end == std::string::npos ? lib.rfind(')') : end) - start) + "\n)\n";
}

json graphic_json(const Graphic& g) {
  if (auto* p = std::get_if<GraphicPolyline>(&g)) return {{"kind", "polyline"}, {"points", p->points}, {"width", p->width}};
  if (auto* r = std::get_if<GraphicRect>(&g))
    return {{"kind", "rect"}, {"x1", r->x1}, {"y1", r->y1}, {"x2", r->x2}, {"y2", r->y2}, {"width", r->width},
            {"filled", r->filled}};
  if (auto* c = std::get_if<GraphicCircle>(&g))
    return {{"kind", "circle"}, {"cx", c->cx}, {"cy", c->cy}, {"r", c->r}, {"width", c->width}};
  const auto& a = std::get<GraphicArc>(g);
  return {{"kind", "arc"}, {"cx", a.cx}, {"cy", a.cy}, {"r", a.r}, {"start", a.start}, {"end", a.end}, {"width", a.width}};
}

json fp_graphic_json(const FpGraphic& g) {
  return std::visit(
      [](const auto& s) {
        json j{{"layer", {{"role", std::string(fp_layer_role_name(s.layer.role))}}}, {"width", s.width}};
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, FpLine> || std::is_same_v<T, FpRect>) {
          j.update({{"kind", std::is_same_v<T, FpLine> ? "line" : "rect"}, {"x1", s.x1}, {"y1", s.y1}, {"x2", s.x2}, {"y2", s.y2}});
        } else if constexpr (std::is_same_v<T, FpCircle>) {
          j.update({{"kind", "circle"}, {"cx", s.cx}, {"cy", s.cy}, {"r", s.r}});
        } else {
          j.update({{"kind", "arc"}, {"cx", s.cx}, {"cy", s.cy}, {"r", s.r}, {"start", s.start}, {"end", s.end}});
        }
        return j;
      },
      g);
}

// The part document (object form) of an imported part.
std::string document_of(const VornLbrPart& part) {
  json pins = json::array(), graphics = json::array(), pads = json::array(), fp_graphics = json::array();
  for (const auto& p : part.symbol.pins) {
    json pin{{"number", p.number}, {"name", p.name}, {"x", p.x}, {"y", p.y}, {"rotation", p.rotation}};
    if (p.length) pin["length"] = *p.length;
    pins.push_back(pin);
  }
  for (const auto& g : part.symbol.graphics) graphics.push_back(graphic_json(g));
  for (const auto& p : part.footprint.pads) {
    pads.push_back({{"number", p.number}, {"x_mm", p.x_mm}, {"y_mm", p.y_mm}, {"w_mm", p.w_mm}, {"h_mm", p.h_mm},
                    {"drill_mm", p.drill_mm}, {"rotation", p.rotation}, {"shape", p.shape}});
  }
  for (const auto& g : part.footprint.graphics) fp_graphics.push_back(fp_graphic_json(g));
  return json{{"schema_version", 1},
              {"mpn", part.mpn},
              {"symbol", {{"name", part.symbol.name}, {"pins", pins}, {"graphics", graphics}}},
              {"footprint", {{"name", part.footprint.name}, {"pads", pads}, {"graphics", fp_graphics}}}}
      .dump();
}

void serve_page(bench::Mock& mock, const std::string& slug, std::vector<std::pair<std::string, std::string>> files) {
  json list = json::array();
  for (const auto& [name, text] : files) list.push_back({{"path", name}});
  const std::string listing = json{{"files", list}}.dump();
  mock.get("/api/v1/pages/" + slug + "/files", [listing](const httplib::Request&, httplib::Response& res) {
    res.set_content(listing, "application/json");
  });
  for (auto& [name, text] : files) {
    mock.get("/api/v1/pages/" + slug + "/files/" + name, [text](const httplib::Request&, httplib::Response& res) {
      res.set_content(text, "text/plain");
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe = bench::default_manager_exe();
  std::string lib_path = "/usr/share/kicad/symbols/FPGA_Xilinx_Virtex7.kicad_sym";
  std::string symbol = "XC7V2000T-FHG1761";
  std::string whole_symbol = "XC7V585T-FFG1761";
  std::string mod_path = "/usr/share/kicad/footprints/Package_BGA.pretty/Xilinx_FHG1761.kicad_mod";
  int runs = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--exe") exe = argv[i + 1];
    if (flag == "--runs") runs = std::atoi(argv[i + 1]);
    if (flag == "--lib") lib_path = argv[i + 1];
    if (flag == "--symbol") symbol = argv[i + 1];
    if (flag == "--whole-symbol") whole_symbol = argv[i + 1];
    if (flag == "--mod") mod_path = argv[i + 1];
  }
  const std::string lib = slurp(lib_path), mod = slurp(mod_path), one = cut_symbol(lib, symbol);
  const std::string slug = vorn::to_lower(symbol);
  auto part = import_kicad(one, mod, vorn::to_upper(slug));
  if (lib.empty() || mod.empty() || one.empty() || !part) {
    std::fprintf(stderr, "cannot read or import %s / %s: %s\n", lib_path.c_str(), mod_path.c_str(),
                 part ? "" : part.error().c_str());
    return 1;
  }
  const std::string document = document_of(*part);
  if (!parse_vorn_lbr_part(document)) {
    std::fprintf(stderr, "the generated part document does not parse\n");
    return 1;
  }
  std::printf("%s: %zu pins, %zu graphics; %zu pads; symbol text %.1f kB, library %.1f MB, document %.1f kB\n",
              symbol.c_str(), part->symbol.pins.size(), part->symbol.graphics.size(), part->footprint.pads.size(),
              one.size() / 1024.0, lib.size() / 1048576.0, document.size() / 1024.0);

  bench::Mock mock;
  serve_page(mock, slug, {{slug + ".kicad_sym", one}, {slug + ".kicad_mod", mod}});
  serve_page(mock, "doc", {{"part.vorn-lbr.json", document}});
  // The whole library file on a page of another symbol of the same library and package.
  const std::string whole = vorn::to_lower(whole_symbol);
  serve_page(mock, whole, {{whole + ".kicad_sym", lib}, {whole + ".kicad_mod", mod}});
  mock.start();
  bench::ManagerProcess manager(exe, {"VORN_PLATFORM_URL=" + mock.url()});
  httplib::Client client("127.0.0.1", manager.port());
  client.set_read_timeout(120, 0);

  struct Case {
    std::string label, target;
  };
  const std::vector<Case> cases = {
      {"kicad pair, one symbol", "/api/part/" + slug},
      {"kicad pair, whole library", "/api/part/" + whole},
      {"part document", "/api/part/doc"},
  };
  std::printf("%-26s %6s %10s %10s %12s\n", "page", "runs", "median ms", "p99 ms", "body kB");
  for (const auto& c : cases) {
    std::vector<double> times;
    size_t body = 0;
    for (int i = 0; i < runs; ++i) {
      const auto t0 = bench::Clock::now();
      const auto res = client.Get(c.target);
      times.push_back(bench::seconds_since(t0) * 1e3);
      if (!res || res->body.find("\"status\":\"ok\"") == std::string::npos) {
        std::fprintf(stderr, "%s failed: %s\n", c.label.c_str(), res ? res->body.substr(0, 200).c_str() : "no answer");
        return 1;
      }
      body = res->body.size();
    }
    std::printf("%-26s %6d %10.1f %10.1f %12.1f\n", c.label.c_str(), runs, bench::percentile(times, 0.5),
                bench::percentile(times, 0.99), body / 1024.0);
  }
  return 0;
}
