# A sound server that stops answering (SIGSTOP: stopped, deadlocked, a hung
# network sink) never hangs the run: frozen before the start, the probe
# warns and the open fails within its deadline; frozen mid-tone, the tone
# ends through the waveOut error within a few seconds (within 6 s of a
# stream's start, where it looks like a sink still waking up). Either way:
# status 1, a message naming what stopped answering, and the files closed.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
frozen=
thaw() { [ -n "$frozen" ] && kill -CONT "$frozen" 2>/dev/null; frozen=; }
trap 'thaw; audio_cleanup' EXIT

elapsed_since() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

# Frozen from the start.
kill -STOP "$PULSE_PID"
frozen=$PULSE_PID
started=$(date +%s.%N)
(cd "$AUDIO_WORK" && exec "$TONQUEL_BIN" -r 440,20) </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
expect_exit "$player" 15 "the server froze before the start"
echo "frozen at the start: status $status after $(elapsed_since "$started") s"
cat "$AUDIO_WORK/stderr"
[ "$status" -eq 1 ] || fail "exit status $status with a frozen server, expected 1"
# PulseAudio's clients wait for the server's answer at the probe and the
# open; PipeWire's ALSA plugin opens without one and stalls at the first
# tone instead, where it cannot be told from a sink still waking up. Either
# way the last line names a device that does not answer or play.
tail -1 "$AUDIO_WORK/stderr" | grep -Eq '^tonquel: waveOut: .*did not (answer|play) within' ||
    fail "the last line does not report a device that does not answer"
if [ "$(wc -l <"$AUDIO_WORK/stderr")" -gt 1 ]; then
    [ "$(wc -l <"$AUDIO_WORK/stderr")" -eq 2 ] || fail "more than the probe's warning and the error"
    sed -n 1p "$AUDIO_WORK/stderr" | grep -q '^tonquel: marginal or nonexistant soundcard detected' ||
        fail "the first line is not the probe's warning"
fi
session=$(ls "$AUDIO_WORK"/session_* 2>/dev/null | head -1)
[ -n "$session" ] && grep -Eq 'did not (answer|play)' "$session" || fail "the session file does not hold the error"
rm -f "$AUDIO_WORK"/session_*
thaw

# Frozen mid-tone, past the first 6 s in which a stream may still be
# starting.
"$TONQUEL_BIN" 440,30 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 8
kill -STOP "$PULSE_PID"
frozen=$PULSE_PID
started=$(date +%s.%N)
expect_exit "$player" 15 "the server froze mid-tone"
echo "frozen mid-tone: status $status after $(elapsed_since "$started") s"
cat "$AUDIO_WORK/stderr"
[ "$status" -eq 1 ] || fail "exit status $status after the server froze, expected 1"
grep -q '^tonquel: waveOut: .*did not answer within' "$AUDIO_WORK/stderr" ||
    fail "no waveOut message naming a device that does not answer"
thaw

# The player held instead (stopped, a machine too busy) with the short
# queue: the stream ran dry, and once it runs again the run goes on and
# ends in time, the gap told, but not at each block that follows it (the
# pulse plugin on PipeWire's server shows a stream that ran dry without an
# underrun, and took the next second's writes for lost). That server may
# run the fresh stream dry once more as it starts, and each gap may be told
# by the player and the device both; a busy machine's gaps in the run's
# first second, before the hold, are not counted.
started=$(date +%s.%N)
"$TONQUEL_BIN" --smooth --control="$AUDIO_WORK/control" 440,6 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 2
kill -STOP "$player"
sleep 1.5
kill -CONT "$player"
expect_exit "$player" 8 "the player held for 1.5 s"
echo "player held: status $status after $(elapsed_since "$started") s"
cat "$AUDIO_WORK/stderr"
[ "$status" -eq 0 ] || fail "exit status $status after the player was held, expected 0"
told=$(grep -c 'the sound ran out [0-9]*:0[1-9]' "$AUDIO_WORK/stderr")
[ "$told" -le 4 ] || fail "the gap was told $told times"
exit $AUDIO_FAILED
