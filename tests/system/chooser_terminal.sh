#!/bin/bash
# `tonquel -g` with no graphical session but a terminal: the files of DATA
# are listed and chosen by number. Runs in a private tmux server for the
# terminal. The tones have negative durations, so nothing is played.

set -u

command -v tmux >/dev/null || { echo "skip: tmux not installed"; exit 77; }
: "${TONQUEL_BIN:?}"

WORK=$(mktemp -d /tmp/tonquel-chooser-tty.XXXXXX)
SOCKET="$WORK/tmux.sock"
cleanup() {
    tmux -S "$SOCKET" kill-server 2>/dev/null
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

mkdir -p "$WORK/run/DATA/folder"
printf '# first\n440,-1\n' >"$WORK/run/DATA/a.txt"
printf '# second\n550,-1\n' >"$WORK/run/DATA/b c.txt"
DATA_DIR=$(cd "$WORK/run/DATA" && pwd)

# Runs tonquel -g on the tmux terminal with its output in files, waits for
# the prompt, types the answer and Enter (or Ctrl-C for the answer C-c). $1
# names the run, $2 the answer.
run_chooser() {
    local name=$1 answer=$2 tries
    # A server of its own: the last run's may still be on its way out, and
    # a client that reaches it then is told that it "exited unexpectedly".
    SOCKET="$WORK/$name.tmux"
    tmux -S "$SOCKET" new-session -d -x 120 -y 40 \
        "cd '$WORK/run' && env -u DISPLAY -u WAYLAND_DISPLAY '$TONQUEL_BIN' -g >'$WORK/$name.out' 2>'$WORK/$name.err'; echo \$? >'$WORK/$name.status'; sleep 30"
    for tries in $(seq 100); do
        grep -q "cancel" "$WORK/$name.err" 2>/dev/null && break
        sleep 0.1
    done
    grep -q "cancel" "$WORK/$name.err" 2>/dev/null || fail "$name: no prompt"
    if [ "$answer" = C-c ]; then
        tmux -S "$SOCKET" send-keys C-c
    else
        [ -n "$answer" ] && tmux -S "$SOCKET" send-keys -l "$answer"
        tmux -S "$SOCKET" send-keys Enter
    fi
    for tries in $(seq 100); do
        [ -s "$WORK/$name.status" ] && break
        sleep 0.1
    done
    [ -s "$WORK/$name.status" ] || fail "$name: tonquel did not end"
    STATUS=$(cat "$WORK/$name.status")
    tmux -S "$SOCKET" kill-server 2>/dev/null
}

expect_line() {
    grep -qxF -- "$3" "$WORK/$1.$2" || fail "$1: no line '$3' in $2"
}

# Two files, in the order typed, the second typed first.
run_chooser two "2, 1"
[ "$STATUS" -eq 0 ] || fail "two: exit status $STATUS"
expect_line two err "  1  a.txt"
expect_line two err "  2  b c.txt"
grep -q "folder" "$WORK/two.err" && fail "two: a folder was listed"
expect_line two out "#Frequency, Duration"
first=$(grep -nxF -- "# $DATA_DIR/b c.txt" "$WORK/two.out" | cut -d: -f1)
second=$(grep -nxF -- "# $DATA_DIR/a.txt" "$WORK/two.out" | cut -d: -f1)
[ -n "$first" ] && [ -n "$second" ] || fail "two: chosen files not logged"
[ "$first" -lt "$second" ] || fail "two: files not read in the order typed"
expect_line two out "  550, -1"
expect_line two out "  440, -1"

# An empty answer cancels: status 1, the message, nothing logged.
run_chooser cancel ""
[ "$STATUS" -eq 1 ] || fail "cancel: exit status $STATUS"
# The prompt's line is ended by the terminal's echo, not in the file.
grep -qF "tonquel: no frequency files selected" "$WORK/cancel.err" || fail "cancel: no message"
[ -s "$WORK/cancel.out" ] && fail "cancel: something was logged"

# Ctrl-C at the prompt ends the run at once, as Ctrl-C does: status 0,
# nothing logged.
run_chooser interrupt C-c
[ "$STATUS" -eq 0 ] || fail "interrupt: exit status $STATUS"
[ -s "$WORK/interrupt.out" ] && fail "interrupt: something was logged"

echo "pass"
