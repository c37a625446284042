#!/usr/bin/env bash
# Runs every test program of the x86-64 Windows build under Wine, each in
# the build's own Wine prefix, and fails if any fails. Build first:
#   source scripts/common.sh && build win64
# Usage: scripts/test-wine.sh [BUILD_DIR]   (default build/win64)
set -euo pipefail
source "$(dirname "$0")/common.sh"

dir=${1:-$buildRoot/win64}
if [[ ! -f $dir/CTestTestfile.cmake ]]; then
  echo "test-wine: $dir is not a configured build (build win64 first)" >&2
  exit 1
fi

# The environment the tests get from ctest (cmake/mingw-x86_64.cmake).
export WINEPREFIX=$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Make the prefix once, before any test: tests starting together on a fresh
# prefix would each try to make it.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "test-wine: creating the Wine prefix $WINEPREFIX"
  start=$(now)
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "${wine%/*}/wineserver" -w
  [[ -f $WINEPREFIX/system.reg ]] || { echo "test-wine: could not create $WINEPREFIX" >&2; exit 1; }
  echo "test-wine: prefix ready in $(($(now) - start)) s"
fi

ctest --test-dir "$dir" -j "$jobs" --no-tests=error --timeout 600 --output-on-failure
