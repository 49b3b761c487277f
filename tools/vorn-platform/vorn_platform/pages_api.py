"""The pages API under /api/v1/:

  GET  pages?type=component&limit=<n>&offset=<n>  -> {"pages": [...], "total": n}
  GET  pages/<slug>                                -> the page record
  GET  pages/<slug>/files                          -> {"files": [{"path", "type", "size"}]}
  GET  pages/<slug>/files/<path>[?ref=<commit>]    -> the file's bytes (at that commit)
  GET  pages/<slug>/log                            -> {"log": [{"hash","author","timestamp","message"}]}
  GET  pages/<slug>/hero                           -> {"url", "content_type"}
  POST pages/<slug>/commits  {"message","author","files":[{"path","content_b64"}]} -> {"hash"}
  GET  me                                          -> the identity of the key's user
"""
import base64
import binascii
import json
import mimetypes
import os
from urllib.parse import parse_qs, unquote

from . import names

MAX_LIMIT = 1000

_TYPES = {".kicad_sch": "text/plain; charset=utf-8", ".kicad_pcb": "text/plain; charset=utf-8",
          ".kicad_pro": "application/json", ".kicad_sym": "text/plain; charset=utf-8",
          ".kicad_mod": "text/plain; charset=utf-8", ".glb": "model/gltf-binary",
          ".svg": "image/svg+xml", ".json": "application/json", ".png": "image/png"}


def content_type(path: str) -> str:
    ext = os.path.splitext(path)[1].lower()
    return _TYPES.get(ext) or mimetypes.guess_type(path)[0] or "application/octet-stream"


def _int(values: list[str] | None, default: int, low: int, high: int) -> int:
    try:
        return max(low, min(high, int(values[0]))) if values else default
    except ValueError:
        return default


def handle(h, method: str, rest: str, query: str) -> None:
    store = h.platform.store
    q = parse_qs(query, keep_blank_values=True)
    parts = rest.split("/")
    if parts == ["me"] and method == "GET":
        return h.send_json(200, identity(h.platform.data_dir))
    if parts == ["pages"] and method == "GET":
        limit = _int(q.get("limit"), 50, 0, MAX_LIMIT)
        offset = _int(q.get("offset"), 0, 0, 1 << 31)
        page_type = q.get("type", [None])[0] or None
        pages, total = store.listing(page_type, limit, offset)
        return h.send_json(200, {"pages": pages, "total": total, "limit": limit, "offset": offset})
    if len(parts) < 2 or parts[0] != "pages":
        return h.send_json(404, {"error": "not found"})
    slug, sub = page_slug(store, parts[1:])
    if not names.valid_slug(slug):
        return h.send_json(404, {"error": "no such page"})
    if method == "POST" and sub == ["commits"]:
        return upload(h, slug)
    if method != "GET":
        return h.send_json(405, {"error": "method not allowed"})
    rec = store.record(slug)
    if rec is None:
        return h.send_json(404, {"error": "no such page"})
    if not sub:
        rec.pop("order", None)
        return h.send_json(200, rec)
    if sub == ["files"]:
        return h.send_json(200, {"files": store.list_files(slug)})
    if sub[0] == "files" and len(sub) > 1:
        path = unquote("/".join(sub[1:]))
        ref = q.get("ref", [""])[0]
        data = store.read_file_at(slug, path, ref) if ref else store.read_file(slug, path)
        if data is None:
            return h.send(404, b"not found", "text/plain")
        return h.send(200, data, content_type(path))
    if sub == ["log"]:
        return h.send_json(200, {"log": store.log(slug)})
    if sub == ["hero"]:
        hero = store.hero(slug)
        if hero is None:
            return h.send_json(404, {"error": "no hero"})
        return h.send_json(200, {"url": f"/api/v1/pages/{slug}/files/{hero}",
                                 "content_type": content_type(hero)})
    h.send_json(404, {"error": "not found"})


def page_slug(store, segments: list[str]) -> tuple[str, list[str]]:
    """The page a path names, and the rest of the path. A slug comes as one segment (a name, or
    "owner%2Fname" as the manager sends it) or as the two raw segments owner/name of a page that
    exists. A bare name that is no page of its own names the one owner/name page of that name."""
    first = names.decode_slug(segments[0])
    if "/" in first:
        return first, segments[1:]
    if len(segments) >= 2 and store.record(f"{first}/{segments[1]}") is not None:
        return f"{first}/{segments[1]}", segments[2:]
    if store.record(first) is None:
        owned = store.owned_page(first)
        if owned:
            return owned, segments[1:]
    return first, segments[1:]


def upload(h, slug: str) -> None:
    body = h.read_body()
    try:
        doc = json.loads(body or b"")
        files = [(f["path"], base64.b64decode(f["content_b64"], validate=True)) for f in doc["files"]]
        message = str(doc.get("message", ""))
        author = str(doc.get("author", "") or "unknown")
    except (ValueError, KeyError, TypeError, binascii.Error):
        return h.send_json(400, {"error": "body must be {message, author, files:[{path, content_b64}]}"})
    if not files:
        return h.send_json(400, {"error": "no files"})
    try:
        commit = h.platform.store.upload(slug, files, message, author)
    except (ValueError, RuntimeError, OSError) as e:
        return h.send_json(400, {"error": str(e)})
    h.send_json(200, {"status": "ok", "hash": commit, "changed": commit is not None,
                      "files": len(files)})


def identity(data_dir: str) -> dict:
    """The identity file of the data folder, or a user "demo" without organisations."""
    try:
        with open(os.path.join(data_dir, "identity.json"), encoding="utf-8") as f:
            ident = json.load(f)
        if isinstance(ident, dict):
            user = str(ident.get("user", "demo"))
            orgs = [str(o) for o in ident.get("orgs", []) if isinstance(o, str)]
            return {"data": {"user": {"username": user}, "orgs": [{"name": o} for o in orgs]}}
    except (OSError, ValueError):
        pass
    return {"data": {"user": {"username": "demo"}, "orgs": []}}
