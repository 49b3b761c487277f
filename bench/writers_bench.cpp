// Throughput of the KiCad writers (symbols and footprints written per second) and of the
// part document reader, on a small two-pin part and a 64-pin package.
#include <benchmark/benchmark.h>

#include <string>

#include "altium_codec/footprint_writer.h"
#include "altium_codec/part.h"
#include "altium_codec/symbol_writer.h"

namespace {

using namespace altium_codec;

Symbol make_symbol(int pins) {
  Symbol s;
  s.name = std::string("BENCH_").append(std::to_string(pins));
  s.designator_prefix = "U";
  s.footprint = "Package_QFP:LQFP-64";
  s.parameters = {
      {"Value", "BENCH", false}, {"MPN", "BENCH-123", true}, {"Tolerance", "1%", false}};
  for (int i = 0; i < pins; ++i) {
    int side = i % 2 == 0 ? -1 : 1;
    s.pins.push_back(Pin{std::to_string(i + 1), std::string("P").append(std::to_string(i + 1)),
                         side * 600, (i / 2) * 100 - pins * 25, 200,
                         static_cast<uint16_t>(side < 0 ? 0 : 180)});
  }
  s.graphics.push_back(GraphicRect{-400, -pins * 25.0 - 100, 400, pins * 25.0 + 100, 10, true});
  s.graphics.push_back(GraphicPolyline{{{-100, 0}, {0, 50}, {100, 0}, {0, -50}}, 6});
  s.graphics.push_back(GraphicCircle{0, 0, 30, 6});
  s.graphics.push_back(GraphicArc{0, 0, 80, 30, 150, 6});
  return s;
}

Footprint make_footprint(int pads) {
  Footprint f;
  f.name = std::string("BENCH_").append(std::to_string(pads));
  for (int i = 0; i < pads; ++i) {
    Pad p;
    p.number = std::to_string(i + 1);
    p.x_mm = (i % 16) * 0.5 - 3.75;
    p.y_mm = (i / 16) * 1.27 - 2.54;
    p.w_mm = 0.3;
    p.h_mm = 1.475;
    p.rotation = (i / 16) % 2 ? 90 : 0;
    p.shape = "roundrect";
    if (i == 0) p.drill_mm = 0.8;
    f.pads.push_back(p);
  }
  f.graphics.push_back(FpRect{{FpLayerRole::courtyard, {}}, -6, -6, 6, 6, 0.05});
  f.graphics.push_back(FpLine{{FpLayerRole::silk, {}}, -5, -5, 5, -5, 0.12});
  f.graphics.push_back(FpCircle{{FpLayerRole::fab, {}}, -4, -4, 0.3, 0.1});
  f.graphics.push_back(FpArc{{FpLayerRole::silk, {}}, 0, 0, 2, 0, 270, 0.12});
  return f;
}

void BM_WriteSymbol(benchmark::State& state) {
  Symbol s = make_symbol(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = write_kicad_symbol_lib(s);
    bytes += text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WriteSymbol)->Arg(2)->Arg(64);

void BM_WriteFootprint(benchmark::State& state) {
  Footprint f = make_footprint(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = write_kicad_footprint(f);
    bytes += text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WriteFootprint)->Arg(2)->Arg(64);

// A 64-pin document as JSON, for the reader.
std::string make_document() {
  std::string doc =
      R"({"schema_version":1,"mpn":"BENCH-64","manufacturer":"Acme","symbol":{"name":"BENCH","pins":[)";
  for (int i = 0; i < 64; ++i) {
    if (i) doc += ',';
    doc += R"({"number":")" + std::to_string(i + 1) + R"(","name":"P)" + std::to_string(i) +
           R"(","x":)" + std::to_string(i % 2 ? 600 : -600) + R"(,"y":)" + std::to_string(i * 50) +
           R"(,"length":200,"rotation":)" + (i % 2 ? "180" : "0") + "}";
  }
  doc += R"(],"graphics":[{"kind":"rect","x1":-400,"y1":-900,"x2":400,"y2":900,"filled":true}]},)";
  doc += R"("footprint":{"name":"LQFP-64","pads":[)";
  for (int i = 0; i < 64; ++i) {
    if (i) doc += ',';
    doc += R"({"number":")" + std::to_string(i + 1) + R"(","x_mm":)" + std::to_string(i * 0.5) +
           R"(,"y_mm":-3.2,"w_mm":0.3,"h_mm":1.475,"shape":"roundrect"})";
  }
  doc +=
      R"(],"graphics":[{"kind":"rect","layer":{"role":"courtyard"},"x1":-6,"y1":-6,"x2":6,"y2":6,"width":0.05}]}})";
  return doc;
}

void BM_ParsePartDocument(benchmark::State& state) {
  std::string doc = make_document();
  for (auto _ : state) {
    auto part = parse_vorn_lbr_part(doc);
    benchmark::DoNotOptimize(part);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_ParsePartDocument);

}  // namespace

BENCHMARK_MAIN();
