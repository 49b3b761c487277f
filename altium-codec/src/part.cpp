// Typed reading of the part document from the offset-tracking JSON tree.
//
// Records are read from objects (unknown keys ignored, duplicates rejected) or from
// positional arrays. The shape variants (`Graphic`, `FpGraphic`, `FpLayer`) carry their
// tag inside the object; once a tag is read the rest of the variant is read as a whole,
// and errors found inside it are placed just past the tagged value.
#include "altium_codec/part.h"

#include <functional>
#include <limits>
#include <span>

#include "json_dom.h"

namespace altium_codec {
namespace {

using detail::JsonError;
using detail::JsonKind;
using detail::JsonMember;
using detail::JsonNode;

enum class Presence { required, defaulted, optional };

struct Field {
  std::string_view key;
  Presence presence;
  std::function<bool(const JsonNode&)> read;
};

// Joins message pieces (kept out of operator+ chains, which trip a false -Wrestrict in g++ 12).
std::string cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out += piece;
  return out;
}

constexpr std::string_view kGraphicKinds[] = {"polyline", "rect", "circle", "arc"};
constexpr std::string_view kFpGraphicKinds[] = {"line", "rect", "circle", "arc"};
constexpr std::string_view kFpLayerRoles[] = {"silk", "courtyard", "fab", "copper", "other"};

class Reader {
 public:
  JsonError error;

  bool fail(std::string message, size_t offset) {
    error = {std::move(message), content_at_ ? *content_at_ : offset};
    return false;
  }

  bool fail_type(const JsonNode& n, std::string_view expected) {
    // Containers are reported where they open; scalars just past their text.
    size_t offset = (n.kind == JsonKind::array || n.kind == JsonKind::object) ? n.start : n.end;
    return fail(cat({"invalid type: ", detail::describe_unexpected(n), ", expected ", expected}),
                offset);
  }

  bool read_string(const JsonNode& n, std::string& out) {
    if (n.kind != JsonKind::string) return fail_type(n, "a string");
    out = n.string;
    return true;
  }

  bool read_bool(const JsonNode& n, bool& out) {
    if (n.kind != JsonKind::boolean) return fail_type(n, "a boolean");
    out = n.boolean;
    return true;
  }

  bool read_f64(const JsonNode& n, double& out) {
    switch (n.kind) {
      case JsonKind::unsigned_int:
        out = static_cast<double>(n.unsigned_int);
        return true;
      case JsonKind::negative_int:
        out = static_cast<double>(n.negative_int);
        return true;
      case JsonKind::floating:
        out = n.floating;
        return true;
      default:
        return fail_type(n, "f64");
    }
  }

  template <typename Int>
  bool read_int(const JsonNode& n, Int& out, std::string_view type_name) {
    auto out_of_range = [&](std::string value) {
      return fail(cat({"invalid value: integer `", value, "`, expected ", type_name}), n.end);
    };
    if (n.kind == JsonKind::unsigned_int) {
      if (n.unsigned_int > static_cast<uint64_t>(std::numeric_limits<Int>::max())) {
        return out_of_range(std::to_string(n.unsigned_int));
      }
      out = static_cast<Int>(n.unsigned_int);
      return true;
    }
    if (n.kind == JsonKind::negative_int) {
      if (n.negative_int < static_cast<int64_t>(std::numeric_limits<Int>::min())) {
        return out_of_range(std::to_string(n.negative_int));
      }
      out = static_cast<Int>(n.negative_int);
      return true;
    }
    return fail_type(n, type_name);
  }

  template <typename T, typename ReadOne>
  bool read_optional(const JsonNode& n, std::optional<T>& out, ReadOne read_one) {
    if (n.kind == JsonKind::null) {
      out.reset();
      return true;
    }
    T value{};
    if (!read_one(n, value)) return false;
    out = std::move(value);
    return true;
  }

  template <typename T, typename ReadOne>
  bool read_vector(const JsonNode& n, std::vector<T>& out, ReadOne read_one) {
    if (n.kind != JsonKind::array) return fail_type(n, "a sequence");
    out.clear();
    out.reserve(n.items.size());
    for (const JsonNode& item : n.items) {
      T value{};
      if (!read_one(item, value)) return false;
      out.push_back(std::move(value));
    }
    return true;
  }

