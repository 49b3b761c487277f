// Content hash, stored file names and manifest planning.
#include "boards/render_manifest.h"

#include "util/siphash.h"

namespace vorn::boards {
namespace {

Json sheet_names(const RenderResult& render) {
  Json names = Json::array();
  for (const Sheet& s : render.sheets) names.push_back(s.name);
  return names;
}

}  // namespace

std::string content_hash(const RenderResult& render) {
  SipHash13 h;
  auto piece = [&h](std::string_view bytes) {
    h.update_u64_le(bytes.size());
    h.update(bytes);
  };
  if (render.glb) piece(*render.glb);
  if (render.pcb_svg) piece(*render.pcb_svg);
  for (const Sheet& s : render.sheets) piece(s.svg);
  h.update_u64_le(render.sheets.size());
  for (const Sheet& s : render.sheets) {
    h.update(s.name);
    h.update("\xFF");
  }
  return hex64(h.finish());
}

std::string sheet_file_name(size_t index) {
  std::string digits = std::to_string(index);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return "sheet-" + digits + ".svg";
}

ManifestPlan plan_manifest(const Json& versions, const std::string& hash, const std::string& version,
                           const RenderResult& render) {
  Json records = versions.is_array() ? versions : Json::array();
  ManifestPlan plan;
  const bool same = !records.empty() && records[0].is_object() && records[0].contains("hash") &&
                    records[0]["hash"] == hash;
  plan.archive = !same;
  if (plan.archive) {
    Json kept = Json::array();
    for (const Json& r : records) {
      if (!(r.is_object() && r.contains("version") && r["version"] == version)) kept.push_back(r);
    }
    Json record = {{"version", version},
                   {"hash", hash},
                   {"glb", render.glb.has_value()},
                   {"pcb", render.pcb_svg.has_value()},
                   {"sheets", sheet_names(render)}};
    kept.insert(kept.begin(), std::move(record));
    records = std::move(kept);
  }
  Json current = version;
  if (!records.empty() && records[0].is_object() && records[0].contains("version")) current = records[0]["version"];
  plan.manifest = {{"v", 2},
                   {"current", current},
                   {"glb", render.glb.has_value()},
                   {"pcb", render.pcb_svg.has_value()},
                   {"sheets", sheet_names(render)},
                   {"versions", records}};
  return plan;
}

std::string safe_version(std::string_view version) {
  std::string out;
  for (char c : version) {
    const unsigned char u = static_cast<unsigned char>(c);
    out.push_back(c == '/' || c == '\\' || u < 0x20 || u == 0x7F ? '_' : c);
  }
  if (out.empty() || out == "." || out == "..") return "0.0.0";
  return out;
}

std::string manifest_text(const Json& manifest) {
  return manifest.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vorn::boards
