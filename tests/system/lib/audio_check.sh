# Sourced by the audio system tests: a private sound server, a recorder
# on the monitor of its sink "tq", the analyser built from audio_analyse.cc,
# and range checks that report what they measured.
#
#   audio_setup PROGRAM...   skip (77) unless the programs exist; start the
#                            server; the analyser (helper_program); AUDIO_WORK
#                            is a scratch folder removed at exit
#   audio_record_start RAW [SINK]
#                            record what the sink ("tq" without one) plays;
#                            several recordings may run at once
#   audio_record_stop        stop the recordings
#   analyse ARGS...          run the analyser
#   expect_plays_on_second_sink_only ARGS...
#                            run TONQUEL_BIN ARGS 440,2 (after
#                            pulse_name_devices): 440 Hz for 2 s on "tq2",
#                            silence on "tq"
#   expect_range LABEL VALUE LOW HIGH
#   fail MESSAGE

source "$(dirname "${BASH_SOURCE[0]}")/pulse.sh"

AUDIO_FAILED=0

fail() {
    echo "FAIL: $*" >&2
    AUDIO_FAILED=1
}

expect_range() {
    local label=$1 value=$2 low=$3 high=$4
    if awk -v v="$value" -v lo="$low" -v hi="$high" 'BEGIN { exit !(v != "" && v + 0 >= lo && v + 0 <= hi) }'; then
        echo "ok: $label = $value (within $low..$high)"
    else
        fail "$label = '$value', expected $low..$high"
    fi
}

# expect_exit PID SECONDS WHAT: waits for the process to end by itself and
# leaves its exit status in $status; fails (after killing it) if it is still
# running SECONDS later.
expect_exit() {
    local pid=$1 tenths=$(($2 * 10)) waited=0
    while kill -0 "$pid" 2>/dev/null && [ $waited -lt $tenths ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        fail "still running $2 s after $3"
    fi
    wait "$pid"
    status=$?
}

audio_cleanup() {
    audio_record_stop
    pulse_stop
    [ -n "${AUDIO_WORK:-}" ] && rm -rf "$AUDIO_WORK"
}

audio_setup() {
    local program
    for program in "$@" pactl parec; do
        if ! command -v "$program" >/dev/null; then
            echo "SKIP: $program is missing" >&2
            exit 77
        fi
    done
    if [ -z "${TONQUEL_BIN:-}" ] || [ ! -x "$TONQUEL_BIN" ]; then
        echo "TONQUEL_BIN is not an executable: '${TONQUEL_BIN:-}'" >&2
        exit 1
    fi
    AUDIO_WORK=$(mktemp -d /tmp/tonquel-audio.XXXXXX)
    trap audio_cleanup EXIT
    helper_program audio_analyse || exit 1
    pulse_start || exit $?
}

# helper_program NAME [G++ FLAGS...]: $AUDIO_WORK/NAME, the program of
# lib/NAME.cc: the build's own (TONQUEL_HELPERS_DIR), else compiled here.
helper_program() {
    local name=$1
    shift
    if [ -x "${TONQUEL_HELPERS_DIR:-}/$name" ]; then
        ln -s "$TONQUEL_HELPERS_DIR/$name" "$AUDIO_WORK/$name"
    elif command -v g++ >/dev/null; then
        g++ -std=c++20 -O2 "$@" -o "$AUDIO_WORK/$name" "$(dirname "${BASH_SOURCE[0]}")/$name.cc"
    else
        echo "SKIP: g++ is missing" >&2
        exit 77
    fi
}

AUDIO_RECORDERS=()

audio_record_start() {
    # A small latency: stopping a recorder with a large one loses what it
    # still buffers (about 2 s on PipeWire).
    # AUDIO_RECORD_LATENCY_MS sets a longer one for a recorder under load.
    parec --latency-msec="${AUDIO_RECORD_LATENCY_MS:-20}" -d "${2:-tq}.monitor" --format=s16le --rate=44100 \
        --channels=2 "$1" &
    AUDIO_RECORDERS+=($!)
    # Give the recorder time to connect, so the start of the sound is kept.
    sleep 0.5
}

audio_record_stop() {
    if [ ${#AUDIO_RECORDERS[@]} -gt 0 ]; then
        sleep 0.3
        kill "${AUDIO_RECORDERS[@]}" 2>/dev/null
        wait "${AUDIO_RECORDERS[@]}" 2>/dev/null
        AUDIO_RECORDERS=()
    fi
}

analyse() {
    "$AUDIO_WORK/audio_analyse" "$@"
}

expect_plays_on_second_sink_only() {
    local status hz length low high
    audio_record_start "$AUDIO_WORK/second.raw" tq2
    audio_record_start "$AUDIO_WORK/first.raw" tq
    "$TONQUEL_BIN" "$@" 440,2 </dev/null >/dev/null 2>"$AUDIO_WORK/play_err"
    status=$?
    audio_record_stop
    [ $status -eq 0 ] || fail "$*: exit status $status: $(cat "$AUDIO_WORK/play_err")"
    analyse segments "$AUDIO_WORK/second.raw" >"$AUDIO_WORK/segments" || fail "analyser failed"
    cat "$AUDIO_WORK/segments"
    read -r _ hz _ length _ < <(awk '$1 == "right"' "$AUDIO_WORK/segments")
    expect_range "pitch on the second sink" "$hz" 439.1 440.9
    expect_range "seconds on the second sink" "$length" 1.9 3.25
    read -r _ low high < <(analyse levels "$AUDIO_WORK/first.raw" | awk '$1 == "right"')
    expect_range "default sink's lowest sample" "$low" 0 0
    expect_range "default sink's highest sample" "$high" 0 0
}
