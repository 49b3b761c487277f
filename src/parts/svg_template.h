// Fills the fixed SVG templates of the part pictures. Each placeholder takes the next argument:
// "{}" a text as it is or a number in its shortest round-trip form, "{:.1}" and "{:.3}" a
// number in fixed notation with one or three digits after the point. Internal to src/parts.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vorn::svg {

class Arg {
 public:
  Arg(std::string_view text) : is_text_(true), text_(text) {}
  Arg(const char* text) : is_text_(true), text_(text) {}
  Arg(const std::string& text) : is_text_(true), text_(text) {}
  Arg(double number) : number_(number) {}

  // Appends the argument as the placeholder with `precision` digits (-1: shortest form) asks.
  void append_to(std::string& out, int precision) const;

 private:
  bool is_text_ = false;
  std::string_view text_;
  double number_ = 0;
};

// Appends `tpl` to `out` with its placeholders filled in order.
void fill(std::string& out, std::string_view tpl, std::initializer_list<Arg> args);

}  // namespace vorn::svg