  // A record from an object or a positional array. `expecting` names it in messages
  // ("struct Pin").
  bool read_struct(const JsonNode& n, std::string_view expecting, std::span<Field> fields) {
    if (n.kind == JsonKind::object) {
      std::vector<bool> seen(fields.size(), false);
      for (const JsonMember& member : n.members) {
        for (size_t i = 0; i < fields.size(); ++i) {
          if (fields[i].key != member.key) continue;
          if (seen[i]) {
            return fail(cat({"duplicate field `", member.key, "`"}), member.key_end);
          }
          seen[i] = true;
          if (!fields[i].read(member.value)) return false;
          break;
        }
      }
      for (size_t i = 0; i < fields.size(); ++i) {
        if (!seen[i] && fields[i].presence == Presence::required) {
          return fail(cat({"missing field `", fields[i].key, "`"}), n.end);
        }
      }
      return true;
    }
    if (n.kind == JsonKind::array) {
      for (size_t i = 0; i < fields.size(); ++i) {
        if (i < n.items.size()) {
          if (!fields[i].read(n.items[i])) return false;
        } else if (fields[i].presence == Presence::required) {
          return fail(
              cat({"invalid length ", std::to_string(i), ", expected ", expecting, " with ",
                   std::to_string(fields.size()), fields.size() == 1 ? " element" : " elements"}),
              n.end);
        }
      }
      if (n.items.size() > fields.size()) {
        if (content_at_) {
          return fail(cat({"invalid length ", std::to_string(n.items.size()), ", expected ",
                           elements_in_sequence(fields.size())}),
                      n.end);
        }
        return fail("trailing characters", n.items[fields.size()].start + 1);
      }
      return true;
    }
    return fail_type(n, expecting);
  }

  // Reads the tag of an internally tagged value and hands back the remaining members (or
  // elements) as their own node.
  bool read_tagged(const JsonNode& n, std::string_view enum_name, std::string_view tag_key,
                   std::span<const std::string_view> variants, size_t& variant, JsonNode& rest) {
    const JsonNode* tag = nullptr;
    rest = JsonNode{};
    rest.start = n.start;
    rest.end = n.end;
    if (n.kind == JsonKind::object) {
      rest.kind = JsonKind::object;
      for (const JsonMember& member : n.members) {
        if (member.key == tag_key) {
          if (tag) return fail(cat({"duplicate field `", member.key, "`"}), member.key_end);
          tag = &member.value;
          if (!read_variant_name(*tag, variants, variant)) return false;
        } else {
          rest.members.push_back(member);
        }
      }
    } else if (n.kind == JsonKind::array) {
      rest.kind = JsonKind::array;
      if (!n.items.empty()) {
        tag = &n.items.front();
        if (!read_variant_name(*tag, variants, variant)) return false;
        rest.items.assign(n.items.begin() + 1, n.items.end());
      }
    } else {
      return fail_type(n, cat({"internally tagged enum ", enum_name}));
    }
    if (!tag) return fail(cat({"missing field `", tag_key, "`"}), n.end);
    return true;
  }

  // Errors inside a tagged value's body are placed just past the whole tagged value.
  class ContentScope {
   public:
    ContentScope(Reader& reader, size_t offset) : reader_(reader), saved_(reader.content_at_) {
      if (!reader_.content_at_) reader_.content_at_ = offset;
    }
    ~ContentScope() { reader_.content_at_ = saved_; }

   private:
    Reader& reader_;
    std::optional<size_t> saved_;
  };

 private:
  static std::string elements_in_sequence(size_t count) {
    return count == 1 ? std::string("1 element in sequence")
                      : cat({std::to_string(count), " elements in sequence"});
  }

