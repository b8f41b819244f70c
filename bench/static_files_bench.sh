#!/usr/bin/env bash
# Static files: requests per second with 5 connections and no keep-alive
# (wrk), `ktr-cli serve` against nginx serving the same folder, in one run.
#   bench/static_files_bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-5}
for tool in wrk nginx; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ktr-static-bench-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The folder served: the bundled pages when built, plus a 20 KiB file.
mkdir -p "$work/www"
if [ -d "$top/Web" ]; then cp -r "$top/Web/." "$work/www/"; fi
[ -f "$work/www/index.html" ] || printf '<!doctype html><title>KTR</title><p>KTR</p>\n' >"$work/www/index.html"
head -c 20480 /dev/urandom | base64 >"$work/www/big.css"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

"$build/sim/ktr-sim" --pty "$work/tty" >"$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done

ours=$(free_port)
"$build/cli/ktr-cli" serve --port "$work/tty" --address 1 --listen "127.0.0.1:$ours" --web "$work/www" \
  >"$work/serve.out" 2>"$work/serve.err" &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening' "$work/serve.out" 2>/dev/null && break; sleep 0.05; done

theirs=$(free_port)
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
daemon off;
events { worker_connections 64; }
http {
  access_log off;
  keepalive_timeout 0;
  default_type text/html;
  client_body_temp_path $work/nginx-body;
  server { listen 127.0.0.1:$theirs; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
sleep 0.5

run() {  # run NAME PORT PATH
  local rps
  rps=$(wrk -t1 -c5 -d"${seconds}s" -H 'Connection: close' "http://127.0.0.1:$2$3" | awk '/Requests\/sec/ {print $2}')
  printf '%-28s %-12s %12s\n' "$1" "$3" "$rps" >&2
  echo "$rps"
}
echo "static files, wrk -t1 -c5 -d${seconds}s, Connection: close" >&2
printf '%-28s %-12s %12s\n' server path requests/s >&2
a=$(run "ktr-cli serve" "$ours" /index.html)
b=$(run "nginx (1 worker)" "$theirs" /index.html)
c=$(run "ktr-cli serve" "$ours" /big.css)
d=$(run "nginx (1 worker)" "$theirs" /big.css)
awk -v a="$a" -v b="$b" -v c="$c" -v d="$d" \
  'BEGIN { printf "ratio ours/nginx: index.html %.2f, big.css %.2f\n", a/b, c/d }' >&2
