# Real playback through ALSA and PulseAudio: each tone on the right channel
# at its pitch, in schedule order, for N to N+1 seconds; the left channel
# silent.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" 440,2 660,1 550,2 </dev/null >"$AUDIO_WORK/stdout" 2>"$AUDIO_WORK/stderr"
status=$?
audio_record_stop
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

analyse segments "$AUDIO_WORK/out.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
cat "$AUDIO_WORK/segments"
mapfile -t right < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
if [ ${#right[@]} -ne 3 ]; then
    fail "expected 3 tones on the right channel, found ${#right[@]}"
else
    expected=("440 2" "660 1" "550 2")
    for i in 0 1 2; do
        read -r hz seconds <<<"${expected[$i]}"
        read -r _ measured_hz _ measured_length _ <<<"${right[$i]}"
        expect_range "tone $((i + 1)) pitch" "$measured_hz" "$(awk -v f="$hz" 'BEGIN { print f * 0.998 }')" "$(awk -v f="$hz" 'BEGIN { print f * 1.002 }')"
        # The end is judged on a whole-second clock and the analyser works in
        # 50 ms windows.
        expect_range "tone $((i + 1)) length" "$measured_length" "$(awk -v n="$seconds" 'BEGIN { print n - 0.1 }')" "$(awk -v n="$seconds" 'BEGIN { print n + 1.25 }')"
    done
fi
[ -z "$(awk '$1 == "left"' "$AUDIO_WORK/segments")" ] || fail "left channel carries a tone"
read -r _ left_min left_max < <(analyse levels "$AUDIO_WORK/out.raw" | awk '$1 == "left"')
expect_range "left channel lowest sample" "$left_min" 0 0
expect_range "left channel highest sample" "$left_max" 0 0
exit $AUDIO_FAILED
