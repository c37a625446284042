#!/usr/bin/env bash
# Makes samples/ again from the shared pictures that may be shipped: small KZX
# pictures of both encodings, and a pack of each catalogue layout holding some
# of them. Uses tessel of a native build (default build/native, built here if
# missing) and checks every sample through the plug-ins afterwards.
# Usage: scripts/make-samples.sh [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo"

dir=${1:-$buildRoot/native}
if [[ ! -x $dir/tools/tessel/tessel ]]; then
  [[ $dir == "$buildRoot/native" ]] || { echo "make-samples: no tessel in $dir" >&2; exit 1; }
  build native bromvale pelko winsvc tessel
fi
tessel() { "$dir/tools/tessel/tessel" --plugins "$dir/plugins" "$@"; }

corpus=$repo/../shared/corpus
out=$repo/samples
mkdir -p "$out"
rm -f "$out"/*.kzx "$out"/*.PAK

# name, source picture, encoding, and what is done to it on the way. Names
# fit 8.3 so that the packs can hold the files under the same names.
# Photographs are made smaller and reduced to 256 colours with half-strength
# dithering, which keeps them small.
while read -r name source encoding options; do
  # shellcheck disable=SC2086  # options are separate words
  tessel encode "$corpus/$source" "$out/$name" --encoding "$encoding" $options
done <<'EOF'
checker.kzx small/checker_bilevel.png bitstream
foo3x5.kzx small/foo3x5x4indexed.png chunked
palette.kzx small/palette_color.png chunked
astro.kzx photo/astronaut.png bitstream --shrink 2 --dither 0.5
coffee.kzx photo/coffee.png chunked --shrink 3 --dither 0.5
chelsea.kzx photo/chelsea.png bitstream --shrink 2 --dither 0.5
hubble.kzx photo/hubble_deep_field.png chunked --crop 256x256+400+300 --dither 0.5
rocket.kzx photo/rocket.png bitstream --shrink 3 --dither 0.5
EOF

(
  cd "$out"
  tessel pack SAMPLES1.PAK checker.kzx foo3x5.kzx palette.kzx chelsea.kzx --layout 1
  tessel pack SAMPLES2.PAK checker.kzx palette.kzx coffee.kzx rocket.kzx --layout 2
)

tessel probe "$out"/*.kzx "$out"/*.PAK
tessel info "$out"/*.kzx
tessel list "$out/SAMPLES1.PAK"
tessel list "$out/SAMPLES2.PAK"
du -cb "$out"/*.kzx "$out"/*.PAK | tail -n 1
