#!/bin/bash
# Thumbnails of a whole photo library by a Slurm job array of eight tasks:
#   sbatch deploy/quillet-thumbnails.sbatch /shared/photos /shared/thumbs /shared/quillet-reports
# Task K makes shard K of 8, named explicitly, so that resubmitting some array tasks
# (sbatch --array=3,5 ...) redoes exactly their shards; a rerun makes only what is new or
# what was made with other settings. Files that cannot be read or that are in the way are
# listed in the report but do not fail the task (--skipped-ok), so the engine does not
# retry a library that holds a few broken files; a stopped task exits 130 or 143.
# The reports go outside the thumbnail tree, which then holds thumbnails only.
#SBATCH --job-name=quillet-thumbnails
#SBATCH --array=0-7
#SBATCH --cpus-per-task=2
#SBATCH --mem=512M
#SBATCH --output=quillet-%A_%a.log
set -euo pipefail
src=${1:?give the photo folder}
dest=${2:?give the thumbnail folder}
reports=${3:-$dest-reports}
mkdir -p "$reports"
exec quillet-batch --shard "$SLURM_ARRAY_TASK_ID/8" --subdirs --fast --skip-existing --skipped-ok \
    --jobs "${SLURM_CPUS_PER_TASK:-2}" --report "$reports/shard-${SLURM_ARRAY_TASK_ID}.jsonl" "$src" "$dest"
