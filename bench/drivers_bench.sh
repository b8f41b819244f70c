#!/usr/bin/env bash
# The real-driver stage (scripts/test-drivers) measured: its wall time
# against the 3 minutes it may take in CI, QEMU's peak memory and the guest's
# boot; then, in a second boot, the master's request rate through the 16550
# (8250 driver) and through the FT232 (ftdi_sio) against the same program on
# a pseudo-terminal in the same guest. Prints rows of the benchmark table.
#
#   bench/drivers_bench.sh BUILD_DIR     (with ktr-cli, ktr-sim, ktr_driver_rate)
#
# The guest is emulated (TCG), so every figure here is the emulator's: the
# ports pass bytes at once, whatever the baud rate. The rates compare the
# drivers' path with a pty's under the same emulation; line timing is
# measured on the simulated wire (ktr_bench --line).
set -euo pipefail
build=$(realpath "$1")
cd "$(dirname "$0")/.."
out=$(mktemp)
trap 'rm -f "$out"' EXIT

row() { printf '| %s | %s | %s | %s | %s |\n' "$@"; }

start=$(date +%s.%N)
if ! scripts/test-drivers --build "$build" >"$out" 2>&1; then
  cat "$out" >&2
  echo "drivers_bench: the real-driver stage failed" >&2
  exit 1
fi
wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
summary=$(grep '^test-drivers: .* s in all' "$out")
boot=$(sed -n 's/.* boot \([0-9.]*\) s.*/\1/p' <<<"$summary")
rss=$(sed -n 's/.*QEMU peak RSS \([0-9]*\) MB.*/\1/p' <<<"$summary")
uptime=$(sed -n 's/^test-drivers: guest uptime at the first case \([0-9.]*\) s/\1/p' "$out")
ratio=$(awk -v w="$wall" 'BEGIN { printf "%.2f", w / 180 }')
row "real-driver stage (scripts/test-drivers, one guest boot), wall time vs CI budget" "$wall s" "180 s" \
  "$ratio" "<= 1.0x"
row "real-driver stage, QEMU peak memory (RSS)" "$rss MB" "-" "-" "-"
row "real-driver stage, QEMU start to the guest's first case" "$boot s" "-" "-" "-"
row "real-driver stage, guest kernel boot (its uptime at the first case)" "$uptime s" "-" "-" "-"

if ! scripts/test-drivers --build "$build" --rates >"$out" 2>&1; then
  cat "$out" >&2
  echo "drivers_bench: the rate run failed" >&2
  exit 1
fi
rate() { sed -n "s|^rate $1 \\([0-9.]*\\) requests/s.*|\\1|p" "$out"; }
pty=$(rate /tmp/ktr0)
for port in ttyS1 ttyUSB0; do
  r=$(rate "$port")
  name="16550 (8250 driver)"
  [ "$port" = ttyUSB0 ] && name="FT232 (ftdi_sio)"
  row "1-register reads/s back to back at 19200 8E1 in the guest, $name vs a pty" "$r /s" "$pty /s" \
    "$(awk -v a="$r" -v b="$pty" 'BEGIN { printf "%.2f", a / b }')" "-"
done
