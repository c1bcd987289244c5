#!/bin/bash
# Capture at 1000 frames/s into the MOR file by the Windows program: a fed
# 100 Hz tone recorded in full during an 11-second tone, whose buffer of ten
# seconds is long full when the tone ends. (At the end of a 3-second tone
# Wine may still hold the last few milliseconds of input, so the exact
# count is tested where the buffer's end, not the tone's, decides it.)
set -u
source "$(dirname "$0")/../system/lib/audio_check.sh"
export TONQUEL_BIN="$(cd "$(dirname "$0")/lib" && pwd)/tonquel-wine"
audio_setup pacat sox

sox -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 14 sine 100 |
    pacat -d tqin --format=s16le --rate=44100 --channels=2 &
feeder=$!
sleep 0.5

mor="$AUDIO_WORK/mor.txt"
"$TONQUEL_BIN" -m "$mor" 440,11 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
wait $feeder
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"
tr -d '\r' <"$mor" >"$AUDIO_WORK/mor.lf"
bad=$(awk 'NF != 4 || $1 != "440"' "$AUDIO_WORK/mor.lf" | head -3)
[ -z "$bad" ] || fail "unexpected MOR lines: $bad"
analyse mor "$AUDIO_WORK/mor.lf" >"$AUDIO_WORK/blocks" || fail "analyser failed"
cat "$AUDIO_WORK/blocks"
read -r _ lines order left_rate right_rate <"$AUDIO_WORK/blocks"
expect_range "captured frames" "$lines" 10000 10000
[ "$order" = contiguous ] || fail "frame numbers are not 0, 1, 2, ..."
expect_range "left zero crossings per second" "$left_rate" 190 210
expect_range "right zero crossings per second" "$right_rate" 190 210
exit $AUDIO_FAILED
