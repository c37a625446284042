#!/usr/bin/env bash
# Builds the native Release tree with the benchmarks and runs each with its
# normal settings. Benchmarks print their own figures and ratios.
# Usage: scripts/bench.sh [BENCH_NAME...]   (default: every benchmark)
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo"

"$repo/scripts/install-deps.sh"
names=("$@")
[[ ${#names[@]} -gt 0 ]] || names=(bromvale_bench pelko_bench)

configure native
status=0
for name in "${names[@]}"; do
  if [[ ! -f $repo/bench/$name.cpp ]]; then
    echo "bench: bench/$name.cpp does not exist yet; skipped"
    continue
  fi
  cmake --build "$buildRoot/native" -j "$jobs" --target "$name"
  echo
  echo "=== $name"
  "$buildRoot/native/bench/$name" || { echo "bench: $name failed (exit $?)"; status=1; }
done
exit $status
