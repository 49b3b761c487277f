"""The page store: one folder per page holding its record (meta.json) and a git work tree.

Every page keeps its whole history as a git repository driven through the `git` program: an
upload is a commit, the log is `git log`, a file at a ref is `git cat-file`. Git gives real
commit hashes, per-commit diffs and an on-disk format anyone can inspect with the usual tools,
without a database. Page records live in memory behind one lock and are written back on change.

Layout under the data folder:
  pages/<slug>/meta.json   page record (slug, title, brief, tags, owner, org, visibility, ...)
  pages/<slug>/repo/       git work tree with the page's files at the newest commit
"""
import json
import os
import subprocess
import threading
import time

from . import names

GIT_TIMEOUT = 30
LOG_LIMIT = 500
MAX_LIST_FILES = 20000

_RECORD_DEFAULTS = {
    "type": "component", "title": "", "brief": "", "tags": [], "author_name": "", "org_name": "",
    "starred": False, "visibility": "public", "version": "", "composite_score": 0,
}


def _git(repo: str, *args: str, env: dict | None = None, data: bytes | None = None):
    full_env = dict(os.environ)
    full_env.update({"GIT_CONFIG_NOSYSTEM": "1", "GIT_TERMINAL_PROMPT": "0"})
    if env:
        full_env.update(env)
    return subprocess.run(["git", "-C", repo, *args], input=data, capture_output=True,
                          env=full_env, timeout=GIT_TIMEOUT)


def init_repo(repo: str) -> None:
    os.makedirs(repo, exist_ok=True)
    _git(repo, "init", "-q", "-b", "main")


def commit_all(repo: str, message: str, author: str, timestamp: int | None = None) -> str | None:
    """Commits the work tree as it stands; answers the new hash, or None when nothing changed."""
    _git(repo, "add", "-A")
    if _git(repo, "diff", "--cached", "--quiet").returncode == 0 and \
            _git(repo, "rev-parse", "-q", "--verify", "HEAD").returncode == 0:
        return None
    who = author or "unknown"
    env = {"GIT_AUTHOR_NAME": who, "GIT_AUTHOR_EMAIL": f"{who}@localhost",
           "GIT_COMMITTER_NAME": who, "GIT_COMMITTER_EMAIL": f"{who}@localhost"}
    if timestamp is not None:
        env["GIT_AUTHOR_DATE"] = env["GIT_COMMITTER_DATE"] = f"@{int(timestamp)} +0000"
    r = _git(repo, "-c", "commit.gpgsign=false", "commit", "-q", "--allow-empty-message", "-F", "-", env=env,
             data=message.encode())
    if r.returncode != 0:
        raise RuntimeError(r.stderr.decode(errors="replace").strip() or "git commit failed")
    return _git(repo, "rev-parse", "HEAD").stdout.decode().strip()


