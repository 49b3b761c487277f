// Part loading, the part view record and the embed pages against the mock platform, through
// the real curl and the real executable, with fake embed tools on PATH.
#include <altium_codec/kicad.h>
#include <altium_codec/symbol_writer.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "parts/part_svg.h"
#include "parts/part_view.h"

namespace vorn::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string kDocument =
    R"({"schema_version":1,"mpn":"P1","symbol":{"name":"P1","pins":[)"
    R"({"number":"1","name":"A","x":0,"y":100,"length":100},{"number":"2","name":"B","x":0,"y":0},)"
    R"({"number":"3","name":"~","x":0,"y":-100}]},)"
    R"("footprint":{"name":"FP","pads":[{"number":"1","x_mm":0,"y_mm":0,"w_mm":1,"h_mm":1},)"
    R"({"number":"3","x_mm":2,"y_mm":0,"w_mm":1,"h_mm":1,"shape":"circle"}],)"
    R"("graphics":[{"kind":"line","layer":{"role":"silk"},"x1":0,"y1":0,"x2":1,"y2":1}]}})";

const std::string kSymbolLib = R"((kicad_symbol_lib (version 20231120) (generator "t")
  (symbol "PK1" (in_bom yes) (on_board yes)
    (property "Reference" "R" (at 0 0 0))
    (symbol "PK1_1_1"
      (pin passive line (at 0 2.54 270) (length 2.54) (name "A" (effects (font (size 1.27 1.27))))
        (number "1" (effects (font (size 1.27 1.27)))))
      (pin passive line (at 0 -2.54 90) (length 2.54) (name "B" (effects (font (size 1.27 1.27))))
        (number "2" (effects (font (size 1.27 1.27)))))
    )
  )
)
)";
const std::string kFootprint = R"((footprint "FP" (layer "F.Cu")
  (pad "1" smd rect (at -1 0) (size 1 1) (layers "F.Cu"))
  (pad "2" smd rect (at 1 0) (size 1 1) (layers "F.Cu"))
)
)";
const std::string kTwoSymbols = R"((kicad_symbol_lib (version 20231120) (generator "t")
  (symbol "X1" (in_bom yes) (on_board yes))
  (symbol "X2" (in_bom yes) (on_board yes))
)
)";
const std::string kLoadHint = R"(["the page needs an vorn-lbr JSON, or <MPN>.kicad_sym + <MPN>.kicad_mod"])";

std::string files_json(const std::vector<std::string>& names) {
  json files = json::array();
  for (const auto& n : names) files.push_back({{"path", n}});
  return json{{"files", files}}.dump();
}

void serve_page(MockPlatform& mock, const std::string& slug, const std::vector<std::pair<std::string, std::string>>& files,
                const std::vector<std::string>& extra_names = {}) {
  std::vector<std::string> names;
  for (const auto& [name, text] : files) {
    names.push_back(name);
    mock.on_text("/api/v1/pages/" + slug + "/files/" + name, text, "text/plain");
  }
  names.insert(names.end(), extra_names.begin(), extra_names.end());
  mock.on_text("/api/v1/pages/" + slug + "/files", files_json(names));
}

json part(const Manager& m, const std::string& slug) {
  const HttpAnswer r = m.get("/api/part/" + slug);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.content_type, "application/json");
  return json::parse(r.body);
}

TEST(PartLoading, DocumentFirstThenTheKicadPair) {
  MockPlatform mock;
  // Both a document and a KiCad pair: the document, and the KiCad files are never fetched.
  serve_page(mock, "both", {{"pk1.kicad_sym", kSymbolLib}, {"pk1.kicad_mod", kFootprint}, {"P1.vorn-lbr.json", kDocument}});
  // Only the second suffix; and a page listing ".vornlbr.json" before ".vorn-lbr.json".
  serve_page(mock, "second", {{"P1.vornlbr.json", kDocument}});
  serve_page(mock, "order", {{"a.vornlbr.json", "broken"}, {"b.vorn-lbr.json", kDocument}});
  // A document that cannot be fetched falls through to the pair.
  serve_page(mock, "pk1", {{"pk1.kicad_sym", kSymbolLib}, {"pk1.kicad_mod", kFootprint}}, {"gone.vorn-lbr.json"});
  // Suffixes are case-sensitive.
  serve_page(mock, "upper", {{"P1.VORN-LBR.JSON", kDocument}});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});

  EXPECT_EQ(part(m, "both")["source"], "vorn-lbr json");
  EXPECT_EQ(mock.count("/api/v1/pages/both/files/pk1"), 0u);
  EXPECT_EQ(part(m, "second")["source"], "vorn-lbr json");
  EXPECT_EQ(part(m, "order")["mpn"], "P1");
  const json kicad = part(m, "pk1");
  EXPECT_EQ(kicad["source"], "kicad (generated)");
  EXPECT_EQ(kicad["mpn"], "PK1");
  EXPECT_EQ(mock.count("/api/v1/pages/pk1/files/gone.vorn-lbr.json"), 1u);
  EXPECT_EQ(part(m, "upper")["error"], "no vorn-lbr JSON or KiCad files on upper");
}

