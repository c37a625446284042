#!/usr/bin/env bash
# All tests, from scratch: installs what is missing, builds the five trees
# (native with tests, tools and benchmarks; the 32-bit Windows product; the
# x86-64 Windows tests; AddressSanitizer + UndefinedBehaviorSanitizer;
# libFuzzer), then runs the native tests, the DLL check, the tests under
# Wine, the sanitized tests and short fuzz runs. Ends with the line
#   tests: N passed, M failed
# and exits nonzero if anything failed. A build that fails counts as one
# failed test, and its tests are skipped.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo"

passed=0
failed=0
failures=()
timings=()

# stage NAME COMMAND...: runs a step, prints its time and records a failure.
stage() {
  local name=$1
  shift
  echo
  echo "=== $name"
  local start status
  start=$(now)
  "$@"
  status=$?
  local seconds=$(($(now) - start))
  timings+=("$(printf '%-28s %5d s%s' "$name" "$seconds" "$([[ $status -eq 0 ]] || echo '  FAILED')")")
  echo "=== $name: ${seconds} s$([[ $status -eq 0 ]] || echo ", FAILED (exit $status)")"
  return $status
}

# A build that fails is one failed test, so that it shows in the count.
build_stage() {
  stage "build $1" build "$1" && return 0
  failed=$((failed + 1))
  failures+=("build $1")
  return 1
}

# logged FILE COMMAND...: runs the command, its output shown and kept.
logged() {
  local log=$1
  shift
  "$@" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

# tests NAME COMMAND...: runs a ctest-driven suite and adds its counts, read
# from ctest's summary line.
tests() {
  local name=$1
  shift
  local log status line
  log=$(mktemp)
  stage "$name" logged "$log" "$@"
  status=$?
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    local bad=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [[ $bad -eq 0 && $status -eq 0 ]] && return 0
    [[ $bad -eq 0 ]] && failed=$((failed + 1))
  else
    # No summary: the suite did not run at all.
    failed=$((failed + 1))
  fi
  failures+=("$name")
  return 1
}

# Short, reproducible fuzz runs from each target's seed corpus, on a copy:
# libFuzzer adds what it finds to its corpus directory.
fuzz_runs() {
  local name exe seeds scratch status=0
  for name in bromvale_fuzz pelko_fuzz; do
    exe=$buildRoot/fuzz/fuzz/$name
    if [[ ! -x $exe ]]; then
      echo "fuzz: $name is not built yet; skipped"
      continue
    fi
    # Seeds of bromvale_fuzz live in fuzz/seeds/bromvale.
    seeds=$repo/fuzz/seeds/${name%_fuzz}
    [[ -d $seeds ]] || seeds=$repo/fuzz/seeds/$name
    scratch=$(mktemp -d)
    if [[ -d $seeds ]]; then
      cp -R "$seeds/." "$scratch/"
    else
      echo "fuzz: no seed corpus fuzz/seeds/${name%_fuzz}; starting empty"
    fi
    mkdir -p "$buildRoot/fuzz/artifacts"
    echo "fuzz: $name, $(find "$scratch" -type f | wc -l) seeds, log in build/fuzz/$name.log"
    if "$exe" -runs=50000 -seed=1 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$buildRoot/fuzz/artifacts/$name-" "$scratch" >"$buildRoot/fuzz/$name.log" 2>&1; then
      tail -n 12 "$buildRoot/fuzz/$name.log"
      passed=$((passed + 1))
    else
      tail -n 80 "$buildRoot/fuzz/$name.log"
      failed=$((failed + 1))
      failures+=("fuzz $name (inputs in build/fuzz/artifacts)")
      status=1
    fi
    rm -rf "$scratch"
  done
  return $status
}

totalStart=$(now)

if ! stage "install dependencies" "$repo/scripts/install-deps.sh"; then
  echo "tests: 0 passed, 1 failed"
  exit 1
fi

rm -rf "$buildRoot/native" "$buildRoot/win32" "$buildRoot/win64" "$buildRoot/asan" \
  "$buildRoot/fuzz" "$distRoot"

ctestArgs=(-j "$jobs" --no-tests=error --timeout 600 --output-on-failure)

if build_stage native; then
  tests "native tests" ctest --test-dir "$buildRoot/native" "${ctestArgs[@]}"
fi
if build_stage win32; then
  tests "DLL check" ctest --test-dir "$buildRoot/win32" "${ctestArgs[@]}"
fi
if build_stage win64; then
  tests "Wine tests" "$repo/scripts/test-wine.sh" "$buildRoot/win64"
fi
if build_stage asan; then
  # Leaks count as failures too; UBSan reports with a stack.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
    tests "sanitizer tests" ctest --test-dir "$buildRoot/asan" "${ctestArgs[@]}"
fi
if build_stage fuzz; then
  stage "fuzz runs" fuzz_runs
fi

echo
echo "=== timings"
printf '%s\n' "${timings[@]}"
printf '%-28s %5d s\n' "total" "$(($(now) - totalStart))"
echo
echo "=== deliverables"
find "$distRoot" -type f 2>/dev/null | sort | sed "s|^$repo/||"
if [[ ${#failures[@]} -gt 0 ]]; then
  echo
  echo "=== failed: ${failures[*]}"
fi
echo
echo "tests: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
