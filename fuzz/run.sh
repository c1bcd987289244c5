#!/bin/bash
# Runs each fuzz target for a bounded time from its seed corpus and the saved
# regression inputs. New corpus entries go to a scratch directory; crashes
# land in build-fuzz/crashes/.
# Usage: fuzz/run.sh [seconds per target, default 20]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
seconds=${1:-20}
status=0

for name in duration frequency_file control_request control_answer whole_run selection_buffer; do
    target="$out/${name}_fuzz"
    [[ -x $target ]] || { echo "missing $target: run fuzz/build.sh" >&2; exit 1; }
    work="$out/corpus/$name"
    crashes="$out/crashes/$name"
    mkdir -p "$work" "$crashes"
    echo "== $name: $seconds s"
    dict=()
    [[ -f $root/fuzz/$name.dict ]] && dict=(-dict="$root/fuzz/$name.dict")
    # Lines up to 8192 characters and a little more must be reachable.
    if ! "$target" "${dict[@]}" -max_total_time="$seconds" -max_len=9000 -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$crashes/" \
            "$work" "$root/fuzz/corpus/$name" "$root/fuzz/regressions/$name" 2>"$out/$name.log"; then
        status=1
        echo "$name: FAILED; see $out/$name.log and $crashes/" >&2
    fi
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done)' "$out/$name.log" || true
done
exit $status
