// Board data rules without the platform: dependency parsing, reference sets, version tokens,
// GLB up-axis stamps and the enrichment of commit activity.
#include <gtest/gtest.h>

#include "boards/board_activity.h"
#include "boards/board_data.h"

namespace vorn::boards {
namespace {

using Strings = std::vector<std::string>;

TEST(Dependencies, ArrayElementsAndObjectKeys) {
  EXPECT_EQ(parse_dependencies(R"({"dependencies": ["a", {"slug": "org/b"}, {"ref": " c "}, {"name": "d"},
                                   {"slug": 7, "ref": "skipped"}, 5, null, {"other": "x"}, "e/"]})"),
            (Strings{"a", "b", "c", "d", ""}));
  EXPECT_EQ(parse_dependencies(R"({"dependencies": {"org/x": "1", "y": "2"}})"), (Strings{"x", "y"}));
  EXPECT_EQ(parse_dependencies(R"({"dependencies": ["a", "a"]})"), (Strings{"a", "a"}));
  EXPECT_TRUE(parse_dependencies(R"({"dependencies": "a"})").empty());
  EXPECT_TRUE(parse_dependencies("not json").empty());
  EXPECT_TRUE(parse_dependencies("[]").empty());
  EXPECT_EQ(normalise_reference("  owner/path/slug  "), "slug");
  EXPECT_EQ(normalise_reference("owner/ slug "), "slug");
}

TEST(ReferenceSet, SplitsOnTheReferenceProperty) {
  const std::string board =
      R"((footprint "R" (property "Reference" "R1" (at 0 0)) (property "Value" "10k"))
         (footprint "C" (property "Reference" "C1"))
         (footprint "X" (property "Reference" "REF**"))
         (footprint "Y" (property "Reference" ""))
         (footprint "Z" (property "Reference" "R1"))
         (property "Reference" "TAIL)";
  EXPECT_EQ(reference_set(board), (std::set<std::string>{"C1", "R1", "TAIL"}));
  EXPECT_TRUE(reference_set("no references").empty());
}

TEST(VersionToken, FirstVPieceOnlyAndNoEscapes) {
  EXPECT_EQ(version_token("v=1.2.0&h=abc"), "1.2.0");
  EXPECT_EQ(version_token("h=abc&v=3&v=4"), "3");
  EXPECT_EQ(version_token("v=%2e%2e"), "%2e%2e");  // not decoded
  EXPECT_EQ(version_token("v="), "");
  EXPECT_FALSE(version_token("v=../x"));
  EXPECT_FALSE(version_token("v=a/b"));
  EXPECT_FALSE(version_token("v=..&v=2"));  // only the first "v=" counts
  EXPECT_FALSE(version_token("xv=1"));
  EXPECT_FALSE(version_token(""));
}

std::string glb_with_json(const std::string& json, int64_t extra = 0) {
  const uint32_t stated_length = static_cast<uint32_t>(static_cast<int64_t>(json.size()) + extra);
  std::string glb = "glTF";
  glb += std::string("\x02\0\0\0", 4);
  glb += std::string(4, '\0');  // total length, not checked
  for (int i = 0; i < 4; ++i) glb.push_back(static_cast<char>((stated_length >> (8 * i)) & 0xFF));
  glb += "JSON";
  glb += json;
  return glb;
}

TEST(UpAxis, ReadsTheStampFromTheFirstChunk) {
  const std::string stamped = R"({"asset":{"extras":{"vornMolecule":{"upAxis":"Z"}}}})";
  EXPECT_EQ(glb_up_axis(glb_with_json(stamped)), "z");
  EXPECT_EQ(glb_up_axis(glb_with_json(stamped + "  ", -2) + "trailing chunk"), "z");
  EXPECT_FALSE(glb_up_axis(glb_with_json(stamped, 1)));  // the chunk runs past the end
  EXPECT_FALSE(glb_up_axis(glb_with_json(R"({"asset":{"extras":{"vornMolecule":{"upAxis":1}}}})")));
  EXPECT_FALSE(glb_up_axis(glb_with_json(R"({"asset":{}})")));
  EXPECT_FALSE(glb_up_axis("glTF0123456789abcde"));  // 19 bytes
  std::string wrong_magic = glb_with_json(stamped);
  wrong_magic[0] = 'x';
  EXPECT_FALSE(glb_up_axis(wrong_magic));
  EXPECT_FALSE(glb_up_axis(glb_with_json("{not json")));
}

CommitFiles files(std::optional<std::string> board, std::optional<std::string> sch) {
  CommitFiles f;
  if (board) f.board = digest_file(*board, true);
  if (sch) f.schematic = digest_file(*sch, false);
  return f;
}

TEST(Activity, ComparesEachCommitWithItsOlderNeighbour) {
  const Json log = Json::parse(R"([{"hash":"c3","comp_added":99},{"hash":"c2"},{"hash":"c1"},{"hash":"c0"}])");
  const std::string r12 = R"((property "Reference" "R1")(property "Reference" "R2"))";
  const std::string r23 = R"((property "Reference" "R2")(property "Reference" "R3") x)";
  const std::vector<CommitFiles> fetched = {files(r23, std::nullopt), files(r12, std::nullopt),
                                            files(std::nullopt, "s"), files(std::nullopt, "s")};
  const Json out = enrich_activity(log, fetched);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], Json::parse(R"({"hash":"c3","pcb_changed":true,"sch_changed":false,
                                    "comp_added":1,"comp_removed":1})"));
  // Only the newer board text present: changed, but no counts.
  EXPECT_EQ(out[1], Json::parse(R"({"hash":"c2","pcb_changed":true,"sch_changed":true})"));
  EXPECT_EQ(out[2], Json::parse(R"({"hash":"c1","pcb_changed":false,"sch_changed":false})"));
  EXPECT_EQ(out[3], Json::parse(R"({"hash":"c0"})"));  // the oldest passes through
}

TEST(Activity, SingleEntryAndOddEntries) {
  EXPECT_EQ(enrich_activity(Json::parse(R"([{"hash":"a"}])"), {files("x", "y")}),
            Json::parse(R"([{"hash":"a"}])"));
  const Json out = enrich_activity(Json::parse(R"([null, "text", {"hash":"a"}])"),
                                   {CommitFiles{}, CommitFiles{}, files("x", std::nullopt)});
  EXPECT_EQ(out[0], Json::parse(R"({"pcb_changed":false,"sch_changed":false})"));
  EXPECT_EQ(out[1], "text");
  EXPECT_EQ(out[2], Json::parse(R"({"hash":"a"})"));
  // Equal texts count as unchanged, equal lengths with other bytes as changed.
  const Json two = Json::parse(R"([{},{}])");
  EXPECT_FALSE(enrich_activity(two, {files("abc", "s"), files("abc", "s")})[0]["pcb_changed"].get<bool>());
  EXPECT_TRUE(enrich_activity(two, {files("abd", "s"), files("abc", "s")})[0]["pcb_changed"].get<bool>());
}

}  // namespace
}  // namespace vorn::boards
