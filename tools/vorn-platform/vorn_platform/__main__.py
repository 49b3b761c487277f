"""Command line: python3 -m vorn_platform --data <folder> [--port 8786] [--api-key-file <file>]
[--latency-ms <ms>]."""
import argparse
import os
import signal
import sys

from .export_service import ExportService
from .server import Platform, make_server


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(prog="vorn-platform",
                                 description="local pages platform, organisation site and KiCad export service")
    ap.add_argument("--data", required=True, help="data folder (pages/, orgs.json, identity.json)")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=8786)
    ap.add_argument("--api-key-file", help="require this bearer key on the pages API")
    ap.add_argument("--kicad-cli", default=os.environ.get("VORN_KICAD_CLI", "kicad-cli"))
    ap.add_argument("--export-timeout", type=float,
                    default=float(os.environ.get("VORN_EXPORT_TIMEOUT", "140")))
    ap.add_argument("--latency-ms", type=float, default=0.0,
                    help="add this fixed delay to every answer (a platform across the internet)")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)

    key = os.environ.get("VORN_PLATFORM_KEY") or None
    if args.api_key_file:
        with open(args.api_key_file, encoding="utf-8") as f:
            key = f.read().strip() or None
    platform = Platform(args.data, key, ExportService(args.kicad_cli, args.export_timeout))
    try:
        srv = make_server(args.host, args.port, platform, args.verbose, args.latency_ms)
    except (OSError, ValueError) as e:
        print(f"vorn-platform: cannot listen on {args.host}:{args.port}: {e}", file=sys.stderr)
        return 1
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    host, port = srv.server_address[:2]
    print(f"vorn-platform listening on http://{host}:{port} "
          f"({platform.store.listing(None, 0, 0)[1]} pages)",
          flush=True)
    try:
        srv.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        srv.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
