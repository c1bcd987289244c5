# The contract between the engine and a wave-audio back end
# (src/platform/wave_audio_contract_test.cc) against ALSA through a private
# sound server: its default devices, the server killed, and a frozen device,
# ALSA's file plugin writing into a FIFO that nobody reads. The simulated
# back end meets the same suite among the unit tests. Then, with the server
# gone, the program itself: the first tone ends the run with status 1.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
tests=${TONQUEL_BUILD_DIR:?}/tests/unit_tests
[ -x "$tests" ] || { echo "no unit test program at $tests" >&2; exit 1; }
mkfifo "$HOME/frozen.fifo"
cat >>"$HOME/.asoundrc" <<CONF
pcm.frozen { type file; slave.pcm "null"; file "$HOME/frozen.fifo"; format "raw" }
CONF
# Through PipeWire's ALSA plugin, a sanitized suite that runs all its faults
# in one process ends with some 17 KB of the plugins' own allocations
# unfreed (made by modules unloaded by then, so LeakSanitizer cannot say
# where); no single case leaks, and the program's runs check leaks as ever.
leaks=
[ "$SOUND_SERVER" = pipewire-alsa ] && leaks="detect_leaks=0:${ASAN_OPTIONS:-}"
ASAN_OPTIONS=${leaks:-${ASAN_OPTIONS:-}} TONQUEL_CONTRACT_SERVER_PID=$PULSE_PID TONQUEL_CONTRACT_FIFO=$HOME/frozen.fifo \
    "$tests" --gtest_filter='*wave_audio_contract*/alsa' --gtest_brief=1 || fail "the ALSA back end breaks the contract"

timeout 20 "$TONQUEL_BIN" 440,1 </dev/null >/dev/null 2>"$AUDIO_WORK/no_server"
status=$?
cat "$AUDIO_WORK/no_server"
[ $status -eq 1 ] || fail "exit status $status without a server, expected 1"
tail -1 "$AUDIO_WORK/no_server" | grep -q '^tonquel: waveOut: .' || fail "no waveOut error message without a server"
exit $AUDIO_FAILED
