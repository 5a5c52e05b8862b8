#!/usr/bin/env bash
# Thumbnail size, score and time per file of quillet-batch and vipsthumbnail, JPEG, WebP and
# AVIF at each tool's default quality, over one folder of photographs in one run.
# Usage: bench/formats.sh QUILLET_BATCH FOLDER
# Score: PSNR (dB, ImageMagick's compare) of each thumbnail against the same tool's reference
# of the same geometry: quillet's JPEG at quality 100 with full chroma, vips's PNG.
set -euo pipefail
batch=$1 folder=$2
command -v vipsthumbnail >/dev/null && command -v compare >/dev/null && command -v vips >/dev/null ||
  { echo "needs libvips-tools, imagemagick and bc" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for f in "$folder"/*.jpg; do ln -s "$f" "$work/in/"; done
n=$(ls "$work/in" | wc -l)
now() { date +%s.%N; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $n photographs"

mkdir "$work/qref"
"$batch" --jobs 1 -q 100 "$work/in" "$work/qref" >/dev/null
mkdir "$work/vref"
vipsthumbnail -s 640x480 --smartcrop centre -o "$work/vref/%s.png" "$work"/in/*.jpg 2>/dev/null

score() {  # mean PSNR of thumbnails in $1 (extension $2) against references in $3 (extension $4)
  local sum=0 count=0
  for t in "$1"/*."$2"; do
    local base; base=$(basename "$t" ."$2")
    vips copy "$t" "$1/$base.cmp.png" 2>/dev/null
    local p; p=$(compare -metric PSNR "$1/$base.cmp.png" "$3/$base.$4" null: 2>&1 || true)
    sum=$(echo "$sum + $p" | bc -l); count=$((count + 1))
  done
  echo "scale=2; $sum / $count" | bc -l
}

printf '| tool | format | total KB | mean KB | PSNR dB | ms per file |\n|---|---|---|---|---|---|\n'
for format in jpeg webp avif; do
  ext=$format; [ "$format" = jpeg ] && ext=jpg
  mkdir "$work/q-$format"; start=$(now); "$batch" --jobs 1 --format "$format" "$work/in" "$work/q-$format" >/dev/null; end=$(now)
  kb=$(du -cb "$work/q-$format"/*."$ext" | tail -1 | cut -f1)
  printf '| quillet-batch | %s | %d | %.1f | %s | %.0f |\n' "$format" $((kb / 1024)) "$(echo "$kb / 1024 / $n" | bc -l)" \
    "$(score "$work/q-$format" "$ext" "$work/qref" jpg)" "$(echo "($end - $start) * 1000 / $n" | bc -l)"
  mkdir "$work/v-$format"
  start=$(now)
  vipsthumbnail -s 640x480 --smartcrop centre -o "$work/v-$format/%s.$ext" "$work"/in/*.jpg 2>/dev/null
  end=$(now)
  kb=$(du -cb "$work/v-$format"/*."$ext" | tail -1 | cut -f1)
  printf '| vipsthumbnail | %s | %d | %.1f | %s | %.0f |\n' "$format" $((kb / 1024)) "$(echo "$kb / 1024 / $n" | bc -l)" \
    "$(score "$work/v-$format" "$ext" "$work/vref" png)" "$(echo "($end - $start) * 1000 / $n" | bc -l)"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
