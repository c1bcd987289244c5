#!/bin/bash
# The common open dialog of the Windows program under Wine and a private
# Xvfb server: `tonquel -g` opens it in DATA; one file gives its full path,
# two files the folder and their names, both logged with '/' and read; a
# cancel ends with status 1 and nothing logged; Ctrl-C closes the dialog
# and ends the run with status 0. Negative durations: nothing sounds.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
source "$(dirname "$0")/../system/lib/xvfb.sh"
windows_setup Xvfb xdotool
pulse_start || exit $?  # sound devices that pass the probe
WINDOWS_CLEANUP='[ -n "${PID:-}" ] && kill "$PID" 2>/dev/null; xvfb_stop'
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

# run_dialog NAME STEPS...: tonquel -g in the run folder; each step, after
# the dialog is up, is "type:TEXT", "interrupt" or an xdotool key name.
run_dialog() {
    local name=$1 window="" tries step
    shift
    (cd "$WORK/run" && exec "$TONQUEL_WINE" -g </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err") &
    PID=$!
    for tries in $(seq 150); do
        window=$(xdotool search --name "Select Frequency Files" 2>/dev/null | head -1)
        [ -n "$window" ] && break
        if ! kill -0 "$PID" 2>/dev/null; then
            fail "$name: ended before the dialog appeared: $(cat "$WORK/$name.err")"
            STATUS=-1
            return
        fi
        sleep 0.1
    done
    [ -n "$window" ] || { fail "$name: no dialog window"; STATUS=-1; return; }
    sleep 1
    xdotool windowfocus --sync "$window" || fail "$name: cannot focus the dialog"
    for step in "$@"; do
        sleep 0.5
        case $step in
            type:*) xdotool type --delay 20 "${step#type:}" ;;
            interrupt) kill -INT "$PID" ;;
            *) xdotool key "$step" ;;
        esac
    done
    for tries in $(seq 150); do
        kill -0 "$PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$PID" 2>/dev/null && fail "$name: still running 15 s after the dialog was answered"
    wait "$PID"
    STATUS=$?
    PID=""
    tr -d '\r' <"$WORK/$name.out" >"$WORK/$name.lines"
}

expect_output() {  # expect_output NAME TEXT: the whole of standard output
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