TEST(PartLoading, AnOwnerPagePicksTheSymbolNamedAfterThePage) {
  MockPlatform mock;
  // The owner part is not part of the part number: "acme/pk1" wants the symbol "PK1".
  serve_page(mock, "acme/pk1", {{"pk1.kicad_sym", kSymbolLib}, {"pk1.kicad_mod", kFootprint}});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  EXPECT_EQ(part(m, "acme%2Fpk1")["mpn"], "PK1");
  EXPECT_EQ(part(m, "acme/pk1")["mpn"], "PK1");
}

TEST(PartLoading, EveryFailureMessage) {
  MockPlatform mock;
  serve_page(mock, "half", {{"x.kicad_sym", kSymbolLib}});
  serve_page(mock, "bad", {{"bad.vorn-lbr.json", R"({"schema_version":1})"}});
  serve_page(mock, "other", {{"o.kicad_sym", kTwoSymbols}, {"o.kicad_mod", kFootprint}});
  serve_page(mock, "nomod", {{"n.kicad_sym", kSymbolLib}}, {"n.kicad_mod"});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});

  EXPECT_EQ(m.get("/api/part/half").body,
            R"({"error":"no vorn-lbr JSON or KiCad files on half","hint":)" + kLoadHint + R"(,"status":"error"})");
  EXPECT_EQ(part(m, "nomod")["error"], "no vorn-lbr JSON or KiCad files on nomod");
  EXPECT_EQ(part(m, "")["error"], "no vorn-lbr JSON or KiCad files on ");
  const auto parse_error = altium_codec::parse_vorn_lbr_part(R"({"schema_version":1})").error();
  EXPECT_EQ(part(m, "bad")["error"], "bad.vorn-lbr.json is not valid vorn-lbr JSON: " + parse_error);
  // The importer's own message, with the upper-cased slug as the wanted name.
  const auto import_error = altium_codec::import_kicad(kTwoSymbols, kFootprint, "OTHER");
  ASSERT_FALSE(import_error.has_value());
  EXPECT_EQ(part(m, "other")["error"], import_error.error());
}

TEST(PartView, RecordOfADocumentPage) {
  MockPlatform mock;
  serve_page(mock, "p1", {{"P1.vorn-lbr.json", kDocument}}, {"3d/p1.glb"});
  serve_page(mock, "p2", {{"P1.vorn-lbr.json", kDocument}}, {"p1.glb.txt"});
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  const auto doc = altium_codec::parse_vorn_lbr_part(kDocument);
  ASSERT_TRUE(doc.has_value()) << doc.error();
  const json expected{{"status", "ok"},
                      {"slug", "p1"},
                      {"mpn", "P1"},
                      {"source", "vorn-lbr json"},
                      {"symbol_svg", symbol_svg(doc->symbol)},
                      {"footprint_svg", footprint_svg(doc->footprint, pin_name_map(doc->symbol))},
                      {"layers", layer_table(doc->footprint)},
                      {"glb", true},
                      {"pins", 3},
                      {"pads", 2}};
  EXPECT_EQ(m.get("/api/part/p1").body, expected.dump());
  const json p2 = part(m, "p2");
  EXPECT_EQ(p2["glb"], false);
  // Pad 3 has the pin named "~": an empty data-name.
  EXPECT_NE(p2["footprint_svg"].get<std::string>().find("data-num='3' data-name=''"), std::string::npos);
  EXPECT_NE(p2["footprint_svg"].get<std::string>().find("data-num='1' data-name='A'"), std::string::npos);
}

// A fake embed tool that logs its arguments and writes `page` to its --out file (or fails).
fs::path fake_tool(const fs::path& dir, const std::string& name, const std::string& page, int status = 0) {
  const fs::path path = dir / name;
  const fs::path log = dir / (name + ".log");
  write_file(path, "#!/bin/sh\necho \"$*\" >> '" + log.string() + "'\n" +
                       "cat > \"$5\" <<'EOF'\n" + page + "\nEOF\nexit " + std::to_string(status) + "\n");
  chmod(path.c_str(), 0755);
  return log;
}

