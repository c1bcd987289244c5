#!/bin/bash
# Device choice in the Windows program, on a server with a second sink
# described "Second", which Wine's WinMM shows as a device of that name:
# --list-devices lists both sinks by their descriptions, the wave mapper's
# preferred device marked; --device=second (the beginning of the name, in
# another case) plays on that sink and not on the default one. Wine numbers
# the sinks in no fixed order, so the number is not what is tested here.
set -u
source "$(dirname "$0")/../system/lib/audio_check.sh"
export TONQUEL_BIN="$(cd "$(dirname "$0")/lib" && pwd)/tonquel-wine"
audio_setup
pulse_name_devices || fail "the devices could not be named"

"$TONQUEL_BIN" --list-devices </dev/null >"$AUDIO_WORK/list" 2>"$AUDIO_WORK/list_err"
status=$?
tr -d '\r' <"$AUDIO_WORK/list" >"$AUDIO_WORK/list.lf"
cat "$AUDIO_WORK/list.lf"
[ $status -eq 0 ] || fail "--list-devices: exit status $status: $(cat "$AUDIO_WORK/list_err")"
playback=$(sed -n '/^Playback/,/^Capture/p' "$AUDIO_WORK/list.lf")
for sink in First Second; do
    grep -q "^[* ] [0-9]  *$sink\$" <<<"$playback" || fail "the sink described $sink is not a playback device"
done
[ "$(grep -c '^\* ' <<<"$playback")" -eq 1 ] || fail "not one playback device marked as the default"

expect_plays_on_second_sink_only --device=second
exit $AUDIO_FAILED
