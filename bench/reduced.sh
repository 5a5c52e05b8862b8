#!/usr/bin/env bash
# The reduced road side by side with vipsthumbnail (one thread), in one run: time and peak
# memory per format, huge pictures, the grating, PSNR against an area-averaged reference, and
# the JPEG default against djpeg -scale 1/4.
# Usage: bench/reduced.sh FOLDER   (FOLDER: the photographs of ../shared/bench/make-photo-corpus.sh)
#        QB=path/to/quillet-batch bench/reduced.sh FOLDER   (a binary already built)
#        ONLY="formats huge streamed grating psnr jpeg" (any of them) runs those parts alone
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:?give the folder of photographs}
need=()
command -v djpeg >/dev/null || need+=(libjpeg-turbo-progs)
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
command -v compare >/dev/null || need+=(imagemagick)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "As root, run: apt-get install -y ${need[*]}" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
qb=${QB:-}
if [ -z "$qb" ]; then
  . "$root/bench/build_bench.sh"
  build_bench
fi
im=/usr/bin/convert

mapfile -t photos < <(find "$folder" -maxdepth 1 -type f -iname '*.jpg' | sort)
[ ${#photos[@]} -gt 0 ] || { echo "no photographs in $folder" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
want() { [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $1 "* ]]; }

# "seconds peak-MB" of a command
measure() { /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>&1 || true; awk '{printf "%.2f %.0f", $1, $2/1024}' "$work/t"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
quillet() { mkdir -p "$work/q"; rm -f "$work/q"/*; measure "$qb" -a --jobs "${J:-1}" ${EXTRA:-} "$1" "$work/q"; }
vipsrun() { mkdir -p "$work/v"; rm -f "$work/v"/*; VIPS_CONCURRENCY=1 measure vipsthumbnail -s 640x480 -o "$work/v/%s.jpg[Q=80]" "$@"; }

# Mean PSNR of the thumbnails in $1 against box-filtered references of their own size, made
# from the sources of the same name in $2 with extension $3 (references kept for the next tool).
psnr() {
  local dir=$1 sources=$2 ext=$3 total=0 count=0 v t src size ref
  for t in "$dir"/*.jpg; do
    src="$sources/$(basename "$t" .jpg).$ext"
    size=$(vipsheader -f width "$t")x$(vipsheader -f height "$t")
    ref="$work/ref-$(basename "$t" .jpg)-$ext-$size.png"
    [ -f "$ref" ] || $im "$src" -filter box -resize "$size!" "$ref"
    v=$(compare -metric PSNR "$t" "$ref" null: 2>&1 | awk '{print $1}')
    total=$(awk -v a="$total" -v b="$v" 'BEGIN { print a + b }'); count=$((count + 1))
  done
  awk -v a="$total" -v n="$count" 'BEGIN { printf "%.1f", a / n }'
}

if want formats; then
echo "== Time, peak memory and PSNR (dB, against an area-averaged reference) per format: quillet-batch -a -j 1 vs vipsthumbnail (VIPS_CONCURRENCY=1)"
printf '%-6s %8s %8s %8s %8s %7s %7s %7s %7s\n' format q_s q_MB v_s v_MB time_x mem_x q_dB v_dB
eight=("${photos[@]:0:8}")
for fmt in jpg png tif webp heic avif; do
  mkdir -p "$work/$fmt"
  for f in "${eight[@]}"; do
    b=$(basename "$f" .jpg)
    case $fmt in
      jpg) ln -sf "$(realpath "$f")" "$work/jpg/$b.jpg" ;;
      png) vips resize "$f" "$work/png/$b.png" 0.5 ;;  # half size, as the issue measured
      tif) vips copy "$f" "$work/tif/$b.tif[compression=deflate]" ;;
      webp) vips copy "$f" "$work/webp/$b.webp[Q=90]" ;;
      heic) vips copy "$f" "$work/heic/$b.heic[Q=90]" 2>/dev/null || true ;;
      avif) vips copy "$f" "$work/avif/$b.avif[Q=60,compression=av1,effort=0]" 2>/dev/null || true ;;
    esac
  done
  ls "$work/$fmt"/* >/dev/null 2>&1 || { echo "$fmt: no encoder here"; continue; }
  read -r qs qm <<<"$(quillet "$work/$fmt")"
  read -r vs vm <<<"$(vipsrun "$work/$fmt"/*)"
  qdb=$(psnr "$work/q" "$work/$fmt" "$fmt"); vdb=$(psnr "$work/v" "$work/$fmt" "$fmt")
  printf '%-6s %8s %8s %8s %8s %7s %7s %7s %7s\n' "$fmt" "$qs" "$qm" "$vs" "$vm" "$(ratio "$qs" "$vs")" \
    "$(ratio "$qm" "$vm")" "$qdb" "$vdb"
done

fi
if want huge; then
echo "== Huge pictures (target: quillet peak <= 64 MB)"
mkdir -p "$work/huge"
vips black "$work/h.v" 30000 30000 --bands 3 && vips linear "$work/h.v" "$work/huge/png30000.png" "1 1 1" "200 100 50" --uchar
vips black "$work/h.v" 40000 40000 --bands 3 && vips linear "$work/h.v" "$work/huge/tif40000.tif[compression=deflate]" "1 1 1" "50 100 200" --uchar
vips black "$work/h.v" 1 60000 --bands 3 && vips linear "$work/h.v" "$work/huge/png1x60000.png" "1 1 1" "90 90 90" --uchar
rm -f "$work/h.v"
printf '%-14s %8s %8s %8s %8s\n' file q_s q_MB v_s v_MB
for f in "$work/huge"/*; do
  mkdir -p "$work/one"; rm -f "$work/one"/*; ln -s "$f" "$work/one/"
  read -r qs qm <<<"$(quillet "$work/one")"
  read -r vs vm <<<"$(vipsrun "$f")"
  printf '%-14s %8s %8s %8s %8s\n' "$(basename "$f")" "$qs" "$qm" "$vs" "$vm"
done
rm -rf "$work/huge" "$work/one"

fi
if want streamed; then
echo "== Streamed while read: interlaced PNG, PackBits PSD (RGB and CMYK), RLE8 BMP (target: quillet peak <= 64 MB)"
mkdir -p "$work/streamed"
vips black "$work/h.v" 12000 12000 --bands 3 && vips linear "$work/h.v" "$work/streamed/png12000i.png[interlace]" "1 1 1" "90 90 90" --uchar
rm -f "$work/h.v"
python3 - "$work/streamed" <<'PY'
import struct, sys
side = 20000
runs = lambda n, v: b"".join(bytes([1 - min(128, n - x) & 255, v]) for x in range(0, n, 128))
with open(sys.argv[1] + "/psd20000.psd", "wb") as f:  # one colour, PackBits planes
    row = [runs(side, v) for v in (30, 160, 90)]
    f.write(b"8BPS" + struct.pack(">H6xHIIHHIIIH", 1, 3, side, side, 8, 3, 0, 0, 0, 1))
    f.write(b"".join(struct.pack(">H", len(r)) * side for r in row))
    for r in row:
        f.write(r * side)
with open(sys.argv[1] + "/psd20000cmyk.psd", "wb") as f:  # one colour in inverted inks, PackBits planes
    row = [runs(side, v) for v in (255, 128, 200, 200)]
    f.write(b"8BPS" + struct.pack(">H6xHIIHHIIIH", 1, 4, side, side, 8, 4, 0, 0, 0, 1))
    f.write(b"".join(struct.pack(">H", len(r)) * side for r in row))
    for r in row:
        f.write(r * side)
line = b"".join(bytes([min(255, side - x), 1]) for x in range(0, side, 255)) + b"\0\0"
data = len(line) * side + 2
with open(sys.argv[1] + "/bmp20000rle.bmp", "wb") as f:  # one colour, RLE8 runs of 255
    f.write(b"BM" + struct.pack("<IHHI", 62 + data, 0, 0, 62))
    f.write(struct.pack("<IiiHHIIiiII", 40, side, side, 1, 8, 1, data, 0, 0, 2, 0) + bytes([0, 0, 0, 0, 90, 160, 30, 0]))
    f.write(line * side + b"\0\1")
PY
printf '%-18s %8s %8s %8s %8s\n' file q_s q_MB v_s v_MB
for f in "$work/streamed"/*; do
  mkdir -p "$work/one"; rm -f "$work/one"/*; ln -s "$f" "$work/one/"
  read -r qs qm <<<"$(quillet "$work/one")"
  vs=- vm=-  # vipsthumbnail reads neither PSD nor BMP here
  [[ $f == *.png ]] && read -r vs vm <<<"$(vipsrun "$f")"
  printf '%-18s %8s %8s %8s %8s\n' "$(basename "$f")" "$qs" "$qm" "$vs" "$vm"
done
rm -rf "$work/streamed" "$work/one"

fi
if want grating; then
echo "== Grating 4000 x 3000, 1-pixel lines every 3 pixels, to 640 x 480 (target: grey std dev <= 5)"
python3 - "$work/grating.pgm" <<'PY'
import sys
row = bytes(0 if x % 3 == 0 else 255 for x in range(4000))
with open(sys.argv[1], "wb") as f:
    f.write(b"P5 4000 3000 255\n" + row * 3000)
PY
mkdir -p "$work/g"; vips copy "$work/grating.pgm" "$work/g/grating.png"
deviation() { vips colourspace "$1" "$work/grey.v" b-w && vips deviate "$work/grey.v"; }
for mode in "" "--method bicubic" "--exact" "--exact --method bicubic"; do
  EXTRA=$mode quillet "$work/g" >/dev/null
  printf 'quillet %-26s %s\n' "${mode:-default}" "$(deviation "$work/q/grating.jpg")"
done
vipsrun "$work/g/grating.png" >/dev/null
printf 'vipsthumbnail %-20s %s\n' "" "$(deviation "$work/v/grating.jpg")"

fi
mkdir -p "$work/p"; for f in "${photos[@]}"; do ln -sf "$(realpath "$f")" "$work/p/"; done
if want psnr; then
echo "== PSNR against an area-averaged reference, ${#photos[@]} photographs (target: default >= vipsthumbnail)"
for mode in "" "--exact"; do
  EXTRA=$mode quillet "$work/p" >/dev/null
  printf 'quillet %-10s %s dB\n' "${mode:-default}" "$(psnr "$work/q" "$work/p" jpg)"
done
vipsrun "$work/p"/*.jpg >/dev/null
printf 'vipsthumbnail      %s dB\n' "$(psnr "$work/v" "$work/p" jpg)"

fi
if want jpeg; then
echo "== JPEG default vs djpeg -scale 1/4, best of 5 runs each, taken in turn (targets: <= 1.15 x; two jobs >= 1.85 x one)"
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
d4= q1= q2=
for round in 1 2 3 4 5; do
  read -r t _ <<<"$(measure bash -c 'for f in "$@"; do djpeg -scale 1/4 -ppm -outfile /dev/null "$f"; done' _ "${photos[@]}")"
  d4=$(best "$d4" "$t")
  read -r t _ <<<"$(quillet "$work/p")"; q1=$(best "$q1" "$t")
  read -r t _ <<<"$(J=2 quillet "$work/p")"; q2=$(best "$q2" "$t")
done
echo "djpeg 1/4 $d4 s, quillet one job $q1 s ($(ratio "$q1" "$d4") x), two jobs $q2 s (speed-up $(ratio "$q1" "$q2") x)"
fi
