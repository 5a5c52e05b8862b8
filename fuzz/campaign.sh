#!/usr/bin/env bash
# A fuzzing campaign over every target: builds them with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, runs each from the committed seeds (and the samples the tests
# make, when build/ has them) with its format's dictionary, and prints executions, coverage and
# findings per target. It resumes: each target's corpus and executions so far are kept under
# the work folder, and a target that has reached its goal is skipped.
#
#   fuzz/campaign.sh [--runs N] [--time SECONDS] [--timeout SECONDS] [--merge] [TARGET...]
#     --runs N        executions each target should reach in all (default 1000000)
#     --time SECONDS  stop each target's turn after this long (default: no limit)
#     --timeout SECONDS  an input running longer is a finding (default 25; give more on a
#                     loaded machine, where the lowest priority stretches every run)
#     --merge         add what the campaign's corpora cover beyond the seeds to fuzz/seeds/
#                     (minimised with -merge=1, edges only so the committed set stays small)
#     TARGET          bmp, png, ... (default: every *_fuzz.cpp)
# Findings land in WORK/<target>/findings (slow-unit-* files there are libFuzzer's notes of
# slow inputs, not findings); WORK is $QUILLET_FUZZ_WORK or build-fuzz/campaign.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_FUZZ_BUILD:-$root/build-fuzz}
work=${QUILLET_FUZZ_WORK:-$build/campaign}
goal=1000000 seconds=0 timeout=25 merge=0 targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --runs) goal=$2; shift 2 ;;
    --time) seconds=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp); targets+=("${name%_fuzz}")
  done
fi

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUILLET_FUZZ=ON -DQUILLET_SANITIZE=ON \
    -DQUILLET_TESTS=OFF -DQUILLET_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
nice cmake --build "$build" -j 2 --target "${targets[@]/%/_fuzz}" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# The read-only seed folders of an area: the committed seeds and the samples the tests make.
seed_dirs() {
  for dir in "$root/fuzz/seeds/$1" "$root/build/fuzz/made-seeds/$1"; do
    [ -d "$dir" ] && echo "$dir"
  done
  return 0
}

# The last status line libFuzzer printed: "#RUNS ... cov: C ft: F corp: N/SIZE ...".
field() { sed -n "s/.* $1: \([^ ]*\).*/\1/p" <<<"$2"; }

printf '%-10s %12s %8s %8s %8s %9s\n' target executions cov ft corpus findings
for area in "${targets[@]}"; do
  fuzzer=$build/fuzz/${area}_fuzz
  dir=$work/$area
  mkdir -p "$dir/corpus" "$dir/findings"
  done_runs=$(cat "$dir/executions" 2>/dev/null || echo 0)
  dict=$root/fuzz/dict/$area.dict
  [ "$area" = dib ] && dict=$root/fuzz/dict/bmp.dict
  mapfile -t seeds < <(seed_dirs "$area")

  if [ $merge = 1 ]; then
    # Edges the seeds already reach count as covered; only corpus files beyond them are kept.
    fresh=$(mktemp -d)
    for s in "${seeds[@]}"; do cp -r "$s"/. "$fresh"/; done
    before=$(ls "$fresh" | sort)
    nice -n 19 "$fuzzer" -merge=1 -use_counters=0 -rss_limit_mb=2048 "$fresh" "$dir/corpus" >"$dir/merge.log" 2>&1
    mkdir -p "$root/fuzz/seeds/$area"
    added=0
    for f in $(comm -13 <(echo "$before") <(ls "$fresh" | sort)); do
      cp "$fresh/$f" "$root/fuzz/seeds/$area/"; added=$((added + 1))
    done
    rm -rf "$fresh"
    echo "$area: $added seeds added to fuzz/seeds/$area"
    continue
  fi

  if [ "$done_runs" -lt "$goal" ]; then
    options=(-runs=$((goal - done_runs)) -timeout=$timeout -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$dir/findings/")
    [ -f "$dict" ] && options+=(-dict="$dict")
    [ "$seconds" -gt 0 ] && options+=(-max_total_time="$seconds")
    status=0
    nice -n 19 "$fuzzer" "${options[@]}" "$dir/corpus" "${seeds[@]}" >"$dir/last.log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/last.log" | tail -1)
    if [ -z "$runs" ]; then  # it stopped on a finding: the last status line is near enough
      runs=$(grep -o '^#[0-9]*' "$dir/last.log" | tail -1 | tr -d '#')
    fi
    echo $((done_runs + ${runs:-0})) >"$dir/executions"
    [ $status -ne 0 ] && echo "$area: stopped with status $status, see $dir/last.log" >&2
  fi
  last=$(grep '^#[0-9]' "$dir/last.log" 2>/dev/null | tail -1 || true)
  printf '%-10s %12s %8s %8s %8s %9s\n' "$area" "$(cat "$dir/executions" 2>/dev/null || echo 0)" "$(field cov "$last")" \
    "$(field ft "$last")" "$(field corp "$last")" "$(ls "$dir/findings" | grep -cv '^slow-unit-')"
done
