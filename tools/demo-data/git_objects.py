"""Writes git repositories directly (loose objects, one branch), so that the demo data's
hundreds of page histories are built in-process instead of with several `git` runs per page.
The result is an ordinary repository: `git log`, `git cat-file` and later `git add`/`commit`
by vorn-platform work on it as on any other (the index is rebuilt by the first `git add`)."""
import hashlib
import os
import zlib


class Repo:
    def __init__(self, path: str):
        self.path = path
        self.git = os.path.join(path, ".git")
        for d in ("objects", "refs/heads", "refs/tags"):
            os.makedirs(os.path.join(self.git, d), exist_ok=True)
        with open(os.path.join(self.git, "HEAD"), "w") as f:
            f.write("ref: refs/heads/main\n")
        with open(os.path.join(self.git, "config"), "w") as f:
            f.write("[core]\n\trepositoryformatversion = 0\n\tfilemode = true\n\tbare = false\n")
        self.files: dict[str, bytes] = {}
        self.head: str | None = None

    def _object(self, kind: str, data: bytes) -> str:
        raw = f"{kind} {len(data)}".encode() + b"\0" + data
        sha = hashlib.sha1(raw).hexdigest()
        path = os.path.join(self.git, "objects", sha[:2], sha[2:])
        if not os.path.exists(path):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(zlib.compress(raw, 1))
        return sha

    def _tree(self, entries: dict) -> str:
        def key(name):  # git orders a folder as if its name ended with "/"
            return name + "/" if isinstance(entries[name], dict) else name
        out = b""
        for name in sorted(entries, key=key):
            value = entries[name]
            if isinstance(value, dict):
                out += b"40000 " + name.encode() + b"\0" + bytes.fromhex(self._tree(value))
            else:
                out += b"100644 " + name.encode() + b"\0" + bytes.fromhex(value)
        return self._object("tree", out)

    def commit(self, files: list[tuple[str, bytes]], message: str, author: str, when: int) -> str:
        for path, data in files:
            self.files[path] = data
            full = os.path.join(self.path, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
        nested: dict = {}
        for path, data in self.files.items():
            node = nested
            *dirs, leaf = path.split("/")
            for d in dirs:
                node = node.setdefault(d, {})
            node[leaf] = self._object("blob", data)
        tree = self._tree(nested)
        who = f"{author} <{author}@localhost> {when} +0000"
        body = f"tree {tree}\n" + (f"parent {self.head}\n" if self.head else "") + \
            f"author {who}\ncommitter {who}\n\n{message}\n"
        self.head = self._object("commit", body.encode())
        with open(os.path.join(self.git, "refs", "heads", "main"), "w") as f:
            f.write(self.head + "\n")
        return self.head
