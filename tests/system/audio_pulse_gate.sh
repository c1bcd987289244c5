# -p 10: the tone is gated on and off every 2205 frames (50 ms), and the
# gate pattern survives the trip through the device unchanged.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup

audio_record_start "$AUDIO_WORK/out.raw"
"$TONQUEL_BIN" -p 10 440,2 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr"
status=$?
audio_record_stop
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

read -r on_runs off_runs on_median off_median < <(analyse gate "$AUDIO_WORK/out.raw" right)
echo "gate: $on_runs on runs, $off_runs off runs, medians $on_median / $off_median frames"
# 2 to 3 seconds of sound at 10 pulses a second.
expect_range "sounding stretches" "$on_runs" 19 32
expect_range "silent stretches" "$off_runs" 19 32
# A sine starts and ends near zero, which blurs the edges by a few frames;
# a resampling server's filter rings on past each edge for about 20 more.
blur=$((SOUND_SERVER_RESAMPLES * 25))
expect_range "median sounding frames" "$on_median" 2185 $((2215 + blur))
expect_range "median silent frames" "$off_median" $((2195 - blur)) 2225
# The period itself survives whatever the server does.
expect_range "median period" $((on_median + off_median)) 4405 4415
exit $AUDIO_FAILED
