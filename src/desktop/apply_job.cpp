// The apply worker: symbol phase, footprint phase, project delivery, final record.
#include "desktop/apply_job.h"

#include <altium_codec/footprint_writer.h>
#include <altium_codec/symbol_writer.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "boards/project_delivery.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "desktop/kicad_guard.h"
#include "desktop/library_discovery.h"
#include "desktop/library_merge.h"
#include "parts/part_loading.h"
#include "util/text.h"

namespace vorn {
namespace {

// Library name → slugs in request order; std::map visits names in ascending byte order.
using Groups = std::map<std::string, std::vector<std::string>>;

struct JobState {
  const ApplyRequest& request;
  ApplyProgress& progress;
  DesktopEnv env;
  std::map<std::string, std::string> sym_uris;
  std::map<std::string, std::string> fp_uris;
  std::vector<std::string> errors;
  Json added = Json::array();
  size_t running = 0;
  // Every item's part, loaded once per job (one batch of platform reads) for both phases.
  std::map<std::string, LoadResult> parts;
};

std::string file_name_of(std::string_view path, std::string_view fallback) {
  const auto cut = path.find_last_of("/\\");
  const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  if (name.empty() || name == "." || name == "..") return std::string(fallback);
  return std::string(name);
}

std::string folder_of(std::string_view path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? "." : std::string(path.substr(0, cut));
}

// Writes a staged file; the system message on failure.
std::optional<std::string> write_local(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return std::strerror(errno);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return std::strerror(errno);
  return std::nullopt;
}

std::vector<SymbolEntry> convert_symbols(JobState& job, const std::string& lib,
                                         const std::vector<std::string>& slugs) {
  std::vector<SymbolEntry> entries;
  for (const auto& slug : slugs) {
    job.progress.set_stage("Converting " + slug + " → " + lib, ++job.running);
    const auto& loaded = job.parts.at(slug);
    if (!loaded) {
      job.errors.push_back(slug + ": " + loaded.error());
      continue;
    }
    if (auto why = symbol_refusal(loaded->part.symbol)) {
      job.errors.push_back(slug + ": cannot be installed as a KiCad symbol: " + *why);
      continue;
    }
    if (auto entry = first_symbol_entry(altium_codec::write_kicad_symbol_lib(loaded->part.symbol))) {
      entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

// Pulls the desktop library. Nothing in the optional means "absent: a new file"; an error text
// means the library must not be written.
std::expected<std::optional<std::string>, std::string> pull_library(const std::string& lib,
                                                                    const std::string& desktop_file) {
  const std::string file = lib + ".kicad_sym";
  auto bytes = bridge_pull_file_bytes(desktop_file);
  if (bytes) {
    // Repairing bytes would rewrite the user's symbols; leave such a file alone.
    if (!is_valid_utf8(*bytes)) return std::unexpected(file + " merge failed verification — aborted");
    return std::optional<std::string>(std::move(*bytes));
  }
  switch (desktop_file_exists(desktop_file)) {
    case Existence::absent:
      return std::optional<std::string>();
    case Existence::exists:
      return std::unexpected(file + " exists on the desktop but could not be pulled — skipped to avoid overwriting it");
    case Existence::undetermined:
      break;
  }
  return std::unexpected("could not verify " + file + " on the desktop (bridge error) — skipped to avoid overwriting it");
}

void symbol_library(JobState& job, const std::string& lib, const std::vector<std::string>& slugs) {
  const std::vector<SymbolEntry> entries = convert_symbols(job, lib, slugs);
  job.progress.set_stage("Merging " + std::to_string(entries.size()) + " symbol(s) into " + lib, job.running);
  const auto uri = job.sym_uris.find(lib);
  const std::string desktop_file = uri != job.sym_uris.end()
      ? uri->second
      : default_symbol_folder(job.env) + std::string(job.env.sep()) + lib + ".kicad_sym";
  auto pulled = pull_library(lib, desktop_file);
  if (!pulled) {
    job.errors.push_back(pulled.error());
    return;
  }
  const MergeResult merge = merge_symbols(*pulled, entries);
  // A pulled text without the library head is rebuilt from the header; whatever symbols it held
  // would be lost however many new ones arrive, so that counts as shrinking too.
  const size_t pulled_count = *pulled ? count_symbol_openings(**pulled) : 0;
  const bool rebuilt = *pulled && merge.base != **pulled;
  if (pulled_count > 0 && (count_symbol_openings(merge.text) < pulled_count || rebuilt)) {
    job.errors.push_back(lib + ".kicad_sym merge would shrink the library — aborted");
    return;
  }
  if (verify_merge(merge)) {
    job.errors.push_back(lib + ".kicad_sym merge failed verification — aborted");
    return;
  }
  const std::string staged = std::string(kStagingDir) + "/" + file_name_of(desktop_file, "lib.kicad_sym");
  if (auto why = write_local(staged, merge.text)) {
    job.errors.push_back("failed to stage " + lib + ".kicad_sym locally: " + *why);
    return;
  }
  if (!bridge_send_files({staged}, folder_of(desktop_file))) {
    job.errors.push_back("failed to write " + lib + ".kicad_sym");
    return;
  }
  for (const auto& e : entries) job.added.push_back(Json{{"symbol", e.name}, {"symLib", lib}});
}

std::string footprint_file_name(const altium_codec::VornLbrPart& part, const std::string& slug) {
  std::string name = part.footprint.name.empty() ? slug : part.footprint.name;
  for (char& c : name) {
    if (c == '/' || c == ' ' || c == '\0') c = '_';
  }
  return name + ".kicad_mod";
}

void footprint_library(JobState& job, const std::string& lib, const std::vector<std::string>& slugs) {
  const std::string pretty = lib + ".pretty";
  job.progress.set_stage("Delivering footprints → " + pretty, job.request.items.size());
  const auto uri = job.fp_uris.find(lib);
  const std::string folder = uri != job.fp_uris.end()
      ? uri->second
      : default_footprint_folder(job.env) + std::string(job.env.sep()) + pretty;
  bridge_run_and_forget(cmd_mkdir_p(folder));
  std::vector<std::string> staged;
  for (const auto& slug : slugs) {
    const auto& loaded = job.parts.at(slug);
    if (!loaded) continue;
    if (auto why = footprint_refusal(loaded->part.footprint)) {
      job.errors.push_back(slug + ": cannot be installed as a KiCad footprint: " + *why);
      continue;
    }
    const std::string path = std::string(kStagingDir) + "/" + footprint_file_name(loaded->part, slug);
    if (auto why = write_local(path, altium_codec::write_kicad_footprint(loaded->part.footprint))) {
      job.errors.push_back(slug + ": failed to stage footprint locally: " + *why);
      continue;
    }
    staged.push_back(path);
  }
  if (!staged.empty() && !bridge_send_files(staged, folder)) {
    job.errors.push_back("failed to deliver footprints to " + pretty);
  }
}

Json project_result(JobState& job) {
  if (!job.request.board) return nullptr;
  ProgressSink sink = [&job](std::string_view stage) {
    job.progress.set_stage(std::string(stage), job.request.items.size());
  };
  auto result = deliver_project(
      DeliveryRequest{*job.request.board, job.request.dest, job.request.project_only}, sink);
  return result ? *result : Json(nullptr);
}

void run_phases(JobState& job) {
  std::error_code ec;
  std::filesystem::create_directories(std::string(kStagingDir), ec);
  std::filesystem::permissions(std::string(kStagingDir), std::filesystem::perms::all,
                               std::filesystem::perm_options::replace, ec);
  Groups by_sym, by_fp;
  std::vector<std::string> slugs;
  for (const auto& item : job.request.items) {
    by_sym[item.sym_lib].push_back(item.slug);
    by_fp[item.fp_lib].push_back(item.slug);
    slugs.push_back(item.slug);
  }
  job.parts = load_parts(slugs);
  job.env = desktop_env();
  if (!job.request.items.empty()) {
    const UserLibraries libs = read_user_libraries(job.env);
    job.sym_uris = library_map(libs.sym_libs);
    job.fp_uris = library_map(libs.fp_libs);
  }
  for (const auto& [lib, slugs] : by_sym) symbol_library(job, lib, slugs);
  for (const auto& [lib, slugs] : by_fp) footprint_library(job, lib, slugs);
}

}  // namespace

Json run_apply_job(const ApplyRequest& request, ApplyProgress& progress) {
  JobState job{request, progress, {}, {}, {}, {}, Json::array(), 0, {}};
  Json project = nullptr;
  try {
    run_phases(job);
    project = project_result(job);
  } catch (const std::exception& e) {
    // The record must always reach its final form, or no later job could start.
    job.errors.push_back(std::string("internal error: ") + e.what());
  }
  Json result{{"status", "ok"},     {"count", job.added.size()}, {"added", job.added},
              {"skipped", Json::array()}, {"errors", job.errors}, {"project", project}};
  progress.finish(result);
  return result;
}

}  // namespace vorn
