// Argument parsing, file I/O and import for the embed tools.
#include "embed_cli.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "altium_codec/kicad.h"
#include "altium_codec/sexpr.h"
#include "drawing.h"
#include "embed_page.h"

namespace vorn_embed {
namespace {

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string plural(size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

}  // namespace

int run_embed(int argc, char** argv, Kind kind) {
  const char* tool = kind == Kind::symbol ? "vorn-symbol" : "vorn-footprint";
  std::string file, out;
  bool embed = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "embed") {
      embed = true;
    } else if (a == "--file" && i + 1 < argc) {
      file = argv[++i];
    } else if (a == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else {
      std::fprintf(stderr, "%s: unexpected argument %s\n", tool, a.c_str());
      return 2;
    }
  }
  if (!embed || file.empty() || out.empty()) {
    std::fprintf(stderr, "usage: %s embed --file <KiCad file> --out <html file>\n", tool);
    return 2;
  }
  std::string text;
  if (!read_file(file, text)) {
    std::fprintf(stderr, "%s: cannot read %s\n", tool, file.c_str());
    return 1;
  }
  auto doc = altium_codec::sexpr::parse_owned(std::move(text));
  if (!doc) {
    std::fprintf(stderr, "%s: %s: %s\n", tool, file.c_str(), doc.error().c_str());
    return 1;
  }
  PageContent page;
  if (kind == Kind::symbol) {
    const std::string stem = std::filesystem::path(file).stem().string();
    auto symbol = altium_codec::import_kicad_symbol(doc->root(), stem);
    if (!symbol) {
      std::fprintf(stderr, "%s: %s: %s\n", tool, file.c_str(), symbol.error().c_str());
      return 1;
    }
    page.title = symbol->name;
    page.subtitle = "symbol · " + plural(symbol->pins.size(), "pin");
    page.svg = symbol_svg(*symbol);
    page.item_label = "Pin";
    page.background = "#141821";
    for (const auto& pin : symbol->pins) page.items.push_back({pin.number, pin.name});
  } else {
    if (doc->root().head() != "footprint" && doc->root().head() != "module") {
      std::fprintf(stderr, "%s: %s: not a KiCad footprint\n", tool, file.c_str());
      return 1;
    }
    const auto footprint = altium_codec::import_kicad_footprint(doc->root());
    page.title =
        footprint.name.empty() ? std::filesystem::path(file).stem().string() : footprint.name;
    page.subtitle = "footprint · " + plural(footprint.pads.size(), "pad");
    page.svg = footprint_svg(footprint);
    page.item_label = "Pad";
    page.background = "#0d1117";
    for (const auto& pad : footprint.pads) page.items.push_back({pad.number, ""});
  }
  if (!write_file(out, embed_page(page))) {
    std::fprintf(stderr, "%s: cannot write %s\n", tool, out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vorn_embed
