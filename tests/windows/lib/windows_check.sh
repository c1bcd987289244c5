# Sourced by the Windows system tests: the program under Wine, a private
# PulseAudio server that Wine's winepulse driver plays into, and checks.
#
#   windows_setup PROGRAM...  skip (77) unless Wine, the exe and the programs
#                             exist; WORK is a scratch folder removed at exit
#   windows_no_sound_server   no sound server for the program to find
#   tonquel ARGS...           the Windows program under Wine
#   fail MESSAGE

source "$(dirname "${BASH_SOURCE[0]}")/../../system/lib/pulse.sh"

FAILED=0
fail() {
    echo "FAIL: $*" >&2
    FAILED=1
}

TONQUEL_WINE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tonquel-wine"
tonquel() { "$TONQUEL_WINE" "$@"; }

# Standard error without Wine's own notices ("wine: ..."), as Windows would
# show it.
program_stderr() { grep -v '^wine: ' "$1" | tr -d '\r'; }

windows_cleanup() {
    [ -n "${WINDOWS_CLEANUP:-}" ] && eval "$WINDOWS_CLEANUP"
    pulse_stop
    [ -n "${WORK:-}" ] && rm -rf "$WORK"
}

windows_setup() {
    local program
    for program in "$@" "${WINE_LOADER:-/usr/lib/wine/wine64}"; do
        command -v "$program" >/dev/null || { echo "SKIP: $program is missing" >&2; exit 77; }
    done
    [ -f "${TONQUEL_EXE:-}" ] || { echo "TONQUEL_EXE is not a file: '${TONQUEL_EXE:-}'" >&2; exit 1; }
    export WINEDEBUG=-all
    # Without a sound server Wine falls back on its ALSA driver, whose library
    # chatters on standard error; Windows has no such fallback.
    export WINEDLLOVERRIDES="winealsa.drv=d"
    WORK=$(mktemp -d /tmp/tonquel-windows.XXXXXX)
    trap windows_cleanup EXIT
}

windows_no_sound_server() {
    unset PULSE_SERVER
    export XDG_RUNTIME_DIR="$WORK/runtime"  # no server lives here
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}
