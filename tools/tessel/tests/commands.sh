#!/usr/bin/env bash
# tessel's commands as a user runs them: exit codes, what they print and the
# files they leave, on the samples and on packs made here.
# Usage: commands.sh TESSEL PLUGIN_DIR SAMPLES_DIR CORPUS_DIR
set -uo pipefail
tessel=$1 plugins=$2 samples=$3
work=$(mktemp -d -t tessel-commands.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect CODE WHAT ARGS...: runs tessel, keeping stdout and stderr in out and err.
expect() {
  local code=$1 what=$2
  shift 2
  "$tessel" --plugins "$plugins" "$@" >out 2>err
  local got=$?
  [[ $got -eq $code ]] || fail "$what: exit $got, expected $code; stderr: $(head -c 500 err)"
  # Every failure is told in one line per problem, never in a stack of them.
  if [[ $code -ne 0 ]] && ! grep -q '^tessel: ' err; then fail "$what: no error line"; fi
}
out_has() { grep -qF -- "$2" out || fail "$1: stdout lacks '$2': $(head -c 500 out)"; }
err_has() { grep -qF -- "$2" err || fail "$1: stderr lacks '$2': $(head -c 500 err)"; }
same_file() { cmp -s "$2" "$3" || fail "$1: $2 and $3 differ"; }

shopt -s nullglob
pictures=("$samples"/*.kzx)
packs=("$samples"/*.PAK)
shopt -u nullglob
if [[ ${#pictures[@]} -lt 2 || ${#packs[@]} -lt 2 ]]; then
  echo "FAIL: no samples in $samples" >&2
  exit 1
fi
# A picture that both encodings hold (index 255 unused), 10 pixels wide so
# that its bitmap rows need padding.
picture=$samples/palette.kzx
# One that uses all 256 indices.
full=$samples/astro.kzx

# --- plug-ins and recognition
expect 0 "plugins" plugins
for text in libbromvale.so libpelko.so "Bromvale - Tessel extract library ver0.01" \
  "KZX to DIB filter ver0.01" 00AM 00IN "*.PAK" "*.kzx"; do
  out_has "plugins" "$text"
done
mkdir empty
expect 1 "no plug-ins" --plugins empty plugins
err_has "no plug-ins" "no plug-ins in empty"
expect 1 "missing plug-in directory" --plugins missing plugins
err_has "missing plug-in directory" "cannot read the plug-in directory"

expect 1 "probe with an unreadable file" \
  probe "${pictures[@]}" "${packs[@]}" "$samples/README.md" nothing.kzx
for f in "${pictures[@]}"; do out_has "probe" "$f: libpelko.so (KZX)"; done
for f in "${packs[@]}"; do out_has "probe" "$f: libbromvale.so (PAK)"; done
out_has "probe" "$samples/README.md: not recognised"
err_has "probe" "nothing.kzx: cannot open"
expect 0 "probe" probe "$samples/README.md"

# --- pictures
expect 0 "info" info "$picture"
size='s/.*: \([0-9]*\) x \([0-9]*\) pixels, 8 bits per pixel (libpelko.so)$/\1 \2/p'
read -r width height < <(sed -n "$size" out)
[[ -n ${width:-} ]] || fail "info: no size in $(cat out)"
expect 1 "info of a pack" info "${packs[0]}"
err_has "info of a pack" "not a picture that any image plug-in recognises"

expect 0 "convert to PNG" convert "$picture" one.png
expect 0 "convert to BMP" convert "$picture" one.BMP
# A BMP file is the file header and the plug-in's two blocks: the header and
# 256 colours, then rows padded to 4 bytes.
stride=$(((width + 3) / 4 * 4))
[[ $(wc -c <one.BMP) -eq $((14 + 40 + 1024 + stride * height)) ]] ||
  fail "convert to BMP: $(wc -c <one.BMP) bytes"
expect 0 "PNG and BMP agree" compare one.png one.BMP
out_has "PNG and BMP agree" "same indices and colours"

expect 0 "convert several" convert -o all --jobs 2 "${pictures[@]}"
for f in "${pictures[@]}"; do
  stem=$(basename "$f" .kzx)
  [[ -s all/$stem.png ]] || fail "convert several: no all/$stem.png"
done
expect 0 "convert several to BMP" convert -o bmps --format bmp "${pictures[0]}"
[[ -s bmps/$(basename "${pictures[0]}" .kzx).bmp ]] || fail "convert several to BMP: no output"
mkdir -p twin
cp "$picture" twin/
expect 1 "convert two inputs to one name" convert -o clash "$picture" "twin/$(basename "$picture")"
err_has "convert two inputs to one name" "would both become"
expect 1 "convert to an unknown format" convert "$picture" one.txt
err_has "convert to an unknown format" "cannot tell the output format"
expect 2 "convert with a bad format" convert --format gif "$picture" one.gif

# A picture cut short: the plug-in's verdict reaches the user, no output is left.
head -c "$(($(wc -c <"$picture") / 2))" "$picture" >short.kzx
expect 1 "convert a cut picture" convert short.kzx short.png
err_has "convert a cut picture" "short.kzx: libpelko.so GetPicture answered Result"
[[ ! -e short.png ]] || fail "convert a cut picture: short.png was written"
ls ./*.tmp >/dev/null 2>&1 && fail "convert a cut picture: temporary files left"

# --- encoding, from PNG and from BMP, in both encodings
for encoding in bitstream chunked auto; do
  expect 0 "encode $encoding" encode one.png "again-$encoding.kzx" --encoding $encoding
  [[ $encoding == auto ]] || out_has "encode $encoding" "${encoding/bitstream/bit-stream} encoding"
  expect 0 "convert $encoding" convert "again-$encoding.kzx" "again-$encoding.png"
  expect 0 "encode $encoding keeps the picture" compare --colours-only one.png "again-$encoding.png"
done
expect 0 "convert a picture of 256 colours" convert "$full" full.png
expect 1 "encode 256 colours chunked" encode full.png full.kzx --encoding chunked
err_has "encode 256 colours chunked" "full.png: cannot encode: chunked: "
expect 0 "encode 256 colours" encode full.png full.kzx
out_has "encode 256 colours" "bit-stream encoding"
expect 0 "encode from BMP" encode one.BMP from-bmp.kzx --encoding bitstream
expect 0 "convert from BMP" convert from-bmp.kzx from-bmp.png
expect 0 "encode from BMP keeps the picture" compare one.png from-bmp.png
expect 0 "encode a cropped part" encode one.png part.kzx --crop 2x1+1+0
out_has "encode a cropped part" "part.kzx: 2 x 1 pixels"
expect 1 "encode a crop outside" encode one.png part.kzx --crop "2x1+$width+0"
err_has "encode a crop outside" "does not lie inside"
expect 2 "encode a malformed crop" encode one.png part.kzx --crop 2x1
expect 1 "encode a non-picture" encode "$samples/README.md" x.kzx
err_has "encode a non-picture" "not a PNG or BMP file"
[[ ! -e x.kzx ]] || fail "encode a non-picture: x.kzx was written"

# --- packs of both layouts, made here from known files
printf 'first entry\n' >ONE.TXT
head -c 3000 /dev/urandom >TWO.BIN  # more than two 1024-byte copy steps
printf 'third\n' >three.dat
for layout in 1 2; do
  expect 0 "pack layout $layout" pack "mine$layout.pak" ONE.TXT TWO.BIN three.dat --layout $layout
  expect 0 "probe pack layout $layout" probe "mine$layout.pak"
  out_has "probe pack layout $layout" "libbromvale.so (PAK)"
  expect 0 "list layout $layout" list "mine$layout.pak"
  out_has "list layout $layout" "NAME"
  out_has "list layout $layout" "QUIRNE$layout"
  [[ $(sed -n '2,$p' out | awk '{print $1}' | tr '\n' ' ') == "ONE.TXT TWO.BIN three.dat " ]] ||
    fail "list layout $layout: $(cat out)"
  grep -q '^TWO.BIN  *3000  ' out || fail "list layout $layout: size of TWO.BIN: $(cat out)"
  expect 0 "list layout $layout as JSON" list --json "mine$layout.pak"
  out_has "list layout $layout as JSON" "{\"name\": \"TWO.BIN\", \"size\": 3000, \"position\": "
  [[ $(grep -c '^{.*}$' out) -eq 3 ]] || fail "list layout $layout as JSON: $(cat out)"

  # Into a directory three levels below one that exists: the plug-in makes them.
  expect 0 "extract layout $layout" extract "mine$layout.pak" -o "x$layout/a/b"
  for name in ONE.TXT TWO.BIN three.dat; do
    same_file "extract layout $layout" "$name" "x$layout/a/b/$name"
  done
  expect 0 "cat layout $layout" cat "mine$layout.pak" TWO.BIN
  same_file "cat layout $layout" TWO.BIN out
done
expect 0 "default layout is 2" pack mine.pak ONE.TXT TWO.BIN three.dat
same_file "default layout is 2" mine.pak mine2.pak

expect 0 "extract by name" extract mine2.pak two.bin -i -o named
same_file "extract by name" TWO.BIN named/TWO.BIN
[[ $(ls named) == TWO.BIN ]] || fail "extract by name: $(ls named)"
expect 1 "extract a missing name" extract mine2.pak two.bin NONE.TXT -o missing
err_has "extract a missing name" "no entry named two.bin"
err_has "extract a missing name" "no entry named NONE.TXT"
expect 1 "cat a missing name" cat mine2.pak NONE.TXT
err_has "cat a missing name" "no entry named NONE.TXT"
expect 0 "cat ignoring case" cat mine1.pak one.txt --ignore-case
same_file "cat ignoring case" ONE.TXT out

cp TWO.BIN toolongname.bin
expect 1 "pack a name beyond 8.3" pack bad.pak ONE.TXT toolongname.bin
err_has "pack a name beyond 8.3" "toolongname.bin"
[[ ! -e bad.pak ]] || fail "pack a name beyond 8.3: bad.pak was written"
expect 1 "list a non-pack" list "$picture"
err_has "list a non-pack" "not a pack that any archive plug-in recognises"

for f in "${packs[@]}"; do
  expect 0 "list $(basename "$f")" list "$f"
  expect 0 "extract $(basename "$f")" extract "$f" -o "samples-$(basename "$f")"
  while read -r name _; do
    same_file "extract $(basename "$f")" "$samples/$name" "samples-$(basename "$f")/$name"
  done < <("$tessel" --plugins "$plugins" list "$f" | sed -n '2,$p')
done

# --- a crafted layout-2 pack whose entry name climbs out of the directory.
# The plug-in must refuse it; tessel names the entry and the plug-in's verdict.
craft() {
  {
    printf '\x00\x40\x02\x00'                  # marker, 2 records (1 entry + closing)
    printf '\x00\x00\x00\x00\x34\x00\x00\x00' # data of entry 0 at 52 = 24 * 2 + 4
    printf '\x00\x00\x00\x00\x44\x00\x00\x00'
    printf '%-11s\x00\x10\x00\x00\x00' "$1"   # name field, 16 bytes of data
    printf '%-11s\x00\x00\x00\x00\x00' ""
    printf 'EVIL DATA 123456'
  } >"$2"
}
for name in '..\EVIL' '../EVIL'; do
  rm -rf crafted
  mkdir -p crafted/inner
  craft "$name" crafted.pak
  expect 1 "extract $name" extract crafted.pak -o crafted/inner
  err_has "extract $name" "entry $name: libbromvale.so GetFile answered ResultWriteError (9)"
  escaped=$(find "$work" -name '*EVIL*' ! -name crafted.pak)
  [[ -z $escaped ]] || fail "extract $name wrote $escaped"
done

if [[ $failures -ne 0 ]]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all commands behave"
