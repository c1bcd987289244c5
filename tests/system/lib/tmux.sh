# Sourced by system tests that drive the program on a real terminal: a tmux
# server on a private socket, one window per case, and a private sound
# server for the program to play through.
#
#   tmux_test_start NAME COLUMNS ROWS   sets WORK (a private folder), SOCKET,
#                                       SESSION and BIN (the program, quoted
#                                       for a command line); all of it is
#                                       stopped and removed on exit

source "$(dirname "${BASH_SOURCE[0]}")/pulse.sh"

tmux_test_start() {
    command -v tmux >/dev/null || exit 77
    command -v stty >/dev/null || exit 77
    : "${TONQUEL_BIN:?}" "${TONQUEL_SOURCE_DIR:?}"
    WORK=$(mktemp -d "/tmp/tonquel-$1.XXXXXX")
    SOCKET="$WORK/tmux.socket"
    SESSION=$1
    BIN=$(printf '%q' "$TONQUEL_BIN")
    trap tmux_test_stop EXIT
    pulse_start
    local started=$?
    [ $started -eq 0 ] || exit $started
    tm new-session -d -s "$SESSION" -x "$2" -y "$3" -n idle || exit 1
    # A shell that ends shows why in the failure report.
    tm set-option -g remain-on-exit on
}

tmux_test_stop() {
    tm kill-server 2>/dev/null
    pulse_stop
    rm -rf "$WORK"
}

tm() { tmux -S "$SOCKET" "$@"; }

pane_text() { tm capture-pane -p -J -S - -t "$SESSION:$1"; }

fail() {
    echo "FAIL ($1): $2" >&2
    echo "--- pane $1:" >&2
    pane_text "$1" >&2
    exit 1
}

# wait_for_lines WINDOW LINE COUNT: until the pane shows LINE (whole) at
# least COUNT times; 10 s at most.
wait_for_lines() {
    local tries=0
    while [ "$(pane_text "$1" | grep -cxF -- "$2")" -lt "$3" ]; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || fail "$1" "no ${3}x '$2'"
        sleep 0.1
    done
}

wait_for_file() {
    local tries=0
    while [ ! -s "$2" ]; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || fail "$1" "$2 never written"
        sleep 0.1
    done
}

# A fresh interactive shell with job control in its own window: bash, or
# the shell named second.
open_window() {
    local shell="${2:-env HISTFILE= bash --norc --noprofile -i}"
    tm new-window -t "$SESSION" -n "$1" "env PS1='$ ' $shell"
    local tries=0
    until pane_text "$1" | grep -q '^\$'; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || fail "$1" "no shell prompt"
        sleep 0.1
    done
}

# A window for Ctrl-Z. bash would set its own terminal mode back when the
# job stops and hide a program that keeps it; dash, where it is installed,
# leaves the terminal as the job left it.
open_job_window() {
    if command -v dash >/dev/null; then
        open_window "$1" "dash -i"
    else
        open_window "$1"
    fi
}

# wait_for_stop WINDOW: until the shell tells that the job stopped.
wait_for_stop() {
    local tries=0
    until pane_text "$1" | grep -q 'Stopped'; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || fail "$1" "Ctrl-Z did not stop the program"
        sleep 0.1
    done
}

type_line() { tm send-keys -t "$SESSION:$1" "$2" Enter; }

# Runs the program in the window's foreground from a script that notes the
# terminal mode before and after, and the exit status. Being one job with
# the program, the script goes on only when the program has really ended,
# not when Ctrl-Z stops it.
run_program() {
    local window=$1
    shift
    cat >"$WORK/$window.run" <<SCRIPT
stty -g > $WORK/$window.before
$*
echo \$? > $WORK/$window.status
stty -g > $WORK/$window.after
SCRIPT
    type_line "$window" "bash $WORK/$window.run"
}

expect_mode_kept() {
    wait_for_file "$1" "$WORK/$1.after"
    cmp -s "$WORK/$1.before" "$WORK/$1.after" ||
        fail "$1" "terminal mode changed: $(cat "$WORK/$1.before") -> $(cat "$WORK/$1.after")"
}

expect_status() {
    local status
    status=$(cat "$WORK/$1.status")
    [ "$status" = "$2" ] || fail "$1" "exit status $status, expected $2"
}

# Gives the program time to make its first poll after the progress line.
settle() { sleep 0.4; }

