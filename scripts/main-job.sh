#!/usr/bin/env bash
# The main job: builds the Linux and 32-bit Windows deliverables into dist/,
# then runs tessel on the bundled samples: lists the plug-ins, probes every
# sample, converts the KZX samples to PNG, lists one pack and extracts it.
# Output goes to a fresh directory (default: a temporary one).
# Usage: scripts/main-job.sh [OUT_DIR]
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo"

out=${1:-$(mktemp -d -t tessel-main-job.XXXXXX)}
mkdir -p "$out"

step() { echo; echo "=== $*"; }

step "dependencies"
"$repo/scripts/install-deps.sh"

step "build linux-x86_64"
build native bromvale pelko winsvc tessel
step "build win32"
build win32 bromvale pelko tessel

tessel=$distRoot/linux-x86_64/tessel

step "tessel plugins"
"$tessel" plugins

shopt -s nullglob nocaseglob
samples=("$repo"/samples/*)
images=("$repo"/samples/*.kzx)
packs=("$repo"/samples/*.pak)
shopt -u nullglob nocaseglob

if [[ ${#samples[@]} -gt 0 ]]; then
  step "tessel probe samples/*"
  "$tessel" probe "${samples[@]}"
else
  echo "main-job: samples/ is empty; nothing to probe"
fi

if [[ ${#images[@]} -gt 0 ]]; then
  step "tessel convert: ${#images[@]} KZX image(s) to PNG in $out/png"
  "$tessel" convert -o "$out/png" "${images[@]}"
  ls -l "$out/png"
else
  echo "main-job: no KZX sample yet"
fi

if [[ ${#packs[@]} -gt 0 ]]; then
  pack=${packs[0]}
  step "tessel list ${pack#"$repo"/}"
  "$tessel" list "$pack"
  step "tessel extract ${pack#"$repo"/} into $out/extract"
  "$tessel" extract -o "$out/extract" "$pack"
  ls -lR "$out/extract"
else
  echo "main-job: no pack sample yet"
fi

# The same host on Windows, against the real services: the x86-64 build
# under Wine (there is no 32-bit Wine here).
step "tessel plugins under Wine (x86-64 build)"
build win64 bromvale pelko tessel
export WINEPREFIX=$buildRoot/win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winPlugins="Z:${buildRoot//\//\\}\\win64\\plugins"
"$wine" "$buildRoot/win64/tools/tessel/tessel.exe" --plugins "$winPlugins" plugins

echo
echo "main-job: done; outputs in $out"
