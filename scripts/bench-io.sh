#!/usr/bin/env bash
# Times picture files and whole vellacut-cli runs on the generated well-separated picture
# (1152 x 864), in the release build (cmake --preset release && cmake --build --preset release):
#   1. image_io_benchmark: the save stage (three files) and the load stage, medians of 5;
#   2. RUNS single runs of vellacut-cli: median wall time of the whole process against the median
#      compute stage it reports in --stats-json;
#   3. the same on four real photos scaled to one megapixel (scripts/bench-photos.sh fetches them),
#      with each solver, as the compute stage of a photo is the figure the run is measured against;
#   4. a 20-image batch (-j 2), then the same batch again with --skip-existing.
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

# Photos from Debian's python3-skimage, each scaled to about one megapixel, with the peer
# benchmark's generic strokes (an object disk in the middle, a background frame).
photos=$("$root/scripts/bench-photos.sh")
photo_names=(retina hubble_deep_field camera coffee)
declare -A photo_size
scaled=()
for name in "${photo_names[@]}"; do
    read -r width height < <(pamfile "$photos/$name.pnm" | sed -E 's/.* ([0-9]+) by ([0-9]+) .*/\1 \2/')
    factor=$(awk -v w="$width" -v h="$height" 'BEGIN { printf "%.4f", sqrt(1e6 / (w * h)) }')
    pamscale "$factor" "$photos/$name.pnm" >"$work/$name.pnm"
    pnmtopng "$work/$name.pnm" >"$work/$name.png" 2>/dev/null
    photo_size[$name]=$(pamfile "$work/$name.pnm" | sed -E 's/.* ([0-9]+ by [0-9]+) .*/\1/')
    scaled+=("--photo_strokes=$work/$name.pnm")
done
"$bench" --write_pictures="$work" "${scaled[@]}" >/dev/null
mkdir "$work/out"

# whole_run NAME [CLI OPTIONS]: RUNS runs on NAME.png with NAME-strokes.png; prints the median
# whole run, the median compute stage and their ratio.
whole_run() {
    local name=$1
    shift
    : > "$work/whole.txt"
    : > "$work/compute.txt"
    for ((n = 0; n < runs; ++n)); do
        start=$(now_ms)
        "$cli" "$work/$name.png" "$work/$name-strokes.png" -o "$work/out" \
            --stats-json "$work/stats.json" "$@" >/dev/null
        echo $(($(now_ms) - start)) >> "$work/whole.txt"
        python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["images"][0]["times_ms"]["compute"])' \
            "$work/stats.json" >> "$work/compute.txt"
    done
    whole=$(median < "$work/whole.txt")
    compute=$(median < "$work/compute.txt")
    echo "$whole ms; its compute stage: $compute ms;" \
        "ratio $(awk -v a="$whole" -v b="$compute" 'BEGIN { printf "%.2f", a / b }')"
}

echo "== whole run, median of $runs: $(whole_run separated)"
python3 -c 'import json,sys; print("   stages of the last run (ms):", {k: round(v, 1) for k, v in json.load(open(sys.argv[1]))["images"][0]["times_ms"].items()})' \
    "$work/stats.json"
for name in "${photo_names[@]}"; do
    for solver in reference fast; do
        echo "== photo $name (${photo_size[$name]}), --solver $solver: $(whole_run "$name" --solver "$solver")"
    done
done

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
