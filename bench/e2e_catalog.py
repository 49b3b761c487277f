#!/usr/bin/env python3
"""Benchmark: /api/components over the full demo catalog — the first build (paged listing plus
one file listing per page for the EDA kinds, through curl) and cached requests afterwards.

  python3 bench/e2e_catalog.py [--manager build/src/vorn-project-manager] [--tools build/tools/bin]
                               [--data demo-data/platform] [--cached 50]

Starts vorn-platform and the manager on free loopback ports; prints one line per figure."""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import tempfile
import time
import urllib.request

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait(url: str) -> None:
    for _ in range(300):
        try:
            urllib.request.urlopen(url, timeout=5).read()
            return
        except OSError:
            time.sleep(0.1)
    raise SystemExit(f"{url} did not answer")


def timed_get(url: str) -> tuple[float, int]:
    t0 = time.perf_counter()
    with urllib.request.urlopen(url, timeout=600) as r:
        n = len(r.read())
    return time.perf_counter() - t0, n


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--manager", default=os.path.join(ROOT, "build", "src", "vorn-project-manager"))
    ap.add_argument("--tools", default=os.path.join(ROOT, "build", "tools", "bin"))
    ap.add_argument("--data", default=os.path.join(ROOT, "demo-data", "platform"))
    ap.add_argument("--cached", type=int, default=50)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="vorn-bench-")
    env = dict(os.environ, PATH=args.tools + os.pathsep + os.environ["PATH"], HOME=work,
               VORN_API_KEY_FILE="/nonexistent")
    procs = []
    try:
        pport, mport = free_port(), free_port()
        base = f"http://127.0.0.1:{pport}"
        procs.append(subprocess.Popen(["vorn-platform", "--data", args.data, "--port", str(pport)], env=env,
                                      stdout=subprocess.DEVNULL))
        wait(base + "/health")
        env.update(VORN_PLATFORM_URL=base, VORN_EXPORT_URL=base, VORN_ORG_SITE_URL=base)
        procs.append(subprocess.Popen([args.manager, f"--port={mport}"], env=env, stdout=subprocess.DEVNULL))
        wait(f"http://127.0.0.1:{mport}/")
        url = f"http://127.0.0.1:{mport}/api/components"
        first, size = timed_get(url)
        cached = [timed_get(url)[0] for _ in range(args.cached)]
        refresh, _ = timed_get(url + "?refresh=1")
        pages = urllib.request.urlopen(base + "/api/v1/pages?type=component&limit=1&offset=0").read()
        print(f"catalog pages: {__import__('json').loads(pages)['total']}, answer {size} bytes")
        print(f"first build:   {first * 1000:.0f} ms")
        print(f"cached:        median {statistics.median(cached) * 1000:.2f} ms, "
              f"max {max(cached) * 1000:.2f} ms over {len(cached)} requests")
        print(f"refresh=1:     {refresh * 1000:.0f} ms (listing again, EDA kinds from memory)")
    finally:
        for p in procs:
            p.terminate()
            p.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
