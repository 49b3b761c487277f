// Board render rules without services: sheet names and order, model path rewriting, the tar
// safety check, the content hash, the manifest's version history and the export answer rule.
#include <gtest/gtest.h>

#include <cstdio>

#include "boards/board_render.h"
#include "boards/export_service.h"
#include "boards/model_paths.h"
#include "boards/render_manifest.h"
#include "boards/tar_check.h"

namespace vorn::boards {
namespace {

TEST(Sheets, NamesFromStemsAndProjectPrefix) {
  const std::optional<std::string> project = "P";
  EXPECT_EQ(sheet_name("P", project), "Root");
  EXPECT_EQ(sheet_name("P-power", project), "power");
  EXPECT_EQ(sheet_name("Other", project), "Other");
  EXPECT_EQ(sheet_name("P", std::nullopt), "P");
  EXPECT_EQ(sheet_name("P-power", std::nullopt), "P-power");
  std::vector<Sheet> sheets = {{"power", "1"}, {"B", "2"}, {"Root", "3"}, {"a", "4"}, {"B", "5"}};
  sort_sheets(sheets);
  std::string order;
  for (const Sheet& s : sheets) order += s.svg;
  EXPECT_EQ(order, "32541");  // Root, then byte order (upper case first), stable
}

TEST(ModelPaths, RewritesLiteralPathsAndCollectsReferences) {
  const std::string board =
      "(model \"/home/me/3d/R_0603.wrl\" (offset))\n"
      "(model \"C:\\\\lib\\\\C.step\")\n"
      "(model \"${KICAD9_3DMODEL_DIR}/X.wrl\")\n"
      "(model \"${KIPRJMOD}\\shapes\\L.step\")\n"
      "(model \"plain.wrl\")\n"
      "(model \"unterminated";
  const RewrittenBoard r = rewrite_model_paths(board);
  EXPECT_EQ(r.text,
            "(model \"${KIPRJMOD}/3d/R_0603.wrl\" (offset))\n"
            "(model \"${KIPRJMOD}/3d/C.step\")\n"
            "(model \"${KICAD9_3DMODEL_DIR}/X.wrl\")\n"
            "(model \"${KIPRJMOD}\\shapes\\L.step\")\n"
            "(model \"${KIPRJMOD}/3d/plain.wrl\")\n"
            "(model \"unterminated");
  EXPECT_EQ(r.refs.names, (std::set<std::string>{"C.step", "R_0603.wrl", "plain.wrl"}));
  // Backslashes count as slashes when recognising the project variable.
  EXPECT_EQ(r.refs.project_relative, (std::set<std::string>{"shapes/L.step"}));
}

TEST(ModelPaths, ProjectRelativePathsMustStayInside) {
  EXPECT_TRUE(is_safe_project_relative("3d/x.step"));
  EXPECT_TRUE(is_safe_project_relative("shapes/sub/x.wrl"));
  EXPECT_FALSE(is_safe_project_relative("../secret.step"));
  EXPECT_FALSE(is_safe_project_relative("3d/../../x"));
  EXPECT_FALSE(is_safe_project_relative("/etc/passwd"));
  EXPECT_FALSE(is_safe_project_relative(""));
}

// One ustar header block (and the data blocks) for a member.
std::string tar_member(const std::string& name, char type, const std::string& data = "",
                       const std::string& link = "") {
  std::string h(512, '\0');
  name.copy(h.data(), std::min<size_t>(name.size(), 100));
  std::snprintf(h.data() + 100, 8, "%07o", 0644);
  std::snprintf(h.data() + 108, 8, "%07o", 0);
  std::snprintf(h.data() + 116, 8, "%07o", 0);
  std::snprintf(h.data() + 124, 12, "%011zo", data.size());
  std::snprintf(h.data() + 136, 12, "%011o", 0);
  h[156] = type;
  link.copy(h.data() + 157, std::min<size_t>(link.size(), 100));
  std::memcpy(h.data() + 257, "ustar\0" "00", 8);
  std::memset(h.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : h) sum += c;
  std::snprintf(h.data() + 148, 8, "%06o", sum);
  h[155] = ' ';
  std::string padded = data;
  padded.resize((data.size() + 511) / 512 * 512, '\0');
  return h + padded;
}

std::string pax(const std::string& key, const std::string& value) {
  std::string record = " " + key + "=" + value + "\n";
  size_t len = record.size() + 2;
  if (std::to_string(len).size() + record.size() != len) ++len;
  return std::to_string(len) + record;
}

TEST(TarCheck, AcceptsPlainFilesAndFolders) {
  const std::string end(1024, '\0');
  EXPECT_TRUE(is_safe_tar(tar_member("./", '5') + tar_member("./P.svg", '0', "<svg/>") + end));
  EXPECT_TRUE(is_safe_tar(tar_member("sub/a.svg", '0', "x") + tar_member("a..b.svg", '0', "y") + end));
  EXPECT_TRUE(is_safe_tar(tar_member("PaxHeader", 'x', pax("path", "long/name.svg")) +
                          tar_member("trunc", '0', "z") + end));
}

TEST(TarCheck, RefusesEscapesLinksAndDamage) {
  const std::string end(1024, '\0');
  const std::string ok = tar_member("a.svg", '0', "x");
  EXPECT_FALSE(is_safe_tar(ok + tar_member("/etc/x.svg", '0', "x") + end));
  EXPECT_FALSE(is_safe_tar(ok + tar_member("../x.svg", '0', "x") + end));
  EXPECT_FALSE(is_safe_tar(ok + tar_member("a/../../x.svg", '0', "x") + end));
  EXPECT_FALSE(is_safe_tar(ok + tar_member("link", '2', "", "/etc") + end));
  EXPECT_FALSE(is_safe_tar(ok + tar_member("hard", '1', "", "a.svg") + end));
  EXPECT_FALSE(is_safe_tar(ok + tar_member("dev", '3') + end));
  EXPECT_FALSE(is_safe_tar(tar_member("././@LongLink", 'L', "../../evil.svg") + ok + end));
  EXPECT_FALSE(is_safe_tar(tar_member("PaxHeader", 'x', pax("path", "/abs.svg")) + ok + end));
  EXPECT_FALSE(is_safe_tar(tar_member("PaxHeader", 'x', pax("linkpath", "/etc")) + ok + end));
  std::string bad_sum = ok;
  bad_sum[0] = 'b';
  EXPECT_FALSE(is_safe_tar(bad_sum + end));
  EXPECT_FALSE(is_safe_tar(ok.substr(0, 700)));  // truncated data
  EXPECT_FALSE(is_safe_tar(end));                // no member
  EXPECT_FALSE(is_safe_tar(std::string(100, 'x')));
}

RenderResult sample_render() {
  RenderResult r;
  r.glb = "GLB";
  r.pcb_svg = "<svg/>";
  r.sheets = {{"Root", "<a/>"}, {"power", "<b/>"}};
  return r;
}

TEST(ContentHash, MatchesAnIndependentComputation) {
  // Computed by a separate SipHash-1-3 over the same byte layout.
  EXPECT_EQ(content_hash(sample_render()), "6885ee09ea9ca563");
  RenderResult no_glb = sample_render();
  no_glb.glb.reset();
  EXPECT_NE(content_hash(no_glb), content_hash(sample_render()));
  RenderResult renamed = sample_render();
  renamed.sheets[1].name = "pow";
  EXPECT_NE(content_hash(renamed), content_hash(sample_render()));
}

TEST(Manifest, ArchivesOnlyChangedContent) {
  const RenderResult r = sample_render();
  ManifestPlan first = plan_manifest(Json(), "h1", "1.0.0", r);
  EXPECT_TRUE(first.archive);
  EXPECT_EQ(first.manifest, Json::parse(R"({"v":2,"current":"1.0.0","glb":true,"pcb":true,
      "sheets":["Root","power"],"versions":[{"version":"1.0.0","hash":"h1","glb":true,"pcb":true,
      "sheets":["Root","power"]}]})"));
  // Same content under a new package version: nothing archived, current stays.
  ManifestPlan same = plan_manifest(first.manifest["versions"], "h1", "2.0.0", r);
  EXPECT_FALSE(same.archive);
  EXPECT_EQ(same.manifest["current"], "1.0.0");
  EXPECT_EQ(same.manifest["versions"].size(), 1u);
  // New content under an unchanged version replaces that version's record at the front.
  const Json history = Json::parse(R"([{"version":"1.1.0","hash":"h2"},{"version":"1.0.0","hash":"h1"}])");
  ManifestPlan changed = plan_manifest(history, "h3", "1.0.0", r);
  EXPECT_TRUE(changed.archive);
  ASSERT_EQ(changed.manifest["versions"].size(), 2u);
  EXPECT_EQ(changed.manifest["versions"][0]["hash"], "h3");
  EXPECT_EQ(changed.manifest["versions"][1]["version"], "1.1.0");
  EXPECT_EQ(changed.manifest["current"], "1.0.0");
}

TEST(Manifest, TextIsPrettyWithSortedKeys) {
  const std::string text = manifest_text(Json{{"v", 2}, {"current", "1"}, {"sheets", Json::array({"A"})}});
  EXPECT_EQ(text, "{\n  \"current\": \"1\",\n  \"sheets\": [\n    \"A\"\n  ],\n  \"v\": 2\n}");
  EXPECT_EQ(sheet_file_name(0), "sheet-000.svg");
  EXPECT_EQ(sheet_file_name(7), "sheet-007.svg");
  EXPECT_EQ(sheet_file_name(1234), "sheet-1234.svg");
}

TEST(Manifest, VersionFolderNamesStayInside) {
  EXPECT_EQ(safe_version("1.2.3"), "1.2.3");
  EXPECT_EQ(safe_version("../../etc"), ".._.._etc");
  EXPECT_EQ(safe_version(".."), "0.0.0");
  EXPECT_EQ(safe_version(""), "0.0.0");
  EXPECT_EQ(safe_version("a\\b\nc"), "a_b_c");
}

TEST(ExportAnswer, ShortOrErrorBodiesAreNoAnswer) {
  EXPECT_FALSE(is_export_answer(true, std::string(64, 'x')));
  EXPECT_TRUE(is_export_answer(true, std::string(65, 'x')));
  EXPECT_FALSE(is_export_answer(true, "error code: 502" + std::string(100, ' ')));
  EXPECT_FALSE(is_export_answer(false, std::string(100, 'x')));
}

}  // namespace
}  // namespace vorn::boards
