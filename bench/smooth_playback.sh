#!/usr/bin/env bash
# --smooth beside the default, measured side by side in one run on a private
# PulseAudio server:
#   1. CPU time of a 20-s tone, RUNS times each (2 by default); goal:
#      --smooth at most 1.2 times the default;
#   2. the delay from a key to the change in the sound: skips sent on a
#      terminal (tmux) from 441 Hz to 882 Hz and back, against the moment the
#      server's monitor shows the new pitch; goal: under 100 ms;
#   3. the length of ten 1-s tones as the sink received them.
#
#   bench/smooth_playback.sh [BUILD_DIR] [RUNS]
#
# CPU time is user + system of the client process (bench/child_usage).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
runs=${2:-2}
bin=$build/tonquel
usage=$build/bench/child_usage
changes=$build/bench/sound_changes

source "$here/lib/bench_setup.sh"
bench_require tmux pulseaudio pactl parec g++
bench_require_built "$bin" "$usage" "$changes"

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
recorder=
trap '[ -n "$recorder" ] && kill "$recorder" 2>/dev/null; tmux -S "$work/tmux" kill-server 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1
g++ -std=c++20 -O2 -o "$work/analyse" "$source_dir/tests/system/lib/audio_analyse.cc" || exit 1

cpu() {  # CPU seconds of one run
    "$usage" "$@" </dev/null >/dev/null 2>"$work/usage" || { echo "failed: $*" >&2; exit 1; }
    tail -1 "$work/usage" | awk '{ printf "%.6f\n", $1 + $2 }'
}

echo "1. CPU time of 440,20, $runs runs each"
default=0
smooth=0
for _ in $(seq "$runs"); do
    default=$(awk -v a="$default" -v b="$(cpu "$bin" 440,20)" 'BEGIN { print a + b }')
    smooth=$(awk -v a="$smooth" -v b="$(cpu "$bin" --smooth 440,20)" 'BEGIN { print a + b }')
done
awk -v d="$default" -v s="$smooth" -v r="$runs" 'BEGIN {
    printf "   default %.4f s, --smooth %.4f s a run: %.2f times (goal at most 1.2)\n", d / r, s / r, s / d
}'

# The keys' delay: a terminal that types s every 1.5 s, and the monitor's
# pitch changes as they arrive.
latency() {
    local label=$1
    shift
    tmux -S "$work/tmux" new-session -d -s bench -x 120 -y 10 "$(printf '%q ' "$bin" "$@"); sleep 1"
    parec -d tq.monitor --raw --format=s16le --channels=1 --rate=44100 --latency-msec=5 2>/dev/null |
        "$changes" 44100 >"$work/changes" &
    recorder=$!
    sleep 2
    : >"$work/keys"
    for _ in $(seq 10); do
        date +%s.%N >>"$work/keys"
        tmux -S "$work/tmux" send-keys -t bench s
        sleep 1.5
    done
    tmux -S "$work/tmux" send-keys -t bench q
    sleep 0.5
    pkill -f "parec -d tq.monitor" 2>/dev/null
    wait "$recorder" 2>/dev/null
    recorder=
    tmux -S "$work/tmux" kill-server 2>/dev/null
    # Each key against the first change after it.
    awk -v label="$label" 'NR == FNR { keys[++k] = $1; next } { changes[++c] = $1 }
        END {
            n = 0; sum = 0; worst = 0
            for (i = 1; i <= k; i++) {
                for (j = 1; j <= c; j++) if (changes[j] > keys[i]) break
                if (j > c || changes[j] - keys[i] > 1) continue
                d = (changes[j] - keys[i]) * 1000; sum += d; n++; if (d > worst) worst = d
                list = list sprintf(" %.0f", d)
            }
            if (n == 0) { printf "   %s: no change heard\n", label; exit }
            printf "   %s: %d keys, mean %.0f ms, worst %.0f ms (ms:%s)\n", label, n, sum / n, worst, list
        }' "$work/keys" "$work/changes"
}

echo "2. from a key (s) to the new pitch at the server's monitor"
tones=()
for i in $(seq 12); do tones+=("$((441 * (1 + i % 2))),30"); done
latency "--smooth" --smooth "${tones[@]}"
latency "default " "${tones[@]}"

echo "3. ten 1-s tones as the sink received them"
ten=(440,1 660,1 550,1 880,1 330,1 440,1 660,1 550,1 880,1 330,1)
for mode in default --smooth; do
    args=("${ten[@]}")
    [ "$mode" = --smooth ] && args=(--smooth "${ten[@]}")
    parec -d tq.monitor --format=s16le --rate=44100 --channels=2 --latency-msec=20 "$work/ten.raw" &
    recorder=$!
    sleep 0.5
    "$bin" "${args[@]}" </dev/null >/dev/null 2>&1
    sleep 0.3
    kill "$recorder"
    wait "$recorder" 2>/dev/null
    recorder=
    "$bin" --smooth --output "$work/ten.wav" "${ten[@]}" >/dev/null 2>&1
    sox "$work/ten.wav" -t raw -e signed -b 16 "$work/ten_expected.raw" 2>/dev/null
    read -r _ _ _ sound largest < <("$work/analyse" contains "$work/ten.raw" "$work/ten_expected.raw")
    printf "   %-9s %.3f s from the first sound to the last, largest step between samples %d\n" "$mode" "$sound" "$largest"
done
