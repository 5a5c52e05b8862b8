#!/usr/bin/env bash
# quillet-batch against the bare decode and the thumbnailers people use, side by side.
# Usage: bench/peers.sh FOLDER [ROUNDS]   (FOLDER: the photographs of make-photo-corpus.sh)
# Every job runs once per round, the rounds interleaved (every other round in reverse), and
# the median of the rounds is taken, so a load that comes and goes hits every job alike.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:?give the folder of photographs}
rounds=${2:-3}
need=()
command -v djpeg >/dev/null || need+=(libjpeg-turbo-progs)
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "As root, run: apt-get install -y ${need[*]}" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
. "$root/bench/build_bench.sh"
build_bench
py=/usr/bin/python3

mapfile -t files < <(find "$folder" -maxdepth 1 -type f -iname '*.jpg' | sort)
n=${#files[@]}
[ "$n" -gt 0 ] || { echo "no photographs in $folder" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for f in "${files[@]}"; do ln -s "$(realpath "$f")" "$work/in/$(basename "$f")"; done
half1=("${files[@]:0:$(( (n + 1) / 2 ))}"); half2=("${files[@]:$(( (n + 1) / 2 ))}")

cat > "$work/pillow.py" <<'PY'
import sys
from PIL import Image
out = sys.argv[1]
for path in sys.argv[2:]:
    with Image.open(path) as im:
        im.draft("RGB", (640, 480))
        im.thumbnail((640, 480))
        im.save(out + "/" + path.rsplit("/", 1)[-1], quality=80)
PY

fresh() { rm -rf "$work/out"; mkdir "$work/out"; }
# Each job: fresh output, then the command; the time is taken around the command only.
declare -A job
job[djpeg]='for f in "${files[@]}"; do djpeg -ppm -outfile /dev/null "$f"; done'
job[djpeg4]='for f in "${files[@]}"; do djpeg -scale 1/4 -ppm -outfile /dev/null "$f"; done'
job[q1]='"$qb" --jobs 1 "$work/in" "$work/out" >/dev/null'
job[qf1]='"$qb" --fast --jobs 1 "$work/in" "$work/out" >/dev/null'
job[pil1]='"$py" "$work/pillow.py" "$work/out" "${files[@]}"'
job[vips1]='VIPS_CONCURRENCY=1 vipsthumbnail -s 640x480 -o "$work/out/%s.jpg[Q=80]" "${files[@]}" 2>/dev/null'
job[vipsT]='vipsthumbnail -s 640x480 -o "$work/out/%s.jpg[Q=80]" "${files[@]}" 2>/dev/null'
job[q2]='"$qb" --jobs 2 "$work/in" "$work/out" >/dev/null'
job[qf2]='"$qb" --fast --jobs 2 "$work/in" "$work/out" >/dev/null'
job[pil2]='"$py" "$work/pillow.py" "$work/out" "${half1[@]}" & "$py" "$work/pillow.py" "$work/out" "${half2[@]}"; wait'
job[vips2]='VIPS_CONCURRENCY=1 vipsthumbnail -s 640x480 -o "$work/out/%s.jpg[Q=80]" "${half1[@]}" 2>/dev/null &
            VIPS_CONCURRENCY=1 vipsthumbnail -s 640x480 -o "$work/out/%s.jpg[Q=80]" "${half2[@]}" 2>/dev/null; wait'
# Jobs whose ratio is a target run next to each other, and every other round in reverse, so
# that the drift of this guest's speed hits both sides of a ratio alike; a ratio is the median
# of its rounds' own ratios.
job[qf11]='"$qb" --fast --jobs 1 "$work/in" "$work/out" >/dev/null & "$qb" --fast --jobs 1 "$work/in" "$work/out2" >/dev/null; wait'
order=(djpeg q1 q2 djpeg4 qf1 qf2 qf11 pil1 pil2 vips1 vipsT vips2)
declare -A times
loads=()
for ((r = 1; r <= rounds; r++)); do
  loads+=("$(cut -d' ' -f1 /proc/loadavg)")
  names=("${order[@]}")
  if (( r % 2 == 0 )); then for ((i = ${#order[@]} - 1, k = 0; i >= 0; i--, k++)); do names[k]=${order[i]}; done; fi
  for name in "${names[@]}"; do
    fresh; rm -rf "$work/out2"; mkdir "$work/out2"
    t0=$(date +%s%N); eval "${job[$name]}"; t1=$(date +%s%N)
    times[$name]+="$(( (t1 - t0) / 1000 )) "
  done
done
loads+=("$(cut -d' ' -f1 /proc/loadavg)")
median() { sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {m = NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; print m}'; }
# Median per file in ms.
ms() { tr ' ' '\n' <<<"${times[$1]}" | median | awk -v n="$n" '{printf "%.1f", $1 / 1000 / n}'; }
declare -A m
for name in "${order[@]}"; do m[$name]=$(ms "$name"); done
m[qf11]=$(awk -v t="${m[qf11]}" 'BEGIN {printf "%.1f", t / 2}')  # two runs of the folder at once
# Median over the rounds of a / b, each scaled by its factor.
ratio() {
  paste -d' ' <(tr ' ' '\n' <<<"${times[$1]}" | sed '/^$/d') <(tr ' ' '\n' <<<"${times[$2]}" | sed '/^$/d') |
    awk -v fa="${3:-1}" -v fb="${4:-1}" '{print ($1 * fa) / ($2 * fb)}' | median | awk '{printf "%.2f", $1}'
}
# The same with the lowest and highest round's ratio, for the targets.
spread() {
  local all
  all=$(paste -d' ' <(tr ' ' '\n' <<<"${times[$1]}" | sed '/^$/d') <(tr ' ' '\n' <<<"${times[$2]}" | sed '/^$/d') |
    awk -v fa="${3:-1}" -v fb="${4:-1}" '{print ($1 * fa) / ($2 * fb)}' | sort -g)
  printf '%s (%.2f-%.2f)' "$(ratio "$@")" "$(head -1 <<<"$all")" "$(tail -1 <<<"$all")"
}

# Peak memory, one run each (kB), and the largest source as RGB24.
fresh; /usr/bin/time -f %M -o "$work/rss1" "$qb" --jobs 1 "$work/in" "$work/out" >/dev/null
fresh; /usr/bin/time -f %M -o "$work/rssf" "$qb" --fast --jobs 1 "$work/in" "$work/out" >/dev/null
largest=0
for f in "${files[@]}"; do
  size=$("$py" -c 'import sys; from PIL import Image; w, h = Image.open(sys.argv[1]).size; print(w * h * 3)' "$f")
  (( size > largest )) && largest=$size
done

# What the fsync of every thumbnail costs, from strace's own timing of the calls.
fsync="(strace not installed)"
if command -v strace >/dev/null; then
  fresh; strace -f -T -e trace=fsync -o "$work/strace" "$qb" --jobs 1 "$work/in" "$work/out" >/dev/null
  fsync=$(grep -o '<[0-9.]*>' "$work/strace" | tr -d '<>' | awk -v n="$n" '{s += $1} END {printf "%.2f ms per thumbnail", s * 1000 / n}')
fi

# Quality: PSNR of each thumbnail against an area-averaged downscale of the full decode.
# fit-inside and quality 100, so neither a crop nor the encoder hides the resampling.
mkdir -p "$work/spec" "$work/fast"
"$qb" --jobs 2 --rule fit-inside -q 100 "$work/in" "$work/spec" >/dev/null
"$qb" --jobs 2 --rule fit-inside -q 100 --fast "$work/in" "$work/fast" >/dev/null
psnr=$("$py" - "$work" "${files[@]}" <<'PY'
import math, sys
from PIL import Image, ImageChops
work = sys.argv[1]
def psnr(a, b):
    h = ImageChops.difference(a, b).histogram()
    se = sum(((i % 256) ** 2) * c for i, c in enumerate(h))
    mse = se / (a.size[0] * a.size[1] * 3)
    return 99.0 if mse == 0 else 10 * math.log10(255 ** 2 / mse)
worse, rows = 0, []
for path in sys.argv[2:]:
    name = path.rsplit("/", 1)[-1]
    full = Image.open(path).convert("RGB")
    values = []
    for mode in ("spec", "fast"):
        thumb = Image.open(f"{work}/{mode}/{name}").convert("RGB")
        values.append(psnr(thumb, full.resize(thumb.size, Image.BOX)))
    worse += values[1] < values[0]
    rows.append(values)
s = sum(r[0] for r in rows) / len(rows); f = sum(r[1] for r in rows) / len(rows)
lo = min(r[1] - r[0] for r in rows)
print(f"{s:.2f} {f:.2f} {lo:+.2f} {worse}")
PY
)
read -r psnr_spec psnr_fast psnr_min worse <<<"$psnr"

printf 'files: %d in %s; load average over the rounds: %s; median of %d rounds; a ratio is the median of its rounds\n' "$n" "$folder" "${loads[*]}" "$rounds"
printf '\n%-44s %9s %9s\n' "job (one process, or two)" "ms/file" "ratio"
row() { printf '%-44s %9s %9s\n' "$1" "$2" "$3"; }
row "djpeg full-size decode" "${m[djpeg]}" ""
row "djpeg -scale 1/4" "${m[djpeg4]}" ""
row "quillet-batch --jobs 1 (default)" "${m[q1]}" "$(spread q1 djpeg) x djpeg (target <= 1.10)"
row "quillet-batch --fast --jobs 1" "${m[qf1]}" "$(spread qf1 djpeg4) x djpeg 1/4 (target <= 1.15)"
row "Pillow draft thumbnail, 1 process" "${m[pil1]}" "$(ratio pil1 qf1) x fast"
row "vipsthumbnail, 1 thread" "${m[vips1]}" "$(ratio vips1 qf1) x fast"
row "vipsthumbnail, its threads" "${m[vipsT]}" "$(ratio vipsT qf1) x fast"
row "quillet-batch --jobs 2 (default)" "${m[q2]}" "$(spread q1 q2) x jobs 1 (target >= 1.85)"
row "quillet-batch --fast --jobs 2" "${m[qf2]}" "$(spread qf1 qf2) x jobs 1 (target >= 1.85)"
row "two --fast --jobs 1 processes at once" "${m[qf11]}" "$(spread qf1 qf11 2 1) x jobs 1 (the scaling this machine allows)"
row "Pillow draft thumbnail, 2 processes" "${m[pil2]}" "$(ratio pil2 qf2) x fast jobs 2"
row "vipsthumbnail, 2 processes of 1 thread" "${m[vips2]}" "$(ratio vips2 qf2) x fast jobs 2"
printf '\npeak memory --jobs 1: default %.1f MB (limit %.1f MB), fast %.1f MB (limit 48 MB)\n' \
  "$(awk -v k="$(cat "$work/rss1")" 'BEGIN {print k / 1024}')" "$(awk -v b="$largest" 'BEGIN {print b / 1048576 + 32}')" \
  "$(awk -v k="$(cat "$work/rssf")" 'BEGIN {print k / 1024}')"
printf 'PSNR against the area-averaged full decode (mean dB): default %s, fast %s; fast minus default at worst %s dB; photographs where fast is worse: %s\n' \
  "$psnr_spec" "$psnr_fast" "$psnr_min" "$worse"
printf 'fsync: %s\n' "$fsync"
