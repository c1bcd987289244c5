#!/bin/bash
# Keys typed on the Wine console (a tmux pane) reach the Windows program as
# console input records: n, s, the arrows, p, b and q, and Ctrl-C ends the
# run with status 0. Shifted keys (+, N) come from tmux in one batch with
# their Shift and are lost by design; the in-process tests cover them.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
windows_setup tmux
pulse_start || exit $?

SOCKET="$WORK/tmux.socket"
tm() { tmux -S "$SOCKET" "$@"; }
WINDOWS_CLEANUP='tm kill-server 2>/dev/null'

pane_text() { tm capture-pane -p -J -S - -t "$1"; }

# wait_for_line WINDOW LINE COUNT: the pane shows LINE at least COUNT times.
wait_for_line() {
    local tries=0
    while [ "$(pane_text "$1" | tr -d '\r' | grep -cxF -- "$2")" -lt "$3" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 150 ]; then
            fail "no ${3}x '$2' in window $1"
            pane_text "$1" >&2
            exit 1
        fi
        sleep 0.1
    done
}

wait_for_file() {
    local tries=0
    while [ ! -s "$1" ]; do
        tries=$((tries + 1))
        [ $tries -le 150 ] || { fail "$1 never written"; exit 1; }
        sleep 0.1
    done
}

start() {  # start NAME ARGS...: the program in a new tmux window, its status noted
    local name=$1
    shift
    local command
    command="cd $(printf '%q' "$WORK") && $(printf '%q ' "$TONQUEL_WINE" "$@"); echo \$? >$name.status; sleep 30"
    if tm has-session 2>/dev/null; then
        tm new-window -n "$name" "$command"
    else
        tm new-session -d -s keys -n "$name" -x 200 -y 50 "$command"
    fi
}

# wait_for_status WINDOW PATTERN: the status line at the bottom matches.
wait_for_status() {
    local tries=0
    until pane_text "$1" | grep -qE -- "$2"; do
        tries=$((tries + 1))
        [ $tries -le 50 ] || { fail "no status line like '$2' in window $1"; pane_text "$1" >&2; return; }
        sleep 0.1
    done
}

start walk -r 300,30 400,30
wait_for_line walk "  300, 30" 1
wait_for_status walk '^300 Hz +0:0[0-9] / 0:30 +tone 1 of 2 +[01]:[0-9]{2} left +keys: \+ - n N s b p q$'
sleep 0.7
tm send-keys -t walk n
wait_for_line walk "# added 297, 180" 1
tm send-keys -t walk s
wait_for_line walk "  297, 180" 1
tm send-keys -t walk Down
wait_for_line walk "  298, 180" 1
tm send-keys -t walk Up
wait_for_line walk "  297, 180" 2
tm send-keys -t walk p
wait_for_line walk "#pause" 1
wait_for_status walk 'paused'

tm send-keys -t walk x  # only resumes
sleep 0.3
tm send-keys -t walk b
wait_for_line walk "  300, 30" 2
tm send-keys -t walk q
wait_for_file "$WORK/walk.status"
[ "$(cat "$WORK/walk.status")" = 0 ] || fail "status $(cat "$WORK/walk.status") after q"
pane_text walk | grep -q 'keys: ' && fail "the status line outlived the run"

session=$(ls "$WORK"/session_* 2>/dev/null | head -1)
[ -n "$session" ] || { fail "no session file"; exit 1; }
expected='#Frequency, Duration
  300, 30
# added 303, 180
# added 302, 180
# added 301, 180
# added 299, 180
# added 298, 180
# added 297, 180
#skip to next frequency in list
  297, 180
#skip to next frequency in list
  298, 180
#back to previous frequency
  297, 180
#pause
#back to previous frequency
  300, 30'
recorded=$(tr -d '\r' <"$session")
if [ "$recorded" != "$expected" ]; then
    fail "session file differs"
    diff <(echo "$expected") <(echo "$recorded") >&2
else
    echo "ok: the session file holds every key's line"
fi

start interrupt 440,30
wait_for_line interrupt "  440, 30" 1
sleep 0.7
tm send-keys -t interrupt C-c
wait_for_file "$WORK/interrupt.status"
[ "$(cat "$WORK/interrupt.status")" = 0 ] || fail "status $(cat "$WORK/interrupt.status") after Ctrl-C"
exit $FAILED
