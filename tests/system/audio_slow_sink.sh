# A sink that takes seconds to start playing (a Bluetooth or HDMI sink
# waking up), simulated by a suspended sink that resumes 4 s after the tone
# opened: the run waits for it and plays on (status 0).
source "$(dirname "$0")/lib/audio_check.sh"
# PipeWire's null sink plays on while suspended: only PulseAudio holds the
# stream back.
[ "${TONQUEL_SOUND_SERVER:-pulseaudio}" = pulseaudio ] || { echo "SKIP: a suspended sink plays on here" >&2; exit 77; }
audio_setup
cd "$AUDIO_WORK" || exit 1

pactl suspend-sink tq 1 || { echo "SKIP: the sink cannot be suspended here" >&2; exit 77; }
audio_record_start out.raw
"$TONQUEL_BIN" 440,8 </dev/null >run.log 2>stderr &
player=$!
sleep 4
pactl suspend-sink tq 0
expect_exit "$player" 15 "the sink started"
audio_record_stop
cat stderr
[ "$status" -eq 0 ] || fail "exit status $status with a sink that started after 4 s, expected 0"
grep '^tonquel: ' stderr | grep -v 'soundcard detected' | grep -q . && fail "messages with a sink that started"
analyse segments out.raw >segments || fail "analyser failed"
cat segments
seconds=$(awk '$1 == "right" && $2 > 435 && $2 < 445 { s += $4 - $3 } END { print s + 0 }' segments)
expect_range "seconds of 440 Hz after the start" "$seconds" 3.5 6

exit $AUDIO_FAILED
