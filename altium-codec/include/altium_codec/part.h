// The part document: the platform's JSON description of one component (`vorn-lbr`).
//
// Everything the codec produces (KiCad symbol text, KiCad footprint text, SVG pictures) is
// computed from one `VornLbrPart`. Member names are the document's JSON keys, exactly.
// Symbol geometry (Pin, BodyRect, Graphic) is in mils; footprint geometry (Pad, FpGraphic)
// in millimetres; angles in degrees.
//
// Members held as std::optional are those whose absence carries its own meaning (the
// writers apply a rule when they are absent); members with a plain default take it at
// load time.
//
// `parse_vorn_lbr_part` reads the JSON text of a document. Every record may be a JSON
// object (unknown keys ignored, a repeated key rejected) or a positional array holding its
// members in declaration order (tuple form; trailing members with a default or an absence
// rule may be left out, a missing required member fails with "invalid length"). The shape
// variants carry their tag in `kind` (or `role`), or as the first element of the array form.
// JSON null counts as absent for optional members. Containers nest at most 127 deep.
//
// Errors read like "missing field `mpn` at line 1 column 57", "unknown variant `hexagon`,
// expected one of `polyline`, `rect`, `circle`, `arc` at line 3 column 20" or "invalid
// type: string \"x\", expected u32 at line 1 column 21"; errors inside a tagged shape are
// placed just past that shape. Syntax errors are found before record errors. The parser
// never yields a partial record.
//
// All functions are pure and thread-safe; values are plain data.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace altium_codec {

// A schematic pin. Position is the connection point, in mils.
struct Pin {
  std::string number;
  std::string name;  // "~" stands for an empty name
  int32_t x = 0;
  int32_t y = 0;
  std::optional<int32_t> length;  // absent: 200 mils
  uint16_t rotation = 0;          // KiCad pin angle, degrees
};

// Body outline rectangle by two opposite corners, in mils. Carried, never drawn.
struct BodyRect {
  int32_t x1 = 0;
  int32_t y1 = 0;
  int32_t x2 = 0;
  int32_t y2 = 0;
};

// An extra symbol property.
struct Parameter {
  std::string name;
  std::string value;
  bool visible = false;
};

// One pin-to-pad link.
struct ConnectEntry {
  std::string pin;
  std::string pad;
};

// Symbol shapes, in mils. `Graphic` is tagged by `kind` in JSON.
struct GraphicPolyline {
  std::vector<std::array<double, 2>> points;  // each an x and a y
  double width = 0;
};

struct GraphicRect {
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  double width = 0;
  bool filled = false;
};

struct GraphicCircle {
  double cx = 0;
  double cy = 0;
  double r = 0;
  double width = 0;
};

// Counter-clockwise from `start` to `end` (degrees) in the document's frame.
struct GraphicArc {
  double cx = 0;
  double cy = 0;
  double r = 0;
  double start = 0;
  double end = 0;
  double width = 0;
};

// kind: "polyline", "rect", "circle", "arc" (in this variant order).
using Graphic = std::variant<GraphicPolyline, GraphicRect, GraphicCircle, GraphicArc>;

struct Symbol {
  std::string name;
  std::vector<Pin> pins;
  std::optional<BodyRect> body;
  std::vector<Graphic> graphics;
  std::optional<std::string> designator_prefix;  // absent: "U"
  std::optional<std::string> footprint;          // absent: empty Footprint property
  std::vector<Parameter> parameters;
  std::optional<bool> pin_numbers_hidden;  // absent: hidden when fewer than 3 pins
  std::optional<bool> pin_names_hidden;    // absent: hidden when fewer than 3 pins
};

// A footprint pad, in millimetres.
struct Pad {
  std::string number;
  double x_mm = 0;
  double y_mm = 0;
  double w_mm = 0;
  double h_mm = 0;
  double drill_mm = 0;         // > 0 makes a hole pad
  double rotation = 0;         // degrees
  std::string shape = "rect";  // "circle", "oval", "roundrect", "rect"; other text means "rect"
  std::optional<bool> plated;  // hole pads only: plated unless false
};

// The role of the layer a footprint shape is drawn on; tagged by `role` in JSON.
enum class FpLayerRole { silk, courtyard, fab, copper, other };

struct FpLayer {
  FpLayerRole role = FpLayerRole::silk;
  std::optional<std::string> altium;  // only read for role "other"; no output uses it
};

// Footprint shapes, in millimetres. `FpGraphic` is tagged by `kind` in JSON.
struct FpLine {
  FpLayer layer;
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  double width = 0;
};

struct FpRect {
  FpLayer layer;
  double x1 = 0;
  double y1 = 0;
  double x2 = 0;
  double y2 = 0;
  double width = 0;
};

struct FpCircle {
  FpLayer layer;
  double cx = 0;
  double cy = 0;
  double r = 0;
  double width = 0;
};

struct FpArc {
  FpLayer layer;
  double cx = 0;
  double cy = 0;
  double r = 0;
  double start = 0;
  double end = 0;
  double width = 0;
};

// kind: "line", "rect", "circle", "arc" (in this variant order).
using FpGraphic = std::variant<FpLine, FpRect, FpCircle, FpArc>;

struct Footprint {
  std::string name;
  std::vector<Pad> pads;
  std::vector<FpGraphic> graphics;
};

// The root record.
struct VornLbrPart {
  uint32_t schema_version = 0;
  std::string mpn;
  std::string manufacturer;
  std::string package;
  std::string value;
  std::string category;
  Symbol symbol;
  Footprint footprint;
  std::vector<ConnectEntry> connect;
  std::optional<std::string> model_3d;
  std::optional<nlohmann::json> provenance;  // opaque; JSON null counts as absent
};

// Parses the JSON text of a part document: the whole record or an error message with
// its line and column.
[[nodiscard]] std::expected<VornLbrPart, std::string> parse_vorn_lbr_part(
    std::string_view json_text);

// The JSON `kind` / `role` texts, for messages and pictures.
std::string_view graphic_kind(const Graphic& graphic);
std::string_view fp_graphic_kind(const FpGraphic& graphic);
std::string_view fp_layer_role_name(FpLayerRole role);

}  // namespace altium_codec
