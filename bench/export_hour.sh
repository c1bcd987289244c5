#!/usr/bin/env bash
# Export speed: one hour of a 440 Hz sine written to a WAV file by tonquel
# (--output) against sox synthesising the same hour, 16-bit stereo at 44100
# frames/s, into a WAV file in the same folder. Prints wall and CPU time of
# each, the file sizes, and tonquel's time as a share of sox's (goal: at most
# a fifth). Each tool runs RUNS times (once by default); the best wall time counts.
#
#   bench/export_hour.sh [TONQUEL_BIN] [RUNS] [FOLDER]
#
# FOLDER (default: a new one under the build directory) must have room for
# two files of 635 MB.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
bin=${1:-${TONQUEL_BIN:-$source_dir/build/tonquel}}
runs=${2:-1}
parent=${3:-$(dirname "$bin")}

source "$here/lib/bench_setup.sh"
bench_require /usr/bin/time sox
[ -x "$bin" ] || { echo "not an executable: $bin" >&2; exit 1; }

work=$(mktemp -d "$parent/export-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints "wall user system" of one run; the output file is removed after
# its size is noted, so that every run writes a new file.
measure() {
    local out=$1
    shift
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" </dev/null >/dev/null 2>"$work/stderr" ||
        { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    stat -c %s "$out" >"$work/size.$(basename "$out")"
    rm -f "$out"
    cat "$work/time"
}

best() {  # the run with the least wall time
    sort -n | head -1
}

for _ in $(seq "$runs"); do
    measure "$work/tonquel.wav" "$bin" --output "$work/tonquel.wav" 440,3600
done | best >"$work/tonquel"
for _ in $(seq "$runs"); do
    measure "$work/sox.wav" sox -n -r 44100 -c 2 -b 16 "$work/sox.wav" synth 3600 sine 440
done | best >"$work/sox"

read -r tq_wall tq_user tq_sys <"$work/tonquel"
read -r sox_wall sox_user sox_sys <"$work/sox"
printf "one hour of 440 Hz to WAV, best of %d runs, in %s\n" "$runs" "$parent"
printf "tonquel --output : %6.2f s wall, %6.2f s CPU, %d bytes\n" "$tq_wall" \
    "$(awk -v u="$tq_user" -v s="$tq_sys" 'BEGIN { print u + s }')" "$(cat "$work/size.tonquel.wav")"
printf "sox synth        : %6.2f s wall, %6.2f s CPU, %d bytes\n" "$sox_wall" \
    "$(awk -v u="$sox_user" -v s="$sox_sys" 'BEGIN { print u + s }')" "$(cat "$work/size.sox.wav")"
awk -v a="$tq_wall" -v b="$sox_wall" 'BEGIN {
    share = b > 0 ? a / b : 0
    printf "tonquel / sox: %.3f of the wall time (goal: at most 0.200) %s\n", share, share <= 0.2 ? "met" : "NOT met"
}'
