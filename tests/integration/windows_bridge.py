#!/usr/bin/env python3
"""A Windows desktop for the integration tests, behind the bridge's command line.

    windows_bridge.py <root> <shell_execute|pull_file|send_file> <json>

Drive C: is the folder <root>/C and the home is C:\\Users\\me. Paths that are not absolute
Windows paths land in <root>/cwd, the bridge's working folder, as they would on a real desktop.
Windows rules that matter to the manager are kept: "\\" separates folders (so "..\\" climbs),
file names holding < > : " | ? * or control characters cannot be created, names differing only in
letter case are one file. Commands: the probes, the command interpreter forms the manager sends
(library tables, footprint listing, existence test, mkdir), and the PowerShell script that moves
files into a backup folder; anything else answers like an unknown command.
"""
import base64
import json
import os
import re
import shutil
import sys

ROOT = sys.argv[1]
HOME = "C:\\Users\\me"
BAD = set('<>:"|?*') | {chr(c) for c in range(32)}


def components(win_path):
    return [c for c in re.split(r"[\\/]", win_path) if c not in ("", ".")]


def to_local(win_path):
    """The local path of a Windows path (".." resolved, clamped at the drive root)."""
    m = re.match(r"^([A-Za-z]):\\(.*)$", win_path, re.S)
    base, rest = (os.path.join(ROOT, m.group(1).upper()), m.group(2)) if m else (os.path.join(ROOT, "cwd"), win_path)
    parts = []
    for c in components(rest):
        if c == "..":
            if parts:
                parts.pop()
            continue
        if any(ch in BAD for ch in c):
            raise ValueError("invalid file name: " + c)
        parts.append(c)
    # Letter case does not tell files apart: reuse an existing entry of any case.
    cur = base
    for c in parts:
        if os.path.isdir(cur):
            for existing in os.listdir(cur):
                if existing.lower() == c.lower():
                    c = existing
                    break
        cur = os.path.join(cur, c)
    return cur


def posix_unquote(text):
    m = re.fullmatch(r"'((?:[^']|'\\'')*)'", text)
    return m.group(1).replace("'\\''", "'") if m else text


def answer(stdout="", code=0, stderr=""):
    print(json.dumps({"stdout": stdout, "stderr": stderr, "exit_code": code}))
    return 0


def keep_script(script):
    d = re.search(r"\$d='((?:[^']|'')*)'", script).group(1).replace("''", "'")
    b = re.search(r"\$b=Join-Path \$d '((?:[^']|'')*)'", script).group(1).replace("''", "'")
    items = re.search(r"foreach\(\$f in @\((.*?)\)\)", script).group(1)
    out = ""
    for rel in re.findall(r"'((?:[^']|'')*)'", items):
        rel = rel.replace("''", "'")
        src = to_local(d + "\\" + rel)
        if os.path.isfile(src):
            dst = to_local(d + "\\" + b + "\\" + rel)
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.move(src, dst)
            out += rel + "\n"
    return answer(out)


def shell(command):
    if command == "echo $HOME":
        return answer("$HOME\r\n")
    if command == "echo %USERPROFILE%":
        return answer(HOME + "\r\n")
    m = re.fullmatch(r'for /d %d in \("(.+)\\\*"\) do @type "%d\\(.+)" 2>nul', command)
    if m:
        folder, out = to_local(m.group(1)), ""
        for sub in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            table = os.path.join(folder, sub, m.group(2))
            if os.path.isfile(table):
                out += open(table, encoding="utf-8").read()
        return answer(out)
    m = re.fullmatch(r'dir /b "(.+)\\\*\.kicad_mod" 2>nul', command)
    if m:
        folder = to_local(m.group(1))
        names = sorted(n for n in os.listdir(folder) if n.endswith(".kicad_mod")) if os.path.isdir(folder) else []
        return answer("".join(n + "\r\n" for n in names), 0 if names else 1)
    m = re.fullmatch(r"mkdir -p (.+)", command)
    if m:
        os.makedirs(to_local(posix_unquote(m.group(1))), exist_ok=True)
        return answer()
    m = re.fullmatch(r"\[ -f (.+) \] && echo __EXISTS__ \|\| echo __ABSENT__", command)
    if m:
        return answer("__EXISTS__\r\n" if os.path.isfile(to_local(posix_unquote(m.group(1)))) else "__ABSENT__\r\n")
    m = re.fullmatch(r"powershell -NoProfile -STA -EncodedCommand (\S+)", command)
    if m:
        script = base64.b64decode(m.group(1)).decode("utf-16-le")
        if "$b=Join-Path $d" in script:
            return keep_script(script)
        return answer()
    return answer("", 1, "'" + command.split(" ")[0] + "' is not recognized as an internal or external command")


def main():
    op, arg = sys.argv[2], json.loads(sys.argv[3])
    try:
        if op == "shell_execute":
            return shell(arg["command"])
        if op == "pull_file":
            src = to_local(arg["filePaths"][0])
            name = re.split(r"[\\/]", arg["filePaths"][0])[-1]
            if not os.path.isfile(src):
                return 1
            shutil.copyfile(src, os.path.join(arg["saveTo"], name))
            return 0
        if op == "send_file":
            for local in arg["filePaths"]:
                target = to_local(arg["dest"] + "\\" + local.rsplit("/", 1)[-1])
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(local, target)
            return 0
    except (OSError, ValueError, KeyError) as e:
        print("vorn-desktop: " + str(e), file=sys.stderr)
        return 1
    return 2


if __name__ == "__main__":
    sys.exit(main())