  bool read_variant_name(const JsonNode& tag, std::span<const std::string_view> variants,
                         size_t& variant) {
    if (tag.kind == JsonKind::string) {
      for (size_t i = 0; i < variants.size(); ++i) {
        if (variants[i] == tag.string) {
          variant = i;
          return true;
        }
      }
      std::string message = cat({"unknown variant `", tag.string, "`, expected one of "});
      for (size_t i = 0; i < variants.size(); ++i) {
        if (i) message += ", ";
        message += cat({"`", variants[i], "`"});
      }
      return fail(std::move(message), tag.end);
    }
    // A nested tag (already inside a tagged value) may also name its variant by index.
    if (content_at_ && tag.kind == JsonKind::unsigned_int) {
      if (tag.unsigned_int < variants.size()) {
        variant = static_cast<size_t>(tag.unsigned_int);
        return true;
      }
      return fail(cat({"invalid value: integer `", std::to_string(tag.unsigned_int),
                       "`, expected variant index 0 <= i < ", std::to_string(variants.size())}),
                  tag.end);
    }
    return fail_type(tag, "variant identifier");
  }

  std::optional<size_t> content_at_;
};

// ----- records -----

bool read_pin(Reader& r, const JsonNode& n, Pin& pin) {
  Field fields[] = {
      {"number", Presence::required,
       [&](const JsonNode& v) { return r.read_string(v, pin.number); }},
      {"name", Presence::required, [&](const JsonNode& v) { return r.read_string(v, pin.name); }},
      {"x", Presence::required, [&](const JsonNode& v) { return r.read_int(v, pin.x, "i32"); }},
      {"y", Presence::required, [&](const JsonNode& v) { return r.read_int(v, pin.y, "i32"); }},
      {"length", Presence::optional,
       [&](const JsonNode& v) {
         return r.read_optional(v, pin.length, [&](const JsonNode& x, int32_t& out) {
           return r.read_int(x, out, "i32");
         });
       }},
      {"rotation", Presence::defaulted,
       [&](const JsonNode& v) { return r.read_int(v, pin.rotation, "u16"); }},
  };
  return r.read_struct(n, "struct Pin", fields);
}

bool read_body(Reader& r, const JsonNode& n, BodyRect& body) {
  Field fields[] = {
      {"x1", Presence::required, [&](const JsonNode& v) { return r.read_int(v, body.x1, "i32"); }},
      {"y1", Presence::required, [&](const JsonNode& v) { return r.read_int(v, body.y1, "i32"); }},
      {"x2", Presence::required, [&](const JsonNode& v) { return r.read_int(v, body.x2, "i32"); }},
      {"y2", Presence::required, [&](const JsonNode& v) { return r.read_int(v, body.y2, "i32"); }},
  };
  return r.read_struct(n, "struct BodyRect", fields);
}

bool read_parameter(Reader& r, const JsonNode& n, Parameter& p) {
  Field fields[] = {
      {"name", Presence::required, [&](const JsonNode& v) { return r.read_string(v, p.name); }},
      {"value", Presence::required, [&](const JsonNode& v) { return r.read_string(v, p.value); }},
      {"visible", Presence::defaulted,
       [&](const JsonNode& v) { return r.read_bool(v, p.visible); }},
  };
  return r.read_struct(n, "struct Parameter", fields);
}

bool read_connect(Reader& r, const JsonNode& n, ConnectEntry& c) {
  Field fields[] = {
      {"pin", Presence::required, [&](const JsonNode& v) { return r.read_string(v, c.pin); }},
      {"pad", Presence::required, [&](const JsonNode& v) { return r.read_string(v, c.pad); }},
  };
  return r.read_struct(n, "struct ConnectEntry", fields);
}

Field f64_field(Reader& r, std::string_view key, Presence presence, double& out) {
  return {key, presence, [&r, &out](const JsonNode& v) { return r.read_f64(v, out); }};
}

bool read_point(Reader& r, const JsonNode& n, std::array<double, 2>& point) {
  constexpr std::string_view kExpecting = "an array of length 2";
  if (n.kind != JsonKind::array) return r.fail_type(n, kExpecting);
  if (n.items.size() < 2) {
    return r.fail(
        cat({"invalid length ", std::to_string(n.items.size()), ", expected ", kExpecting}), n.end);
  }
  if (!r.read_f64(n.items[0], point[0]) || !r.read_f64(n.items[1], point[1])) return false;
  if (n.items.size() > 2) {
    return r.fail(cat({"invalid length ", std::to_string(n.items.size()),
                       ", expected 2 elements in sequence"}),
                  n.end);
  }
  return true;
}

bool read_graphic(Reader& r, const JsonNode& n, Graphic& graphic) {
  size_t variant = 0;
  JsonNode body;
  if (!r.read_tagged(n, "Graphic", "kind", kGraphicKinds, variant, body)) return false;
  Reader::ContentScope scope(r, n.end);
  constexpr auto R = Presence::required;
  constexpr auto D = Presence::defaulted;
  switch (variant) {
    case 0: {
      GraphicPolyline g;
      Field fields[] = {
          {"points", R,
           [&](const JsonNode& v) {
             return r.read_vector(v, g.points, [&](const JsonNode& x, std::array<double, 2>& p) {
               return read_point(r, x, p);
             });
           }},
          f64_field(r, "width", D, g.width),
      };
      if (!r.read_struct(body, "struct variant Graphic::Polyline", fields)) return false;
      graphic = std::move(g);
      return true;
    }
    case 1: {
      GraphicRect g;
      Field fields[] = {
          f64_field(r, "x1", R, g.x1),
          f64_field(r, "y1", R, g.y1),
          f64_field(r, "x2", R, g.x2),
          f64_field(r, "y2", R, g.y2),
          f64_field(r, "width", D, g.width),
          {"filled", D, [&](const JsonNode& v) { return r.read_bool(v, g.filled); }},
      };
      if (!r.read_struct(body, "struct variant Graphic::Rect", fields)) return false;
      graphic = g;
      return true;
    }
    case 2: {
      GraphicCircle g;
      Field fields[] = {
          f64_field(r, "cx", R, g.cx),
          f64_field(r, "cy", R, g.cy),
          f64_field(r, "r", R, g.r),
          f64_field(r, "width", D, g.width),
      };
      if (!r.read_struct(body, "struct variant Graphic::Circle", fields)) return false;
      graphic = g;
      return true;
    }
    default: {
      GraphicArc g;
      Field fields[] = {
          f64_field(r, "cx", R, g.cx),   f64_field(r, "cy", R, g.cy),
          f64_field(r, "r", R, g.r),     f64_field(r, "start", R, g.start),
          f64_field(r, "end", R, g.end), f64_field(r, "width", D, g.width),
      };
      if (!r.read_struct(body, "struct variant Graphic::Arc", fields)) return false;
      graphic = g;
      return true;
    }
  }
}

bool read_fp_layer(Reader& r, const JsonNode& n, FpLayer& layer) {
  size_t variant = 0;
  JsonNode body;
  if (!r.read_tagged(n, "FpLayer", "role", kFpLayerRoles, variant, body)) return false;
  Reader::ContentScope scope(r, n.end);
  layer = FpLayer{static_cast<FpLayerRole>(variant), std::nullopt};
  if (layer.role != FpLayerRole::other) return true;  // the other roles carry nothing
  Field fields[] = {
      {"altium", Presence::optional,
       [&](const JsonNode& v) {
         return r.read_optional(v, layer.altium, [&](const JsonNode& x, std::string& out) {
           return r.read_string(x, out);
         });
       }},
  };
  return r.read_struct(body, "struct variant FpLayer::Other", fields);
}

Field layer_field(Reader& r, FpLayer& layer) {
  return {"layer", Presence::required,
          [&r, &layer](const JsonNode& v) { return read_fp_layer(r, v, layer); }};
}

bool read_fp_graphic(Reader& r, const JsonNode& n, FpGraphic& graphic) {
  size_t variant = 0;
  JsonNode body;
  if (!r.read_tagged(n, "FpGraphic", "kind", kFpGraphicKinds, variant, body)) return false;
  Reader::ContentScope scope(r, n.end);
  constexpr auto R = Presence::required;
  constexpr auto D = Presence::defaulted;
  switch (variant) {
    case 0: {
      FpLine g;
      Field fields[] = {layer_field(r, g.layer),     f64_field(r, "x1", R, g.x1),
                        f64_field(r, "y1", R, g.y1), f64_field(r, "x2", R, g.x2),
                        f64_field(r, "y2", R, g.y2), f64_field(r, "width", D, g.width)};
      if (!r.read_struct(body, "struct variant FpGraphic::Line", fields)) return false;
      graphic = g;
      return true;
    }
    case 1: {
      FpRect g;
      Field fields[] = {layer_field(r, g.layer),     f64_field(r, "x1", R, g.x1),
                        f64_field(r, "y1", R, g.y1), f64_field(r, "x2", R, g.x2),
                        f64_field(r, "y2", R, g.y2), f64_field(r, "width", D, g.width)};
      if (!r.read_struct(body, "struct variant FpGraphic::Rect", fields)) return false;
      graphic = g;
      return true;
    }
    case 2: {
      FpCircle g;
      Field fields[] = {layer_field(r, g.layer), f64_field(r, "cx", R, g.cx),
                        f64_field(r, "cy", R, g.cy), f64_field(r, "r", R, g.r),
                        f64_field(r, "width", D, g.width)};
      if (!r.read_struct(body, "struct variant FpGraphic::Circle", fields)) return false;
      graphic = g;
      return true;
    }
    default: {
      FpArc g;
      Field fields[] = {layer_field(r, g.layer),           f64_field(r, "cx", R, g.cx),
                        f64_field(r, "cy", R, g.cy),       f64_field(r, "r", R, g.r),
                        f64_field(r, "start", R, g.start), f64_field(r, "end", R, g.end),
                        f64_field(r, "width", D, g.width)};
      if (!r.read_struct(body, "struct variant FpGraphic::Arc", fields)) return false;
      graphic = g;
      return true;
    }
  }
}

bool read_symbol(Reader& r, const JsonNode& n, Symbol& s) {
  auto opt_string = [&](std::optional<std::string>& out) {
    return [&r, &out](const JsonNode& v) {
      return r.read_optional(
          v, out, [&r](const JsonNode& x, std::string& o) { return r.read_string(x, o); });
    };
  };
  auto opt_bool = [&](std::optional<bool>& out) {
    return [&r, &out](const JsonNode& v) {
      return r.read_optional(v, out,
                             [&r](const JsonNode& x, bool& o) { return r.read_bool(x, o); });
    };
  };
  Field fields[] = {
      {"name", Presence::required, [&](const JsonNode& v) { return r.read_string(v, s.name); }},
      {"pins", Presence::required,
       [&](const JsonNode& v) {
         return r.read_vector(v, s.pins,
                              [&](const JsonNode& x, Pin& p) { return read_pin(r, x, p); });
       }},
      {"body", Presence::optional,
       [&](const JsonNode& v) {
         return r.read_optional(v, s.body,
                                [&](const JsonNode& x, BodyRect& b) { return read_body(r, x, b); });
       }},
      {"graphics", Presence::defaulted,
       [&](const JsonNode& v) {
         return r.read_vector(v, s.graphics,
                              [&](const JsonNode& x, Graphic& g) { return read_graphic(r, x, g); });
       }},
      {"designator_prefix", Presence::optional, opt_string(s.designator_prefix)},
      {"footprint", Presence::optional, opt_string(s.footprint)},
      {"parameters", Presence::defaulted,
       [&](const JsonNode& v) {
         return r.read_vector(v, s.parameters, [&](const JsonNode& x, Parameter& p) {
           return read_parameter(r, x, p);
         });
       }},
      {"pin_numbers_hidden", Presence::optional, opt_bool(s.pin_numbers_hidden)},
      {"pin_names_hidden", Presence::optional, opt_bool(s.pin_names_hidden)},
  };
  return r.read_struct(n, "struct Symbol", fields);
}

bool read_pad(Reader& r, const JsonNode& n, Pad& p) {
  constexpr auto R = Presence::required;
  constexpr auto D = Presence::defaulted;
  Field fields[] = {
      {"number", R, [&](const JsonNode& v) { return r.read_string(v, p.number); }},
      f64_field(r, "x_mm", R, p.x_mm),
      f64_field(r, "y_mm", R, p.y_mm),
      f64_field(r, "w_mm", R, p.w_mm),
      f64_field(r, "h_mm", R, p.h_mm),
      f64_field(r, "drill_mm", D, p.drill_mm),
      f64_field(r, "rotation", D, p.rotation),
      {"shape", D, [&](const JsonNode& v) { return r.read_string(v, p.shape); }},
      {"plated", Presence::optional,
       [&](const JsonNode& v) {
         return r.read_optional(v, p.plated,
                                [&](const JsonNode& x, bool& o) { return r.read_bool(x, o); });
       }},
  };
  return r.read_struct(n, "struct Pad", fields);
}

bool read_footprint(Reader& r, const JsonNode& n, Footprint& f) {
  Field fields[] = {
      {"name", Presence::required, [&](const JsonNode& v) { return r.read_string(v, f.name); }},
      {"pads", Presence::required,
       [&](const JsonNode& v) {
         return r.read_vector(v, f.pads,
                              [&](const JsonNode& x, Pad& p) { return read_pad(r, x, p); });
       }},
      {"graphics", Presence::defaulted,
       [&](const JsonNode& v) {
         return r.read_vector(v, f.graphics, [&](const JsonNode& x, FpGraphic& g) {
           return read_fp_graphic(r, x, g);
         });
       }},
  };
  return r.read_struct(n, "struct Footprint", fields);
}

nlohmann::json to_json(const JsonNode& n) {
  switch (n.kind) {
    case JsonKind::null:
      return nullptr;
    case JsonKind::boolean:
      return n.boolean;
    case JsonKind::unsigned_int:
      return n.unsigned_int;
    case JsonKind::negative_int:
      return n.negative_int;
    case JsonKind::floating:
      return n.floating;
    case JsonKind::string:
      return n.string;
    case JsonKind::array: {
      nlohmann::json out = nlohmann::json::array();
      for (const JsonNode& item : n.items) out.push_back(to_json(item));
      return out;
    }
    case JsonKind::object: {
      nlohmann::json out = nlohmann::json::object();
      for (const JsonMember& m : n.members) out[m.key] = to_json(m.value);  // last one wins
      return out;
    }
  }
  return nullptr;
}

bool read_part(Reader& r, const JsonNode& n, VornLbrPart& part) {
  constexpr auto R = Presence::required;
  constexpr auto D = Presence::defaulted;
  auto string_field = [&](std::string_view key, Presence presence, std::string& out) {
    return Field{key, presence, [&r, &out](const JsonNode& v) { return r.read_string(v, out); }};
  };
  Field fields[] = {
      {"schema_version", R,
       [&](const JsonNode& v) { return r.read_int(v, part.schema_version, "u32"); }},
      string_field("mpn", R, part.mpn),
      string_field("manufacturer", D, part.manufacturer),
      string_field("package", D, part.package),
      string_field("value", D, part.value),
      string_field("category", D, part.category),
      {"symbol", R, [&](const JsonNode& v) { return read_symbol(r, v, part.symbol); }},
      {"footprint", R, [&](const JsonNode& v) { return read_footprint(r, v, part.footprint); }},
      {"connect", D,
       [&](const JsonNode& v) {
         return r.read_vector(v, part.connect, [&](const JsonNode& x, ConnectEntry& c) {
           return read_connect(r, x, c);
         });
       }},
      {"model_3d", Presence::optional,
       [&](const JsonNode& v) {
         return r.read_optional(v, part.model_3d, [&](const JsonNode& x, std::string& o) {
           return r.read_string(x, o);
         });
       }},
      {"provenance", Presence::optional,
       [&](const JsonNode& v) {
         if (v.kind == JsonKind::null) {
           part.provenance.reset();
         } else {
           part.provenance = to_json(v);
         }
         return true;
       }},
  };
  return r.read_struct(n, "struct VornLbrPart", fields);
}

}  // namespace

std::expected<VornLbrPart, std::string> parse_vorn_lbr_part(std::string_view json_text) {
  auto dom = detail::parse_json_dom(json_text);
  if (!dom) return std::unexpected(detail::with_position(json_text, dom.error()));
  Reader reader;
  VornLbrPart part;
  if (!read_part(reader, *dom, part)) {
    return std::unexpected(detail::with_position(json_text, reader.error));
  }
  return part;
}

std::string_view graphic_kind(const Graphic& graphic) {
  return kGraphicKinds[graphic.index()];
}

std::string_view fp_graphic_kind(const FpGraphic& graphic) {
  return kFpGraphicKinds[graphic.index()];
}

std::string_view fp_layer_role_name(FpLayerRole role) {
  return kFpLayerRoles[static_cast<size_t>(role)];
}

}  // namespace altium_codec