class PageStore:
    def __init__(self, root: str):
        self.root = os.path.abspath(root)
        self.pages_dir = os.path.join(self.root, "pages")
        os.makedirs(self.pages_dir, exist_ok=True)
        self._lock = threading.Lock()
        self._write_locks: dict[str, threading.Lock] = {}
        self._records: dict[str, dict] = {}
        self._load()

    # ---- records -------------------------------------------------------------------------
    def _slugs_on_disk(self) -> list[str]:
        """Folders holding a meta.json: pages/<name> and pages/<owner>/<name>."""
        out = []
        for first in sorted(os.listdir(self.pages_dir)):
            folder = os.path.join(self.pages_dir, first)
            if os.path.isfile(os.path.join(folder, "meta.json")):
                out.append(first)
            elif os.path.isdir(folder):
                out += [f"{first}/{second}" for second in sorted(os.listdir(folder))
                        if os.path.isfile(os.path.join(folder, second, "meta.json"))]
        return out

    def _load(self) -> None:
        for slug in self._slugs_on_disk():
            meta = os.path.join(self.pages_dir, slug, "meta.json")
            if not names.valid_slug(slug):
                continue
            try:
                with open(meta, encoding="utf-8") as f:
                    rec = json.load(f)
            except (OSError, ValueError):
                continue
            if isinstance(rec, dict):
                rec["slug"] = slug
                self._records[slug] = rec

    def record(self, slug: str) -> dict | None:
        with self._lock:
            rec = self._records.get(slug)
            return dict(rec) if rec else None

    def owned_page(self, name: str) -> str | None:
        """The one owner/name page whose name part is `name` (None when there is none or several):
        a bare name given where a page is meant, as dependency lists and uploads give it."""
        with self._lock:
            found = [s for s in self._records if "/" in s and s.split("/", 1)[1] == name]
        return found[0] if len(found) == 1 else None

    def listing(self, page_type: str | None, limit: int, offset: int) -> tuple[list[dict], int]:
        with self._lock:
            recs = [r for _, r in sorted(self._records.items(), key=lambda kv: (kv[1].get("order", 0), kv[0]))
                    if page_type is None or r.get("type", "component") == page_type]
        page = []
        for r in recs[offset:offset + limit]:
            out = dict(_RECORD_DEFAULTS)
            out.update({k: v for k, v in r.items() if k not in ("order", "hero")})
            page.append(out)
        return page, len(recs)

    def create_page(self, slug: str, fields: dict) -> dict:
        if not names.valid_slug(slug):
            raise ValueError(f"bad slug {slug!r}")
        with self._lock:
            if slug in self._records:
                return dict(self._records[slug])
            # A one-part page and an owner folder of the same name would share pages/<name>.
            owner_folder = "/" not in slug and os.path.isdir(os.path.join(self.pages_dir, slug))
            owner_is_page = "/" in slug and slug.split("/")[0] in self._records
            if owner_folder or owner_is_page:
                raise ValueError(f"slug {slug!r} clashes with an existing page or owner")
            rec = dict(_RECORD_DEFAULTS)
            rec.update(fields)
            rec["slug"] = slug
            rec.setdefault("order", len(self._records))
            folder = os.path.join(self.pages_dir, slug)
            init_repo(os.path.join(folder, "repo"))
            self._write_record(slug, rec)
            self._records[slug] = rec
            return dict(rec)

    def _write_record(self, slug: str, rec: dict) -> None:
        path = os.path.join(self.pages_dir, slug, "meta.json")
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(rec, f, indent=1, sort_keys=True)
        os.replace(tmp, path)

    def _write_lock(self, slug: str) -> threading.Lock:
        with self._lock:
            return self._write_locks.setdefault(slug, threading.Lock())

    def repo(self, slug: str) -> str:
        return os.path.join(self.pages_dir, slug, "repo")

    # ---- files ---------------------------------------------------------------------------
    def list_files(self, slug: str) -> list[dict]:
        """Files at the newest commit in path order, plus an entry per *.3dshapes folder."""
        repo = self.repo(slug)
        out: list[dict] = []
        for dirpath, dirnames, filenames in os.walk(repo):
            dirnames[:] = sorted(d for d in dirnames if d != ".git")
            rel_dir = os.path.relpath(dirpath, repo)
            prefix = "" if rel_dir == "." else rel_dir.replace(os.sep, "/") + "/"
            for d in dirnames:
                if d.endswith(".3dshapes"):
                    out.append({"path": prefix + d, "type": "dir"})
            for fn in sorted(filenames):
                full = os.path.join(dirpath, fn)
                if os.path.islink(full):
                    continue
                out.append({"path": prefix + fn, "type": "file", "size": os.path.getsize(full)})
            if len(out) > MAX_LIST_FILES:
                break
        out.sort(key=lambda e: e["path"])
        return out

    def read_file(self, slug: str, path: str) -> bytes | None:
        clean = names.clean_file_path(path)
        if clean is None:
            return None
        repo = self.repo(slug)
        full = os.path.join(repo, clean)
        real = os.path.realpath(full)
        if not real.startswith(os.path.realpath(repo) + os.sep) or not os.path.isfile(real):
            return None
        with open(real, "rb") as f:
            return f.read()

    def read_file_at(self, slug: str, path: str, ref: str) -> bytes | None:
        clean = names.clean_file_path(path)
        if clean is None or not names.valid_ref(ref):
            return None
        r = _git(self.repo(slug), "cat-file", "blob", f"{ref}:{clean}")
        return r.stdout if r.returncode == 0 else None

    def log(self, slug: str) -> list[dict]:
        r = _git(self.repo(slug), "log", f"-n{LOG_LIMIT}", "--format=%H%x1f%an%x1f%at%x1f%B%x1e")
        if r.returncode != 0:
            return []
        entries = []
        for chunk in r.stdout.decode("utf-8", errors="replace").split("\x1e"):
            chunk = chunk.strip("\n")
            if not chunk:
                continue
            fields = chunk.split("\x1f", 3)
            if len(fields) != 4:
                continue
            h, author, ts, message = fields
            entries.append({"hash": h, "author": author, "timestamp": int(ts),
                            "message": message.strip()})
        return entries

    # ---- uploads -------------------------------------------------------------------------
    def upload(self, slug: str, files: list[tuple[str, bytes]], message: str, author: str,
               timestamp: int | None = None) -> str | None:
        """Writes the files into the page and commits them; answers the hash (None: no change)."""
        clean_files = []
        for path, data in files:
            clean = names.clean_file_path(path)
            if clean is None:
                raise ValueError(f"bad file path {path!r}")
            clean_files.append((clean, data))
        if self.record(slug) is None:
            self.create_page(slug, {"title": slug, "author_name": author})
        repo = self.repo(slug)
        with self._write_lock(slug):
            for clean, data in clean_files:
                full = os.path.join(repo, clean)
                parent = os.path.dirname(full)
                if os.path.islink(full) or (os.path.exists(parent) and not os.path.isdir(parent)):
                    raise ValueError(f"cannot write {clean!r}")
                os.makedirs(parent, exist_ok=True)
                with open(full, "wb") as f:
                    f.write(data)
            return commit_all(repo, message, author, timestamp)

    def set_fields(self, slug: str, fields: dict) -> None:
        with self._lock:
            rec = self._records.get(slug)
            if rec is None:
                return
            rec.update(fields)
            self._write_record(slug, rec)

    def hero(self, slug: str) -> str | None:
        rec = self.record(slug)
        if not rec:
            return None
        hero = rec.get("hero")
        if isinstance(hero, str) and self.read_file(slug, hero) is not None:
            return hero
        return None


def now() -> int:
    return int(time.time())
