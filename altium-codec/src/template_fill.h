// Fills fixed text templates: each "{}" in a template takes the next argument, which is
// text, a number (through the shared number formatter) or an integer (plain decimal).
// Internal to the codec's writers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "altium_codec/kicad_text.h"

namespace altium_codec::detail {

// Text that is escaped with the KiCad string quoting as it is written.
struct Quoted {
  std::string_view text;
};

class TemplateArg {
 public:
  TemplateArg(Quoted quoted) : kind_(Kind::quoted), text_(quoted.text) {}
  TemplateArg(std::string_view text) : kind_(Kind::text), text_(text) {}
  TemplateArg(const char* text) : kind_(Kind::text), text_(text) {}
  TemplateArg(const std::string& text) : kind_(Kind::text), text_(text) {}
  TemplateArg(double number) : kind_(Kind::number), number_(number) {}
  TemplateArg(int64_t integer) : kind_(Kind::integer), integer_(integer) {}

  void append_to(std::string& out) const {
    switch (kind_) {
      case Kind::text:
        out += text_;
        break;
      case Kind::quoted:
        append_quoted(out, text_);
        break;
      case Kind::number:
        append_number(out, number_);
        break;
      case Kind::integer:
        out += std::to_string(integer_);
        break;
    }
  }

 private:
  enum class Kind { text, quoted, number, integer };
  Kind kind_;
  std::string_view text_;
  double number_ = 0;
  int64_t integer_ = 0;
};

inline void fill(std::string& out, std::string_view tpl, std::initializer_list<TemplateArg> args) {
  auto next = args.begin();
  size_t pos = 0;
  while (true) {
    size_t hole = tpl.find("{}", pos);
    if (hole == std::string_view::npos || next == args.end()) {
      out.append(tpl.substr(pos));
      return;
    }
    out.append(tpl.substr(pos, hole - pos));
    next->append_to(out);
    ++next;
    pos = hole + 2;
  }
}

}  // namespace altium_codec::detail
