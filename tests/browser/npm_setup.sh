#!/usr/bin/env bash
# Installs playwright-core from package-lock.json into WORK_DIR with
# `npm ci`, once per change of the lock file, so the source tree stays
# clean. playwright-core downloads no browser; the tests and tools drive
# Debian's chromium.
#
#   npm_setup.sh WORK_DIR     (then NODE_PATH=WORK_DIR/node_modules)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: npm_setup.sh WORK_DIR}

for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "npm_setup.sh: $tool is not installed (scripts/bootstrap installs it)" >&2; exit 1; }
done
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || { echo "npm_setup.sh: no chromium at $chromium (scripts/bootstrap installs it)" >&2; exit 1; }

mkdir -p "$work"
if ! cmp -s "$here/package-lock.json" "$work/installed.lock" || [ ! -d "$work/node_modules/playwright-core" ]; then
  rm -f "$work/installed.lock"
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  (cd "$work" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
  cp "$here/package-lock.json" "$work/installed.lock"
fi
