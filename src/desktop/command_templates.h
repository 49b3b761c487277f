// Every desktop command line the manager sends, built from fixed templates kept as data in one
// place (command_templates.cpp). Which form is used depends only on the desktop system: the
// Windows form for "windows", the POSIX form otherwise. Values marked quoted are POSIX-quoted;
// every value inside a single-quoted PowerShell string goes through powershell_quote (util/text.h);
// the others are inserted as they are, after the cleaning each builder states.
// Also the PowerShell launch form (Base64 of the script's UTF-16LE bytes). Pure; thread-safe.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Fills each "{}" of `tmpl` with the next value, in order. Other braces are copied as they are.
std::string fill_template(std::string_view tmpl, std::initializer_list<std::string_view> values);

// "powershell -NoProfile -STA -EncodedCommand " + Base64(UTF-16LE(script)).
std::string powershell_launch(std::string_view script);
// Base64 of the UTF-16LE bytes of `script`.
std::string powershell_encode(std::string_view script);

// File lists for the search templates: Windows: each PowerShell-quoted (powershell_quote),
// joined with ","; otherwise POSIX-quoted and joined with " ".
std::string windows_file_list(const std::vector<std::string>& paths);
std::string posix_file_list(const std::vector<std::string>& paths);

// Library tables of every KiCad version folder under `config_dir` (unquoted: the "*" expands).
std::string cmd_read_lib_tables(bool windows, std::string_view config_dir, std::string_view table);
// Symbol names in library files: "path<sep>(symbol \"name" lines (sep ":" POSIX, tab Windows).
std::string cmd_list_symbol_names(bool windows, const std::vector<std::string>& files);
// Case-insensitive search for an alternation of names (`alternation` is a ready regex).
std::string cmd_search_names(bool windows, const std::vector<std::string>& files,
                             std::string_view alternation);
// Footprint files under each folder, one path per line.
std::string cmd_list_footprints(bool windows, const std::vector<std::string>& folders);
// Sub-folders whose path starts with `prefix`. POSIX: the prefix is quoted and the glob stays
// outside the quotes; Windows: double quotes and "%" are removed from the prefix.
std::string cmd_list_subfolders_by_prefix(bool windows, std::string_view prefix);
// Footprint files of one folder (project delivery).
std::string cmd_list_folder_footprints(bool windows, std::string_view folder);
// A project library anywhere under the home's Documents (project diff). The home and the file
// name are quoted on POSIX; double quotes are removed from both on Windows.
std::string cmd_find_project_library(bool windows, std::string_view home, std::string_view lib_name);
// "mkdir -p <quoted>" and "rm -f <quoted>" on every system.
std::string cmd_mkdir_p(std::string_view path);
std::string cmd_rm_f(std::string_view path);
// Existence test on every system: prints __EXISTS__ or __ABSENT__.
std::string cmd_exists(std::string_view path);

// Folder listing (POSIX): resolve, parent, sub-folders as "name\tpath" lines.
std::string cmd_resolve_folder(std::string_view folder);
std::string cmd_parent_folder(std::string_view folder);
std::string cmd_list_subfolders(std::string_view folder);
// Folder listing (Windows): the PowerShell script (the folder PowerShell-quoted).
std::string ps_list_folder_script(std::string_view folder);

// Folder pick. `id` holds only ASCII letters, digits and "_".
std::string pick_file_posix(std::string_view id);
std::string cmd_pick_start(std::string_view os, std::string_view id);
std::string ps_pick_dialog_script(std::string_view id);
std::string cmd_pick_cat(std::string_view pick_file);
std::string cmd_pick_rm(std::string_view pick_file);
std::string ps_pick_result_script(std::string_view id);

}  // namespace vorn
