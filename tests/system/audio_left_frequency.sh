# -l 550: the left channel plays its own frequency beside the tone.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" -l 550 440,2 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
audio_record_stop
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

analyse segments "$AUDIO_WORK/out.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
cat "$AUDIO_WORK/segments"
for channel in right left; do
    count=$(awk -v c=$channel '$1 == c' "$AUDIO_WORK/segments" | wc -l)
    [ "$count" -eq 1 ] || fail "expected one tone on the $channel channel, found $count"
done
read -r _ right_hz _ right_length _ < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
read -r _ left_hz _ left_length _ < <(awk '$1 == "left"' "$AUDIO_WORK/segments")
expect_range "right pitch" "$right_hz" 439.1 440.9
expect_range "left pitch" "$left_hz" 548.9 551.1
expect_range "right length" "$right_length" 1.9 3.25
expect_range "left length" "$left_length" 1.9 3.25
exit $AUDIO_FAILED
