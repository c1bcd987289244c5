# Choosing the devices by their ALSA names, on a server with a second sink
# and a test ~/.asoundrc that names it: --list-devices lists what aplay -L
# and arecord -L list; --device=second sounds on that sink only;
# --input-device=secondmonitor captures what plays there, not the default
# source; an unknown name ends the run at its first tone with status 1,
# naming the device and --list-devices, the session file complete.
# (PulseAudio only: the choice is ALSA's, the same for every server.)
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup aplay arecord pacat sox
pulse_name_devices || fail "the devices could not be named"

# The listing: the names of each section, those of ALSA's hints, with
# "default" marked.
"$TONQUEL_BIN" --list-devices </dev/null >"$AUDIO_WORK/list" 2>"$AUDIO_WORK/list_err"
status=$?
cat "$AUDIO_WORK/list"
[ $status -eq 0 ] || fail "--list-devices: exit status $status"
[ -s "$AUDIO_WORK/list_err" ] && fail "--list-devices wrote to standard error: $(cat "$AUDIO_WORK/list_err")"
section_names() {
    awk -v heading="$1" '/^[A-Z]/ { inside = index($0, heading) == 1; next } inside { print substr($0, 3) }' "$AUDIO_WORK/list" |
        awk '{ print $1 }' | sort
}
hint_names() { { "$1" -L | grep -v '^[[:space:]]'; echo default; } | sort -u; }
[ "$(section_names Playback)" = "$(hint_names aplay)" ] ||
    fail "playback devices differ from aplay -L: $(diff <(section_names Playback) <(hint_names aplay) | tr '\n' ' ')"
[ "$(section_names Capture)" = "$(hint_names arecord)" ] ||
    fail "capture devices differ from arecord -L: $(diff <(section_names Capture) <(hint_names arecord) | tr '\n' ' ')"
[ "$(grep -c '^\* default ' "$AUDIO_WORK/list")" -eq 2 ] || fail "default is not marked in both sections"
grep -q "^  second  *The test server's second sink$" "$AUDIO_WORK/list" || fail "second is not listed"

# Playback on the named device, and nothing on the default sink.
expect_plays_on_second_sink_only --device=second

# Capture from the named input: a 100 Hz tone played on the second sink,
# while the default source hears nothing.
sox -n -t raw -r 44100 -c 2 -b 16 -e signed - synth 4 sine 100 |
    pacat -d tq2 --format=s16le --rate=44100 --channels=2 &
feeder=$!
sleep 0.5
"$TONQUEL_BIN" --input-device secondmonitor -m "$AUDIO_WORK/mor.txt" 440,2 </dev/null >/dev/null \
    2>"$AUDIO_WORK/capture_err"
status=$?
wait $feeder
[ $status -eq 0 ] || fail "--input-device: exit status $status: $(cat "$AUDIO_WORK/capture_err")"
analyse mor "$AUDIO_WORK/mor.txt" >"$AUDIO_WORK/blocks" || fail "analyser failed"
cat "$AUDIO_WORK/blocks"
read -r _ frames _ left_rate right_rate <"$AUDIO_WORK/blocks"
expect_range "captured frames" "$frames" 2000 2000
expect_range "zero crossings per second captured from secondmonitor" "$right_rate" 190 210

# A name that does not exist.
cd "$AUDIO_WORK" || exit 1
"$TONQUEL_BIN" -r --device=nosuch 440,1 550,1 </dev/null >"$AUDIO_WORK/out" 2>"$AUDIO_WORK/err"
status=$?
cat "$AUDIO_WORK/err"
[ $status -eq 1 ] || fail "an unknown device: exit status $status, expected 1"
expected="tonquel: waveOut: ALSA's \"nosuch\" device for playback does not exist (No such file or directory); check the name against the list that --list-devices prints"
[ "$(tail -n 1 "$AUDIO_WORK/err")" = "$expected" ] || fail "not the message naming the device"
grep -q '^  440, 1$' "$AUDIO_WORK/out" && ! grep -q '^  550, 1$' "$AUDIO_WORK/out" ||
    fail "not ended at the first tone: $(cat "$AUDIO_WORK/out")"
grep -qx "#$expected" session_* || fail "the session file lacks the error"
exit $AUDIO_FAILED
