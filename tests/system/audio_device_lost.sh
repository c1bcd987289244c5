# The sound server goes away in the middle of a tone: the program reports a
# waveOut error and ends with status 1 within moments instead of hanging. With
# no server at all, the probe warns and the first tone fails the same way.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

"$TONQUEL_BIN" 440,20 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 2
kill "$PULSE_PID"
wait "$PULSE_PID" 2>/dev/null
PULSE_PID=
# PipeWire's ALSA plugin reports no error: the stall is found, and in a
# stream's first 6 s that may be a sink still waking up.
expect_exit "$player" 8 "the server went away"
cat "$AUDIO_WORK/stderr"
[ $status -eq 1 ] || fail "exit status $status after losing the server, expected 1"
grep -q '^tonquel: waveOut: .' "$AUDIO_WORK/stderr" || fail "no waveOut error message"

# No server now: ALSA's default device cannot be opened.
timeout 10 "$TONQUEL_BIN" 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr2"
status=$?
cat "$AUDIO_WORK/stderr2"
[ $status -eq 1 ] || fail "exit status $status without a server, expected 1"
grep -q '^tonquel: waveOut: .' "$AUDIO_WORK/stderr2" || fail "no waveOut error message without a server"
exit $AUDIO_FAILED
