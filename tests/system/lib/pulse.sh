# Sourced by system tests: a private, headless sound server whose null sink
# "tq" receives what ALSA's default device plays, and whose default source is
# the monitor of a second null sink "tqin", so that a test can feed the
# capture a known signal by playing into "tqin". The pulse tools (pactl,
# parec, pacat) reach it in every case. Those sinks are loaded with
# norewinds=1, for sample-exact comparisons; a third, "tqrw", allows rewinds
# as a user's PulseAudio does, for timing checks (PULSE_SINK=tqrw sends
# ALSA's default device there through the pulse plugin).
#
#   TONQUEL_SOUND_SERVER  which server, and how ALSA's default device gets there:
#     pulseaudio      PulseAudio, through ALSA's pulse plugin (the default)
#     pipewire-pulse  PipeWire, through ALSA's pulse plugin into pipewire-pulse
#     pipewire-alsa   PipeWire, through ALSA's own PipeWire plugin
#   TONQUEL_PIPEWIRE_ALSA  where scripts/install-deps unpacked the package
#                          pipewire-alsa (never installed: it would remove
#                          pulseaudio and take over the system's ALSA default)
#
#   pulse_start   start it; exports XDG_RUNTIME_DIR, PULSE_SERVER, HOME (and
#                 for PipeWire the session bus and ALSA_CONFIG_PATH). Returns
#                 77 when the server's programs are missing.
#   pulse_stop    stop it by its pids (never by name: other servers may run)
#   sound_server_kill, sound_server_start_again
#                 take the server that ALSA's default device talks to away
#                 (kill -9, as a crash or a restart does) and bring it back
#                 with its sinks and defaults, on the same runtime folder;
#                 PipeWire's own ALSA plugin is not covered (77)
#   pulse_name_devices
#                 name devices for a test of device choice: load a third
#                 null sink "tq2" described "Second" ("tq" is "First"; WinMM
#                 under Wine lists its devices by these), and give
#                 the test's HOME an ~/.asoundrc with ALSA PCMs that plays
#                 on "tq2" ("second") and records what plays there
#                 ("secondmonitor")
#   PULSE_PID     the process that ALSA's default device talks to: the one a
#                 test stops or kills to take the sound server away
#   SOUND_SERVER_RESAMPLES  1 when the server resamples what is played at
#                 44100 frames/s (PipeWire's graph runs at 48000, as on
#                 desktops), which blurs sharp edges by a few frames

SOUND_SERVER=${TONQUEL_SOUND_SERVER:-pulseaudio}
PIPEWIRE_ALSA=${TONQUEL_PIPEWIRE_ALSA:-/opt/tonquel-test/pipewire-alsa}

# Every process of the server, in the order started.
SOUND_SERVER_PIDS=()
SOUND_SERVER_RESAMPLES=0

