// The apply worker: symbol phase, footprint phase, project delivery, final record.
#include "desktop/apply_job.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "boards/project_delivery.h"
#include "desktop/bridge.h"
#include "desktop/command_templates.h"
#include "desktop/desktop_env.h"
#include "desktop/footprint_files.h"
#include "desktop/kicad_pair_install.h"
#include "desktop/library_discovery.h"
#include "desktop/library_merge.h"
#include "desktop/staging.h"
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
  Json skipped = Json::array();  // {"component", "by"}: left as the user had it
  size_t running = 0;
  std::string staging;  // this job's own local folder
  // Every item's part, loaded once per job (one batch of platform reads) for both phases.
  std::map<std::string, LoadResult> parts;
};

void skip(JobState& job, const std::string& slug, std::string by) {
  job.skipped.push_back(Json{{"component", slug}, {"by", std::move(by)}});
}

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

// "<fpLib>:<footprint name>" for the footprint the job installs with this symbol (the item's
// footprint library, the footprint file's name), or empty when that footprint cannot be installed.
std::string footprint_ref(const JobState& job, const std::string& sym_lib, const std::string& slug,
                          const LoadedPart& loaded) {
  if (!footprint_to_install(loaded)) return "";
  for (const auto& item : job.request.items) {
    if (item.slug != slug || item.sym_lib != sym_lib) continue;
    std::string name = footprint_file_name(loaded.part.footprint.name, slug);
    if (ends_with(name, ".kicad_mod")) name.resize(name.size() - std::string_view(".kicad_mod").size());
    return item.fp_lib + ":" + name;
  }
  return "";
}

// The symbol entries of the parts that load, with the slug each came from.
std::vector<SymbolEntry> convert_symbols(JobState& job, const std::string& lib,
                                         const std::vector<std::string>& slugs,
                                         std::vector<std::string>& entry_slugs) {
  std::vector<SymbolEntry> entries;
  for (const auto& slug : slugs) {
    job.progress.set_stage("Converting " + slug + " → " + lib, ++job.running);
    const auto& loaded = job.parts.at(slug);
    if (!loaded) {
      job.errors.push_back(slug + ": " + loaded.error());
      continue;
    }
    auto entry = symbol_to_install(*loaded, footprint_ref(job, lib, slug, *loaded));
    if (!entry) {
      job.errors.push_back(slug + ": cannot be installed as a KiCad symbol: " + entry.error());
      continue;
    }
    entries.push_back(std::move(*entry));
    entry_slugs.push_back(slug);
  }
  return entries;
}

// Pulls the desktop library. Nothing in the optional means "absent: a new file"; an error text
// means the library must not be written.
std::expected<std::optional<std::string>, std::string> pull_library(const JobState& job, const std::string& lib,
                                                                    const std::string& desktop_file) {
  const std::string file = lib + ".kicad_sym";
  auto bytes = bridge_pull_file_bytes_into(desktop_file, job.staging);
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

// "added" holds only the symbols the merge inserted; the others were already in the library.
void report_symbols(JobState& job, const std::string& lib, const std::vector<SymbolEntry>& entries,
                    const std::vector<std::string>& entry_slugs,
                    std::vector<std::string> inserted) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto hit = std::find(inserted.begin(), inserted.end(), entries[i].name);
    if (hit == inserted.end()) {
      skip(job, entry_slugs[i], "symbol " + entries[i].name + " already in " + lib);
      continue;
    }
    inserted.erase(hit);
    job.added.push_back(Json{{"symbol", entries[i].name}, {"symLib", lib}});
  }
}

