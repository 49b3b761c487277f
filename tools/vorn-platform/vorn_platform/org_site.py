"""The organisation site: `/orgs/<org>` answers a JSON record with an `avatar_url` that points
back at this service's `/orgs/<org>/avatar.png`, a generated PNG."""
import json
import os

from . import names, png


class OrgSite:
    def __init__(self, data_dir: str):
        self._orgs: dict[str, dict] = {}
        path = os.path.join(data_dir, "orgs.json")
        try:
            with open(path, encoding="utf-8") as f:
                loaded = json.load(f)
            if isinstance(loaded, dict):
                self._orgs = {k: v for k, v in loaded.items() if isinstance(v, dict)}
        except (OSError, ValueError):
            pass

    def known(self, org: str) -> bool:
        return names.valid_slug(org) and (not self._orgs or org in self._orgs)

    def record(self, org: str, base_url: str) -> dict | None:
        if not self.known(org):
            return None
        rec = {"login": org, "name": org, "description": ""}
        rec.update(self._orgs.get(org, {}))
        rec["avatar_url"] = f"{base_url}/orgs/{org}/avatar.png"
        return rec

    def avatar(self, org: str) -> bytes | None:
        return png.pattern_png(org) if self.known(org) else None

    @staticmethod
    def to_json(rec: dict) -> bytes:
        return json.dumps(rec, sort_keys=True).encode()
