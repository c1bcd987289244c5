#!/usr/bin/env bash
# --smooth beside the default, measured side by side in one run on a private
# PulseAudio server:
#   1. CPU time and wake-ups of 30 s of sound, RUNS rounds (2 by default)
#      beside aplay: --smooth alone (standard input no terminal, no
#      --control) against aplay's default buffer, goal at most 1.5 times;
#      --smooth --control against aplay -B 100000, goal at most 1.2 times;
#   2. the delay from a key, and from a --send skip, to the change in the
#      sound: skips from 441 Hz to 882 Hz and back, typed on a terminal
#      (tmux) or sent, against the moment the server's monitor shows the new
#      pitch; goal: at most 100 ms, worst of ten;
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
bench_require tmux pulseaudio pactl parec g++ sox aplay
bench_require_built "$bin" "$usage" "$changes"

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
recorder=
trap '[ -n "$recorder" ] && kill "$recorder" 2>/dev/null; tmux -S "$work/tmux" kill-server 2>/dev/null; pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1
g++ -std=c++20 -O2 -o "$work/analyse" "$source_dir/tests/system/lib/audio_analyse.cc" || exit 1

usage_of() {  # "CPU-seconds wake-ups" of one run (user + system; voluntary switches)
    "$usage" "$@" </dev/null >/dev/null 2>"$work/usage" || { echo "failed: $*" >&2; exit 1; }
    tail -1 "$work/usage" | awk '{ printf "%.6f %d\n", $1 + $2, $5 }'
}

# One row: RUNS rounds of tonquel and its aplay peer, side by side, and the
# ratios of their sums.
side_by_side() {
    local label=$1 goal=$2 peer=$3
    shift 3
    local ours_cpu=0 ours_wakes=0 peer_cpu=0 peer_wakes=0 cpu wakes
    for _ in $(seq "$runs"); do
        read -r cpu wakes < <(usage_of "$@")
        ours_cpu=$(awk -v a="$ours_cpu" -v b="$cpu" 'BEGIN { print a + b }')
        ours_wakes=$((ours_wakes + wakes))
        # shellcheck disable=SC2086
        read -r cpu wakes < <(usage_of aplay -q $peer "$work/tone30.wav")
        peer_cpu=$(awk -v a="$peer_cpu" -v b="$cpu" 'BEGIN { print a + b }')
        peer_wakes=$((peer_wakes + wakes))
    done
    awk -v l="$label" -v g="$goal" -v p="aplay $peer" -v oc="$ours_cpu" -v ow="$ours_wakes" -v pc="$peer_cpu" \
        -v pw="$peer_wakes" -v r="$runs" 'BEGIN {
        printf "   %s: %.3f CPU s, %d wake-ups a run; %s: %.3f CPU s, %d wake-ups: %.2f and %.2f times (goal at most %s)\n",
            l, oc / r, ow / r, p, pc / r, pw / r, oc / pc, ow / pw, g
    }'
}

echo "1. 30 s of 440 Hz, $runs rounds side by side (CPU seconds user+system, voluntary context switches)"
sox -q -n -t wav -r 44100 -c 2 -b 16 -e signed "$work/tone30.wav" synth 30 sine 440 vol 0.5
side_by_side "--smooth alone (no terminal, no --control)" 1.5 "" "$bin" --smooth 440,30
side_by_side "--smooth --control" 1.2 "-B 100000" "$bin" --smooth "--control=$work/control" 440,30
side_by_side "the default player" - "" "$bin" 440,30

# The keys' delay: a terminal that types s every 1.5 s, and the monitor's
# pitch changes as they arrive.
latency() {  # VIA LABEL ARG...: VIA is key (typed on the terminal) or send
    local via=$1 label=$2
    shift 2
    tmux -S "$work/tmux" new-session -d -s bench -x 120 -y 10 "$(printf '%q ' "$bin" "$@"); sleep 1"
    parec -d tq.monitor --raw --format=s16le --channels=1 --rate=44100 --latency-msec=5 2>/dev/null |
        "$changes" 44100 >"$work/changes" &
    recorder=$!
    sleep 2
    : >"$work/keys"
    for _ in $(seq 10); do
        date +%s.%N >>"$work/keys"
        if [ "$via" = send ]; then
            "$bin" "--control=$work/control-skip" --send skip >/dev/null 2>&1
        else
            tmux -S "$work/tmux" send-keys -t bench s
        fi
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

echo "2. from a key (s) or a --send skip to the new pitch at the server's monitor"
tones=()
for i in $(seq 12); do tones+=("$((441 * (1 + i % 2))),30"); done
latency key "--smooth, a key     " --smooth "${tones[@]}"
latency send "--smooth, --send skip" --smooth "--control=$work/control-skip" "${tones[@]}"
latency key "default, a key      " "${tones[@]}"

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
