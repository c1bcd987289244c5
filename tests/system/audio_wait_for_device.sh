# --wait-for-device with no sound server at the start: the run waits and
# plays once a server appears; a server that never comes ends the run after
# about the given seconds with status 1; Ctrl-C during the wait ends it at
# once with status 0.
source "$(dirname "$0")/lib/audio_check.sh"
[ "${TONQUEL_SOUND_SERVER:-pulseaudio}" = pulseaudio ] || {
    echo "SKIP: the wait itself is the same on every server; tested on PulseAudio" >&2
    exit 77
}
audio_setup
sound_server_kill

started=$(date +%s.%N)
timeout 20 "$TONQUEL_BIN" --wait-for-device=3 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/never"
status=$?
took=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
cat "$AUDIO_WORK/never"
[ $status -eq 1 ] || fail "exit status $status with a server that never came, expected 1"
expect_range "seconds before giving up" "$took" 3 6
[ "$(tail -n 1 "$AUDIO_WORK/never" | grep -c '^tonquel: waveOut: ')" -eq 1 ] || fail "no final waveOut message"

"$TONQUEL_BIN" --wait-for-device=30 440,30 </dev/null >/dev/null 2>/dev/null &
player=$!
sleep 1.5
kill -INT "$player"
expect_exit "$player" 3 "Ctrl-C during the wait"
[ $status -eq 0 ] || fail "exit status $status after Ctrl-C during the wait, expected 0"

"$TONQUEL_BIN" --wait-for-device=30 440,2 </dev/null >/dev/null 2>"$AUDIO_WORK/late" &
player=$!
sleep 2
sound_server_start_again || fail "the server did not start"
audio_record_start "$AUDIO_WORK/late.raw"
expect_exit "$player" 10 "the server appeared"
audio_record_stop
cat "$AUDIO_WORK/late"
[ $status -eq 0 ] || fail "exit status $status once the server appeared, expected 0"
analyse segments "$AUDIO_WORK/late.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
cat "$AUDIO_WORK/segments"
read -r _ hz _ length _ < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
expect_range "pitch once the server appeared" "$hz" 439.1 440.9
expect_range "length once the server appeared" "$length" 1.5 3.25
exit $AUDIO_FAILED
