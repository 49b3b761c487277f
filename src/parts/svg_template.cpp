// SVG template filling with the codec's shared number formats.
#include "parts/svg_template.h"

#include <altium_codec/kicad_text.h>

namespace vorn::svg {

void Arg::append_to(std::string& out, int precision) const {
  if (is_text_) {
    out += text_;
  } else if (precision < 0) {
    out += altium_codec::format_shortest(number_);
  } else {
    out += altium_codec::format_fixed(number_, precision);
  }
}

void fill(std::string& out, std::string_view tpl, std::initializer_list<Arg> args) {
  struct Placeholder {
    std::string_view text;
    int precision;
  };
  static constexpr Placeholder kPlaceholders[] = {{"{}", -1}, {"{:.1}", 1}, {"{:.3}", 3}};
  auto next = args.begin();
  size_t pos = 0;
  while (next != args.end()) {
    const size_t hole = tpl.find('{', pos);
    if (hole == std::string_view::npos) break;
    const Placeholder* match = nullptr;
    for (const auto& p : kPlaceholders) {
      if (tpl.substr(hole, p.text.size()) == p.text) match = &p;
    }
    out.append(tpl.substr(pos, hole - pos + (match ? 0 : 1)));
    pos = hole + (match ? match->text.size() : 1);
    if (match) (next++)->append_to(out, match->precision);
  }
  out.append(tpl.substr(pos));
}

}  // namespace vorn::svg
