#!/usr/bin/env bash
# A real Slurm cluster of one node runs deploy/quillet-thumbnails.sbatch as an array of 4 over a
# few hundred photographs (a broken file, a pipe and a foreign file in DEST among them), and GNU
# parallel runs the same shards over local job slots. Checked against one quillet-batch process:
# DEST byte for byte and the reports; a resubmitted task redoes only its own shard; a task
# stopped half way by scancel (TERM) or killed (KILL) leaves no half-written thumbnail and its
# rerun completes DEST; an array whose size is not the shard count is refused.
# Needs root (munged and slurmd); installs slurm-wlm, munge and parallel when missing. Its own
# munged socket, ports and state, all removed at the end, whatever happened.
# Usage: tests/deploy/slurm_test.sh QUILLET_BATCH   (KEEP_STATE=1 keeps the work folder for a look)
# Exit status: 0 passed, 1 failed, 77 skipped (the check that failed on standard error).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
batch=$(realpath "${1:?give the quillet-batch to test}")
skip() { echo "SKIP: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
say() { echo "[$SECONDS s] $*"; }

[ "$(id -u)" -eq 0 ] || skip "needs root to start munged and slurmd"
missing=()
for pair in slurmctld:slurm-wlm munged:munge parallel:parallel; do
  command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "+ apt-get install ${missing[*]}" >&2
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; } >&2 ||
    skip "cannot install ${missing[*]}"
fi

state=$(mktemp -d /tmp/quillet-slurm.XXXXXX)
chmod 755 "$state"
export SLURM_CONF=$state/slurm.conf
# The daemons are stopped by their own pid files; jobs are cancelled first so that no job step
# outlives its slurmd.
cleanup() {
  set +e
  if [ -s "$state/slurmctld.pid" ]; then
    scancel --quiet --user=root 2>/dev/null
    for _ in $(seq 50); do [ -z "$(squeue -h 2>/dev/null)" ] && break; sleep 0.2; done
  fi
  for daemon in slurmd slurmctld munged; do
    pid=$(cat "$state/$daemon.pid" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  [ -n "${KEEP_STATE:-}" ] || rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Two ports no one listens on.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

head -c 1024 /dev/urandom > "$state/munge.key"
chmod 600 "$state/munge.key"
munged --force --socket="$state/munge.socket" --key-file="$state/munge.key" --pid-file="$state/munged.pid" \
  --log-file="$state/munged.log" --seed-file="$state/munged.seed" ||
  skip "munged did not start: $(tail -3 "$state/munged.log" 2>/dev/null)"
munge -S "$state/munge.socket" -n | unmunge -S "$state/munge.socket" >/dev/null ||
  skip "munged runs but its credentials do not decode"

node=$(hostname -s)
memory=$(($(awk '/^MemTotal/ {print $2}' /proc/meminfo) / 2048))
cpus=$(nproc)
mkdir -p "$state/spool" "$state/ctld" "$state/logs"
cat > "$SLURM_CONF" <<EOF
ClusterName=quillet-test
SlurmctldHost=$node
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$state/munge.socket
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/slurmctld.pid
SlurmdPidFile=$state/slurmd.pid
SlurmctldLogFile=$state/slurmctld.log
SlurmdLogFile=$state/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$state/jobcomp.txt
MailProg=/bin/true
ReturnToService=2
KillWait=5
MinJobAge=600
NodeName=$node CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -f "$SLURM_CONF" || skip "slurmctld did not start: $(tail -3 "$state/slurmctld.log" 2>/dev/null)"
slurmd -f "$SLURM_CONF" || skip "slurmd did not start: $(tail -3 "$state/slurmd.log" 2>/dev/null)"
for _ in $(seq 60); do
  [ "$(sinfo -h -N -o %T 2>/dev/null)" = idle ] && break
  sleep 0.5
done
[ "$(sinfo -h -N -o %T 2>/dev/null)" = idle ] ||
  skip "node $node did not become idle in 30 s (sinfo: $(sinfo -h -N -o %T 2>&1)): $(tail -3 "$state/slurmd.log")"
say "cluster up: slurmctld :$ctld_port, slurmd :$slurmd_port, $cpus CPUs"

# A few hundred photographs of 1200 x 900 in four folders whose names overlap (IMG_0056 is in
# a and b), made by quillet-batch from generated BMPs; then the faults.
python3 - "$state/seed" <<'PY'
import os, struct, sys
w, h = 1200, 900
for f, folder in enumerate("abcd"):
    os.makedirs(os.path.join(sys.argv[1], folder))
    for n in range(1 + 55 * f, 61 + 55 * f):
        # Diagonal bands that differ for every photograph: cheap to make, not flat to encode.
        row = bytes((x * n // 7 + f * 60) % 256 for x in range(3 * (w + h)))
        pixels = b"".join(row[3 * y:3 * (y + w)] for y in range(h))
        with open(os.path.join(sys.argv[1], folder, "IMG_%04d.bmp" % n), "wb") as out:
            out.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54))
            out.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0))
            out.write(pixels)
