#!/usr/bin/env bash
# Runs the browser tests of the web pages with node's own test runner.
#
#   run.sh WORK_DIR [TEST_FILE...]
#
# WORK_DIR is a folder of the build tree that receives playwright-core
# (npm_setup.sh). Needs KTR_SIM, KTR_CLI and WEB_ROOT in the environment
# (CMake sets them for ctest).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: run.sh WORK_DIR [TEST_FILE...]}
shift

bash "$here/npm_setup.sh" "$work"
export NODE_PATH="$work/node_modules"
if [ $# -eq 0 ]; then
  set -- "$here"/tests/*.test.js
fi
exec node --test "$@"
