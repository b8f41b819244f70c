#!/usr/bin/env bash
# The Windows window, KTRWebServer.exe, under Wine beside the Qt window that
# bench/ktr_bench measures in the same run (scripts/bench): the size of the
# executable as built and stripped, the time from its start to the window
# shown and to the first answer of its pages, and its peak RSS. Median of
# RUNS starts after one warm-up start (Wine's server and desktop already up,
# as Windows is on a PC). Wine on a virtual X display (Xvfb), no window
# manager: each Windows window is an X window. Prints Markdown table rows.
#
#   bench/windows_window_bench.sh [CROSS_BUILD_DIR] [RUNS]   (build-win, 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cross=${1:-$top/build-win}
runs=${2:-5}
exe=$cross/app/KTRWebServer.exe
[ -f "$exe" ] || { echo "no $exe (cmake --preset mingw && cmake --build build-win --target KTRWebServer)" >&2; exit 1; }

work=$(mktemp -d /tmp/ktr-window-bench-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "${wineserver:-/usr/lib/wine/wineserver}" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# The prefix and one wineserver for the run, started with the display.
. "$top/scripts/wine-env" >/dev/null
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# The pages: port 80, or the first free port from 8080 when 80 is taken.
answers() {
  local port
  for port in 80 8080 8081 8082 8083; do
    curl -s -o /dev/null --max-time 0.2 "http://127.0.0.1:$port/logout.cgi" && return 0
  done
  return 1
}
if answers; then
  echo "| window under Wine | skipped: a server already answers on port 80 or 8080-8083 | | | |"
  exit 0
fi

# One start: "SHOWN_MS ANSWER_MS RSS_KB".
start_once() {
  local t0 shown="" answered="" pid rss
  t0=$(now_ms)
  WINEDEBUG=-all setarch "$(uname -m)" -R "$wine" "$exe" >/dev/null 2>&1 </dev/null &
  pid=$!
  while [ -z "$shown" ] || [ -z "$answered" ]; do
    if [ -z "$shown" ] && xdotool search --onlyvisible --name '^Configurator KTR via Modbus RTU$' >/dev/null 2>&1; then
      shown=$(($(now_ms) - t0))
    fi
    if [ -z "$answered" ] && answers; then answered=$(($(now_ms) - t0)); fi
    [ $(($(now_ms) - t0)) -lt 30000 ] || break
    sleep 0.005
  done
  sleep 0.5  # settled: the port list filled, the log written
  rss=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
  # Ended by its PID; its port is free again for the next start.
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  while answers; do sleep 0.05; done
  echo "${shown:-0} ${answered:-0} ${rss:-0}"
}

start_once >/dev/null  # warm-up: Wine's desktop and services
: >"$work/runs"
for _ in $(seq "$runs"); do start_once >>"$work/runs"; done
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
shown=$(awk '{print $1}' "$work/runs" | median)
answered=$(awk '{print $2}' "$work/runs" | median)
rss=$(awk '{print $3}' "$work/runs" | median)

x86_64-w64-mingw32-strip -o "$work/stripped.exe" "$exe"
mb() { awk -v b="$1" 'BEGIN {printf "%.1f MB", b / 1048576}'; }
echo "| KTRWebServer.exe size (as built, with debug information) | $(mb "$(stat -c %s "$exe")") | - | - | - |"
echo "| KTRWebServer.exe size (stripped, as shipped) | $(mb "$(stat -c %s "$work/stripped.exe")") | - | - | - |"
echo "| window under Wine: start to window shown (median of $runs) | $shown ms | - | - | - |"
echo "| window under Wine: start to first HTTP answer (median of $runs) | $answered ms | - | - | - |"
echo "| window under Wine: peak RSS | $(awk -v k="$rss" 'BEGIN {printf "%.0f MB", k / 1024}') | - | - | - |"
