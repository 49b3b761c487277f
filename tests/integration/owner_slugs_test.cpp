// Slugs of the form owner/name as the page sends them (URI-encoded, "acme%2Fblinky") on every
// board and part route of the real executable: each names the page "acme/blinky", shares its
// work folder and cache entries with the raw spelling, and every other escape or malformed
// segment is refused before curl runs.
#include "board_fixture.h"

namespace vorn::test::boards {
namespace {

const std::string kSlug = "acme/blinky";

const std::string kPartDocument =
    R"({"schema_version":1,"mpn":"P1","symbol":{"name":"P1","pins":[{"number":"1","name":"A","x":0,"y":0}]},)"
    R"("footprint":{"name":"FP","pads":[{"number":"1","x_mm":0,"y_mm":0,"w_mm":1,"h_mm":1}]}})";

// A board page that every board and part route can answer from, each with its own marker.
void serve_owner_page(MockPlatform& mock) {
  serve_list(mock, kSlug,
             {"hw/b.kicad_pro", "hw/b.kicad_sch", "hw/b.kicad_pcb", "m.glb", "P1.vorn-lbr.json"});
  serve_file(mock, kSlug, "package.json", R"({"dependencies":["org/dep-part"]})",
             "application/json");
  serve_file(mock, kSlug, "hw/b.kicad_sch", "SCH-TEXT");
  serve_file(mock, kSlug, "hw/b.kicad_pcb", "PCB-TEXT");
  serve_file(mock, kSlug, "m.glb", "OWN-GLB");
  serve_file(mock, kSlug, "P1.vorn-lbr.json", kPartDocument, "application/json");
  serve_file(mock, kSlug, "render/manifest.json",
             R"({"v":1,"glb":true,"pcb":true,"sheets":["b"]})");
  serve_file(mock, kSlug, "render/board.glb", glb("Z", "stored-render"));
  serve_file(mock, kSlug, "render/pcb.svg", "<svg>PCB-SVG</svg>");
  serve_file(mock, kSlug, "render/sheet-000.svg", "<svg>SHEET-0</svg>");
  mock.on_text(page(kSlug, "/log"), R"({"log":[{"hash":"h1","message":"LOG-ENTRY"}]})");
  mock.on_text(page(kSlug, "/hero"), R"({"url":"/img/hero.png","content_type":"image/png"})");
  mock.on_text("/img/hero.png", "HERO-BYTES", "image/png");
}

// Viewer and embed tools that log their calls and echo their input.
class Tools : public ToolFolder {
 public:
  Tools() {
    for (const char* tool : {"vorn-layout-viewer", "vorn-schematic-viewer", "vorn-symbol"}) {
      make_executable(
          dir_.path() / tool,
          "#!/bin/sh\necho \"$0 $*\" >> '" + log().string() +
              "'\nprintf '<html><head></head>%s</html>' \"$(head -c 40 \"$3\")\" > \"$5\"\n");
    }
  }
};

// Route target with "{}" where the slug goes, and a text the answer must hold.
struct SlugRoute {
  std::string target;
  std::string expect;
};

const std::vector<SlugRoute> kRoutes = {
    {"/api/board/{}", R"("deps":[{"slug":"dep-part"}])"},
    {"/api/project/{}", R"("boards":[{"slug":"dep-part"}])"},
    {"/api/board-activity/{}", "LOG-ENTRY"},
    {"/api/board-eda/{}", R"({"eda":["kicad"]})"},
    {"/api/board-upaxis/{}", R"({"up_axis":"z"})"},
    {"/api/board-media/{}", R"("stored":true)"},
    {"/board-hero/{}", "HERO-BYTES"},
    {"/board-glb/{}", "stored-render"},
    {"/glb/{}", "OWN-GLB"},
    {"/board-svg/{}/pcb", "PCB-SVG"},
    {"/board-svg/{}/sch/0", "SHEET-0"},
    {"/board-view/{}/pcb", "PCB-TEXT"},
    {"/board-view/{}/sch", "SCH-TEXT"},
    {"/api/part/{}", R"("mpn":"P1")"},
    {"/part-embed/{}/symbol", "kicad_symbol_lib"},
};

std::string with_slug(const std::string& target, const std::string& slug) {
  std::string out = target;
  out.replace(out.find("{}"), 2, slug);
  return out;
}

TEST(OwnerSlugs, EncodedSlugNamesTheOwnerPageOnEveryRoute) {
  MockPlatform mock;
  serve_owner_page(mock);
  Tools tools;
  TempDir tmp;
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.path().string()}}, {},
            tools.path());
  for (const std::string spelling : {"acme%2Fblinky", "acme%2fblinky"}) {
    for (const SlugRoute& route : kRoutes) {
      const std::string target = with_slug(route.target, spelling);
      const HttpAnswer r = m.get(target);
      EXPECT_EQ(r.status, 200) << target;
      EXPECT_NE(r.body.find(route.expect), std::string::npos) << target << "\n" << r.body;
    }
  }
  // The board answer names the page as the platform does.
  EXPECT_EQ(get_json(m, "/api/board/acme%2Fblinky")["board"], kSlug);
  // Routes whose slug is the whole rest of the path also take the raw spelling.
  EXPECT_EQ(m.get("/api/board-eda/acme/blinky").body, R"({"eda":["kicad"]})");
  EXPECT_NE(m.get("/part-embed/acme/blinky/symbol").body.find("kicad_symbol_lib"),
            std::string::npos);

  // One work folder, one viewer run and one embed run for both spellings (shared cache keys).
  const std::string view = "/tmp/vorn-lbr-apply/view-acme_blinky/";
  const std::string embed = (tmp.path() / "vorn-embed-acme%2Fblinky").string() + "/";
  EXPECT_EQ(tools.count("embed "), 3u) << tools.calls();
  EXPECT_EQ(tools.count("vorn-layout-viewer embed --file " + view + "pcb-cur/src/hw/b.kicad_pcb --out " +
                        view + "pcb-cur/pcb.html\n"),
            1u);
  EXPECT_EQ(tools.count("vorn-schematic-viewer embed --file " + view +
                        "sch-cur/src/hw/b.kicad_sch --out " + view + "sch-cur/sch.html\n"),
            1u);
  EXPECT_EQ(tools.count("vorn-symbol embed --file " + embed + "ACME%2FBLINKY.kicad_sym --out " +
                        embed + "symbol.html\n"),
            1u);
  // The platform only ever saw the slug with its real "/".
  for (const auto& s : mock.seen()) EXPECT_EQ(s.target.find('%'), std::string::npos) << s.target;
}

