"""Validation of the names that arrive in URLs: page slugs, file paths, commit refs.

Everything a client sends is checked here before it touches the file system or a git command,
so that no request can reach outside a page's folder or pass an option to git.
"""
import re

_SLUG = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]{0,127}$")
_REF = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]{0,127}$")
_SEGMENT = re.compile(r"^[^\x00-\x1f/\\]{1,255}$")


def valid_slug(slug: str) -> bool:
    """A page slug: one name, or an owner and a name ("acme/blinky")."""
    parts = slug.split("/")
    return len(parts) <= 2 and all(bool(_SLUG.match(p)) and ".." not in p for p in parts)


def decode_slug(segment: str) -> str:
    """A slug sent as one URL segment: "%2F" (either case) stands for "/"; nothing else is decoded."""
    return segment.replace("%2F", "/").replace("%2f", "/")


def valid_ref(ref: str) -> bool:
    return bool(_REF.match(ref)) and ".." not in ref


def clean_file_path(path: str) -> str | None:
    """The normalised relative path, or None when it is absolute, climbs out, or names .git."""
    if not path or path.startswith("/") or "\\" in path:
        return None
    parts = [p for p in path.split("/") if p not in ("", ".")]
    if not parts:
        return None
    for p in parts:
        if p == ".." or p == ".git" or not _SEGMENT.match(p):
            return None
    return "/".join(parts)
