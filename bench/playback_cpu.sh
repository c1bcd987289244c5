#!/usr/bin/env bash
# CPU cost of real playback: tonquel against sox playing the same tone
# through ALSA's default device into one private PulseAudio server.
#
#   bench/playback_cpu.sh [TONQUEL_BIN] [RUNS]
#
# tonquel 440,9 sounds for 9 to 10 seconds (the tone ends on a whole-second
# clock), sox for exactly 10. CPU time is user + system of the client
# process only; the server's own work is the same for both and not counted.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
bin=${1:-${TONQUEL_BIN:-$source_dir/build/tonquel}}
runs=${2:-1}

for program in /usr/bin/time sox pulseaudio pactl; do
    command -v "$program" >/dev/null || { echo "missing: $program" >&2; exit 77; }
done
[ -x "$bin" ] || { echo "not an executable: $bin" >&2; exit 1; }

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
trap 'pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1

# Prints "user system wall maxrss_kb" of one run of the command.
measure() {
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" </dev/null >/dev/null 2>"$work/stderr" ||
        { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    cat "$work/time"
}

total() {  # sums user+system and wall over the runs; keeps the largest RSS
    awk '{ cpu += $1 + $2; wall += $3; if ($4 > rss) rss = $4 }
         END { printf "%.3f %.2f %d\n", cpu, wall, rss }'
}

for _ in $(seq "$runs"); do measure "$bin" 440,9; done | total >"$work/tonquel"
for _ in $(seq "$runs"); do measure sox -q -n -t alsa default synth 10 sine 440; done | total >"$work/sox"

read -r tq_cpu tq_wall tq_rss <"$work/tonquel"
read -r sox_cpu sox_wall sox_rss <"$work/sox"
printf "runs: %d each\n" "$runs"
printf "tonquel 440,9 : %7.3f CPU s in %6.2f s wall, peak RSS %d kB\n" "$tq_cpu" "$tq_wall" "$tq_rss"
printf "sox 10 s      : %7.3f CPU s in %6.2f s wall, peak RSS %d kB\n" "$sox_cpu" "$sox_wall" "$sox_rss"
awk -v a="$tq_cpu" -v b="$sox_cpu" -v aw="$tq_wall" -v bw="$sox_wall" 'BEGIN {
    if (b > 0) printf "ratio tonquel/sox: %.2f (per wall second: %.2f)\n", a / b, (a / aw) / (b / bw)
    else print "ratio: sox used no measurable CPU"
}'