TEST(OwnerSlugs, EdaKindsAreCachedOnceForBothSpellings) {
  MockPlatform mock;
  serve_owner_page(mock);
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}});
  for (const char* target : {"/api/board-eda/acme%2Fblinky", "/api/board-eda/acme/blinky",
                             "/api/board-eda/acme%2fblinky"}) {
    EXPECT_EQ(m.get(target).body, R"({"eda":["kicad"]})") << target;
  }
  EXPECT_EQ(mock.count(page(kSlug, "/files")), 1u);
}

TEST(OwnerSlugs, OtherEscapesAndMalformedSegmentsNeverRunCurl) {
  MockPlatform mock;
  serve_owner_page(mock);
  Tools tools;
  TempDir tmp;
  Manager m(Env{{"VORN_PLATFORM_URL", mock.url()}, {"TMPDIR", tmp.path().string()}}, {},
            tools.path());
  const std::vector<std::string> refused = {
      "acme%2E%2E",   "acme%2Fblinky%3Fx", "acme%2Fblinky%23x", "acme%25blinky", "acme%252Fblinky",
      "acme%00",      "acme%2F..",         "acme%2F.",          "..%2Facme",     "acme%2F%2Fblinky",
      "%2Facme",      "acme%2F",           "acme%2Fbl%20inky",  "acme%2",        "acme%2Fbl%5Cinky",
      "%2E%2E%2Fetc", "acme%2F%2E%2E"};
  for (const std::string& slug : refused) {
    for (const SlugRoute& route : kRoutes) {
      const std::string target = with_slug(route.target, slug);
      const HttpAnswer r = m.get(target);
      EXPECT_EQ(r.body.find(route.expect), std::string::npos) << target << "\n" << r.body;
    }
  }
  EXPECT_EQ(mock.seen().size(), 0u);
  EXPECT_EQ(tools.calls(), "");
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

}  // namespace
}  // namespace vorn::test::boards
