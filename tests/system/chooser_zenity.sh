#!/bin/bash
# Drives the real zenity dialog under a private Xvfb server: `tonquel -g`
# must open it in DATA, and the files chosen in it must come back, be logged
# and be read; a cancel must end the run with nothing logged. The tones have negative durations, so nothing
# is played and no audio device is needed.

set -u

for program in Xvfb zenity xdotool; do
    command -v "$program" >/dev/null || { echo "skip: $program not installed"; exit 77; }
done
: "${TONQUEL_BIN:?}" "${TONQUEL_BUILD_DIR:?}"

source "$(dirname "$0")/lib/xvfb.sh"
source "$(dirname "$0")/lib/dialog.sh"
WORK=$(mktemp -d /tmp/tonquel-chooser.XXXXXX)
ARTEFACTS="$TONQUEL_BUILD_DIR/artefacts"
mkdir -p "$ARTEFACTS"

cleanup() {
    stop_dialog
    xvfb_stop
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in "$WORK"/*.out "$WORK"/*.err; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

xvfb_start "$WORK/xvfb.log" || fail "no Xvfb display could be started"
unset WAYLAND_DISPLAY
# Keep the toolkit's recent-files list and caches out of the real home.
export HOME="$WORK/home"
export NO_AT_BRIDGE=1
mkdir -p "$HOME" "$WORK/run/DATA"
printf '# first\n440,-1\n' >"$WORK/run/DATA/a.txt"
printf '# second\n550,-1\n' >"$WORK/run/DATA/b c.txt"
DATA_DIR="$WORK/run/DATA"

DIALOG_PROGRAM=$TONQUEL_BIN
DIALOG_DIR="$WORK/run"
DIALOG_SHOTS="$ARTEFACTS/chooser_zenity"
mkdir -p "$DIALOG_SHOTS"

expect_line() {
    grep -qxF -- "$2" "$WORK/$1.out" || fail "$1: no line '$2' on standard output"
}

# One file, its full path typed into the location bar.
run_dialog one ctrl+l "type:$DATA_DIR/a.txt" Return
[ "$STATUS" -eq 0 ] || fail "one: exit status $STATUS"
expect_line one "#Frequency, Duration"
expect_line one "# $DATA_DIR/a.txt"
expect_line one "# first"
expect_line one "  440, -1"
grep -q "550" "$WORK/one.out" && fail "one: the file not chosen was read"
cp "$DIALOG_SHOTS/one.png" "$ARTEFACTS/chooser_zenity.png" 2>/dev/null

# Every file of the start folder, one name with a blank: the dialog must
# have opened in DATA, and lists them by name.
run_dialog two ctrl+a Return
[ "$STATUS" -eq 0 ] || fail "two: exit status $STATUS"
expect_line two "# $DATA_DIR/a.txt"
expect_line two "# $DATA_DIR/b c.txt"
expect_line two "  440, -1"
expect_line two "  550, -1"
first=$(grep -nxF -- "# $DATA_DIR/a.txt" "$WORK/two.out" | cut -d: -f1)
second=$(grep -nxF -- "# $DATA_DIR/b c.txt" "$WORK/two.out" | cut -d: -f1)
[ "$first" -lt "$second" ] || fail "two: files not read in the dialog's order"

# A cancel: status 1, the message, and nothing logged.
run_dialog cancel Escape
[ "$STATUS" -eq 1 ] || fail "cancel: exit status $STATUS"
grep -qxF "tonquel: no frequency files selected" "$WORK/cancel.err" || fail "cancel: no message"
[ -s "$WORK/cancel.out" ] && fail "cancel: something was logged"

# Ctrl-C while the dialog is up: the dialog goes away with the run, which
# ends as an interrupt does, with status 0 and nothing logged.
run_dialog interrupt interrupt
[ "$STATUS" -eq 0 ] || fail "interrupt: exit status $STATUS"
[ -s "$WORK/interrupt.out" ] && fail "interrupt: something was logged"
sleep 0.5
[ -z "$(xdotool search --name "Select Frequency Files" 2>/dev/null)" ] || fail "interrupt: the dialog outlived the run"

echo "pass"
