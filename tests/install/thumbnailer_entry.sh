#!/usr/bin/env bash
# Runs quillet-thumbnailer exactly as a file manager runs the thumbnailer entry: its Exec line
# split into words, %s %i %o replaced, and checks the PNG it writes.
set -euo pipefail
build=$1 source=$2
entry=$source/deploy/linux/quillet.thumbnailer
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/a folder"
# A 300 x 200 grey TGA, uncompressed, rows from the top: a type no desktop thumbnailer reads.
input="$work/a folder/grey picture.tga"
printf '\0\0\2\0\0\0\0\0\0\0\0\0\x2c\x01\xc8\0\x18\x20' >"$input"
head -c $((300 * 200 * 3)) /dev/zero | tr '\0' '\200' >>"$input"
grep -q '^MimeType=.*image/x-tga;' "$entry"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
run() {  # run SIZE INPUT OUTPUT as the entry says
  local words=() word
  read -r -a words <<<"$exec_line"
  for word in "${words[@]}"; do
    case $word in
      %s) argv+=("$1") ;; %i) argv+=("$2") ;; %o) argv+=("$3") ;; *) argv+=("$word") ;;
    esac
  done
  argv[0]=$build/cli/${argv[0]}
  "${argv[@]}"
}
png_size() {  # width x height from the IHDR chunk
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "$1 is no PNG" >&2; exit 1; }
  local h; h=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
  echo "$((16#${h:0:8}))x$((16#${h:8:8}))"
}
argv=(); run 128 "$input" "$work/out.png"
[ "$(png_size "$work/out.png")" = 128x85 ] || { echo "thumbnail is $(png_size "$work/out.png")" >&2; exit 1; }
# A picture smaller than the size keeps its own.
argv=(); run 512 "$input" "$work/big.png"
[ "$(png_size "$work/big.png")" = 300x200 ] || { echo "enlarged to $(png_size "$work/big.png")" >&2; exit 1; }
# Not a picture: an error, and no file a file manager would take for a thumbnail.
echo "just text" >"$work/notes.tga"
argv=()
if run 128 "$work/notes.tga" "$work/none.png" 2>"$work/err"; then echo "text made a thumbnail" >&2; exit 1; fi
[ ! -e "$work/none.png" ] || { echo "a failed run left its output" >&2; exit 1; }
grep -q 'not a picture' "$work/err" || { cat "$work/err" >&2; exit 1; }
echo "the thumbnailer entry makes a 128x85 PNG of a TGA and refuses text"
