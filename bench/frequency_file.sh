#!/bin/bash
# Reading and "playing" a frequency file of a million tone lines, against awk
# formatting the same fields the same way. Every duration is negative, so no
# tone sounds and the run measures reading, admission and the tone lines
# printed as "  %g, %d\n", without and with -r (the session file takes every
# line too). Also shows tonquel's peak RSS beside the table's own size
# (entries x 24 bytes).
# Usage: bench/frequency_file.sh [path to tonquel] [number of lines]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tonquel=${1:-$root/build-bench/tonquel}
lines=${2:-1000000}
[[ -x $tonquel ]] || { echo "no tonquel at $tonquel; build it first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/tones.txt

# Frequencies with up to two decimals across the admitted range, so %g has
# real formatting work; durations from -1 to -3600.
awk -v n="$lines" 'BEGIN {
    for (i = 0; i < n; i++)
        printf "%.2f,-%d\n", (i * 7919 % 1999900) / 100.0 + 1, i % 3600 + 1
}' > "$file"

# Best of three wall times, in seconds, of a command with its output thrown
# away (the best is the least disturbed by other work on the machine). Each
# run has a folder of its own, so that session files never share a name.
seconds_of() {
    local best="" start end i
    for i in 1 2 3; do
        run_dir=$(mktemp -d -p "$work")
        start=$(date +%s.%N)
        (cd "$run_dir" && "$@" > /dev/null 2>&1)
        end=$(date +%s.%N)
        rm -rf "$run_dir"
        best=$(awk -v s="$start" -v e="$end" -v b="$best" \
                   'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
    done
    echo "$best"
}

# Cold caches favour whoever runs second: read the file once first.
cat "$file" > /dev/null

ours=$(seconds_of "$tonquel" -f "$file")
ours_recording=$(seconds_of "$tonquel" -r -f "$file")
theirs=$(seconds_of awk -F, '{printf "  %g, %d\n", $1, $2}' "$file")

# The two print the same tone lines (tonquel adds its two heading lines).
if ! cmp -s <("$tonquel" -f "$file" 2>/dev/null | tail -n +3) \
            <(awk -F, '{printf "  %g, %d\n", $1, $2}' "$file"); then
    echo "warning: tonquel's tone lines differ from awk's" >&2
fi

if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -o "$work/rss" -f %M "$tonquel" -f "$file" > /dev/null 2>&1
    rss_kb=$(tail -1 "$work/rss")
else
    # No time(1) (package "time"): sample the kernel's high-water mark
    # while it runs; this can miss a peak in the last few milliseconds.
    "$tonquel" -f "$file" > /dev/null 2>&1 &
    pid=$!
    rss_kb=0
    while kill -0 "$pid" 2>/dev/null; do
        kb=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        if (( ${kb:-0} > rss_kb )); then rss_kb=$kb; fi
        sleep 0.01
    done
    wait "$pid" || true
fi
table_kb=$(( lines * 24 / 1024 ))

printf 'lines:          %d\n' "$lines"
printf 'tonquel -f:     %.3f s\n' "$ours"
printf 'awk %%g/%%d:      %.3f s\n' "$theirs"
printf 'ratio:          %.2f (tonquel / awk; below 1 is faster)\n' "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
printf 'tonquel -r -f:  %.3f s\n' "$ours_recording"
printf 'ratio with -r:  %.2f\n' "$(awk -v a="$ours_recording" -v b="$theirs" 'BEGIN { print a / b }')"
printf 'peak RSS:       %d KiB\n' "$rss_kb"
printf 'table size:     %d KiB (%d x 24 bytes)\n' "$table_kb" "$lines"
printf 'RSS / table:    %.2f\n' "$(awk -v a="$rss_kb" -v b="$table_kb" 'BEGIN { print a / b }')"
