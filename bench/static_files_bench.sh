#!/usr/bin/env bash
# Static files: requests per second and p99 latency with 5 connections and
# no keep-alive (wrk), `ktr-cli serve` against nginx serving the same folder,
# in one run. Prints Markdown table rows.
#   bench/static_files_bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-5}
for tool in wrk nginx; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ktr-static-bench-XXXXXX)
chmod 755 "$work"  # nginx workers run as another user and must read the folder
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

run() {  # run PORT PATH -> "REQUESTS_PER_S P99_MS"
  wrk -t1 -c5 -d"${seconds}s" --latency -H 'Connection: close' "http://127.0.0.1:$1$2" | awk '
    /Requests\/sec/ { rps = $2 }
    $1 == "99%" { v = $2; if (v ~ /us$/) { sub(/us$/, "", v); v /= 1000 } else if (v ~ /ms$/) { sub(/ms$/, "", v) } else if (v ~ /s$/) { sub(/s$/, "", v); v *= 1000 }; p99 = v }
    END { print rps, p99 }'
}
# Markdown rows: | metric | ours | peer | ratio | goal |
for path in /index.html /big.css; do
  read -r a ap <<<"$(run "$ours" "$path")"
  read -r b bp <<<"$(run "$theirs" "$path")"
  awk -v p="$path" -v a="$a" -v b="$b" -v ap="$ap" -v bp="$bp" 'BEGIN {
    printf "| static %s, wrk -c5 no keep-alive, requests/s vs nginx (1 worker) | %.0f | %.0f | %.2f | >= 0.7x |\n", p, a, b, a / b
    printf "| static %s, wrk -c5 no keep-alive, p99 vs nginx | %.2f ms | %.2f ms | %.2f | - |\n", p, ap, bp, ap / bp }'
done