int lines(const fs::path& p) {
  const std::string text = read_file(p);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

const std::string kFallback = "<p style='font:13px system-ui;color:#8b93a3;padding:20px'>viewer not available</p>";
const std::string kFit =
    "<style id=\"vorn-fit\">@media(max-width:639px){aside{display:none!important}header{display:none!important}.tools,.av-tools{top:8px!important}}"
    ".tools,.av-tools{gap:2px!important;padding:2px!important;left:8px!important}"
    ".tools button,.av-tools button{width:22px!important;height:22px!important}"
    ".tools button svg,.av-tools button svg{width:13px!important;height:13px!important}</style>";

TEST(PartEmbed, ToolRunsOnceAndThePageIsCached) {
  MockPlatform mock;
  serve_page(mock, "p1", {{"P1.vorn-lbr.json", kDocument}});
  TempDir bin, tmp;
  const fs::path log = fake_tool(bin.path(), "vorn-symbol", "<html><head><title>s</title></head><body></head></body></html>");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.path().string()}}, {}, bin.path().string());

  const HttpAnswer first = m.get("/part-embed/p1/symbol");
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.content_type, "text/html; charset=utf-8");
  EXPECT_EQ(first.body, "<html><head><title>s</title>" + kFit + "</head><body></head></body></html>\n");
  const fs::path dir = tmp.path() / "vorn-embed-p1";
  EXPECT_EQ(read_file(log), "embed --file " + (dir / "P1.kicad_sym").string() + " --out " + (dir / "symbol.html").string() + "\n");
  const auto doc = altium_codec::parse_vorn_lbr_part(kDocument);
  EXPECT_EQ(read_file(dir / "P1.kicad_sym"), altium_codec::write_kicad_symbol_lib(doc->symbol));

  const size_t platform_requests = mock.seen().size();
  EXPECT_EQ(m.get("/part-embed/p1/symbol").body, first.body);
  EXPECT_EQ(lines(log), 1);
  EXPECT_EQ(mock.seen().size(), platform_requests);
}

TEST(PartEmbed, FailuresAnswerTheFallbackAndCacheNothing) {
  MockPlatform mock;
  serve_page(mock, "p1", {{"P1.vorn-lbr.json", kDocument}});
  TempDir bin, tmp;
  const fs::path failing = fake_tool(bin.path(), "vorn-footprint", "<html><head></head></html>", 1);
  // A tool that succeeds without writing its output file.
  write_file(bin.path() / "vorn-symbol", "#!/bin/sh\nexit 0\n");
  chmod((bin.path() / "vorn-symbol").c_str(), 0755);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.path().string()}}, {}, bin.path().string());

  for (const char* target : {"/part-embed/p1/model", "/part-embed/p1", "/part-embed/missing/symbol",
                             "/part-embed/p1/symbol", "/part-embed/p1/symbol"}) {
    const HttpAnswer r = m.get(target);
    EXPECT_EQ(r.status, 200) << target;
    EXPECT_EQ(r.content_type, "text/html; charset=utf-8");
    EXPECT_EQ(r.body, kFallback) << target;
  }
  EXPECT_EQ(m.get("/part-embed/p1/footprint").body, kFallback);
  EXPECT_EQ(m.get("/part-embed/p1/footprint").body, kFallback);
  EXPECT_EQ(lines(failing), 2);  // nothing was cached: the tool ran again
}

TEST(PartEmbed, PageWithoutHeadEndIsUsedUnchanged) {
  MockPlatform mock;
  serve_page(mock, "p1", {{"P1.vorn-lbr.json", kDocument}});
  TempDir bin, tmp;
  fake_tool(bin.path(), "vorn-footprint", "<div>plain</HEAD></div>");
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.path().string()}}, {}, bin.path().string());
  EXPECT_EQ(m.get("/part-embed/p1/footprint").body, "<div>plain</HEAD></div>\n");
}

// Sends a request target byte for byte, without any client-side normalisation.
std::string raw_get(int port, const std::string& target) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return "";
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  (void)!write(fd, request.data(), request.size());
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  return answer;
}

std::vector<std::string> tree(const fs::path& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PartEmbed, SlugsNeverLeadOutOfTheWorkingFolder) {
  MockPlatform mock;
  // "a/b" is a slug the platform access accepts; its folder and file names must stay one component.
  serve_page(mock, "a/b", {{"P1.vorn-lbr.json", kDocument}});
  TempDir bin, root;
  fake_tool(bin.path(), "vorn-symbol", "<html><head></head></html>");
  const fs::path tmp = root.path() / "a" / "b" / "tmp";
  fs::create_directories(tmp);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.string()}}, {}, bin.path().string());

  for (const char* target : {"/part-embed/../../x/symbol", "/part-embed/..%2F..%2Fx/symbol",
                             "/part-embed/..\\..\\x/symbol", "/part-embed/../symbol"}) {
    const std::string answer = raw_get(m.port(), target);
    EXPECT_TRUE(answer.ends_with(kFallback)) << target << "\n" << answer;
  }
  EXPECT_EQ(tree(root.path()), (std::vector<std::string>{"a", "a/b", "a/b/tmp"}));

  const std::string ok = raw_get(m.port(), "/part-embed/a/b/symbol");
  EXPECT_NE(ok.find(kFit), std::string::npos) << ok;
  EXPECT_EQ(tree(root.path()),
            (std::vector<std::string>{"a", "a/b", "a/b/tmp", "a/b/tmp/vorn-embed-a%2Fb", "a/b/tmp/vorn-embed-a%2Fb/A%2FB.kicad_sym",
                                      "a/b/tmp/vorn-embed-a%2Fb/symbol.html"}));
}

}  // namespace
}  // namespace vorn::test
