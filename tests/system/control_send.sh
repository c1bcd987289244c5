#!/bin/bash
# tonquel --send against a real run on a private sound server, at the
# default place (in the server's private XDG_RUNTIME_DIR): status tells what
# plays, skip moves the sound on to the next tone, observe prints the events
# until the run ends, an unknown command is the run's error with status 1,
# and once quit has ended the run no run answers there. Then a flood from
# clients of the same user (control_flood.cc: big schedule replies, deeply
# nested lines, idle clients, right after sixteen hung up) leaves no gap in
# the sound of either player, and a status still comes within 0.5 s. Last,
# --send at a place whose queue is full (a listener that takes no one) gives
# up after 3 s, and a real SIGINT or SIGTERM ends it at once.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
send() { "$TONQUEL_BIN" --send "$@" </dev/null; }
place=$XDG_RUNTIME_DIR/tonquel/control

audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" --control 440,30 880,30 </dev/null >"$AUDIO_WORK/out" 2>"$AUDIO_WORK/err" &
player=$!
for _ in $(seq 100); do
    state=$(send status 2>/dev/null) && [[ $state == *'"state":"playing"'* ]] && break
    sleep 0.1
done
echo "$state"
[[ $state == '{"state":"playing","frequency":440,"duration":30,"elapsed":'*',"index":1,"entries":2,"left":'*',"version":"1.13"}' ]] ||
    fail "status: '$state'"
[ "$(stat -c %a "$(dirname "$place")")" = 700 ] || fail "the folder of the default place is not private"

send observe >"$AUDIO_WORK/events" 2>&1 &
observer=$!
sleep 2
[ -z "$(send skip)" ] || fail "skip printed something"
sleep 2
send bogus >"$AUDIO_WORK/bogus" 2>&1 && fail "an unknown command gave status 0"
[ "$(cat "$AUDIO_WORK/bogus")" = 'tonquel: unknown command "bogus"' ] || fail "bogus: $(cat "$AUDIO_WORK/bogus")"
send quit || fail "quit gave status $?"
expect_exit "$player" 5 "quit"
[ $status -eq 0 ] || fail "the run ended with $status: $(cat "$AUDIO_WORK/err")"
expect_exit "$observer" 5 "the run's end"
[ $status -eq 0 ] || fail "observe ended with $status"
audio_record_stop

expected_events='{"event":"tone-start","frequency":880,"duration":30,"index":2}
{"event":"end","status":0}'
[ "$(cat "$AUDIO_WORK/events")" = "$expected_events" ] || fail "events: $(cat "$AUDIO_WORK/events")"
[ "$(cat "$AUDIO_WORK/out")" = $'#Frequency, Duration\n  440, 30\n#skip to next frequency in list\n  880, 30' ] ||
    fail "standard output: $(cat "$AUDIO_WORK/out")"
[ ! -e "$place" ] || fail "the socket outlived the run"
[ "$(send status 2>&1)" = "tonquel: no run answers at $place" ] || fail "a run still answers"

# The skip moved the sound on: 440 Hz, then 880 Hz.
analyse segments "$AUDIO_WORK/out.raw" | awk '$1 == "right" { print $2 }' >"$AUDIO_WORK/pitches"
cat "$AUDIO_WORK/pitches"
mapfile -t pitches <"$AUDIO_WORK/pitches"
[ ${#pitches[@]} -eq 2 ] || fail "expected two tones, found ${#pitches[@]}"
expect_range "first pitch" "${pitches[0]:-}" 439 441
expect_range "second pitch" "${pitches[1]:-}" 878 882

helper_program control_flood -pthread || exit 1
# A steady first tone, and behind it a schedule whose reply is 3 MB.
{ echo 440,8; yes 550,1 | head -n 100000; } >"$AUDIO_WORK/long.txt"
place=$AUDIO_WORK/flooded
for player in classic smooth; do
    flags=()
    [ $player = smooth ] && flags=(--smooth)
    # The recorder has room of its own, so that what it hears is the sink's.
    AUDIO_RECORD_LATENCY_MS=100 audio_record_start "$AUDIO_WORK/$player.raw"
    "$TONQUEL_BIN" "${flags[@]}" --control="$place" -f "$AUDIO_WORK/long.txt" </dev/null >/dev/null \
        2>"$AUDIO_WORK/$player.err" &
    run=$!
    for _ in $(seq 100); do send status --control="$place" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 0.5
    # The flood yields the processor: what is judged is that its input never
    # holds the run up, not whether it can starve the sound server of a
    # two-core machine (with the Windows build beside the tests, it did).
    timeout 60 nice -n 15 "$AUDIO_WORK/control_flood" "$place" 3 >"$AUDIO_WORK/$player.flood" &
    flood=$!
    sleep 1.5
    asked=$(date +%s%N)
    send status --control="$place" >/dev/null || fail "$player: --send status during the flood gave status $?"
    expect_range "$player: --send status during the flood (ms)" $((($(date +%s%N) - asked) / 1000000)) 0 500
    wait $flood || fail "$player: the flood failed"
    read -r schedules nested answers slowest <"$AUDIO_WORK/$player.flood"
    echo "$player: $schedules schedule replies, $nested nested lines refused, $answers statuses, slowest $slowest ms"
    expect_range "$player: whole schedule replies" "$schedules" 4 100000
    expect_range "$player: nested lines refused" "$nested" 32 100000
    expect_range "$player: slowest status (ms)" "$slowest" 0 500
    send quit --control="$place" || fail "$player: quit gave status $?"
    expect_exit "$run" 5 "quit"
    [ $status -eq 0 ] || fail "$player: the run ended with $status: $(cat "$AUDIO_WORK/$player.err")"
    audio_record_stop
    grep -q 'the sound ran out' "$AUDIO_WORK/$player.err" && fail "$player: $(cat "$AUDIO_WORK/$player.err")"
    # The wave's own zero crossings give silences of a fraction of a millisecond.
    read -r gaps longest < <(analyse gaps "$AUDIO_WORK/$player.raw" right)
    expect_range "$player: the longest silence in the sound (ms)" "$longest" 0 1.9
done
# A listener whose queue of one is full, and that never takes anyone.
/usr/bin/python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen(0)
queued = []
while True:
    c = socket.socket(socket.AF_UNIX)
    c.setblocking(False)
    try:
        c.connect(sys.argv[1])
    except OSError:
        break
    queued.append(c)
open(sys.argv[1] + ".ready", "w").close()
time.sleep(30)' "$AUDIO_WORK/full" &
listener=$!
for _ in $(seq 50); do [ -e "$AUDIO_WORK/full.ready" ] && break; sleep 0.1; done
asked=$(date +%s%N)
refused=$(send status --control="$AUDIO_WORK/full" 2>&1)
[ $? -eq 1 ] || fail "--send at a full queue did not end with 1"
expect_range "--send at a full queue gives up after (ms)" $((($(date +%s%N) - asked) / 1000000)) 2900 3500
[ "$refused" = "tonquel: $AUDIO_WORK/full: the run takes no client within 3 seconds (its queue is full)" ] ||
    fail "full queue: '$refused'"
for signal in INT TERM; do
    "$TONQUEL_BIN" --send status --control="$AUDIO_WORK/full" </dev/null 2>/dev/null &
    sender=$!
    sleep 0.5
    kill -$signal $sender
    asked=$(date +%s%N)
    wait $sender
    expect_range "--send ends after SIG$signal (ms)" $((($(date +%s%N) - asked) / 1000000)) 0 300
done
kill $listener
exit $AUDIO_FAILED