# Waits up to 10 s for a condition, while the process pid lives.
wait_for_server() {
    local pid=$1 tries=0
    shift
    until "$@"; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$pid" 2>/dev/null; then
            echo "pulse_start: the sound server did not come up ($SOUND_SERVER)" >&2
            cat "$PULSE_DIR"/*.log >&2
            return 1
        fi
        sleep 0.1
    done
}

pactl_answers() {
    pactl info >/dev/null 2>&1
}

start_pulseaudio() {
    command -v pulseaudio >/dev/null || return 77
    # No session bus: with a display (the Windows tests keep one), PulseAudio
    # would start one for it and share it with every other test's server,
    # where only the first may take its name.
    DBUS_SESSION_BUS_ADDRESS=unix:path=$PULSE_DIR/no-session-bus pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=tq format=s16le channels=2 rate=44100 norewinds=1 sink_properties=device.description=First" \
        --load="module-null-sink sink_name=tqin format=s16le channels=2 rate=44100 norewinds=1" \
        --load="module-null-sink sink_name=tqrw format=s16le channels=2 rate=44100" \
        --load=module-native-protocol-unix >"$PULSE_DIR/server.log" 2>&1 &
    PULSE_PID=$!
    SOUND_SERVER_PIDS+=("$PULSE_PID")
    wait_for_server "$PULSE_PID" pactl_answers
}

# ALSA's configuration with the system's own pieces, except the pulse
# plugin's claim on the default device, and with the unpacked PipeWire
# plugin in its place.
write_pipewire_alsa_config() {
    local alsa=$PULSE_DIR/alsa plugins
    plugins=$(echo "$PIPEWIRE_ALSA"/usr/lib/*-linux-gnu/alsa-lib)  # this machine's multiarch folder
    local conf=$PIPEWIRE_ALSA/usr/share/alsa/alsa.conf.d file
    mkdir -p "$alsa/conf.d"
    sed "s#\"/etc/alsa/conf.d\"#\"$alsa/conf.d\"#" /usr/share/alsa/alsa.conf >"$alsa/alsa.conf"
    for file in /etc/alsa/conf.d/*.conf; do
        if [ -e "$file" ] && [ "$(basename "$file")" != 99-pulse.conf ]; then
            ln -s "$file" "$alsa/conf.d/"
        fi
    done
    {
        echo "pcm_type.pipewire { lib \"$plugins/libasound_module_pcm_pipewire.so\" }"
        echo "ctl_type.pipewire { lib \"$plugins/libasound_module_ctl_pipewire.so\" }"
        cat "$conf/50-pipewire.conf"
    } >"$alsa/conf.d/50-pipewire.conf"
    cp "$conf/99-pipewire-default.conf" "$alsa/conf.d/"
    export ALSA_CONFIG_PATH=$alsa/alsa.conf
}

# The sinks through pipewire-pulse, as PulseAudio loads them at its start.
load_test_sinks() {
    pactl load-module module-null-sink sink_name=tq format=s16le channels=2 rate=44100 \
        sink_properties=device.description=First >/dev/null &&
        pactl load-module module-null-sink sink_name=tqin format=s16le channels=2 rate=44100 >/dev/null &&
        pactl load-module module-null-sink sink_name=tqrw format=s16le channels=2 rate=44100 >/dev/null
}

start_pipewire() {
    local program
    for program in pipewire pipewire-pulse wireplumber dbus-daemon; do
        command -v "$program" >/dev/null || return 77
    done
    if [ "$SOUND_SERVER" = pipewire-alsa ]; then
        [ -f "$PIPEWIRE_ALSA/usr/share/alsa/alsa.conf.d/50-pipewire.conf" ] || {
            echo "ALSA's PipeWire plugin is not unpacked in $PIPEWIRE_ALSA (scripts/install-deps)" >&2
            return 77
        }
        write_pipewire_alsa_config
    fi
    export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state XDG_DATA_HOME=$HOME/.local/share
    # No Bluetooth to arbitrate: where logind keeps no seat files (a bare
    # root file system) the session manager would stop at once over it.
    mkdir -p "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
    echo 'bluez_monitor.enabled = false' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-no-bluetooth.lua"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile \
        >"$PULSE_DIR/dbus.log" 2>&1 &
    SOUND_SERVER_PIDS+=($!)
    pipewire >"$PULSE_DIR/pipewire.log" 2>&1 &
    local pipewire_pid=$!
    SOUND_SERVER_PIDS+=("$pipewire_pid")
    wait_for_server "$pipewire_pid" test -S "$XDG_RUNTIME_DIR/pipewire-0" || return 1
    wireplumber >"$PULSE_DIR/wireplumber.log" 2>&1 &
    SOUND_SERVER_PIDS+=($!)
    pipewire-pulse >"$PULSE_DIR/pipewire-pulse.log" 2>&1 &
    local pulse_pid=$!
    SOUND_SERVER_PIDS+=("$pulse_pid")
    wait_for_server "$pulse_pid" pactl_answers || return 1
    load_test_sinks || return 1
    if [ "$SOUND_SERVER" = pipewire-alsa ]; then PULSE_PID=$pipewire_pid; else PULSE_PID=$pulse_pid; fi
    SOUND_SERVER_RESAMPLES=1
}

pulse_start() {
    command -v pactl >/dev/null || return 77
    PULSE_DIR=$(mktemp -d /tmp/tonquel-pulse.XXXXXX)
    chmod 700 "$PULSE_DIR"
    mkdir -p "$PULSE_DIR/runtime" "$PULSE_DIR/home"
    chmod 700 "$PULSE_DIR/runtime"
    export XDG_RUNTIME_DIR="$PULSE_DIR/runtime"
    export HOME="$PULSE_DIR/home"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    local started=0
    case $SOUND_SERVER in
    pulseaudio) start_pulseaudio || started=$? ;;
    pipewire-pulse | pipewire-alsa) start_pipewire || started=$? ;;
    *)
        echo "pulse_start: unknown TONQUEL_SOUND_SERVER '$SOUND_SERVER'" >&2
        started=1
        ;;
    esac
    if [ $started -ne 0 ]; then
        pulse_stop
        return $started
    fi
    # PipeWire makes a loaded sink known a moment after the load returns.
    wait_for_server "$PULSE_PID" defaults_set || {
        pulse_stop
        return 1
    }
}

defaults_set() {
    pactl set-default-sink tq 2>/dev/null && pactl set-default-source tqin.monitor 2>/dev/null &&
        [ "$(pactl get-default-sink)" = tq ] && [ "$(pactl get-default-source)" = tqin.monitor ]
}

pulse_stop() {
    # Only the server's processes that this shell has not yet waited for: a
    # test that killed one itself has reaped it, and its pid may be reused.
    local pid running
    running=" $(jobs -p | tr '\n' ' ') "
    for pid in $(printf '%s\n' "${SOUND_SERVER_PIDS[@]}" | tac); do
        [[ $running == *" $pid "* ]] || continue
        kill -CONT "$pid" 2>/dev/null
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    PULSE_PID=
    SOUND_SERVER_PIDS=()
    [ -n "${PULSE_DIR:-}" ] && rm -rf "$PULSE_DIR"
    PULSE_DIR=
}

sound_server_kill() {
    [ "$SOUND_SERVER" != pipewire-alsa ] || return 77
    kill -9 "$PULSE_PID"
    wait "$PULSE_PID" 2>/dev/null
}

sound_server_start_again() {
    case $SOUND_SERVER in
    pulseaudio) start_pulseaudio || return 1 ;;
    pipewire-pulse)
        pipewire-pulse >>"$PULSE_DIR/pipewire-pulse.log" 2>&1 &
        PULSE_PID=$!
        SOUND_SERVER_PIDS+=("$PULSE_PID")
        wait_for_server "$PULSE_PID" pactl_answers || return 1
        load_test_sinks || return 1
        ;;
    *) return 77 ;;
    esac
    wait_for_server "$PULSE_PID" defaults_set
}

pulse_name_devices() {
    pactl load-module module-null-sink sink_name=tq2 format=s16le channels=2 rate=44100 norewinds=1 \
        sink_properties=device.description=Second >/dev/null || return 1
    cat >"$HOME/.asoundrc" <<'CONF'
pcm.second {
    type pulse
    device "tq2"
    hint { show on; description "The test server's second sink" }
}
pcm.secondmonitor {
    type pulse
    device "tq2.monitor"
    hint { show on; description "What plays on the test server's second sink" }
}
CONF
}
