// Seeded, bounded robustness checks: mutated and truncated KiCad texts and part documents never
// crash the reader, the importer or the document parser, and reader failures are always one
// of its four messages. Random trees written with random quoting parse back to the same tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "altium_codec/footprint_writer.h"
#include "altium_codec/kicad.h"
#include "altium_codec/part.h"
#include "altium_codec/sexpr.h"
#include "altium_codec/symbol_writer.h"

namespace altium_codec {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSymbolLib = R"((kicad_symbol_lib
	(version 20241209)
	(generator "hand")
	(symbol "AMP"
		(pin_names (offset 0.254) hide)
		(pin_numbers (hide yes))
		(property "Reference" "U" (at 0 5.08 0) (effects (font (size 1.27 1.27))))
		(symbol "AMP_0_1"
			(polyline (pts (xy -5.08 5.08) (xy 5.08 0) (xy -5.08 -5.08) (xy -5.08 5.08))
				(stroke (width 0.254) (type default)) (fill (type background)))
			(rectangle (start -1 -1) (end 1 1) (stroke (width 0)) (fill (type none)))
			(circle (center 0 0) (radius 0.5) (stroke (width 0.1)))
			(arc (start 1 0) (mid 0 1) (end -1 0) (stroke (width 0.1)))
		)
		(symbol "AMP_1_1"
			(pin input line (at -7.62 2.54 0) (length 2.54) (name "+" (effects (font (size 1.27 1.27)))) (number "3"))
			(pin input line (at -7.62 -2.54 0) (length 2.54) (name "-") (number "2"))
			(pin output line (at 7.62 0 180) (length 2.54) (name "~") (number "1"))
		)
	)
	(symbol "OTHER" (pin (at 0 0 90) (number "1")))
)
)";

constexpr std::string_view kFootprint = R"((footprint "SOT-23"
	(version 20240108)
	(layer "F.Cu")
	(fp_line (start -0.7 -1.5) (end 0.7 -1.5) (stroke (width 0.12) (type solid)) (layer "F.SilkS"))
	(fp_rect (start -1.9 -1.7) (end 1.9 1.7) (stroke (width 0.05)) (layer "F.CrtYd"))
	(fp_circle (center 0 0) (end 0.2 0) (layer "F.Fab") (width 0.1))
	(fp_arc (start 1 0) (mid 0 1) (end -1 0) (layer "B.SilkS"))
	(pad "1" smd roundrect (at -1 0.95) (size 1.3 0.6) (layers "F.Cu" "F.Mask") (roundrect_rratio 0.25))
	(pad "2" smd rect (at -1 -0.95 90) (size 1.3 0.6))
	(pad "3" thru_hole oval (at 1 0) (size 1.3 2) (drill oval 0.6 1.2))
)
)";

constexpr std::string_view kPartJson = R"({"schema_version": 2, "mpn": "AMP1",
 "symbol": {"name": "AMP", "pins": [{"number": "1", "name": "OUT", "x": 300, "y": 0, "rotation": 180},
   ["2", "IN", -300, 100, 100, 0]],
   "graphics": [{"kind": "polyline", "points": [[0, 0], [10, 10]]},
                {"kind": "arc", "cx": 0, "cy": 0, "r": 50, "start": 0, "end": 90, "width": 6}],
   "parameters": [{"name": "Value", "value": "x"}], "pin_names_hidden": false},
 "footprint": {"name": "FP", "pads": [{"number": "1", "x_mm": 0, "y_mm": 0, "w_mm": 1, "h_mm": 1,
   "drill_mm": 0.5, "shape": "circle"}],
   "graphics": [{"kind": "line", "layer": {"role": "silk"}, "x1": 0, "y1": 0, "x2": 1, "y2": 1}]},
 "connect": [{"pin": "1", "pad": "1"}], "provenance": {"source": "x"}})";

bool is_reader_message(const std::string& m) {
  return m == "no s-expression found" || m.starts_with("unterminated string starting at line ") ||
         m.starts_with("unbalanced s-expression: '(' at line ") ||
         m.starts_with("trailing content after the root s-expression: ");
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Small real KiCad files when the official libraries are installed.
std::vector<std::string> real_samples(const fs::path& dir, std::string_view ext, std::size_t n) {
  std::vector<fs::path> found;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return {};
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() == ext && it->file_size(ec) < 40000) found.push_back(it->path());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; i < found.size() && out.size() < n; i += found.size() / n + 1) {
    out.push_back(read_file(found[i]));
  }
  return out;
}

std::string mutate(std::string s, std::mt19937_64& rng) {
  static constexpr std::string_view kInteresting = "()\"\\\n \t-.0123456789eEnan\xC2\xA0\xFF";
  const int edits = 1 + static_cast<int>(rng() % 6);
  for (int e = 0; e < edits && !s.empty(); ++e) {
    const std::size_t pos = rng() % s.size();
    const std::size_t len = 1 + rng() % std::min<std::size_t>(64, s.size() - pos);
    switch (rng() % 5) {
      case 0:
        s[pos] = kInteresting[rng() % kInteresting.size()];
        break;
      case 1:
        s[pos] = static_cast<char>(rng());
        break;
      case 2:
        s.erase(pos, len);
        break;
      case 3:
        s.insert(pos, s.substr(pos, len));
        break;
      default:
        s.resize(pos);
    }
  }
  return s;
}