void symbol_library(JobState& job, const std::string& lib, const std::vector<std::string>& slugs) {
  std::vector<std::string> entry_slugs;
  const std::vector<SymbolEntry> entries = convert_symbols(job, lib, slugs, entry_slugs);
  job.progress.set_stage("Merging " + std::to_string(entries.size()) + " symbol(s) into " + lib, job.running);
  const auto uri = job.sym_uris.find(lib);
  const std::string desktop_file = uri != job.sym_uris.end()
      ? uri->second
      : default_symbol_folder(job.env) + std::string(job.env.sep()) + lib + ".kicad_sym";
  auto pulled = pull_library(job, lib, desktop_file);
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
  const std::string staged = job.staging + "/" + file_name_of(desktop_file, "lib.kicad_sym");
  if (auto why = write_local(staged, merge.text)) {
    job.errors.push_back("failed to stage " + lib + ".kicad_sym locally: " + *why);
    return;
  }
  if (!bridge_send_files({staged}, folder_of(desktop_file))) {
    job.errors.push_back("failed to write " + lib + ".kicad_sym");
    return;
  }
  report_symbols(job, lib, entries, entry_slugs, merge.inserted);
}

void footprint_library(JobState& job, const std::string& lib, const std::vector<std::string>& slugs) {
  const std::string pretty = lib + ".pretty";
  job.progress.set_stage("Delivering footprints → " + pretty, job.request.items.size());
  const auto uri = job.fp_uris.find(lib);
  const std::string folder = uri != job.fp_uris.end()
      ? uri->second
      : default_footprint_folder(job.env) + std::string(job.env.sep()) + pretty;
  bridge_run_and_forget(cmd_mkdir_p(folder));
  // What the folder holds is the user's: an existing file is never replaced, and a folder that
  // cannot be listed gets nothing.
  auto taken = desktop_footprints(job.env, folder);
  if (!taken) {
    job.errors.push_back("could not list " + pretty +
                         " on the desktop (bridge error) — skipped to avoid overwriting it");
    return;
  }
  std::set<std::string> keys;
  for (const auto& name : *taken) keys.insert(footprint_key(job.env, name));
  std::vector<std::string> staged;
  for (const auto& slug : slugs) {
    const auto& loaded = job.parts.at(slug);
    if (!loaded) continue;
    auto text = footprint_to_install(*loaded);
    if (!text) {
      job.errors.push_back(slug + ": cannot be installed as a KiCad footprint: " + text.error());
      continue;
    }
    const std::string file = footprint_file_name(loaded->part.footprint.name, slug);
    if (!keys.insert(footprint_key(job.env, file)).second) {
      skip(job, slug, "footprint " + file + " already in " + pretty);
      continue;
    }
    const std::string path = job.staging + "/" + file;
    if (auto why = write_local(path, *text)) {
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
  if (!result) return nullptr;
  // Delivery failures are the job's errors, shown with the others.
  if (const auto it = result->find("errors"); it != result->end()) {
    for (const auto& e : *it) job.errors.push_back(e.get<std::string>());
    result->erase("errors");
  }
  return *result;
}

void run_phases(JobState& job) {
  Groups by_sym, by_fp;
  std::vector<std::string> slugs;
  for (const auto& item : job.request.items) {
    by_sym[item.sym_lib].push_back(item.slug);
    by_fp[item.fp_lib].push_back(item.slug);
    slugs.push_back(item.slug);
  }
  job.parts = load_parts(slugs);
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
  JobState job{request, progress, {}, {}, {}, {}, Json::array(), Json::array(), 0, {}, {}};
  Json project = nullptr;
  job.env = desktop_env();
  const StagingFolder staging("job");
  job.staging = staging.path();
  try {
    // Nothing is written when the desktop's system and home are not known.
    if (!job.env.known()) {
      job.errors.push_back(std::string(kDesktopUnreachable));
    } else if (job.staging.empty()) {
      job.errors.push_back("could not create a local staging folder");
    } else {
      run_phases(job);
      project = project_result(job);
    }
  } catch (const std::exception& e) {
    // The record must always reach its final form, or no later job could start.
    job.errors.push_back(std::string("internal error: ") + e.what());
  }
  Json result{{"status", "ok"},     {"count", job.added.size()}, {"added", job.added},
              {"skipped", job.skipped}, {"errors", job.errors}, {"project", project}};
  progress.finish(result);
  return result;
}

}  // namespace vorn
