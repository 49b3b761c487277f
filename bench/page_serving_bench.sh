#!/usr/bin/env bash
# The page (/) served by the manager beside nginx serving the same bytes from disk: wrk with
# 2 threads and 64 connections for 10 s against each, on loopback, one after the other.
#   bench/page_serving_bench.sh [build-dir] [seconds]
# nginx comes from Debian (scripts/setup installs nginx-light); it runs as this user with its
# own temporary configuration and is stopped at the end.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
seconds="${2:-10}"
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
free_port() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
mport=$(free_port)
nport=$(free_port)
cp "$root/assets/index.html" "$work/index.html"
chmod 755 "$work"; chmod 644 "$work/index.html"  # nginx workers run as another user
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
daemon off;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  types { text/html html; }
  server { listen 127.0.0.1:$nport; root $work; index index.html; }
}
CONF
"$build/src/vorn-project-manager" --port=$mport >/dev/null &
mpid=$!
nginx -c "$work/nginx.conf" &
npid=$!
trap 'kill $mpid $npid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
cmp <(curl -s "http://127.0.0.1:$mport/") <(curl -s "http://127.0.0.1:$nport/") && echo "same bytes: yes"
rate() { timeout $((seconds + 20)) wrk -t2 -c64 -d"${seconds}s" "$1" | awk '/Requests\/sec/{print $2}'; }
m=$(rate "http://127.0.0.1:$mport/")
n=$(rate "http://127.0.0.1:$nport/")
echo "load $(cut -d' ' -f1 /proc/loadavg); manager $m req/s, nginx $n req/s, ratio $(python3 -c "print(round($m/$n, 2))")"
echo "manager peak RSS: $(awk '/VmHWM/{print $2" kB"}' /proc/$mpid/status)"
