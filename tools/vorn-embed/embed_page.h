// embed_page: wraps a drawn SVG into one self-contained interactive HTML page (no network):
// drag to pan, wheel or buttons to zoom, "fit" to frame, and a tooltip for every element that
// carries data-num / data-name attributes (pins and pads), listed again in a side panel.
// Used by vorn-symbol and vorn-footprint. Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn_embed {

struct PageItem {
  std::string number;
  std::string name;
};

struct PageContent {
  std::string title;       // heading, e.g. the symbol name
  std::string subtitle;    // e.g. "12 pins"
  std::string svg;         // the drawing, a complete <svg> element
  std::string item_label;  // "Pin" or "Pad"
  std::vector<PageItem> items;
  std::string background;  // page background colour of the drawing area
};

// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string html_escape(std::string_view text);

std::string embed_page(const PageContent& content);

}  // namespace vorn_embed
