#!/bin/bash
# The common open dialog of the Windows program under Wine and a private
# Xvfb server: `tonquel -g` opens it in DATA; one file gives its full path,
# two files the folder and their names, both logged with '/' and read; a
# cancel ends with status 1 and nothing logged; Ctrl-C closes the dialog
# and ends the run with status 0. Negative durations: nothing sounds.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
source "$(dirname "$0")/../system/lib/xvfb.sh"
source "$(dirname "$0")/../system/lib/dialog.sh"
windows_setup Xvfb xdotool
pulse_start || exit $?  # sound devices that pass the probe
WINDOWS_CLEANUP='stop_dialog; xvfb_stop'
# Wine's desktop keeps the display it started with: a running Wine (as
# scripts/test-windows keeps one) brings its own, otherwise one starts here.
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    xvfb_start "$WORK/xvfb.log" || { fail "no Xvfb display could be started"; exit 1; }
fi

mkdir -p "$WORK/run/DATA"
printf '# first\n440,-1\n' >"$WORK/run/DATA/a.txt"
printf '# second\n550,-1\n' >"$WORK/run/DATA/b.txt"
# The folder as the Windows program sees it: on drive Z:, with '/'.
DATA_DIR="Z:$WORK/run/DATA"

DIALOG_PROGRAM=$TONQUEL_WINE
DIALOG_DIR="$WORK/run"
# Standard output as the Linux program writes it.
lines_of() { tr -d '\r' <"$WORK/$1.out" >"$WORK/$1.lines"; }

expect_output() {  # expect_output NAME TEXT: the whole of standard output
    lines_of "$1"
    if [ "$(cat "$WORK/$1.lines")" != "$2" ]; then
        fail "$1: standard output differs"
        diff <(echo "$2") "$WORK/$1.lines" >&2
    fi
}

run_dialog one "type:a.txt" Return
[ "$STATUS" -eq 0 ] || fail "one: exit status $STATUS"
expect_output one "#Frequency, Duration
# $DATA_DIR/a.txt
# first
  440, -1"

run_dialog two 'type:"b.txt" "a.txt"' Return
[ "$STATUS" -eq 0 ] || fail "two: exit status $STATUS"
expect_output two "#Frequency, Duration
# $DATA_DIR/b.txt
# $DATA_DIR/a.txt
# second
  550, -1
# first
  440, -1"

run_dialog cancel Escape
[ "$STATUS" -eq 1 ] || fail "cancel: exit status $STATUS"
[ "$(program_stderr "$WORK/cancel.err")" = "tonquel: no frequency files selected" ] ||
    fail "cancel: standard error: $(cat "$WORK/cancel.err")"
[ -s "$WORK/cancel.out" ] && fail "cancel: something was logged"

run_dialog interrupt interrupt
[ "$STATUS" -eq 0 ] || fail "interrupt: exit status $STATUS"
[ -s "$WORK/interrupt.out" ] && fail "interrupt: something was logged"
[ -n "$(program_stderr "$WORK/interrupt.err")" ] && fail "interrupt: standard error: $(cat "$WORK/interrupt.err")"
[ $FAILED -eq 0 ] && echo "pass"
exit $FAILED
