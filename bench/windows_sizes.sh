#!/usr/bin/env bash
# What a technician downloads for Windows: the size of the window
# KTRWebServer.exe as shipped (stripped, in the zip) beside ktr-cli.exe, which
# holds the same core without a window; of the MSI beside the zip of the same
# files; of the zip beside the files it holds. Makes the packages of the
# cross-build folder first (scripts/package: only what changed is rebuilt).
# Prints Markdown table rows.
#   bench/windows_sizes.sh [CROSS_BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cross=${1:-$top/build-win}

bash "$top/scripts/package" --zip "$cross" --msi "$cross" >&2
zip=$(ls "$cross"/packages/ktr-configurator-*-windows-x64.zip)
msi=$(ls "$cross"/packages/ktr-configurator-*-windows-x64.msi)

# Sizes in bytes: each program in the zip, and all its files together.
read -r window cli files <<<"$(python3 - "$zip" <<'PY'
import sys, zipfile
sizes = {i.filename.rsplit('/', 1)[-1]: i.file_size for i in zipfile.ZipFile(sys.argv[1]).infolist()}
total = sum(i.file_size for i in zipfile.ZipFile(sys.argv[1]).infolist())
print(sizes['KTRWebServer.exe'], sizes['ktr-cli.exe'], total)
PY
)"
zip_size=$(stat -c %s "$zip")
msi_size=$(stat -c %s "$msi")
# Markdown rows: | metric | ours | peer | ratio | goal |
awk -v w="$window" -v c="$cli" -v f="$files" -v z="$zip_size" -v m="$msi_size" 'BEGIN {
  k = 1024
  printf "| KTRWebServer.exe (stripped) vs ktr-cli.exe, size | %.0f KiB | %.0f KiB | %.2f | <= 8 MiB |\n", w / k, c / k, w / c
  printf "| Windows MSI vs the zip of the same files, size | %.0f KiB | %.0f KiB | %.2f | <= 1.2x |\n", m / k, z / k, m / z
  printf "| Windows zip vs the files it holds, size | %.0f KiB | %.0f KiB | %.2f | - |\n", z / k, f / k, z / f }'
