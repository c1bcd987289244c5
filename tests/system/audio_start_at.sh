# --at on the real clock: a run told to start a few seconds ahead waits, then
# plays from that second. Prints how far from the asked second the tone's
# line came and its sound began. The zone is nine hours east of UTC, so
# that a program taking UTC for local time would wait for hours.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
export TZ=JST-9  # the POSIX form, which Windows' C runtime reads as well

recording_from=$(date +%s.%N)
audio_record_start "$AUDIO_WORK/out.raw"
at_second=$(($(date +%s) + 5))
timeout 60 "$TONQUEL_BIN" --at="$(date -d "@$at_second" +%H:%M:%S)" 440,2 </dev/null 2>"$AUDIO_WORK/stderr" |
    while IFS= read -r line; do echo "$(date +%s.%N) ${line%$'\r'}"; done >"$AUDIO_WORK/stamped"
status=${PIPESTATUS[0]}
audio_record_stop
cat "$AUDIO_WORK/stamped"
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"

read -r line_at _ < <(grep ' # started at' "$AUDIO_WORK/stamped")
expect_range "seconds from the asked second to the start line" \
    "$(awk -v a="$line_at" -v s="$at_second" 'BEGIN { printf "%.3f", a - s }')" -0.01 1
analyse segments "$AUDIO_WORK/out.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
read -r _ hz start _ < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
expect_range "pitch" "$hz" 439.1 440.9
# The recorder's first frame came a little after it was started.
expect_range "seconds from the asked second to the sound, about" \
    "$(awk -v r="$recording_from" -v t="$start" -v s="$at_second" 'BEGIN { printf "%.3f", r + t - s }')" -0.3 1.5
exit $AUDIO_FAILED
