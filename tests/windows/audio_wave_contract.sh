#!/bin/bash
# The contract between the engine and a wave-audio back end
# (src/platform/wave_audio_contract_test.cc) against WinMM under Wine,
# through a private PulseAudio server that the suite may ask this script to
# kill, by writing a file.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
windows_setup
tests=${TONQUEL_BUILD_DIR:?}/tests/unit_tests.exe
[ -f "$tests" ] || { echo "no unit test program at $tests" >&2; exit 1; }
pulse_start || exit $?
request=$WORK/kill-server
(
    while [ ! -e "$request" ]; do sleep 0.1; done
    kill -9 "$PULSE_PID"
) &
watcher=$!
WINDOWS_CLEANUP="kill $watcher 2>/dev/null"
TONQUEL_CONTRACT_KILL_REQUEST=$request "${WINE_LOADER:-/usr/lib/wine/wine64}" "$tests" \
    --gtest_filter='*wave_audio_contract*/winmm' --gtest_brief=1 </dev/null || fail "WinMM breaks the contract"
exit $FAILED