PY
photos=$state/photos
for folder in a b c d; do
  mkdir -p "$photos/$folder"
  "$batch" --quiet --all-types --size 1200x900 --quality 90 "$state/seed/$folder" "$photos/$folder"
done
rm -rf "$state/seed"
printf 'not a picture' > "$photos/a/broken.jpg"
mkfifo "$photos/b/pipe.jpg"
sources=$(find "$photos" -name '*.jpg' | wc -l)
for dest in single array parallel; do
  mkdir -p "$state/$dest"
  printf 'my own notes' > "$state/$dest/IMG_0007.jpg"  # not a thumbnail: must not be lost
done
say "$sources sources made: photographs, a broken file, a pipe"

# The reference: one process with the job's options.
options=(--subdirs --fast --skip-existing --skipped-ok)
"$batch" --quiet "${options[@]}" --jobs 2 --report "$state/single.jsonl" "$photos" "$state/single" ||
  fail "the single run exited $?"
say "one process: $(find "$state/single" -type f | wc -l) files in DEST"

# "path status" of every line of some reports, sorted: the same files met the same fate.
fates() { cat "$@" | python3 -c '
import json, sys
for line in sorted("%s %s" % (r["path"], r["status"]) for r in map(json.loads, sys.stdin)): print(line)'; }
# The jobcomp record of an array task: "STATE EXITCODE".
task_end() {
  grep " ArrayJobId=$1 ArrayTaskId=$2 " "$state/jobcomp.txt" | tail -1 |
    sed 's/.* JobState=\([A-Z_]*\) .* ExitCode=\([0-9:]*\).*/\1 \2/' 
}
# Every file under DEST is the reference's file of that name, byte for byte; none is temporary.
only_whole_thumbnails() {
  local temporaries file
  temporaries=$(find "$1" -name '.quillet-*')
  [ -z "$temporaries" ] || fail "$2: temporaries left: $temporaries"
  while IFS= read -r -d '' file; do
    cmp -s "$1/$file" "$state/single/$file" || fail "$2: $file differs from one process's"
  done < <(cd "$1" && find . -type f -print0)
}
thumbnails_of() { python3 -c '
import json, sys
for r in map(json.loads, open(sys.argv[1])):
    if r["thumbnail"] and r["status"] in ("written", "up to date"): print(r["thumbnail"])' "$1" | sort -u; }

# The array as submitted: four tasks, four shards.
export PATH=$(dirname "$batch"):$PATH QUILLET_SHARDS=4
reports=$state/reports
cd "$state/logs"
per_task=$((cpus < 2 ? 1 : 2))  # the script asks for 2
sbatch_out=$(sbatch --parsable --wait --array=0-3 --cpus-per-task=$per_task \
  "$root/deploy/quillet-thumbnails.sbatch" "$photos" "$state/array" "$reports") ||
  fail "the array failed: $(cat "$state"/logs/*.log)"
job=${sbatch_out%%;*}
for task in 0 1 2 3; do
  [ "$(task_end "$job" $task)" = "COMPLETED 0:0" ] || fail "task $task ended $(task_end "$job" $task)"
done
diff -r "$state/single" "$state/array" || fail "the array's DEST differs from one process's"
[ "$(ls "$reports")" = "$(printf 'shard-%s.jsonl\n' 0 1 2 3)" ] || fail "reports: $(ls "$reports")"
[ "$(fates "$reports"/*)" = "$(fates "$state/single.jsonl")" ] || fail "the reports differ from one process's"
say "array of 4: DEST and reports equal one process's"

# One task resubmitted redoes its own shard and nothing else.
mapfile -t mine < <(thumbnails_of "$reports/shard-2.jsonl")
mapfile -t theirs < <(thumbnails_of "$reports/shard-1.jsonl")
[ ${#mine[@]} -ge 3 ] && [ ${#theirs[@]} -ge 2 ] || fail "shards 1 and 2 hold too few thumbnails"
rm "${mine[@]:0:3}" "${theirs[@]:0:2}"
before=$(cd "$state/array" && find . -type f -printf '%p %i %T@\n' | sort)
sbatch --wait --array=2 --cpus-per-task=$per_task "$root/deploy/quillet-thumbnails.sbatch" "$photos" "$state/array" "$reports" >/dev/null ||
  fail "the resubmitted task failed"
for gone in "${theirs[@]:0:2}"; do [ ! -e "$gone" ] || fail "task 2 made $gone of shard 1"; done
after=$(cd "$state/array" && find . -type f -printf '%p %i %T@\n' | sort)
rewritten=$(comm -13 <(echo "$before") <(echo "$after") | wc -l)
[ "$rewritten" -eq 3 ] || fail "the resubmitted task wrote $rewritten files, not its 3 missing ones"
attempts=$(python3 -c '
import json, sys, collections
print(*sorted(collections.Counter(json.loads(l)["attempt"] for l in open(sys.argv[1])).values()))' "$reports/shard-2.jsonl")
[ "$(wc -w <<< "$attempts")" -eq 2 ] || fail "shard 2's report holds attempts of $attempts lines, not 2 attempts"
only_whole_thumbnails "$state/array" "after the resubmission"
say "task 2 resubmitted: its 3 missing thumbnails made, nothing else written; its report holds 2 attempts"

# A task stopped half way, by scancel and by KILL, at the tenth file of its attempt.
# The rerun completes DEST. One CPU each, so that a task lasts long enough to be stopped.
stop_half_way() {  # TASK SIGNAL
  local report=$reports/shard-$1.jsonl made lines id
  mapfile -t made < <(thumbnails_of "$report")
  rm -f "${made[@]}"
  lines=$(wc -l < "$report")
  id=$(sbatch --parsable --array="$1" --cpus-per-task=1 "$root/deploy/quillet-thumbnails.sbatch" \
    "$photos" "$state/array" "$reports")
  for _ in $(seq 1200); do
    [ "$(wc -l < "$report")" -ge $((lines + 10)) ] && break
    sleep 0.05
  done
  if [ "$2" = TERM ]; then
    scancel "${id%%;*}"  # as a user cancels: TERM, then KILL after KillWait
  else
    scancel --signal=KILL --full "${id%%;*}"
  fi
  for _ in $(seq 300); do [ -z "$(squeue -h)" ] && break; sleep 0.1; done
  [ -z "$(squeue -h)" ] || fail "task $1 still runs after scancel"
  local left=0 thumbnail
  for thumbnail in "${made[@]}"; do [ -e "$thumbnail" ] && left=$((left + 1)); done
  [ "$left" -lt ${#made[@]} ] || fail "task $1 finished before scancel reached it: make it longer"
  if [ "$2" = TERM ]; then
    only_whole_thumbnails "$state/array" "after scancel"
  else
    # A killed process cannot remove its temporaries; none may pass for a thumbnail.
    find "$state/array" -name '.quillet-*' -delete -printf 'left by the killed task: %P\n'
    only_whole_thumbnails "$state/array" "after a KILL"
  fi
  say "task $1 stopped by $2 at $left of ${#made[@]} thumbnails ($(task_end "${id%%;*}" "$1"))"
}
stop_half_way 1 TERM
stop_half_way 3 KILL
sbatch --wait --array=1,3 --cpus-per-task=$per_task "$root/deploy/quillet-thumbnails.sbatch" "$photos" "$state/array" "$reports" >/dev/null ||
  fail "the rerun of tasks 1 and 3 failed"
diff -r "$state/single" "$state/array" || fail "after the reruns DEST differs from one process's"
say "tasks 1 and 3 rerun: DEST equals one process's again"

# An array of 2 tasks under --shard auto/4 is refused by every task, naming both numbers.
refused=$(sbatch --parsable --wait --array=0-1 --output="$state/logs/refused-%a.log" \
  --wrap "quillet-batch --shard auto/4 '$photos' '$state/array'") && fail "an array of 2 made shards of 4"
for task in 0 1; do
  [ "$(task_end "${refused%%;*}" $task)" = "FAILED 2:0" ] || fail "the mismatched task $task ended $(task_end "${refused%%;*}" $task)"
  grep -q "has 2 tasks but the shard count is 4" "$state/logs/refused-$task.log" ||
    fail "task $task said: $(cat "$state/logs/refused-$task.log")"
done
say "an array of 2 under --shard auto/4: both tasks refused (exit 2)"

# GNU parallel over two local job slots, as the README shows it.
parallel --will-cite -j 2 quillet-batch --quiet "${options[@]}" --jobs 1 --shard {}/4 \
  --report "$state/parallel-{}.jsonl" "$photos" "$state/parallel" ::: 0 1 2 3 || fail "parallel exited $?"
diff -r "$state/single" "$state/parallel" || fail "parallel's DEST differs from one process's"
[ "$(fates "$state"/parallel-*.jsonl)" = "$(fates "$state/single.jsonl")" ] || fail "parallel's reports differ"
say "GNU parallel, 4 shards over 2 slots: DEST equals one process's"
echo "PASS in $SECONDS s"
