// Part embed pages: working folder, KiCad text, the embed tool, the fit style and the cache.
#include "parts/part_embed.h"

#include <altium_codec/footprint_writer.h>
#include <altium_codec/symbol_writer.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "parts/part_loading.h"
#include "platform/platform_api.h"
#include "proc/runner.h"
#include "server/handlers.h"
#include "util/text.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFitStyle =
    "<style id=\"vorn-fit\">@media(max-width:639px){aside{display:none!important}"
    "header{display:none!important}.tools,.av-tools{top:8px!important}}"
    ".tools,.av-tools{gap:2px!important;padding:2px!important;left:8px!important}"
    ".tools button,.av-tools button{width:22px!important;height:22px!important}"
    ".tools button svg,.av-tools button svg{width:13px!important;height:13px!important}</style>";

struct EmbedKind {
  std::string_view kind;
  std::string_view tool;
  std::string_view extension;
};
constexpr EmbedKind kEmbedKinds[] = {
    {"symbol", "vorn-symbol", "kicad_sym"},
    {"footprint", "vorn-footprint", "kicad_mod"},
};

EmbedCache& embed_cache() {
  static EmbedCache cache;
  return cache;
}

fs::path temp_root() {
  const char* dir = std::getenv("TMPDIR");
  return dir ? fs::path(dir) : fs::path("/tmp");
}

// Creates the working folder and accepts it only as a real folder of this user (not a link or
// a folder someone else prepared), so that nothing is written through it elsewhere.
bool make_working_folder(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  struct stat st {};
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

// Writes a new file (never through a link).
bool write_new_file(const fs::path& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == text.size();
}

std::optional<std::string> read_whole_file(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return std::nullopt;
  return data;
}

std::optional<std::string> build_page(std::string_view slug, const EmbedKind& kind) {
  auto loaded = load_part(slug);
  if (!loaded) return std::nullopt;
  const fs::path dir = temp_root() / ("vorn-embed-" + path_component(slug));
  if (!make_working_folder(dir)) return std::nullopt;
  const fs::path input = dir / (path_component(to_upper(slug)) + "." + std::string(kind.extension));
  const std::string text = kind.kind == "symbol" ? altium_codec::write_kicad_symbol_lib(loaded->part.symbol)
                                                  : altium_codec::write_kicad_footprint(loaded->part.footprint);
  if (!write_new_file(input, text)) return std::nullopt;
  const fs::path output = dir / (std::string(kind.kind) + ".html");
  ::unlink(output.c_str());  // a page left by an earlier run must not pass for this run's output
  const CommandResult run = run_capture(std::string(kind.tool), {"embed", "--file", input.string(), "--out", output.string()});
  if (!run.ok()) return std::nullopt;
  auto page = read_whole_file(output);
  if (!page) return std::nullopt;
  return insert_fit_style(std::move(*page));
}

}  // namespace

std::optional<std::string> EmbedCache::find(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto it = pages_.find(key);
  if (it == pages_.end()) return std::nullopt;
  return it->second;
}

void EmbedCache::insert(const std::string& key, std::string page) {
  std::lock_guard lock(mutex_);
  pages_.insert_or_assign(key, std::move(page));
}

std::string insert_fit_style(std::string page) {
  const size_t head = page.find("</head>");
  if (head != std::string::npos) page.insert(head, kFitStyle);
  return page;
}

std::string path_component(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '/': out += "%2F"; break;
      case '\\': out += "%5C"; break;
      case '%': out += "%25"; break;
      case '\0': out += "%00"; break;
      default: out += c;
    }
  }
  return out;
}

std::string part_embed_page(std::string_view slug, std::string_view kind) {
  const EmbedKind* chosen = nullptr;
  for (const auto& k : kEmbedKinds) {
    if (k.kind == kind) chosen = &k;
  }
  if (!chosen) return std::string(kEmbedFallbackPage);
  const std::string key = std::string(slug) + "/" + std::string(kind);
  if (auto cached = embed_cache().find(key)) return std::move(*cached);
  auto page = build_page(slug, *chosen);
  if (!page) return std::string(kEmbedFallbackPage);
  embed_cache().insert(key, *page);
  return std::move(*page);
}

Response handle_part_embed(const Request&, std::string_view rest) {
  // The kind is the last path segment; everything before it is the slug.
  const size_t cut = rest.rfind('/');
  if (cut == std::string_view::npos) return html_response(std::string(kEmbedFallbackPage));
  return html_response(part_embed_page(page_slug(rest.substr(0, cut)), rest.substr(cut + 1)));
}

}  // namespace vorn
