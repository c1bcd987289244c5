# Sourced by the dialog tests: a private X server.
#
#   xvfb_start LOG   start Xvfb on a display number no other server holds and
#                    export DISPLAY; Xvfb itself refuses a held number, so a
#                    lost race moves on to the next one
#   xvfb_stop        stop it by its pid

XVFB_PID=""

xvfb_start() {
    local n tries
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$1" 2>&1 &
        XVFB_PID=$!
        for tries in $(seq 50); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    done
    return 1
}

xvfb_stop() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=""
    fi
}
