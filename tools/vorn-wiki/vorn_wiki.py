#!/usr/bin/env python3
"""vorn-wiki: the platform tool, as far as the manager uses it.

  vorn-wiki whoami --json
      prints {"data": {"user": {"username": …}, "orgs": [{"name": …}, …]}}
  vorn-wiki repo push <repo> --files <path>… -m <message>
      uploads the files (folders recursively, paths relative to the working directory) to the
      page <repo> as one commit

Configuration: VORN_PLATFORM_URL (default http://127.0.0.1:8786), the key from VORN_API_KEY or
the key file (VORN_API_KEY_FILE, default /var/run/vorn/api-key); VORN_WIKI_USER and
VORN_WIKI_ORGS (comma-separated) override the identity the platform reports.
"""
import base64
import json
import os
import sys
import urllib.error
import urllib.request

DEFAULT_URL = "http://127.0.0.1:8786"
TIMEOUT = 120
MAX_FILES = 5000


def platform_url() -> str:
    return (os.environ.get("VORN_PLATFORM_URL") or DEFAULT_URL).rstrip("/")


def api_key() -> str | None:
    path = os.environ.get("VORN_API_KEY_FILE") or "/var/run/vorn/api-key"
    try:
        with open(path, encoding="utf-8") as f:
            key = f.read().strip()
        if key:
            return key
    except OSError:
        pass
    return os.environ.get("VORN_API_KEY") or None


def request(path: str, body: bytes | None = None) -> bytes:
    req = urllib.request.Request(platform_url() + path, data=body,
                                 method="POST" if body is not None else "GET")
    key = api_key()
    if key:
        req.add_header("Authorization", f"Bearer {key}")
    if body is not None:
        req.add_header("Content-Type", "application/json")
    with urllib.request.urlopen(req, timeout=TIMEOUT) as resp:
        return resp.read()


def identity() -> dict:
    user = os.environ.get("VORN_WIKI_USER")
    orgs_env = os.environ.get("VORN_WIKI_ORGS")
    ident = None
    if user is None or orgs_env is None:
        try:
            ident = json.loads(request("/api/v1/me"))
        except (OSError, ValueError):
            ident = None
    data = (ident or {}).get("data", {}) if isinstance(ident, dict) else {}
    name = user if user is not None else str(data.get("user", {}).get("username", "")) or \
        os.environ.get("USER", "")
    if orgs_env is not None:
        orgs = [o.strip() for o in orgs_env.split(",") if o.strip()]
    else:
        orgs = [o["name"] for o in data.get("orgs", []) if isinstance(o, dict) and "name" in o]
    return {"data": {"user": {"username": name}, "orgs": [{"name": o} for o in orgs]}}


def collect(paths: list[str]) -> list[tuple[str, bytes]]:
    """(relative path, bytes) for every file named or inside a named folder."""
    out = []
    for p in paths:
        rel = os.path.normpath(p)
        if os.path.isabs(rel) or rel.startswith(".."):
            raise ValueError(f"{p}: paths must stay inside the working directory")
        if os.path.isdir(rel):
            for dirpath, dirnames, filenames in os.walk(rel):
                dirnames.sort()
                for fn in sorted(filenames):
                    out.append(os.path.join(dirpath, fn))
        elif os.path.isfile(rel):
            out.append(rel)
        else:
            raise ValueError(f"{p}: no such file")
        if len(out) > MAX_FILES:
            raise ValueError("too many files")
    files = []
    for f in out:
        with open(f, "rb") as fh:
            files.append((f.replace(os.sep, "/"), fh.read()))
    return files


def push(argv: list[str]) -> int:
    repo, files, message = None, [], ""
    i = 0
    while i < len(argv):
        a = argv[i]
        if a == "--files":
            i += 1
            while i < len(argv) and not argv[i].startswith("-"):
                files.append(argv[i])
                i += 1
            continue
        if a in ("-m", "--message") and i + 1 < len(argv):
            message = argv[i + 1]
            i += 2
            continue
        if repo is None and not a.startswith("-"):
            repo = a
        else:
            print(f"vorn-wiki: unexpected argument {a}", file=sys.stderr)
            return 2
        i += 1
    if not repo or not files:
        print("usage: vorn-wiki repo push <repo> --files <path>… -m <message>", file=sys.stderr)
        return 2
    try:
        payload = collect(files)
    except (ValueError, OSError) as e:
        print(f"vorn-wiki: {e}", file=sys.stderr)
        return 1
    author = identity()["data"]["user"]["username"] or "unknown"
    body = json.dumps({"message": message, "author": author,
                       "files": [{"path": p, "content_b64": base64.b64encode(d).decode()}
                                 for p, d in payload]}).encode()
    try:
        answer = json.loads(request(f"/api/v1/pages/{repo}/commits", body))
    except urllib.error.HTTPError as e:
        print(f"vorn-wiki: push to {repo} failed: HTTP {e.code} {e.read()[:200].decode(errors='replace')}",
              file=sys.stderr)
        return 1
    except (OSError, ValueError) as e:
        print(f"vorn-wiki: push to {repo} failed: {e}", file=sys.stderr)
        return 1
    h = answer.get("hash")
    print(f"pushed {len(payload)} file(s) to {repo}" + (f" @ {h[:7]}" if h else " (no change)"))
    return 0


def main(argv: list[str]) -> int:
    if argv[:1] == ["whoami"]:
        ident = identity()
        if "--json" in argv:
            print(json.dumps(ident))
        else:
            d = ident["data"]
            print(d["user"]["username"] + "".join(f" ({o['name']})" for o in d["orgs"]))
        return 0
    if argv[:2] == ["repo", "push"]:
        return push(argv[2:])
    print("usage: vorn-wiki whoami --json | vorn-wiki repo push <repo> --files <path>… -m <message>",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
