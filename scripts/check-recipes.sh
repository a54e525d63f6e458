#!/usr/bin/env bash
# Runs the README's "Many images, many machines" recipes on generated pictures and checks them
# against --batch: GNU parallel with 2 jobs must write byte-identical files, a rerun with
# --skip-existing must write nothing, and every task of the Slurm script (SLURM_ARRAY_TASK_ID
# set by hand) must give the same files again.
#   scripts/check-recipes.sh [BUILD_DIR]    (default build/dev, built with the tests)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/dev}
cli=$root/$build/cli/vellacut-cli
make_pairs=$root/$build/tests/cli/make_test_pairs
for tool in "$cli" "$make_pairs"; do
    [[ -x "$tool" ]] || { echo "error: $tool is not built" >&2; exit 1; }
done
command -v parallel >/dev/null || { echo "error: GNU parallel is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() { # check NAME COMMAND...: runs the command, counts and reports the outcome
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}
# Every file below a folder with its checksum and modification time, manifests left out.
snapshot() { (cd "$1" && find . -type f ! -name '*.jsonl' -printf '%p %T@ ' -exec md5sum {} \; | sort); }

cd "$work"
"$make_pairs" pairs 5 120 90 >/dev/null
cut -d' ' -f1 pairs/list.txt > images.txt
cut -d' ' -f2 pairs/list.txt > strokes.txt
mkdir batch par par_list slurm

"$cli" --batch pairs/list.txt -j 2 -o batch >/dev/null
check "batch writes three files per image" test "$(find batch -type f | wc -l)" -eq 15

# The recipes as the README gives them, with the program's path in place of its name.
parallel -j 2 "$cli" {1} {2} -o par --skip-existing --manifest par/manifest.jsonl \
    ::::+ images.txt strokes.txt >/dev/null
check "parallel over two lists: files identical to --batch" \
    diff -r -x manifest.jsonl batch par
check "parallel: one manifest line per image" test "$(wc -l < par/manifest.jsonl)" -eq 5

before=$(snapshot par)
parallel -j 2 "$cli" {1} {2} -o par --skip-existing --manifest par/manifest.jsonl \
    ::::+ images.txt strokes.txt >/dev/null
check "rerun with --skip-existing writes nothing" test "$before" == "$(snapshot par)"
check "rerun with --skip-existing records every image as skipped" \
    test "$(grep -c '"status":"skipped"' par/manifest.jsonl)" -eq 5

parallel -j 2 --colsep ' ' "$cli" {1} {2} -o par_list :::: pairs/list.txt >/dev/null
check "parallel over the list format: files identical to --batch" diff -r batch par_list

lines=$(wc -l < pairs/list.txt)
for ((task = 1; task <= lines; ++task)); do
    SLURM_ARRAY_TASK_ID=$task VELLACUT_CLI=$cli \
        "$root/scripts/slurm-array.sh" pairs/list.txt slurm >/dev/null
done
check "slurm tasks 1..$lines: files identical to --batch" diff -r -x manifest.jsonl batch slurm
check "slurm tasks: one manifest line per image" test "$(wc -l < slurm/manifest.jsonl)" -eq 5
check "slurm task beyond the list is refused" \
    bash -c "! SLURM_ARRAY_TASK_ID=$((lines + 1)) '$root/scripts/slurm-array.sh' pairs/list.txt slurm 2>/dev/null"

echo "recipes: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
