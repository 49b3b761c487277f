// Every desktop command template, byte for byte, on each desktop system; the PowerShell launch
// encoding; POSIX quoting.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "desktop/command_templates.h"
#include "util/text.h"

namespace vorn {
namespace {

// Base64 decoding and UTF-16LE to UTF-8 (BMP only), so PowerShell forms can be read back.
std::string base64_decode(std::string_view in) {
  static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int bits = 0, acc = 0;
  for (char c : in) {
    if (c == '=') break;
    acc = (acc << 6) | static_cast<int>(abc.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string utf16le_to_utf8(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned u = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// The script inside "powershell -NoProfile -STA -EncodedCommand <b64>".
std::string launched_script(const std::string& command, std::string_view prefix = "powershell -NoProfile -STA -EncodedCommand ") {
  EXPECT_TRUE(command.starts_with(prefix)) << command;
  return utf16le_to_utf8(base64_decode(std::string_view(command).substr(prefix.size())));
}

TEST(DesktopTemplates, PowerShellLaunchIsBase64OfUtf16le) {
  EXPECT_EQ(powershell_launch("a"), "powershell -NoProfile -STA -EncodedCommand YQA=");
  EXPECT_EQ(powershell_encode("é€"), "6QCsIA==");
  EXPECT_EQ(powershell_encode("dir"), "ZABpAHIA");
}

TEST(DesktopTemplates, PosixQuotingWrapsAndEscapesSingleQuotes) {
  EXPECT_EQ(posix_quote("it's"), "'it'\\''s'");
  EXPECT_EQ(posix_quote(""), "''");
  EXPECT_EQ(cmd_mkdir_p("/h/it's"), "mkdir -p '/h/it'\\''s'");
  EXPECT_EQ(cmd_rm_f("/a b"), "rm -f '/a b'");
  EXPECT_EQ(cmd_exists("/x/L.kicad_sym"), "[ -f '/x/L.kicad_sym' ] && echo __EXISTS__ || echo __ABSENT__");
}

TEST(DesktopTemplates, LibraryTables) {
  EXPECT_EQ(cmd_read_lib_tables(false, "/home/u/.config/kicad", "sym-lib-table"),
            "cat '/home/u/.config/kicad'/*/'sym-lib-table' 2>/dev/null");
  EXPECT_EQ(cmd_read_lib_tables(true, "C:\\Users\\me\\AppData\\Roaming\\kicad", "fp-lib-table"),
            "for /d %d in (\"C:\\Users\\me\\AppData\\Roaming\\kicad\\*\") do @type \"%d\\fp-lib-table\" 2>nul");
  // A home that would end the double quotes or expand a variable loses those characters.
  EXPECT_EQ(cmd_read_lib_tables(true, "C:\\a\"&b%x%", "t"),
            "for /d %d in (\"C:\\a&bx\\*\") do @type \"%d\\t\" 2>nul");
}

TEST(DesktopTemplates, SymbolListingAndNameSearch) {
  const std::vector<std::string> files = {"/l/A.kicad_sym", "/l/it's.kicad_sym"};
  EXPECT_EQ(posix_file_list(files), "'/l/A.kicad_sym' '/l/it'\\''s.kicad_sym'");
  EXPECT_EQ(windows_file_list({"C:\\l\\A.kicad_sym", "C:\\it's.kicad_sym"}),
            "'C:\\l\\A.kicad_sym','C:\\it''s.kicad_sym'");
  EXPECT_EQ(cmd_list_symbol_names(false, files),
            "grep -HoE '\\(symbol \"[^\"]+\"' '/l/A.kicad_sym' '/l/it'\\''s.kicad_sym' 2>/dev/null");
  EXPECT_EQ(cmd_search_names(false, files, "LM358|NE5\\.55"),
            "grep -HioE '(LM358|NE5\\.55)' '/l/A.kicad_sym' '/l/it'\\''s.kicad_sym' 2>/dev/null");
  EXPECT_EQ(launched_script(cmd_list_symbol_names(true, {"C:\\l\\A.kicad_sym"})),
            "$ProgressPreference='SilentlyContinue'; Select-String -Path 'C:\\l\\A.kicad_sym' -Pattern "
            "'\\(symbol \"([^\"]+)\"' | ForEach-Object { $_.Path + [char]9 + $_.Matches.Groups[1].Value }");
  EXPECT_EQ(launched_script(cmd_search_names(true, {"C:\\a.kicad_sym", "C:\\b.kicad_sym"}, "X1|Y2")),
            "$ProgressPreference='SilentlyContinue'; Select-String -Path 'C:\\a.kicad_sym','C:\\b.kicad_sym' "
            "-Pattern '(?i)(X1|Y2)' -AllMatches | ForEach-Object { $_.Path + [char]9 + $_.Matches.Value }");
}

TEST(DesktopTemplates, FootprintListings) {
  EXPECT_EQ(cmd_list_footprints(false, {"/f/A.pretty", "/f/b c.pretty"}),
            "for d in '/f/A.pretty' '/f/b c.pretty'; do ls \"$d\"/*.kicad_mod 2>/dev/null; done");
  EXPECT_EQ(cmd_list_footprints(true, {"C:\\f\\A.pretty", "C:\\\"B\".pretty"}),
            "dir /b /s \"C:\\f\\A.pretty\\*.kicad_mod\" 2>nul & dir /b /s \"C:\\B.pretty\\*.kicad_mod\" 2>nul");
  EXPECT_EQ(cmd_list_folder_footprints(false, "/p/nick.pretty"), "ls '/p/nick.pretty'/*.kicad_mod 2>/dev/null");
  EXPECT_EQ(cmd_list_folder_footprints(true, "C:\\p\\\"n\".pretty"), "dir /b \"C:\\p\\n.pretty\\*.kicad_mod\" 2>nul");
}

TEST(DesktopTemplates, PrefixListingKeepsTheGlobOutsideTheQuotes) {
  EXPECT_EQ(cmd_list_subfolders_by_prefix(false, "/home/u/Doc"),
            "for d in '/home/u/Doc'*/ ; do [ -d \"$d\" ] && echo \"$d\" ; done 2>/dev/null");
  EXPECT_EQ(cmd_list_subfolders_by_prefix(false, "/a b/it's"),
            "for d in '/a b/it'\\''s'*/ ; do [ -d \"$d\" ] && echo \"$d\" ; done 2>/dev/null");
  EXPECT_EQ(cmd_list_subfolders_by_prefix(true, "C:\\Us\"%PATH%"), "dir /b /ad \"C:\\UsPATH*\" 2>nul");
}

TEST(DesktopTemplates, ProjectLibrarySearchQuotesTheHome) {
  EXPECT_EQ(cmd_find_project_library(false, "/home/my user", "board_x"),
            "find '/home/my user'/Documents -maxdepth 6 -name 'board_x.kicad_sym' 2>/dev/null | head -1");
  EXPECT_EQ(cmd_find_project_library(true, "C:\\Users\\me", "b"), "dir /b /s \"C:\\Users\\me\\Documents\\b.kicad_sym\" 2>nul");
}

TEST(DesktopTemplates, FolderListing) {
  EXPECT_EQ(cmd_resolve_folder("/a b"), "cd '/a b' 2>/dev/null && pwd");
  EXPECT_EQ(cmd_parent_folder("/a/b"), "dirname '/a/b'");
  EXPECT_EQ(cmd_list_subfolders("/"),
            "for d in '/'/*/ ; do [ -d \"$d\" ] && printf '%s\\t%s\\n' \"$(basename \"$d\")\" \"${d%/}\" ; done 2>/dev/null");
  EXPECT_EQ(ps_list_folder_script("C:\\it's"),
            "$ErrorActionPreference='SilentlyContinue'; $i=Get-Item -LiteralPath 'C:\\it''s'; if(-not $i){[Console]::Out.Write('@@ERR@@'); return}; "
            "$full=$i.FullName; $par=''; if($i.Parent){$par=$i.Parent.FullName}; $names=Get-ChildItem -LiteralPath $full -Directory -Force | "
            "ForEach-Object { $_.Name + [char]9 + $_.FullName } | Sort-Object; [Console]::Out.Write($full + [char]10 + $par + [char]10 + '@@' + "
            "[char]10 + ($names -join [char]10))");
}

TEST(DesktopTemplates, FolderPick) {
  EXPECT_EQ(cmd_pick_start("linux", "17_3"),
            "(zenity --file-selection --directory > '/tmp/vorn_pick_17_3.txt' 2>/dev/null || echo __CANCELLED__ > '/tmp/vorn_pick_17_3.txt') &");
  EXPECT_EQ(cmd_pick_start("macos", "1_0"),
            "(osascript -e 'POSIX path of (choose folder)' > '/tmp/vorn_pick_1_0.txt' 2>/dev/null || echo __CANCELLED__ > '/tmp/vorn_pick_1_0.txt') &");
  EXPECT_EQ(cmd_pick_cat(pick_file_posix("9_9")), "cat '/tmp/vorn_pick_9_9.txt' 2>/dev/null");
  EXPECT_EQ(cmd_pick_rm(pick_file_posix("9_9")), "rm -f '/tmp/vorn_pick_9_9.txt'");
  EXPECT_EQ(launched_script(powershell_launch(ps_pick_result_script("5_1"))),
            "$p=Join-Path ([System.IO.Path]::GetTempPath()) 'vorn_pick_5_1.txt'; if(Test-Path -LiteralPath $p){[Console]::Out.Write("
            "(Get-Content -LiteralPath $p -Raw)); Remove-Item -LiteralPath $p -Force}else{[Console]::Out.Write('__PENDING__')}");
  // Windows: the dialog script, encoded inside Start-Process, encoded again.
  const std::string outer = launched_script(cmd_pick_start("windows", "2_4"), "powershell -NoProfile -EncodedCommand ");
  const std::string prefix = "Start-Process -WindowStyle Hidden powershell -ArgumentList @('-NoProfile','-STA','-EncodedCommand','";
  ASSERT_TRUE(outer.starts_with(prefix)) << outer;
  ASSERT_TRUE(outer.ends_with("')"));
  const std::string inner = utf16le_to_utf8(base64_decode(outer.substr(prefix.size(), outer.size() - prefix.size() - 2)));
  EXPECT_EQ(inner, ps_pick_dialog_script("2_4"));
  for (const char* piece : {"$ProgressPreference='SilentlyContinue'", "System.Windows.Forms", "TopMost=$true",
                            "ShowInTaskbar=$false", "Opacity=0", "FolderBrowserDialog", "'Select the project folder'",
                            "'__CANCELLED__'", "[System.IO.Path]::GetTempPath()) 'vorn_pick_2_4.txt'",
                            "Set-Content -LiteralPath $p -Value $out -NoNewline -Encoding UTF8"}) {
    EXPECT_NE(inner.find(piece), std::string::npos) << piece;
  }
}

TEST(DesktopTemplates, FillLeavesOtherBracesAlone) {
  EXPECT_EQ(fill_template("a {} { $x } {}", {"1", "2"}), "a 1 { $x } 2");
  EXPECT_EQ(fill_template("{}{}", {"x"}), "x{}");
}

// PowerShell's reading of single-quoted strings: any of the five quote characters opens one; in
// one, a quote character followed by another stands for the second, a lone one ends it. The
// skeleton is the script with every literal replaced by a marker: the code PowerShell would run.
struct PsScan {
  std::vector<std::string> literals;
  std::string skeleton;
};

size_t quote_length(std::string_view s, size_t i) {
  if (s[i] == '\'') return 1;
  if (s.substr(i, 2) == "\xE2\x80" && i + 2 < s.size() && s[i + 2] >= '\x98' && s[i + 2] <= '\x9B')
    return 3;
  return 0;
}

PsScan scan_powershell(std::string_view s) {
  PsScan scan;
  std::optional<std::string> literal;
  for (size_t i = 0; i < s.size();) {
    const size_t q = quote_length(s, i);
    if (!literal) {
      if (q) {
        literal.emplace();
        scan.skeleton += "<S>";
        i += q;
      } else {
        scan.skeleton += s[i++];
      }
      continue;
    }
    if (!q) {
      *literal += s[i++];
      continue;
    }
    if (const size_t next = i + q < s.size() ? quote_length(s, i + q) : 0) {
      *literal += s.substr(i + q, next);
      i += q + next;
      continue;
    }
    scan.literals.push_back(std::move(*literal));
    literal.reset();
    i += q;
  }
  EXPECT_FALSE(literal) << "unterminated string in " << s;
  return scan;
}

TEST(DesktopTemplates, EveryPowerShellValueStaysOneString) {
  struct Template {
    const char* name;
    std::function<std::string(const std::string&)> script;
    std::string before, after;  // what the template puts around the value inside its literal
  };
  auto dialog_of_start = [](const std::string& id) {
    const std::string outer =
        launched_script(cmd_pick_start("windows", id), "powershell -NoProfile -EncodedCommand ");
    const std::vector<std::string> literals = scan_powershell(outer).literals;
    return literals.size() == 4 ? utf16le_to_utf8(base64_decode(literals[3])) : std::string();
  };
  const std::vector<Template> templates = {
      {"folder listing",
       [](const std::string& v) {
         return launched_script(powershell_launch(ps_list_folder_script(v)));
       },
       "", ""},
      {"symbol names",
       [](const std::string& v) {
         return launched_script(cmd_list_symbol_names(true, {v, "C:\\b"}));
       },
       "", ""},
      {"search paths",
       [](const std::string& v) { return launched_script(cmd_search_names(true, {v}, "LM358")); },
       "", ""},
      {"search pattern",
       [](const std::string& v) { return launched_script(cmd_search_names(true, {"C:\\a"}, v)); },
       "(?i)(", ")"},
      {"pick result",
       [](const std::string& v) {
         return launched_script(powershell_launch(ps_pick_result_script(v)));
       },
       "vorn_pick_", ".txt"},
      {"pick dialog", [](const std::string& v) { return ps_pick_dialog_script(v); }, "vorn_pick_",
       ".txt"},
      {"pick dialog inside its launcher", dialog_of_start, "vorn_pick_", ".txt"},
  };
  const std::vector<std::string> values = {
      "C:\\x\u2019; New-Item C:\\MARK; \u2019",
      "it's",
      "a\u2018b",
      "a\u2019b",
      "a\u201Ab",
      "a\u201Bb",
      "'\u2019\u2018'",
      "'",
      "\u201B",
      "$(New-Item C:\\MARK)",
      "`$x`n`'",
      "line one\nline two\r\n'; x",
      "\"; New-Item C:\\MARK; \"",
  };
  for (const Template& t : templates) {
    const PsScan plain = scan_powershell(t.script("plain"));
    ASSERT_FALSE(plain.literals.empty()) << t.name;
    for (const std::string& v : values) {
      const PsScan hostile = scan_powershell(t.script(v));
      EXPECT_EQ(hostile.skeleton, plain.skeleton) << t.name << ": " << v;
      EXPECT_NE(std::find(hostile.literals.begin(), hostile.literals.end(), t.before + v + t.after),
                hostile.literals.end())
          << t.name << ": " << v;
    }
  }
  EXPECT_EQ(powershell_quote("a'\u2018\u2019\u201A\u201Bz"),
            "'a''\u2018\u2018\u2019\u2019\u201A\u201A\u201B\u201Bz'");
}

}  // namespace
}  // namespace vorn
