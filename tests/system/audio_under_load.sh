# A 20-second tone with both cores kept busy: tonquel keeps the device fed
# (the device's ring holds two seconds, so a feeder that wakes late under
# load never lets it run dry, and a run that does says so), and the tone is
# heard at its pitch and length. A short gap in the recording that tonquel did
# not see is the sound server's or the recorder's, starved by the same load:
# it is shown, and judged no fault of tonquel's.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
busy=()
stop_load() { [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2>/dev/null; busy=(); }
trap 'stop_load; audio_cleanup' EXIT

for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    busy+=($!)
done
# The recorder is a client of the server like tonquel and suffers the same
# load: a longer latency keeps its own reads from dropping samples.
AUDIO_RECORD_LATENCY_MS=250 audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" 440,20 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
stop_load
sleep 1  # what the recorder still buffers
audio_record_stop
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

grep -q 'the sound ran out' "$AUDIO_WORK/stderr" && fail "tonquel let the device run dry: $(cat "$AUDIO_WORK/stderr")"
read -r gaps longest < <(analyse gaps "$AUDIO_WORK/out.raw" right)
echo "dropouts in the recording: $gaps, longest $longest ms"
[ "$gaps" -eq 0 ] || echo "note: the device was fed throughout; the server or the recorder dropped these"
analyse segments "$AUDIO_WORK/out.raw" | awk '$1 == "right"' >"$AUDIO_WORK/segments"
cat "$AUDIO_WORK/segments"
# The recording's own gaps split the tone where they fall; without any, it
# is one steady stretch. Either way it holds the pitch from start to end.
if [ "$gaps" -eq 0 ]; then
    [ "$(wc -l <"$AUDIO_WORK/segments")" -eq 1 ] || fail "the tone is not one steady stretch"
fi
while read -r _ hz _; do
    expect_range "pitch" "$hz" 439.1 440.9
done <"$AUDIO_WORK/segments"
length=$(awk 'NR == 1 { first = $3 } { end = $3 + $4 } END { printf "%.3f", end - first }' "$AUDIO_WORK/segments")
expect_range "length" "$length" 19.9 21.25
exit $AUDIO_FAILED
