// Test probe: runs one platform-access operation in a fresh process (so the once-computed API key
// and identity start empty) and prints its result as one JSON line.
//   fetch_probe url <url> | file <slug> <name> | ref <slug> <name> <ref> | list <slug> | identity
//             | batch <url-file> <max-seconds> <chunk>   (one URL per line; answers in order)
//             | batch-files <slug> <name>...            (page files through the batch)
#include <fstream>
#include <iostream>

#include "platform/batch_fetch.h"
#include "platform/platform_api.h"
#include "server/http.h"

int main(int argc, char** argv) {
  using vorn::Json;
  const std::vector<std::string> a(argv + 1, argv + argc);
  auto opt = [](const std::optional<std::string>& v) { return v ? Json(*v) : Json(nullptr); };
  Json out;
  if (a.size() == 2 && a[0] == "url") {
    out = opt(vorn::fetch_url(a[1]));
  } else if (a.size() == 3 && a[0] == "file") {
    out = opt(vorn::fetch_page_file_text(a[1], a[2]));
  } else if (a.size() == 4 && a[0] == "ref") {
    out = opt(vorn::fetch_page_file_at_ref(a[1], a[2], a[3]));
  } else if (a.size() == 2 && a[0] == "list") {
    out = vorn::list_page_files(a[1]);
  } else if (a.size() == 4 && a[0] == "batch") {
    std::ifstream in(a[1]);
    std::vector<std::string> urls;
    for (std::string line; std::getline(in, line);) urls.push_back(line);
    const vorn::BatchLimits limits{.max_time_seconds = std::stoi(a[2]), .chunk = std::stoul(a[3])};
    out = Json::array();
    for (const auto& body : vorn::fetch_urls(urls, limits)) out.push_back(opt(body));
  } else if (a.size() >= 3 && a[0] == "batch-files") {
    std::vector<vorn::PageFileRequest> requests;
    for (size_t i = 2; i < a.size(); ++i) requests.push_back({a[1], a[i], std::nullopt});
    out = Json::array();
    for (const auto& body : vorn::fetch_page_files_text(requests)) out.push_back(opt(body));
  } else if (a.size() == 1 && a[0] == "identity") {
    const vorn::Identity id = vorn::identity();
    out = Json{{"user", id.user}, {"orgs", id.orgs}};
  } else {
    std::cerr << "usage: fetch_probe url|file|ref|list|identity ...\n";
    return 2;
  }
  std::cout << out.dump() << "\n";
  return 0;
}
