#!/usr/bin/env python3
"""First /api/components of the real manager against tools/vorn-platform, beside its floor.

  python3 bench/platform_reads_bench.py [--build build] [--pages 1000,5000] [--latency-ms 0]

For each page count it writes a data folder of that many component pages (each with a KiCad
symbol and footprint), starts vorn-platform on a free loopback port and measures, against that
one server:
  floor      every URL the build reads (listing batches and file lists), fetched by one
             `curl --parallel --parallel-max 64` process (the manager's own limit),
             best of one run before and one after the manager's;
  one-per    the same URLs, one curl process per read on 16 threads (the way before batching);
  manager    the manager's first /api/components (fresh process), with its peak number of curl
             children and its peak resident memory.
Every run is bounded: the servers listen on 127.0.0.1 only and are stopped at the end.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def free_port() -> int:
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def make_pages(folder: str, count: int) -> None:
    pages = os.path.join(folder, "pages")
    os.makedirs(pages)
    for i in range(count):
        slug = f"bench-part-{i:05d}"
        repo = os.path.join(pages, slug, "repo")
        os.makedirs(repo)
        with open(os.path.join(pages, slug, "meta.json"), "w") as f:
            json.dump({"type": "component", "title": slug.upper(), "order": i, "tags": ["part"]}, f)
        for leaf in (f"{slug}.kicad_sym", f"{slug}.kicad_mod"):
            with open(os.path.join(repo, leaf), "w") as f:
                f.write("(kicad text)\n")
    with open(os.path.join(folder, "identity.json"), "w") as f:
        json.dump({"username": "bench", "orgs": []}, f)


def wait_http(url: str, seconds: float = 30) -> None:
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            urllib.request.urlopen(url, timeout=2).read()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError(f"{url} did not answer")


def build_urls(base: str, count: int) -> list[str]:
    urls = [f"{base}/api/v1/pages?type=component&limit=200&offset={o}" for o in range(0, min(count, 5000), 200)]
    urls += [f"{base}/api/v1/pages/bench-part-{i:05d}/files" for i in range(min(count, 5000))]
    return urls


def floor_seconds(urls: list[str], tmp: str) -> float:
    config = os.path.join(tmp, "floor.conf")
    with open(config, "w") as f:
        for i, u in enumerate(urls):
            f.write(f'url = "{u}"\noutput = "{tmp}/floor-{i}"\n')
    start = time.monotonic()
    subprocess.run(["curl", "-s", "--parallel", "--parallel-immediate", "--parallel-max", "64", "--config", config],
                   check=False)
    took = time.monotonic() - start
    for i in range(len(urls)):
        try:
            os.remove(f"{tmp}/floor-{i}")
        except OSError:
            pass
    return took


def one_per_read_seconds(urls: list[str]) -> float:
    def one(u: str) -> None:
        subprocess.run(["curl", "-s", "-f", "-o", "/dev/null", u], check=False)
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(16) as pool:
        list(pool.map(one, urls))
    return time.monotonic() - start


class Sampler:
    """Peak curl children and peak RSS of a process, sampled every 5 ms."""

    def __init__(self, pid: int):
        self.pid, self.peak_curl, self.stop_flag = pid, 0, False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self) -> None:
        while not self.stop_flag:
            n = 0
            for entry in os.listdir("/proc"):
                if not entry.isdigit():
                    continue
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        fields = f.read().rsplit(")", 1)[1].split()
                    with open(f"/proc/{entry}/comm") as f:
                        comm = f.read().strip()
                except OSError:
                    continue
                if comm == "curl" and int(fields[1]) == self.pid:
                    n += 1
            self.peak_curl = max(self.peak_curl, n)
            time.sleep(0.005)

    def stop(self) -> int:
        self.stop_flag = True
        self.thread.join()
        return self.peak_curl


def peak_rss_mb(pid: int) -> float:
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def manager_seconds(build: str, base: str) -> tuple[float, int, float, int]:
    port = free_port()
    env = dict(os.environ, VORN_PLATFORM_URL=base, VORN_EXPORT_URL=base, VORN_ORG_SITE_URL=base,
               PATH=os.path.join(build, "tools", "bin") + ":" + os.environ["PATH"])
    proc = subprocess.Popen([os.path.join(build, "src", "vorn-project-manager"), f"--port={port}"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_http(f"http://127.0.0.1:{port}/api/apply-progress")
        sampler = Sampler(proc.pid)
        start = time.monotonic()
        body = urllib.request.urlopen(f"http://127.0.0.1:{port}/api/components", timeout=600).read()
        took = time.monotonic() - start
        peak = sampler.stop()
        entries = len(json.loads(body)["components"])
        return took, peak, peak_rss_mb(proc.pid), entries
    finally:
        proc.kill()
        proc.wait()


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--pages", default="1000,5000")
    ap.add_argument("--latency-ms", type=float, default=0.0)
    ap.add_argument("--no-one-per-read", action="store_true")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    print(f"cores {os.cpu_count()}, load {os.getloadavg()[0]:.1f}, latency {args.latency_ms:g} ms")
    print(f"{'pages':>6} {'reads':>6} {'floor s':>8} {'manager s':>10} {'ratio':>6} {'one-per s':>10} "
          f"{'speed-up':>9} {'curl pk':>8} {'RSS MB':>7} {'entries':>8}")
    for count in [int(x) for x in args.pages.split(",")]:
        tmp = tempfile.mkdtemp(prefix="vorn-reads-bench-")
        data = os.path.join(tmp, "data")
        make_pages(data, count)
        port = free_port()
        platform = subprocess.Popen([os.path.join(build, "tools", "bin", "vorn-platform"), "--data", data,
                                     "--port", str(port), "--latency-ms", str(args.latency_ms)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        base = f"http://127.0.0.1:{port}"
        try:
            wait_http(base + "/health")
            urls = build_urls(base, count)
            floor = floor_seconds(urls, tmp)
            took, peak, rss, entries = manager_seconds(build, base)
            floor = min(floor, floor_seconds(urls, tmp))
            one_per = float("nan") if args.no_one_per_read else one_per_read_seconds(urls)
            print(f"{count:>6} {len(urls):>6} {floor:>8.2f} {took:>10.2f} {took / floor:>6.2f} {one_per:>10.2f} "
                  f"{one_per / took:>9.1f} {peak:>8} {rss:>7.1f} {entries:>8}", flush=True)
        finally:
            platform.kill()
            platform.wait()
            shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
