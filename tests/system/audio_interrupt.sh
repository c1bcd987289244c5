# Ctrl-C in the middle of a long tone: the sound stops at once (the queued
# second or two is dropped, not played out) and the program ends with 0.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" -m "$AUDIO_WORK/mor.txt" 440,20 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 3
kill -INT "$player"
expect_exit "$player" 2 "Ctrl-C"
audio_record_stop
[ $status -eq 0 ] || fail "exit status $status after Ctrl-C: $(cat "$AUDIO_WORK/stderr")"

analyse segments "$AUDIO_WORK/out.raw" | awk '$1 == "right"' >"$AUDIO_WORK/segments"
cat "$AUDIO_WORK/segments"
[ "$(wc -l <"$AUDIO_WORK/segments")" -eq 1 ] || fail "expected one stretch of tone"
read -r _ hz _ length _ <"$AUDIO_WORK/segments"
expect_range "pitch" "$hz" 439.1 440.9
# Sound starts a little after launch and must stop within a poll step or two
# of the signal, well before the queued audio would have run out.
expect_range "length" "$length" 2.0 3.4
exit $AUDIO_FAILED
