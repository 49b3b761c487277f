#!/usr/bin/env bash
# HTTP throughput of the manager on a not-found request: wrk with 64 connections for 10 s on
# loopback, with the server's resident memory idle and right after the load.
#   bench/http_bench.sh [build-dir]
set -euo pipefail
build="${1:-build}"
port=$((20000 + RANDOM % 20000))
"$build/src/vorn-project-manager" --port=$port >/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT
sleep 0.5
rss() { awk '/VmRSS/{print $2" kB"}' /proc/$pid/status; }
hwm() { awk '/VmHWM/{print $2" kB"}' /proc/$pid/status; }
echo "idle RSS: $(rss)"
wrk -t2 -c64 -d10s --latency "http://127.0.0.1:$port/nothing" | grep -E 'Requests/sec|99%|Latency|requests in'
echo "RSS after load: $(rss), peak: $(hwm)"
