#!/usr/bin/env bash
# What a client of --control measures, on a private PulseAudio server:
#   1. from the start of `tonquel --send skip` to the change in the sound
#      (the old tone gone from the sink's monitor, the next one there), over
#      SKIPS skips (5 by default);
#   2. the sound's continuity while clients flood the socket with bad lines
#      as fast as they can, reading the error replies: the silences inside
#      a 10 s tone with no client, one and sixteen flooding, the lines the
#      run answered meanwhile and the CPU time the run took;
#   3. the same for each player under the system test's flood
#      (tests/system/lib/control_flood.cc: 3 MB schedule replies, deeply
#      nested lines, idle clients), with the slowest of its statuses.
#
#   bench/control_latency.sh [BUILD_DIR] [SKIPS]
#
# The monitor is read in 10 ms windows with a 5 ms recording latency, so
# the figures hold the server's own latency and up to 10 ms of window.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build}
skips=${2:-5}
bin=$build/tonquel
usage=$build/bench/child_usage
times=$build/bench/sound_times
python=/usr/bin/python3

source "$here/lib/bench_setup.sh"
bench_require pulseaudio pactl parec "$python"
bench_require_built "$bin" "$usage" "$times"

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
recorder=
player=
trap '[ -n "$recorder" ] && kill "$recorder" 2>/dev/null; [ -n "$player" ] && kill "$player" 2>/dev/null
      pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1
socket=$work/control
mkfifo "$work/monitor"

# Prints "EPOCH_S CLASS" each time the sound changes between silent, low
# (below 660 Hz) and high, judged on 10 ms windows as they arrive.
cat >"$work/changes.py" <<'PY'
import array, sys, time
window = 441
pending = b""
previous = None
source = sys.stdin.buffer
while True:
    data = source.read1(8192)
    if not data:
        break
    pending += data
    while len(pending) >= 2 * window:
        samples = array.array("h")
        samples.frombytes(pending[:2 * window])
        pending = pending[2 * window:]
        loud = max(abs(s) for s in samples) > 300
        crossings = sum(1 for a, b in zip(samples, samples[1:]) if (a < 0) != (b < 0))
        kind = "silent" if not loud else ("low" if crossings * 50 < 660 else "high")
        if kind != previous:
            print(f"{time.time():.4f} {kind}", flush=True)
            previous = kind
PY

# Floods the socket from CLIENTS connections with lines that are not JSON
# for SECONDS, reading what comes back; prints "LINES_SENT REPLIES".
cat >"$work/flood.py" <<'PY'
import select, socket, sys, time
clients = []
for _ in range(int(sys.argv[3])):
    client = socket.socket(socket.AF_UNIX)
    client.connect(sys.argv[1])
    client.setblocking(False)
    clients.append(client)
line = b"not json at all\n"
chunk = line * 4096
sent = replies = 0
end = time.time() + float(sys.argv[2])
while time.time() < end and clients:
    readable, writable, _ = select.select(clients, clients, [], 0.05)
    for client in writable:
        try:
            sent += client.send(chunk)
        except (BlockingIOError, BrokenPipeError, ConnectionResetError):
            pass
    for client in readable:
        try:
            data = client.recv(1 << 20)
        except ConnectionResetError:
            data = b""
        if not data:
            clients.remove(client)
        replies += data.count(b"\n")
print(sent // len(line), replies)
PY

record_start() {  # $1: the command that reads the monitor's samples
    parec -d tq.monitor --raw --format=s16le --channels=1 --rate=44100 --latency-msec=5 >"$work/monitor" 2>/dev/null &
    recorder=$!
    "$@" <"$work/monitor" &
    reader=$!
    sleep 0.5
}
record_stop() {
    sleep 0.3
    kill "$recorder" 2>/dev/null
    wait "$recorder" "$reader" 2>/dev/null
    recorder=
}

wait_until_answering() {
    for _ in $(seq 100); do
        "$bin" --send status --control="$socket" >/dev/null 2>&1 && return
        sleep 0.1
    done
    echo "the run never answered" >&2
    exit 1
}

echo "1. --send skip to the change in the sound, $skips skips"
tones=()
for i in $(seq $((skips + 1))); do tones+=("$((440 + (i % 2) * 440)),30"); done
record_start "$python" "$work/changes.py" >"$work/changes"
"$bin" --control="$socket" "${tones[@]}" </dev/null >/dev/null 2>&1 &
player=$!
wait_until_answering
sleep 2
: >"$work/sent"
for _ in $(seq "$skips"); do
    date +%s.%N >>"$work/sent"
    "$bin" --send skip --control="$socket"
    sleep 2.5
done
"$bin" --send quit --control="$socket"
wait "$player"
player=
record_stop
# For each skip: the first change after it (the old tone gone) and the first
# window of the next tone.
awk 'NR == FNR { sent[++skips] = $1; next }
     { at[++changes] = $1; kind[changes] = $2 }
     END {
         for (s = 1; s <= skips; s++) {
             gone = ""; next_tone = ""; before = ""
             for (c = 1; c <= changes; c++) {
                 if (at[c] <= sent[s]) { before = kind[c]; continue }
                 if (gone == "" && kind[c] != before) gone = at[c]
                 if (kind[c] != "silent" && kind[c] != before) { next_tone = at[c]; break }
             }
             if (gone == "" || next_tone == "") { printf "   skip %d: no change seen\n", s; continue }
             printf "   skip %d: old tone gone after %4.0f ms, next tone after %4.0f ms\n", s,
                    (gone - sent[s]) * 1000, (next_tone - sent[s]) * 1000
         }
     }' "$work/sent" "$work/changes"

echo "2. a 10 s tone while no client, one or sixteen flood the socket with bad lines"
continuity() {  # $1: how many clients flood the socket
    record_start "$times" 44100 >"$work/times"
    "$usage" "$bin" --control="$socket" 440,10 </dev/null >/dev/null 2>"$work/usage" &
    player=$!
    wait_until_answering
    local flood="-"
    sleep 0.2  # the run lets go of the client that asked
    if [ "$1" -gt 0 ]; then flood=$("$python" "$work/flood.py" "$socket" 8 "$1"); fi
    wait "$player"
    player=
    record_stop
    read -r _ gaps silent <"$work/times"
    read -r user system _ <<<"$(tail -1 "$work/usage")"
    printf "   %2d flooding  silences %s (%s s)  run's CPU %.3f s  lines sent, answered: %s\n" "$1" "$gaps" \
        "$silent" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$flood"
}
continuity 0
continuity 1
continuity 16

echo "3. a 10 s tone under the flood of the system test, for 8 s"
g++ -std=c++20 -O2 -pthread -o "$work/control_flood" "$source_dir/tests/system/lib/control_flood.cc" || exit 1
{ echo 440,10; yes 550,1 | head -n 100000; } >"$work/long.txt"
for player_flags in "" --smooth; do
    record_start "$times" 44100 >"$work/times"
    # shellcheck disable=SC2086  # no flag or one
    "$bin" $player_flags --control="$socket" -f "$work/long.txt" </dev/null >/dev/null 2>&1 &
    player=$!
    wait_until_answering
    sleep 0.2
    read -r schedules nested answers slowest < <("$work/control_flood" "$socket" 8)
    "$bin" --send quit --control="$socket"
    wait "$player"
    player=
    record_stop
    read -r _ gaps silent <"$work/times"
    printf "   %-8s silences %s (%s s)  schedule replies %s, nested lines refused %s, statuses %s, slowest %s ms\n" \
        "${player_flags:-classic}" "$gaps" "$silent" "$schedules" "$nested" "$answers" "$slowest"
done
