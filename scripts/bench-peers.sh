#!/usr/bin/env bash
# Runs the peer benchmark (our solver against OpenCV's GCGraph and Boost's push-relabel) on the
# synthetic pictures and the photos, and writes its table into bench/README.md between the
# peer-table markers:
#   scripts/bench-peers.sh [benchmark flags...]     e.g. --benchmark_repetitions=3
# Expects the release build (make bench, or VELLACUT_BENCH_BUILD=<build dir>).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLACUT_BENCH_BUILD:-"$root/build/release"}
program="$build/bench/peer_benchmark"
readme="$root/bench/README.md"
if [[ ! -x "$program" ]]; then
    echo "error: $program is missing; run make bench first" >&2
    exit 1
fi

# The harness's own tests first: a table from a broken harness is worth nothing.
if [[ -x "$build/bench/peer_harness_test" ]]; then
    "$build/bench/peer_harness_test" --gtest_brief=1
fi

photos=$("$root/scripts/bench-photos.sh")
table=$(mktemp)
trap 'rm -f "$table"' EXIT
status=0
"$program" --peer_photos="$photos" --peer_table="$table" "$@" || status=$?
# 1 means some check failed, and the table says which; anything else leaves the README alone.
if [[ $status -gt 1 ]]; then
    echo "error: peer_benchmark ended with status $status" >&2
    exit "$status"
fi

{
    echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, load average" \
        "$(cut -d' ' -f1-3 /proc/loadavg) at the end; command: \`scripts/bench-peers.sh $*\`"
    echo
    cat "$table"
} >"$table.block"
awk -v block="$table.block" '
    /<!-- peer-table:begin -->/ { print; while ((getline line < block) > 0) print line; skip = 1; next }
    /<!-- peer-table:end -->/ { skip = 0 }
    !skip { print }
' "$readme" >"$readme.new"
mv "$readme.new" "$readme"
rm -f "$table.block"
echo "table written to $readme"
exit "$status"
