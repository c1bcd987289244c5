#!/bin/bash
# With no sound server at all, the Windows program warns at the probe, and
# the first tone ends the run through the waveOut error with status 1, the
# error also in the session file. Nothing else reaches standard error.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
windows_setup
windows_no_sound_server

cd "$WORK"
timeout 20 "$TONQUEL_WINE" -r 440,1 550,1 </dev/null >"$WORK/out" 2>"$WORK/err"
status=$?
[ $status -eq 1 ] || fail "exit status $status, expected 1"
err=$(program_stderr "$WORK/err")
echo "$err"
[ "$(echo "$err" | head -1)" = "tonquel: marginal or nonexistant soundcard detected: trying anyways" ] ||
    fail "no probe warning first"
echo "$err" | sed -n 2p | grep -q '^tonquel: waveOut: .' || fail "no waveOut error second"
[ "$(echo "$err" | wc -l)" -eq 2 ] || fail "more on standard error than the two messages"
grep -q '^  550, 1' "$WORK/out" && fail "the run went on after the error"
session=$(ls "$WORK"/session_* | head -1)
tr -d '\r' <"$session" | grep -q '^#tonquel: waveOut: .' || fail "the error is not in the session file"
exit $FAILED
