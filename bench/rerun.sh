#!/usr/bin/env bash
# A rerun with nothing to do: 20 folders of 1,000 photographs named IMG_1.jpg to IMG_1000.jpg,
# thumbnails made once with --skip-existing, then made again. The rerun reads every
# thumbnail's provenance record and must stay under 1 s; it is printed beside the time a bare
# listing of both trees takes, measured in the same run, and, when a second program is given
# (an earlier build, whose rerun compares times only), beside that program's rerun.
# Usage: bench/rerun.sh [QUILLET_BATCH [BASELINE_BATCH]]   (default: a Release build in build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
batch=${1:-}
baseline=${2:-}
if [ -z "$batch" ]; then
  . "$root/bench/build_bench.sh"
  build_bench
  batch=$qb
fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# One tiny JPEG, made by quillet-batch from an 8 x 8 BMP and copied 20,000 times: the rerun's
# cost is per file, not per pixel.
mkdir "$work/seed" "$work/tiny"
python3 - "$work/seed/tiny.bmp" <<'PY'
import struct, sys
w = h = 8
pixels = b"".join(bytes([x * 30 % 256, 90, (200 - x * 20) % 256]) for x in range(w)) * h
with open(sys.argv[1], "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0))
    f.write(pixels)
PY
"$batch" --quiet --all-types --size 8 "$work/seed" "$work/tiny"
python3 - "$work/tiny/tiny.jpg" "$work/in" <<'PY'
import os, sys
jpeg = open(sys.argv[1], "rb").read()
for folder in range(1, 21):
    path = os.path.join(sys.argv[2], "%02d" % folder)
    os.makedirs(path)
    for n in range(1, 1001):
        with open(os.path.join(path, "IMG_%d.jpg" % n), "wb") as f:
            f.write(jpeg)
PY
mkdir "$work/out" "$work/base"
now() { date +%s.%N; }
"$batch" --quiet --subdirs --skip-existing --size 64 "$work/in" "$work/out" || true
[ -z "$baseline" ] || "$baseline" --quiet --subdirs --skip-existing --size 64 "$work/in" "$work/base" || true
made=$(find "$work/out" -type f | wc -l)
best() { sort -n | head -1; }
reruns=(); listings=(); bases=(); cpus=(); basecpus=()
for round in 1 2 3; do
  if [ -n "$baseline" ]; then
    t0=$(now); /usr/bin/time -f '%U %S' -o "$work/cpu" "$baseline" --quiet --subdirs --skip-existing --size 64 "$work/in" "$work/base" || true; t1=$(now)
    bases+=("$(echo "$t1 - $t0" | bc)")
    basecpus+=("$(awk '{ print $1 + $2 }' "$work/cpu")")
  fi
  t0=$(now); /usr/bin/time -f '%U %S' -o "$work/cpu" "$batch" --quiet --subdirs --skip-existing --size 64 "$work/in" "$work/out"; t1=$(now)
  reruns+=("$(echo "$t1 - $t0" | bc)")
  cpus+=("$(awk '{ print $1 + $2 }' "$work/cpu")")
  t0=$(now); find "$work/in" "$work/out" -type f -printf '%s %T@\n' >/dev/null; t1=$(now)
  listings+=("$(echo "$t1 - $t0" | bc)")
done
rerun=$(printf '%s\n' "${reruns[@]}" | best)
listing=$(printf '%s\n' "${listings[@]}" | best)
printf 'sources: 20000, thumbnails made: %d\n' "$made"
printf 'rerun with nothing to do: %.3f s (target < 1 s)\n' "$rerun"
# Processor time is what a busy machine changes least: user and system, all threads.
printf 'its processor time: %.3f s\n' "$(printf '%s\n' "${cpus[@]}" | best)"
if [ -n "$baseline" ]; then
  base=$(printf '%s\n' "${bases[@]}" | best)
  printf 'baseline rerun (%s): %.3f s (rerun %.2f x baseline)\n' "$baseline" "$base" "$(echo "$rerun / $base" | bc -l)"
  printf 'its processor time: %.3f s\n' "$(printf '%s\n' "${basecpus[@]}" | best)"
fi
printf 'bare listing of both trees: %.3f s (rerun %.1f x listing)\n' "$listing" "$(echo "$rerun / $listing" | bc -l)"
