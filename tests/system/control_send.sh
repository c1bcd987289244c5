#!/bin/bash
# tonquel --send against a real run on a private sound server, at the
# default place (in the server's private XDG_RUNTIME_DIR): status tells what
# plays, skip moves the sound on to the next tone, observe prints the events
# until the run ends, an unknown command is the run's error with status 1,
# and once quit has ended the run no run answers there.
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
exit $AUDIO_FAILED
