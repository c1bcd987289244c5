# While tones sound, tonquel holds a logind inhibitor lock against sleep and
# idling into sleep, and gives it back when the run ends; --allow-sleep takes
# none; with no system bus the run plays on and says nothing of it; a bus
# that takes the connection and never answers costs the run 2 s once, not at
# every tone, and Ctrl-C ends the run at once meanwhile. logind is
# python3-dbusmock's on a private bus.
source "$(dirname "$0")/lib/audio_check.sh"
if [ ! -x /usr/bin/python3 ] || ! /usr/bin/python3 -c 'import dbusmock' 2>/dev/null || ! command -v dbus-daemon >/dev/null; then
    echo "SKIP: python3-dbusmock or dbus-daemon is missing" >&2
    exit 77
fi
audio_setup

bus=$AUDIO_WORK/system_bus
dbus-daemon --session --nofork --address="unix:path=$bus" >/dev/null 2>&1 &
bus_pid=$!
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$bus
/usr/bin/python3 -m dbusmock --system --template logind >"$AUDIO_WORK/mock.log" 2>&1 &
mock_pid=$!
trap 'kill $mock_pid $bus_pid 2>/dev/null; audio_cleanup' EXIT

inhibitors() {
    dbus-send --system --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
        org.freedesktop.login1.Manager.ListInhibitors 2>/dev/null
}
tries=0
until inhibitors >/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { cat "$AUDIO_WORK/mock.log"; fail "the mock logind did not come up"; exit 1; }
    sleep 0.1
done

# held: while the tone sounds, and gone once the run has ended
"$TONQUEL_BIN" 440,3 </dev/null >/dev/null 2>"$AUDIO_WORK/stderr" &
player=$!
sleep 1.5
inhibitors >"$AUDIO_WORK/during"
expect_exit "$player" 5 "the tone"
[ $status -eq 0 ] || fail "exit status $status: $(cat "$AUDIO_WORK/stderr")"
grep -q '"tonquel"' "$AUDIO_WORK/during" || fail "no inhibitor of tonquel's while the tone sounds: $(cat "$AUDIO_WORK/during")"
grep -q '"sleep:idle"' "$AUDIO_WORK/during" || fail "the inhibitor does not cover sleep and idle"
grep -q '"playing a tone schedule"' "$AUDIO_WORK/during" || fail "the inhibitor does not say why"
grep -q '"block"' "$AUDIO_WORK/during" || fail "the inhibitor does not block"
inhibitors | grep -q '"tonquel"' && fail "the inhibitor is still held after the run"

# --allow-sleep: none
"$TONQUEL_BIN" --allow-sleep 440,3 </dev/null >/dev/null 2>&1 &
player=$!
sleep 1.5
inhibitors | grep -q '"tonquel"' && fail "an inhibitor with --allow-sleep"
expect_exit "$player" 5 "the tone"

# no system bus: nothing said, the tone plays
DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent "$TONQUEL_BIN" 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/no_bus"
status=$?
[ $status -eq 0 ] || fail "exit status $status without a system bus"
[ ! -s "$AUDIO_WORK/no_bus" ] || fail "something said without a system bus: $(cat "$AUDIO_WORK/no_bus")"

# a bus that never answers
mute_bus=$AUDIO_WORK/mute_bus
/usr/bin/python3 -c "
import socket, sys, time
listener = socket.socket(socket.AF_UNIX)
listener.bind(sys.argv[1])
listener.listen(16)
held = []
while True:
    held.append(listener.accept()[0])
" "$mute_bus" &
mute_pid=$!
trap 'kill $mute_pid $mock_pid $bus_pid 2>/dev/null; audio_cleanup' EXIT
until [ -S "$mute_bus" ]; do sleep 0.05; done
started=$(date +%s.%N)
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$mute_bus "$TONQUEL_BIN" 440,1 440,1 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/mute"
status=$?
took=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
[ $status -eq 0 ] || fail "exit status $status with a bus that never answers: $(cat "$AUDIO_WORK/mute")"
# Three tones of 1 to 2 s and the bus's 2 s once: 8 s, with room for a slow
# sanitized start; the bus asked at every tone would take 12 s.
expect_range "seconds for three 1-s tones with a mute bus" "$took" 3 9.5
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$mute_bus "$TONQUEL_BIN" 440,5 </dev/null >/dev/null 2>&1 &
player=$!
sleep 0.5
kill -INT "$player"
expect_exit "$player" 1 "Ctrl-C while the bus does not answer"
[ $status -eq 0 ] || fail "exit status $status after Ctrl-C while the bus does not answer"
[ $AUDIO_FAILED -eq 0 ] && echo "ok: the inhibitor is held while tones sound and only then"
exit $AUDIO_FAILED
