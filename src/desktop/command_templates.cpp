// The desktop command templates as data, and the builders that fill them.
#include "desktop/command_templates.h"

#include "util/text.h"

namespace vorn {
namespace {

// Each "{}" is filled in order by the builder below that names the template.
struct Templates {
  // Library tables of every version folder.
  std::string_view tables_win = R"T(for /d %d in ("{}\*") do @type "%d\{}" 2>nul)T";
  std::string_view tables_posix = R"T(cat {}/*/{} 2>/dev/null)T";
  // Symbol names in library files.
  std::string_view symbols_ps =
      R"T($ProgressPreference='SilentlyContinue'; Select-String -Path {} -Pattern '\(symbol "([^"]+)"' | ForEach-Object { $_.Path + [char]9 + $_.Matches.Groups[1].Value })T";
  std::string_view symbols_posix = R"T(grep -HoE '\(symbol "[^"]+"' {} 2>/dev/null)T";
  // Case-insensitive search for several names.
  std::string_view search_ps =
      R"T($ProgressPreference='SilentlyContinue'; Select-String -Path {} -Pattern '(?i)({})' -AllMatches | ForEach-Object { $_.Path + [char]9 + $_.Matches.Value })T";
  std::string_view search_posix = R"T(grep -HioE '({})' {} 2>/dev/null)T";
  // Footprint files under folders.
  std::string_view footprints_win = R"T(dir /b /s "{}\*.kicad_mod" 2>nul)T";
  std::string_view footprints_win_join = " & ";
  std::string_view footprints_posix = R"T(for d in {}; do ls "$d"/*.kicad_mod 2>/dev/null; done)T";
  // Sub-folders by prefix.
  std::string_view prefix_win = R"T(dir /b /ad "{}*" 2>nul)T";
  std::string_view prefix_posix = R"T(for d in {}*/ ; do [ -d "$d" ] && echo "$d" ; done 2>/dev/null)T";
  // Footprint files of one folder.
  std::string_view folder_fp_win = R"T(dir /b "{}\*.kicad_mod" 2>nul)T";
  std::string_view folder_fp_posix = R"T(ls {}/*.kicad_mod 2>/dev/null)T";
  // Project library under Documents.
  std::string_view find_lib_win = R"T(dir /b /s "{}\Documents\{}.kicad_sym" 2>nul)T";
  std::string_view find_lib_posix = R"T(find {}/Documents -maxdepth 6 -name {} 2>/dev/null | head -1)T";
  // Every system.
  std::string_view mkdir_p = "mkdir -p {}";
  std::string_view rm_f = "rm -f {}";
  std::string_view exists = "[ -f {} ] && echo __EXISTS__ || echo __ABSENT__";
  // Folder listing.
  std::string_view resolve = "cd {} 2>/dev/null && pwd";
  std::string_view parent = "dirname {}";
  std::string_view subfolders =
      R"T(for d in {}/*/ ; do [ -d "$d" ] && printf '%s\t%s\n' "$(basename "$d")" "${d%/}" ; done 2>/dev/null)T";
  std::string_view list_ps =
      R"T($ErrorActionPreference='SilentlyContinue'; $i=Get-Item -LiteralPath '{}'; if(-not $i){[Console]::Out.Write('@@ERR@@'); return}; $full=$i.FullName; $par=''; if($i.Parent){$par=$i.Parent.FullName}; $names=Get-ChildItem -LiteralPath $full -Directory -Force | ForEach-Object { $_.Name + [char]9 + $_.FullName } | Sort-Object; [Console]::Out.Write($full + [char]10 + $par + [char]10 + '@@' + [char]10 + ($names -join [char]10)))T";
  // Folder pick.
  std::string_view pick_file_posix = "/tmp/vorn_pick_{}.txt";
  std::string_view pick_linux =
      R"T((zenity --file-selection --directory > '/tmp/vorn_pick_{}.txt' 2>/dev/null || echo __CANCELLED__ > '/tmp/vorn_pick_{}.txt') &)T";
  std::string_view pick_macos =
      R"T((osascript -e 'POSIX path of (choose folder)' > '/tmp/vorn_pick_{}.txt' 2>/dev/null || echo __CANCELLED__ > '/tmp/vorn_pick_{}.txt') &)T";
  std::string_view pick_dialog_ps =
      R"T($ProgressPreference='SilentlyContinue'; Add-Type -AssemblyName System.Windows.Forms; $f=New-Object System.Windows.Forms.Form; $f.TopMost=$true; $f.ShowInTaskbar=$false; $f.Opacity=0; $f.Show(); $f.Activate(); $d=New-Object System.Windows.Forms.FolderBrowserDialog; $d.Description='Select the project folder'; $r=$d.ShowDialog($f); $f.Close(); if($r -eq [System.Windows.Forms.DialogResult]::OK){$out=$d.SelectedPath}else{$out='__CANCELLED__'}; $p=Join-Path ([System.IO.Path]::GetTempPath()) 'vorn_pick_{}.txt'; Set-Content -LiteralPath $p -Value $out -NoNewline -Encoding UTF8)T";
  std::string_view pick_start_ps =
      R"T(Start-Process -WindowStyle Hidden powershell -ArgumentList @('-NoProfile','-STA','-EncodedCommand','{}'))T";
  std::string_view pick_outer = "powershell -NoProfile -EncodedCommand {}";
  std::string_view pick_cat = "cat '{}' 2>/dev/null";
  std::string_view pick_rm = "rm -f '{}'";
  std::string_view pick_result_ps =
      R"T($p=Join-Path ([System.IO.Path]::GetTempPath()) 'vorn_pick_{}.txt'; if(Test-Path -LiteralPath $p){[Console]::Out.Write((Get-Content -LiteralPath $p -Raw)); Remove-Item -LiteralPath $p -Force}else{[Console]::Out.Write('__PENDING__')})T";
  // PowerShell launch.
  std::string_view powershell = "powershell -NoProfile -STA -EncodedCommand {}";
};

constexpr Templates kT{};

// Characters the Windows command interpreter would act on inside a double-quoted path.
std::string clean_windows(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '"' && c != '%') out += c;
  }
  return out;
}

std::string without(std::string_view text, char drop) {
  std::string out;
  for (char c : text) {
    if (c != drop) out += c;
  }
  return out;
}

}  // namespace

std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> values) {
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '{' && i + 1 < tmpl.size() && tmpl[i + 1] == '}' && next != values.end()) {
      out += *next++;
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  return out;
}

std::string powershell_encode(std::string_view script) {
  return base64_encode(utf16le_encode(script));
}

std::string powershell_launch(std::string_view script) {
  return fill_template(kT.powershell, {powershell_encode(script)});
}

std::string windows_file_list(const std::vector<std::string>& paths) {
  std::string out;
  for (const auto& p : paths) {
    if (!out.empty()) out += ",";
    out += powershell_quote(p);
  }
  return out;
}

std::string posix_file_list(const std::vector<std::string>& paths) {
  std::string out;
  for (const auto& p : paths) {
    if (!out.empty()) out += " ";
    out += posix_quote(p);
  }
  return out;
}

std::string cmd_read_lib_tables(bool windows, std::string_view config_dir, std::string_view table) {
  if (windows) return fill_template(kT.tables_win, {clean_windows(config_dir), clean_windows(table)});
  // The folder is quoted and the "*" stays outside the quotes so that it still expands.
  return fill_template(kT.tables_posix, {posix_quote(config_dir), posix_quote(table)});
}

std::string cmd_list_symbol_names(bool windows, const std::vector<std::string>& files) {
  if (windows) return powershell_launch(fill_template(kT.symbols_ps, {windows_file_list(files)}));
  return fill_template(kT.symbols_posix, {posix_file_list(files)});
}

std::string cmd_search_names(bool windows, const std::vector<std::string>& files,
                             std::string_view alternation) {
  // The alternation sits inside single quotes in both forms.
  if (windows) {
    return powershell_launch(fill_template(
        kT.search_ps, {windows_file_list(files), powershell_quote_inner(alternation)}));
  }
  return fill_template(kT.search_posix, {without(alternation, '\''), posix_file_list(files)});
}

std::string cmd_list_footprints(bool windows, const std::vector<std::string>& folders) {
  if (windows) {
    std::string out;
    for (const auto& folder : folders) {
      if (!out.empty()) out += kT.footprints_win_join;
      out += fill_template(kT.footprints_win, {clean_windows(folder)});
    }
    return out;
  }
  return fill_template(kT.footprints_posix, {posix_file_list(folders)});
}

std::string cmd_list_subfolders_by_prefix(bool windows, std::string_view prefix) {
  if (windows) return fill_template(kT.prefix_win, {clean_windows(prefix)});
  return fill_template(kT.prefix_posix, {posix_quote(prefix)});
}

std::string cmd_list_folder_footprints(bool windows, std::string_view folder) {
  if (windows) return fill_template(kT.folder_fp_win, {clean_windows(folder)});
  return fill_template(kT.folder_fp_posix, {posix_quote(folder)});
}

std::string cmd_find_project_library(bool windows, std::string_view home, std::string_view lib_name) {
  if (windows) return fill_template(kT.find_lib_win, {clean_windows(home), clean_windows(lib_name)});
  return fill_template(kT.find_lib_posix,
                       {posix_quote(home), posix_quote(std::string(lib_name) + ".kicad_sym")});
}

std::string cmd_mkdir_p(std::string_view path) { return fill_template(kT.mkdir_p, {posix_quote(path)}); }
std::string cmd_rm_f(std::string_view path) { return fill_template(kT.rm_f, {posix_quote(path)}); }
std::string cmd_exists(std::string_view path) { return fill_template(kT.exists, {posix_quote(path)}); }

std::string cmd_resolve_folder(std::string_view folder) {
  return fill_template(kT.resolve, {posix_quote(folder)});
}
std::string cmd_parent_folder(std::string_view folder) {
  return fill_template(kT.parent, {posix_quote(folder)});
}
std::string cmd_list_subfolders(std::string_view folder) {
  return fill_template(kT.subfolders, {posix_quote(folder)});
}
std::string ps_list_folder_script(std::string_view folder) {
  return fill_template(kT.list_ps, {powershell_quote_inner(folder)});
}

std::string pick_file_posix(std::string_view id) { return fill_template(kT.pick_file_posix, {id}); }

std::string cmd_pick_start(std::string_view os, std::string_view id) {
  if (os == "windows") {
    const std::string inner = fill_template(
        kT.pick_start_ps, {powershell_quote_inner(powershell_encode(ps_pick_dialog_script(id)))});
    return fill_template(kT.pick_outer, {powershell_encode(inner)});
  }
  return fill_template(os == "macos" ? kT.pick_macos : kT.pick_linux, {id, id});
}

std::string ps_pick_dialog_script(std::string_view id) {
  return fill_template(kT.pick_dialog_ps, {powershell_quote_inner(id)});
}
std::string cmd_pick_cat(std::string_view pick_file) { return fill_template(kT.pick_cat, {pick_file}); }
std::string cmd_pick_rm(std::string_view pick_file) { return fill_template(kT.pick_rm, {pick_file}); }
std::string ps_pick_result_script(std::string_view id) {
  return fill_template(kT.pick_result_ps, {powershell_quote_inner(id)});
}

}  // namespace vorn
