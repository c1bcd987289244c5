# -m: while a 3-second tone plays, a 100 Hz tone fed into the capture source
# comes back in the MOR file as 3000 frames at 1000 frames/s, numbered from
# 0 without gaps, about 200 zero crossings a second on each channel.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup pacat sox

sox -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 6 sine 100 |
    pacat -d tqin --format=s16le --rate=44100 --channels=2 &
feeder=$!
sleep 0.5  # let the fed tone reach the source before the capture starts

mor="$AUDIO_WORK/mor.txt"
"$TONQUEL_BIN" -m "$mor" 440,3 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
wait $feeder
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

[ -s "$mor" ] || { fail "no MOR output"; exit 1; }
bad=$(awk 'NF != 4 || $1 != "440"' "$mor" | head -3)
[ -z "$bad" ] || fail "unexpected MOR lines: $bad"
analyse mor "$mor" >"$AUDIO_WORK/blocks" || fail "analyser failed"
cat "$AUDIO_WORK/blocks"
[ "$(wc -l <"$AUDIO_WORK/blocks")" -eq 1 ] || fail "expected one block of captured frames"
read -r frequency lines order left_rate right_rate <"$AUDIO_WORK/blocks"
expect_range "captured frames" "$lines" 3000 3000
[ "$order" = contiguous ] || fail "frame numbers are not 0, 1, 2, ..."
expect_range "left zero crossings per second" "$left_rate" 190 210
expect_range "right zero crossings per second" "$right_rate" 190 210
exit $AUDIO_FAILED
