# Sourced by the dialog tests: `-g` run against a file-open dialog on the
# Xvfb display, answered with xdotool. The caller defines fail.
#
#   run_dialog NAME STEPS...   runs "$DIALOG_PROGRAM -g" in $DIALOG_DIR with
#                              standard output and error in $WORK/NAME.out and
#                              .err; once the dialog is up and focused, each
#                              step is "type:TEXT", "interrupt" (SIGINT, as
#                              Ctrl-C) or an xdotool key name; leaves the exit
#                              status in STATUS (-1 when there was no dialog).
#                              With DIALOG_SHOTS set, the screen is saved there
#                              as NAME.png before Return or Escape.

DIALOG_PID=""

run_dialog() {
    local name=$1 window="" tries step
    shift
    STATUS=-1
    (cd "$DIALOG_DIR" && exec "$DIALOG_PROGRAM" -g </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err") &
    DIALOG_PID=$!
    for tries in $(seq 150); do
        window=$(xdotool search --name "Select Frequency Files" 2>/dev/null | head -1)
        [ -n "$window" ] && break
        if ! kill -0 "$DIALOG_PID" 2>/dev/null; then
            fail "$name: ended before the dialog appeared: $(cat "$WORK/$name.err")"
            return 1
        fi
        sleep 0.1
    done
    [ -n "$window" ] || { fail "$name: no dialog window"; return 1; }
    # The window is mapped before it takes keys; without a window manager
    # focus has to be set by hand.
    sleep 1
    xdotool windowfocus --sync "$window" || fail "$name: cannot focus the dialog"
    for step in "$@"; do
        sleep 0.5
        case $step in
            type:*) xdotool type --delay 20 "${step#type:}" ;;
            interrupt) kill -INT "$DIALOG_PID" ;;
            Return | Escape)
                if [ -n "${DIALOG_SHOTS:-}" ] && command -v import >/dev/null; then
                    import -window root "$DIALOG_SHOTS/$name.png" 2>/dev/null
                fi
                xdotool key "$step" ;;
            *) xdotool key "$step" ;;
        esac
    done
    for tries in $(seq 150); do
        kill -0 "$DIALOG_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$DIALOG_PID" 2>/dev/null && fail "$name: still running 15 s after the dialog was answered"
    wait "$DIALOG_PID"
    STATUS=$?
    DIALOG_PID=""
}

stop_dialog() {
    [ -n "$DIALOG_PID" ] && kill "$DIALOG_PID" 2>/dev/null
    DIALOG_PID=""
}
