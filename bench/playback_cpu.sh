#!/usr/bin/env bash
# The cost of real playback through ALSA's default device into one private
# PulseAudio server, measured side by side in one run:
#   1. steady state: tonquel 440,20 against aplay playing the same 20 s from
#      a WAV file (the audio path's own cost) and sox synthesising it, each
#      RUNS times (2 by default), with both ratios of CPU time;
#   2. start-up: from the start of the process to the first sound frame
#      reaching the server, tonquel beside aplay;
#   3. per tone: what one tone's open and close adds, from sixty 1-second
#      tones: CPU beyond the steady rate, and the silence between tones;
#   4. peak resident size, tonquel beside aplay.
#
#   bench/playback_cpu.sh [BUILD_DIR] [RUNS]
#
# CPU time is user + system of the client process only (microseconds, from
# wait4); the server's work is not counted. Goals: tonquel at most 1.5 times
# aplay and at most half of sox.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
runs=${2:-2}
bin=$build/tonquel
usage=$build/bench/child_usage
times=$build/bench/sound_times

source "$here/lib/bench_setup.sh"
bench_require sox aplay pulseaudio pactl parec
bench_require_built "$bin" "$usage" "$times"

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
recorder=
trap '[ -n "$recorder" ] && kill "$recorder" 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1
"$bin" --output "$work/tone.wav" 440,20 >/dev/null || exit 1

# Prints "cpu_s wall_s rss_kB switches" of one run of the command.
measure() {
    "$usage" "$@" </dev/null >/dev/null 2>"$work/usage" || { echo "failed: $*" >&2; cat "$work/usage" >&2; exit 1; }
    tail -1 "$work/usage" | awk '{ printf "%.6f %s %s %s\n", $1 + $2, $3, $4, $5 }'
}

# Sums CPU and wall over the runs; keeps the largest RSS and the mean switches.
total() {
    awk '{ cpu += $1; wall += $2; if ($3 > rss) rss = $3; sw += $4; n++ }
         END { printf "%.4f %.2f %d %d\n", cpu, wall, rss, sw / n }'
}

: >"$work/tonquel"
: >"$work/aplay"
: >"$work/sox"
for _ in $(seq "$runs"); do
    measure "$bin" 440,20 >>"$work/tonquel"
    measure aplay -q -D default "$work/tone.wav" >>"$work/aplay"
    measure sox -q -n -t alsa default synth 20 sine 440 >>"$work/sox"
done
read -r tq_cpu tq_wall tq_rss tq_sw < <(total <"$work/tonquel")
read -r ap_cpu ap_wall ap_rss ap_sw < <(total <"$work/aplay")
read -r sx_cpu sx_wall sx_rss sx_sw < <(total <"$work/sox")

echo "1. steady state, 20 s of 440 Hz, $runs runs each"
printf "   %-28s %8s %8s %9s %9s\n" "" "CPU s" "wall s" "peak kB" "switches"
printf "   %-28s %8.4f %8.2f %9d %9d\n" "tonquel 440,20" "$tq_cpu" "$tq_wall" "$tq_rss" "$tq_sw"
printf "   %-28s %8.4f %8.2f %9d %9d\n" "aplay, 20 s WAV" "$ap_cpu" "$ap_wall" "$ap_rss" "$ap_sw"
printf "   %-28s %8.4f %8.2f %9d %9d\n" "sox, synth 20 sine 440" "$sx_cpu" "$sx_wall" "$sx_rss" "$sx_sw"
awk -v t="$tq_cpu" -v a="$ap_cpu" -v s="$sx_cpu" 'BEGIN {
    printf "   tonquel/aplay: %.2f (goal at most 1.5)   tonquel/sox: %.2f (goal at most 0.5)\n", t / a, t / s
}'

# A recorder on the monitor of the sink that ALSA's default device plays to;
# prints when sound first arrived, and the silences within it.
record_start() {
    parec -d tq.monitor --raw --format=s16le --channels=1 --rate=44100 --latency-msec=5 2>/dev/null |
        "$times" 44100 >"$work/times" &
    recorder=$!
    sleep 0.5
}
record_stop() {
    sleep 0.3
    pkill -f "parec -d tq.monitor" 2>/dev/null
    wait "$recorder" 2>/dev/null
    recorder=
}

startup() {  # prints the seconds from the start of the command to its first sound
    record_start
    local started
    started=$(date +%s.%N)
    "$@" </dev/null >/dev/null 2>&1
    record_stop
    awk -v s="$started" '{ printf "%.3f\n", $1 - s }' "$work/times"
}

echo "2. start-up: process start to first sound at the server (best of $runs)"
for _ in $(seq "$runs"); do startup "$bin" 440,1; done | sort -n | head -1 >"$work/tq_start"
for _ in $(seq "$runs"); do startup aplay -q -D default -d 1 "$work/tone.wav"; done | sort -n | head -1 >"$work/ap_start"
printf "   tonquel %s s, aplay %s s\n" "$(cat "$work/tq_start")" "$(cat "$work/ap_start")"

echo "3. per tone: sixty 1-second tones"
tones=()
for i in $(seq 60); do tones+=("$((440 + (i % 2) * 110)),1"); done
record_start
read -r many_cpu many_wall _ _ < <(measure "$bin" "${tones[@]}")
record_stop
read -r _ gaps silent <"$work/times"
read -r one_cpu _ _ _ < <(measure "$bin" 440,-1)  # start-up and probe alone
awk -v m="$many_cpu" -v w="$many_wall" -v t="$tq_cpu" -v tw="$tq_wall" -v o="$one_cpu" -v r="$runs" \
    -v g="$gaps" -v s="$silent" 'BEGIN {
    rate = (t - r * o) / tw   # CPU per second of steady playback
    printf "   %.3f CPU s in %.1f s wall; start-up alone %.4f CPU s; steady %.5f CPU s per s\n", m, w, o, rate
    printf "   each tone adds %.2f ms of CPU, and %.1f ms of silence (%d gaps, %.3f s in all)\n",
        (m - o - rate * w) / 60 * 1000, (g > 0 ? s / g * 1000 : 0), g, s
}'

echo "4. peak resident size: tonquel $tq_rss kB, aplay $ap_rss kB, sox $sx_rss kB"
