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

audio_record_start "$AUDIO_WORK/second.raw" tq2
audio_record_start "$AUDIO_WORK/first.raw" tq
"$TONQUEL_BIN" --device=second 440,2 </dev/null >/dev/null 2>"$AUDIO_WORK/play_err"
status=$?
audio_record_stop
[ $status -eq 0 ] || fail "--device=second: exit status $status: $(cat "$AUDIO_WORK/play_err")"
analyse segments "$AUDIO_WORK/second.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
cat "$AUDIO_WORK/segments"
read -r _ hz _ length _ < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
expect_range "pitch on the second sink" "$hz" 439.1 440.9
expect_range "seconds on the second sink" "$length" 1.9 3.25
read -r _ low high < <(analyse levels "$AUDIO_WORK/first.raw" | awk '$1 == "right"')
expect_range "default sink's lowest sample" "$low" 0 0
expect_range "default sink's highest sample" "$high" 0 0
exit $AUDIO_FAILED
