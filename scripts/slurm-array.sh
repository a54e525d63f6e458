#!/usr/bin/env bash
# One task of a Slurm job array: segments the pair on line $SLURM_ARRAY_TASK_ID of a batch list
# (the "IMAGE STROKES" format of vellacut-cli --batch; a comment or blank line does nothing).
# Submit one task per line of the list, for example
#   sbatch --array=1-$(wc -l < list.txt) scripts/slurm-array.sh list.txt out
# Finished images are skipped, so a failed or cancelled array can simply be submitted again;
# every task appends its line to OUT/manifest.jsonl (set VELLACUT_MANIFEST to change that; a %a
# in it becomes the task's number, as in Slurm's own file names).
# VELLACUT_CLI names the program when it is not on the PATH. Extra arguments after OUT go to
# vellacut-cli as they are (-w, -v, -k, --no-bbox).
#SBATCH --job-name=vellacut
#SBATCH --cpus-per-task=2
#SBATCH --output=vellacut-%A_%a.log
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: slurm-array.sh LIST OUT [vellacut-cli options...]" >&2
    exit 2
fi
list=$1
out=$2
shift 2
task=${SLURM_ARRAY_TASK_ID:-}
if [[ ! "$task" =~ ^[1-9][0-9]*$ ]]; then
    echo "slurm-array.sh: SLURM_ARRAY_TASK_ID must be a line number from 1 (it is '$task');" \
        "submit with sbatch --array=1-N" >&2
    exit 2
fi
if [[ ! -r "$list" ]]; then
    echo "slurm-array.sh: $list: cannot read the list" >&2
    exit 2
fi
lines=$(wc -l < "$list")
# A last line without a line break still counts.
[[ -n "$(tail -c 1 "$list")" ]] && lines=$((lines + 1))
if (( task > lines )); then
    echo "slurm-array.sh: $list has $lines lines, there is no line $task" >&2
    exit 2
fi
mkdir -p "$out"
cli=${VELLACUT_CLI:-vellacut-cli}
manifest=${VELLACUT_MANIFEST:-$out/manifest.jsonl}
manifest=${manifest//%a/$task}

# The chosen line goes to the program as a list of one line, so quoting and comments follow the
# list format exactly.
sed -n "${task}p" "$list" |
    "$cli" --batch - -o "$out" --skip-existing --manifest "$manifest" "$@"
