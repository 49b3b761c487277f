"""Component details for the viewers: finds the platform page of a part number (by its
recorded "mpn", its slug or title, or a slug that starts with the part number) and answers
one JSON object about it. Reads the platform's page listing (VORN_PLATFORM_URL, key from
VORN_API_KEY or the key file)."""
import json
import os
import re
import urllib.request

DEFAULT_URL = "http://127.0.0.1:8786"
TIMEOUT = 10
BATCH = 500
MAX_BATCHES = 20


def _get(path: str):
    base = (os.environ.get("VORN_PLATFORM_URL") or DEFAULT_URL).rstrip("/")
    req = urllib.request.Request(base + path)
    key = None
    try:
        with open(os.environ.get("VORN_API_KEY_FILE") or "/var/run/vorn/api-key", encoding="utf-8") as f:
            key = f.read().strip() or None
    except OSError:
        pass
    key = key or os.environ.get("VORN_API_KEY")
    if key:
        req.add_header("Authorization", f"Bearer {key}")
    with urllib.request.urlopen(req, timeout=TIMEOUT) as r:
        return json.loads(r.read())


def _norm(text: str) -> str:
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")


def find_page(pages: list[dict], mpn: str, lcsc: str) -> dict | None:
    want, code = _norm(mpn), lcsc.strip().lower()
    if code:
        for p in pages:
            if str(p.get("lcsc", "")).lower() == code:
                return p
    if not want:
        return None
    for p in pages:
        if _norm(str(p.get("mpn", ""))) == want or p.get("slug") == want or _norm(str(p.get("title", ""))) == want:
            return p
    for p in pages:
        if str(p.get("slug", "")).startswith(want + "-"):
            return p
    return None


def enrich(mpn: str, lcsc: str) -> dict:
    pages: list[dict] = []
    for i in range(MAX_BATCHES):
        batch = _get(f"/api/v1/pages?type=component&limit={BATCH}&offset={i * BATCH}")
        got = batch.get("pages", []) if isinstance(batch, dict) else []
        pages += [p for p in got if isinstance(p, dict)]
        if len(got) < BATCH:
            break
    page = find_page(pages, mpn, lcsc)
    out = {"mpn": mpn, "lcsc": lcsc, "found": page is not None}
    if page:
        slug = page["slug"]
        files = [f.get("path", "") for f in _get(f"/api/v1/pages/{slug}/files").get("files", [])]
        kind = "part document" if any(f.endswith(".vorn-lbr.json") for f in files) else \
            "kicad pair" if any(f.endswith(".kicad_sym") for f in files) else "page"
        out.update({"slug": slug, "title": page.get("title", ""), "brief": page.get("brief", ""),
                    "owner": page.get("author_name", ""), "org": page.get("org_name", ""),
                    "visibility": page.get("visibility", ""), "kind": kind, "files": files})
    return out
