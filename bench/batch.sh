#!/usr/bin/env bash
# Time and memory of quillet-batch against a bare full-size decode with djpeg.
# Usage: bench/batch.sh [FOLDER]   (default: the sample photographs, made if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
need=()
command -v djpeg >/dev/null || need+=(libjpeg-turbo-progs)
[ -x /usr/bin/time ] || need+=(time)
command -v bc >/dev/null || need+=(bc)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "As root, run: apt-get install -y ${need[*]}" >&2; exit 1; }
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
. "$root/bench/build_bench.sh"
build_bench quillet-make-samples
folder=${1:-$root/samples/photos}
if [ $# -eq 0 ] && [ ! -f "$folder/valley.jpg" ]; then
  "$build/samples/quillet-make-samples" "$folder" >/dev/null
fi
mapfile -t files < <(find "$folder" -maxdepth 1 -type f -iname '*.jpg' -size +100k | sort)
[ ${#files[@]} -gt 0 ] || { echo "no photographs in $folder" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for f in "${files[@]}"; do ln -s "$f" "$work/in/$(basename "$f")"; done
n=${#files[@]}

now() { date +%s.%N; }
# Largest source as RGB24, from the SOF marker's size as djpeg reports it.
largest=0
for f in "${files[@]}"; do
  size=$(djpeg -ppm "$f" | { sed -n '2{p;q}'; cat >/dev/null; })
  w=${size% *}; h=${size#* }
  if (( w * h * 3 > largest )); then largest=$((w * h * 3)); fi
done

best() { sort -n | head -1; }
decode_times=(); one_times=(); two_times=()
for round in 1 2 3; do
  t0=$(now); for f in "${files[@]}"; do djpeg -ppm -outfile /dev/null "$f"; done; t1=$(now)
  decode_times+=("$(echo "$t1 - $t0" | bc)")
  rm -rf "$work/out1"; mkdir "$work/out1"
  t0=$(now); /usr/bin/time -f '%M' -o "$work/rss" "$build/cli/quillet-batch" --jobs 1 "$work/in" "$work/out1" >/dev/null; t1=$(now)
  one_times+=("$(echo "$t1 - $t0" | bc)")
  rm -rf "$work/out2"; mkdir "$work/out2"
  t0=$(now); "$build/cli/quillet-batch" --jobs 2 "$work/in" "$work/out2" >/dev/null; t1=$(now)
  two_times+=("$(echo "$t1 - $t0" | bc)")
done
decode=$(printf '%s\n' "${decode_times[@]}" | best)
one=$(printf '%s\n' "${one_times[@]}" | best)
two=$(printf '%s\n' "${two_times[@]}" | best)
rss_kb=$(cat "$work/rss")
cmp -s <(cd "$work/out1" && cat $(ls)) <(cd "$work/out2" && cat $(ls)) && same=yes || same=NO

printf 'files: %d, largest source %.1f MB as RGB24\n' "$n" "$(echo "$largest / 1048576" | bc -l)"
printf 'djpeg full-size decode:   %.3f s per file\n' "$(echo "$decode / $n" | bc -l)"
printf 'quillet-batch --jobs 1:   %.3f s per file (%.2f x decode)\n' "$(echo "$one / $n" | bc -l)" "$(echo "$one / $decode" | bc -l)"
printf 'quillet-batch --jobs 2:   %.3f s per file (throughput %.2f x jobs 1)\n' "$(echo "$two / $n" | bc -l)" "$(echo "$one / $two" | bc -l)"
printf 'peak resident, jobs 1:    %.1f MB (limit %.1f MB)\n' "$(echo "$rss_kb / 1024" | bc -l)" "$(echo "1.5 * $largest / 1048576 + 32" | bc -l)"
printf 'jobs 2 output identical:  %s\n' "$same"
