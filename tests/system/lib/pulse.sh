# Sourced by system tests: a private, headless PulseAudio server whose null
# sink "tq" receives what ALSA's default device plays, and whose default
# source is the monitor of a second null sink "tqin", so that a test can feed
# the capture a known signal by playing into "tqin".
#
#   pulse_start   start it; exports XDG_RUNTIME_DIR, PULSE_SERVER, HOME
#   pulse_stop    stop it by its pid (never by name: other servers may run)

pulse_start() {
    command -v pulseaudio >/dev/null && command -v pactl >/dev/null || return 77
    PULSE_DIR=$(mktemp -d /tmp/tonquel-pulse.XXXXXX)
    chmod 700 "$PULSE_DIR"
    mkdir -p "$PULSE_DIR/runtime" "$PULSE_DIR/home"
    chmod 700 "$PULSE_DIR/runtime"
    export XDG_RUNTIME_DIR="$PULSE_DIR/runtime"
    export HOME="$PULSE_DIR/home"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=tq format=s16le channels=2 rate=44100 norewinds=1" \
        --load="module-null-sink sink_name=tqin format=s16le channels=2 rate=44100 norewinds=1" \
        --load=module-native-protocol-unix >"$PULSE_DIR/server.log" 2>&1 &
    PULSE_PID=$!
    local tries=0
    until pactl info >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$PULSE_PID" 2>/dev/null; then
            echo "pulse_start: server did not come up" >&2
            cat "$PULSE_DIR/server.log" >&2
            return 1
        fi
        sleep 0.1
    done
    pactl set-default-sink tq >/dev/null
    pactl set-default-source tqin.monitor >/dev/null
}

pulse_stop() {
    if [ -n "${PULSE_PID:-}" ]; then
        kill "$PULSE_PID" 2>/dev/null
        wait "$PULSE_PID" 2>/dev/null
        PULSE_PID=
    fi
    [ -n "${PULSE_DIR:-}" ] && rm -rf "$PULSE_DIR"
    PULSE_DIR=
}
