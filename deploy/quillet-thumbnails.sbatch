#!/bin/bash
# Thumbnails of a whole photo library by a Slurm job array of eight tasks:
#   sbatch deploy/quillet-thumbnails.sbatch /shared/photos /shared/thumbs
# Each task makes its shard (--shard auto reads SLURM_ARRAY_TASK_ID and
# SLURM_ARRAY_TASK_COUNT); a rerun makes only what is new.
#SBATCH --job-name=quillet-thumbnails
#SBATCH --array=0-7
#SBATCH --cpus-per-task=2
#SBATCH --mem=512M
#SBATCH --output=quillet-%A_%a.log
set -euo pipefail
src=${1:?give the photo folder}
dest=${2:?give the thumbnail folder}
mkdir -p "$dest/.reports"
exec quillet-batch --shard auto --subdirs --fast --skip-existing --jobs "${SLURM_CPUS_PER_TASK:-2}" \
    --report "$dest/.reports/shard-${SLURM_ARRAY_TASK_ID}.jsonl" "$src" "$dest"
