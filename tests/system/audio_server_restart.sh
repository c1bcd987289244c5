# The sound server is killed in the middle of a tone and started again a
# second later. With --wait-for-device the run waits for it: the recording
# after the restart holds the rest of the interrupted tone and the next tone
# at their pitches, and the run ends with status 0. Prints how long after the
# server's return the sound resumed and how much of the tone was lost.
source "$(dirname "$0")/lib/audio_check.sh"
[ "${TONQUEL_SOUND_SERVER:-pulseaudio}" != pipewire-alsa ] || {
    echo "SKIP: PipeWire's own ALSA plugin: the restart is tested by the pulse route" >&2
    exit 77
}
audio_setup

audio_record_start "$AUDIO_WORK/before.raw"
before_recorder=${AUDIO_RECORDERS[-1]}
"$TONQUEL_BIN" -r --wait-for-device=20 440,4 660,3 </dev/null >"$AUDIO_WORK/stdout" 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 2
sound_server_kill
wait "$before_recorder" 2>/dev/null
AUDIO_RECORDERS=()
sleep 1
sound_server_start_again || fail "the server did not start again"
back=$(date +%s.%N)
parec --latency-msec=20 -d tq.monitor --format=s16le --rate=44100 --channels=2 "$AUDIO_WORK/after.raw" &
AUDIO_RECORDERS+=($!)
recording=$(date +%s.%N)
expect_exit "$player" 15 "the server came back"
audio_record_stop
cat "$AUDIO_WORK/stderr"
[ $status -eq 0 ] || fail "exit status $status after the server came back, expected 0"
grep -q '^tonquel: waveOut: .*(waiting up to 20 s for it to answer again)$' "$AUDIO_WORK/stderr" ||
    fail "no message that the run waits"
grep -q '^tonquel: waveOut: the sound device answers again, after [0-9]* s without sound$' "$AUDIO_WORK/stderr" ||
    fail "no message that the device is back"
[ "$(grep -c '^  440, 4$' "$AUDIO_WORK/stdout")" -eq 1 ] || fail "the tone line is not written exactly once"

analyse segments "$AUDIO_WORK/before.raw" >"$AUDIO_WORK/before" || fail "analyser failed"
analyse segments "$AUDIO_WORK/after.raw" >"$AUDIO_WORK/after" || fail "analyser failed"
echo "before the kill:"; cat "$AUDIO_WORK/before"
echo "after the restart:"; cat "$AUDIO_WORK/after"
# A freshly started PipeWire may drop a moment of sound while it settles:
# pieces of one pitch less than 0.3 s apart count as one tone.
mapfile -t right < <(awk '$1 == "right" {
    if (n && $2 > f * 0.998 && $2 < f * 1.002 && $3 - (s + l) < 0.3) {
        printf "merged a gap of %.2f s\n", $3 - (s + l) > "/dev/stderr"; l = $3 + $4 - s; next
    }
    if (n) print "right", f, s, l
    n = 1; f = $2; s = $3; l = $4
} END { if (n) print "right", f, s, l }' "$AUDIO_WORK/after")
if [ ${#right[@]} -ne 2 ]; then
    fail "expected the rest of 440 Hz and 660 Hz after the restart, found ${#right[@]} tones"
else
    read -r _ hz1 start1 length1 _ <<<"${right[0]}"
    read -r _ hz2 _ length2 _ <<<"${right[1]}"
    expect_range "resumed tone pitch" "$hz1" 439.1 440.9
    expect_range "next tone pitch" "$hz2" 658.6 661.4
    expect_range "next tone length" "$length2" 2.9 4.25
    played_before=$(awk '$1 == "right" { print $4; exit }' "$AUDIO_WORK/before")
    resumed=$(awk -v b="$back" -v r="$recording" -v s="$start1" 'BEGIN { printf "%.2f", r - b + s }')
    heard=$(awk -v a="${played_before:-0}" -v b="$length1" 'BEGIN { printf "%.2f", a + b }')
    echo "measured: sound resumed ${resumed} s after the server was back; 440 Hz heard for ${heard} s of its 4 to 5 s"
    expect_range "seconds until the sound resumed" "$resumed" 0 2.5
    expect_range "seconds of the interrupted tone heard" "$heard" 2.5 5.3
fi
exit $AUDIO_FAILED
