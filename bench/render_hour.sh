#!/bin/bash
# One hour of a 440 Hz tone: our renderer (tonquel_bench's render_hour case,
# 3600 one-second buffers written to /dev/null) against sox synthesising the
# same hour of 16-bit stereo at 44100 frames/s into /dev/null. Prints CPU and
# wall time of both and the ratios. CPU time is the fairer figure on a busy
# machine; wall time is shown beside it.
# Usage: bench/render_hour.sh [path to tonquel_bench]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$root/build-bench/bench/tonquel_bench}
[[ -x $bench ]] || { echo "no tonquel_bench at $bench; build it first" >&2; exit 1; }
command -v sox > /dev/null || { echo "sox is not installed (package sox)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time is missing (package time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ours: the benchmark's own per-hour figures, in milliseconds.
"$bench" --benchmark_filter='^(render_hour|run_hour_simulated)$' --benchmark_format=csv \
    > "$work/ours.csv" 2>/dev/null
field() {  # field <benchmark name> <column>: real_time is 3, cpu_time 4
    awk -F, -v name="\"$1\"" -v col="$2" '$1 == name { print $col / 1000 }' "$work/ours.csv"
}
ours_wall=$(field render_hour 3)
ours_cpu=$(field render_hour 4)
sim_wall=$(field run_hour_simulated 3)
sim_cpu=$(field run_hour_simulated 4)

# sox: user + system CPU seconds and elapsed seconds of one run.
/usr/bin/time -o "$work/sox.time" -f '%e %U %S' \
    sox -n -t raw -r 44100 -c 2 -b 16 -e signed /dev/null synth 3600 sine 440
read -r sox_wall sox_user sox_sys < <(tail -1 "$work/sox.time")
sox_cpu=$(awk -v u="$sox_user" -v s="$sox_sys" 'BEGIN { print u + s }')

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }

printf '%-34s %10s %10s\n' "one hour of 440 Hz, stereo 16-bit" "CPU s" "wall s"
printf '%-34s %10.3f %10.3f\n' "tonquel render_buffer x 3600" "$ours_cpu" "$ours_wall"
printf '%-34s %10.3f %10.3f\n' "tonquel whole run, simulated" "$sim_cpu" "$sim_wall"
printf '%-34s %10.3f %10.3f\n' "sox synth 3600 sine 440" "$sox_cpu" "$sox_wall"
printf 'sox / tonquel render:  %sx CPU, %sx wall (goal: at least 20x)\n' \
    "$(ratio "$sox_cpu" "$ours_cpu")" "$(ratio "$sox_wall" "$ours_wall")"
printf 'sox / tonquel whole simulated run:  %sx CPU, %sx wall\n' \
    "$(ratio "$sox_cpu" "$sim_cpu")" "$(ratio "$sox_wall" "$sim_wall")"
