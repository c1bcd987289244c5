#!/bin/bash
# The Windows program answers on a named pipe (--control=NAME is
# \\.\pipe\NAME) and is its own client (--send): status, observe, skip and
# quit; a second run at the same name is refused before anything sounds,
# and once the run has ended no run answers there. Without a sound server
# the run waits for its device, and answers meanwhile.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
windows_setup
windows_no_sound_server
name=tonquel-test-$$
pipe='\\.\pipe\'$name
send() { timeout 30 "$TONQUEL_WINE" --control="$name" --send "$@" </dev/null; }
cd "$WORK" || exit 1

timeout 120 "$TONQUEL_WINE" --control="$name" --wait-for-device=60 440,30 550,30 </dev/null >out 2>err &
player=$!
WINDOWS_CLEANUP='kill $player 2>/dev/null'
for _ in $(seq 100); do
    state=$(send status 2>/dev/null | tr -d '\r') && [ -n "$state" ] && break
    sleep 0.2
done
[[ $state == '{"state":"waiting for device","frequency":440,"duration":30,'*'"index":1,"entries":2,'* ]] ||
    fail "status: '$state'"

timeout 30 "$TONQUEL_WINE" --control="$name" 440,1 </dev/null >second.out 2>second.err
[ $? -eq 1 ] || fail "a second run at the same name did not end with 1"
program_stderr second.err | grep -qxF "tonquel: $pipe: another run answers there" ||
    fail "second run: $(program_stderr second.err)"
[ -s second.out ] && fail "the second run printed: $(cat second.out)"

send observe >events 2>&1 &
observer=$!
sleep 1
send skip || fail "skip gave status $?"
send quit || fail "quit gave status $?"
wait "$player"
status=$?
[ $status -eq 0 ] || fail "the run ended with $status"
wait "$observer"
events=$(tr -d '\r' <events)
# The device was lost once, before the observer came: the next tone waits on
# in the same wait.
expected='{"event":"tone-start","frequency":550,"duration":30,"index":2}
{"event":"end","status":0}'
[ "$events" = "$expected" ] || fail "events: $events"
grep -q '^#skip to next frequency in list' <(tr -d '\r' <out) || fail "no skip line: $(cat out)"
send status 2>gone.err && fail "a run still answers at $pipe"
[ "$(program_stderr gone.err)" = "tonquel: no run answers at $pipe" ] || fail "after the run: $(program_stderr gone.err)"
exit $FAILED
