#!/usr/bin/env bash
# Times picture files and whole vellacut-cli runs on the generated well-separated picture
# (1152 x 864), in the release build (cmake --preset release && cmake --build --preset release):
#   1. image_io_benchmark: the save stage (three files) and the load stage, medians of 5;
#   2. RUNS single runs of vellacut-cli: median wall time of the whole process against the median
#      compute stage it reports in --stats-json;
#   3. a 20-image batch (-j 2), then the same batch again with --skip-existing.
#   scripts/bench-io.sh [RUNS]      (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
bench=$root/build/release/bench/image_io_benchmark
cli=$root/build/release/cli/vellacut-cli
for tool in "$bench" "$cli"; do
    [[ -x "$tool" ]] || { echo "error: $tool is not built (release preset)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E 'Benchmark|median'

"$bench" --write_pictures="$work" >/dev/null
mkdir "$work/out"
: > "$work/whole.txt"
: > "$work/compute.txt"
for ((n = 0; n < runs; ++n)); do
    start=$(now_ms)
    "$cli" "$work/separated.png" "$work/separated-strokes.png" -o "$work/out" \
        --stats-json "$work/stats.json" >/dev/null
    echo $(($(now_ms) - start)) >> "$work/whole.txt"
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["images"][0]["times_ms"]["compute"])' \
        "$work/stats.json" >> "$work/compute.txt"
done
whole=$(median < "$work/whole.txt")
compute=$(median < "$work/compute.txt")
echo "== whole run, median of $runs: $whole ms; its compute stage: $compute ms;" \
    "ratio $(awk -v a="$whole" -v b="$compute" 'BEGIN { printf "%.2f", a / b }')"
python3 -c 'import json,sys; print("   stages of the last run (ms):", {k: round(v, 1) for k, v in json.load(open(sys.argv[1]))["images"][0]["times_ms"].items()})' \
    "$work/stats.json"

mkdir "$work/batch"
for ((n = 1; n <= 20; ++n)); do
    cp "$work/separated.png" "$work/photo$n.png"
    echo "$work/photo$n.png $work/separated-strokes.png" >> "$work/list.txt"
done
start=$(now_ms)
"$cli" --batch "$work/list.txt" -j 2 -o "$work/batch" >/dev/null
first=$(($(now_ms) - start))
start=$(now_ms)
"$cli" --batch "$work/list.txt" -j 2 -o "$work/batch" --skip-existing >/dev/null
again=$(($(now_ms) - start))
echo "== 20-image batch: first run $first ms, rerun with --skip-existing $again ms" \
    "($(awk -v a="$again" -v b="$first" 'BEGIN { printf "%.1f", 100 * a / b }') %)"
