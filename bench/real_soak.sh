#!/usr/bin/env bash
# A real soak: MINUTES (10 by default) of tones through ALSA's default device
# into a private PulseAudio server, with every core kept busy, recorded from
# the sink's monitor. Reports, and fails (status 1) unless:
#   - every tone is one steady stretch at its pitch, N to N+1 seconds long;
#   - no dropout inside a tone (the only silences are the changes of tone);
#   - resident memory, threads and open files are as high in the last
#     minute as in the first, and no higher.
#
#   bench/real_soak.sh [BUILD_DIR] [MINUTES]
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
minutes=${2:-10}
bin=$build/tonquel

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-soak.XXXXXX)
busy=()
recorder=
cleanup() {
    [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2>/dev/null
    [ -n "$recorder" ] && kill "$recorder" 2>/dev/null
    pulse_stop
    rm -rf "$work"
}
trap cleanup EXIT
pulse_start || exit 1
g++ -std=c++20 -O2 -o "$work/analyse" "$source_dir/tests/system/lib/audio_analyse.cc" || exit 1

# Tones of 3 to 17 seconds, neighbours always at different pitches.
lengths=(5 11 3 17 8 13 4)
schedule=()
expected=()
total=0
i=0
while [ $total -lt $((minutes * 60)) ]; do
    hz=$((300 + (i % 9) * 70))
    seconds=${lengths[$((i % ${#lengths[@]}))]}
    schedule+=("$hz,$seconds")
    expected+=("$hz $seconds")
    total=$((total + seconds))
    i=$((i + 1))
done
echo "schedule: ${#schedule[@]} tones, $total s, $(nproc) cores kept busy"

for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    busy+=($!)
done
parec --latency-msec=250 -d tq.monitor --format=s16le --rate=44100 --channels=2 "$work/out.raw" &
recorder=$!
sleep 0.5

"$bin" "${schedule[@]}" </dev/null >"$work/stdout" 2>"$work/stderr" &
player=$!
# Every 5 s: resident kB, threads, open descriptors.
while kill -0 "$player" 2>/dev/null; do
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$player/status" 2>/dev/null)
    threads=$(awk '/^Threads/ { print $2 }' "/proc/$player/status" 2>/dev/null)
    fds=$(ls "/proc/$player/fd" 2>/dev/null | wc -l)
    [ -n "$rss" ] && echo "$(date +%s) $rss $threads $fds" >>"$work/samples"
    sleep 5
done
wait "$player"
status=$?
sleep 1
kill "$recorder" 2>/dev/null
wait "$recorder" 2>/dev/null
recorder=

failed=0
bad() { echo "FAIL: $*"; failed=1; }
[ $status -eq 0 ] || bad "exit status $status: $(cat "$work/stderr")"
[ -s "$work/stderr" ] && bad "standard error: $(cat "$work/stderr")"

"$work/analyse" segments "$work/out.raw" | awk '$1 == "right"' >"$work/segments"
found=$(wc -l <"$work/segments")
[ "$found" -eq ${#expected[@]} ] || bad "${#expected[@]} tones played, $found steady stretches recorded"
worst_short=99
worst_long=-99
n=0
while read -r _ hz _ length _; do
    read -r want_hz want_seconds <<<"${expected[$n]:-0 0}"
    awk -v h="$hz" -v w="$want_hz" 'BEGIN { exit !(h > w * 0.998 && h < w * 1.002) }' ||
        bad "tone $((n + 1)): $hz Hz, expected $want_hz"
    over=$(awk -v l="$length" -v s="$want_seconds" 'BEGIN { printf "%.3f", l - s }')
    awk -v o="$over" 'BEGIN { exit !(o >= -0.1 && o <= 1.25) }' ||
        bad "tone $((n + 1)): $length s, expected $want_seconds to $((want_seconds + 1))"
    worst_short=$(awk -v a="$worst_short" -v o="$over" 'BEGIN { print (o < a ? o : a) }')
    worst_long=$(awk -v a="$worst_long" -v o="$over" 'BEGIN { print (o > a ? o : a) }')
    n=$((n + 1))
done <"$work/segments"
read -r gaps longest < <("$work/analyse" gaps "$work/out.raw" right)
[ "$gaps" -le $((${#expected[@]} - 1)) ] || bad "$gaps silences for $((${#expected[@]} - 1)) changes of tone"
# A change of tone closes one device and opens the next: under load that
# may take a few tens of milliseconds, never a dropout of a quarter second.
awk -v l="$longest" 'BEGIN { exit !(l < 250) }' || bad "a silence of $longest ms"

read -r first_rss first_threads first_fds < <(head -12 "$work/samples" | sort -k2 -n | tail -1 | cut -d' ' -f2-)
read -r last_rss last_threads last_fds < <(tail -12 "$work/samples" | sort -k2 -n | tail -1 | cut -d' ' -f2-)
read -r max_rss max_threads max_fds < <(awk '{ if ($2 > r) r = $2; if ($3 > t) t = $3; if ($4 > f) f = $4 }
    END { print r, t, f }' "$work/samples")
echo "tones: $n recorded, each $worst_short to $worst_long s over its length"
echo "silences: $gaps (for $((${#expected[@]} - 1)) changes of tone), longest $longest ms"
echo "resident kB: first minute $first_rss, last minute $last_rss, highest $max_rss"
echo "threads: first minute $first_threads, last minute $last_threads, highest $max_threads"
echo "open files: first minute $first_fds, last minute $last_fds, highest $max_fds"
[ "$last_rss" -le $((first_rss + 256)) ] || bad "resident memory grew"
# The highest counts may fall on a change of tone, while a device opens.
[ "$last_threads" -eq "$first_threads" ] || bad "threads changed"
[ "$last_fds" -eq "$first_fds" ] || bad "open files changed"
exit $failed