void exercise_kicad(const std::string& sym, const std::string& fp) {
  auto doc = sexpr::parse(sym);
  if (!doc) {
    EXPECT_TRUE(is_reader_message(doc.error())) << doc.error();
  } else {
    // Walk every query over the whole tree.
    for (sexpr::Node n : doc->root().lists("symbol")) {
      (void)n.numbers();
      (void)n.atom(1);
    }
  }
  auto part = import_kicad(sym, fp, "AMP");
  if (part) {
    // What the importer produced must be writable.
    EXPECT_FALSE(write_kicad_symbol_lib(part->symbol).empty());
    EXPECT_FALSE(write_kicad_footprint(part->footprint).empty());
  } else {
    EXPECT_FALSE(part.error().empty());
  }
}

TEST(Robustness, MutatedKicadTexts) {
  std::vector<std::string> syms{std::string(kSymbolLib)};
  std::vector<std::string> fps{std::string(kFootprint)};
  for (auto& s : real_samples("/usr/share/kicad/symbols", ".kicad_sym", 3)) syms.push_back(s);
  for (auto& s : real_samples("/usr/share/kicad/footprints", ".kicad_mod", 6)) fps.push_back(s);
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 1500; ++i) {
    const std::string& sym = syms[i % syms.size()];
    const std::string& fp = fps[i % fps.size()];
    exercise_kicad(mutate(sym, rng), fp);
    exercise_kicad(std::string(kSymbolLib), mutate(fp, rng));
    if (HasFailure()) return;
  }
}

TEST(Robustness, EveryPrefixOfKicadTexts) {
  for (std::size_t n = 0; n <= kSymbolLib.size(); ++n) {
    exercise_kicad(std::string(kSymbolLib.substr(0, n)), std::string(kFootprint));
  }
  for (std::size_t n = 0; n <= kFootprint.size(); ++n) {
    exercise_kicad(std::string(kSymbolLib), std::string(kFootprint.substr(0, n)));
  }
}

TEST(Robustness, MutatedAndTruncatedPartDocuments) {
  ASSERT_TRUE(parse_vorn_lbr_part(kPartJson)) << parse_vorn_lbr_part(kPartJson).error();
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = i < static_cast<int>(kPartJson.size())
                                 ? std::string(kPartJson.substr(0, i))
                                 : mutate(std::string(kPartJson), rng);
    auto part = parse_vorn_lbr_part(text);
    if (part) {
      EXPECT_FALSE(write_kicad_symbol_lib(part->symbol).empty());
      EXPECT_FALSE(write_kicad_footprint(part->footprint).empty());
    } else {
      EXPECT_FALSE(part.error().empty());
    }
  }
}

// Random trees, written with random quoting, escapes and white space, parse back identically.
struct TreeWriter {
  std::mt19937_64& rng;
  std::string text;
  std::string shape;  // the expected tree, atoms quoted by debug_quote

  void atom() {
    static constexpr std::string_view kChars = "ab1.-_\"\\\n\t ()\xC3\xA9";
    std::string value;
    const std::size_t len = rng() % 6;
    for (std::size_t i = 0; i < len; ++i) value.push_back(kChars[rng() % kChars.size()]);
    const bool bare_ok = !value.empty() && value.find_first_of("\\\n\t ()") == std::string::npos &&
                         value.front() != '"';
    if (bare_ok && rng() % 2) {
      text += value;
    } else {
      text += '"';
      for (char c : value) {
        if (c == '"' || c == '\\')
          text += '\\', text += c;
        else if (c == '\n' && rng() % 2)
          text += "\\n";
        else if (c == '\t' && rng() % 2)
          text += "\\t";
        else if (c == 'a' && rng() % 4 == 0)
          text += "\\a";  // an escaped ordinary character
        else
          text += c;
      }
      text += '"';
    }
    shape += sexpr::debug_quote(value);
  }
  void space() {
    static constexpr std::string_view kSpaces[] = {" ", "\n", "\t", "\r\n", "\xE2\x80\x83"};
    text += kSpaces[rng() % 5];
  }
  void list(int depth) {
    text += '(';
    shape += '(';
    const std::size_t n = rng() % 5;
    for (std::size_t i = 0; i < n; ++i) {
      if (i) shape += ' ';
      if (i || rng() % 2) space();
      if (depth < 5 && rng() % 3 == 0)
        list(depth + 1);
      else
        atom();
    }
    if (rng() % 2) space();
    text += ')';
    shape += ')';
  }
};

std::string render(sexpr::Node n) {
  if (n.is_atom()) return sexpr::debug_quote(n.text());
  std::string out = "(";
  bool first = true;
  for (sexpr::Node c : n) {
    if (!first) out += ' ';
    first = false;
    out += render(c);
  }
  return out + ")";
}

TEST(Robustness, RandomTreesParseBack) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 3000; ++i) {
    TreeWriter w{rng, {}, {}};
    w.list(0);
    auto doc = sexpr::parse(w.text);
    ASSERT_TRUE(doc) << doc.error() << "\n" << w.text;
    ASSERT_EQ(render(doc->root()), w.shape) << w.text;
  }
}

}  // namespace
}  // namespace altium_codec
