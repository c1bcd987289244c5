# Standard error carries only tonquel's own messages: nothing of what
# alsa-lib or the sound server's client library print, neither in a normal
# run with a home folder that cannot be written (libpulse then complains
# about its secure directory) nor when no server answers at all.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

HOME=/nonexistent/tonquel-home "$TONQUEL_BIN" 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status with an unwritable home, expected 0"
[ ! -s "$AUDIO_WORK/stderr" ] || { cat "$AUDIO_WORK/stderr"; fail "standard error is not empty"; }

# No server at all: the probe's warning and one readable waveOut line.
pulse_stop
"$TONQUEL_BIN" 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
cat "$AUDIO_WORK/stderr"
[ "$status" -eq 1 ] || fail "exit status $status without a server, expected 1"
[ "$(wc -l <"$AUDIO_WORK/stderr")" -eq 2 ] || fail "standard error holds more than the two lines"
sed -n 1p "$AUDIO_WORK/stderr" | grep -qx 'tonquel: marginal or nonexistant soundcard detected: trying anyways' ||
    fail "the first line is not the probe's warning"
sed -n 2p "$AUDIO_WORK/stderr" |
    grep -q "^tonquel: waveOut: ALSA's \"default\" device for playback found no sound server or sound card (.*); check that" ||
    fail "the second line does not say what was tried and what to check"
exit $AUDIO_FAILED
