#!/bin/bash
# The status line on a real terminal (a tmux pane): what a person sees while
# a tone plays and while it is paused, that it follows a resize, and that it
# is gone after every way out (end, q, Ctrl-C, SIGTERM, SIGHUP, an error)
# with the cursor visible and the terminal mode as found; Ctrl-Z takes it
# away and fg brings it back. A redirected standard output, or TERM=dumb,
# gets none. The export's progress bar likewise.
set -u

source "$(dirname "$0")/lib/tmux.sh"
tmux_test_start status 100 30

# The status line of a tone of any frequency, as the pane shows it.
STATUS='^[0-9.]+ Hz  [0-9]+:[0-9]{2}'

# A row that the terminal rewrapped when it narrowed keeps its padding.
pane_lines() { pane_text "$1" | sed 's/ *$//'; }

status_lines() { pane_lines "$1" | grep -E -- "$STATUS"; }

# wait_for_status WINDOW REGEX: until the pane's last line is a status line
# that matches REGEX; 10 s at most.
wait_for_status() {
    local tries=0
    until pane_lines "$1" | sed '/^$/d' | tail -1 | grep -Eq -- "$2"; do
        tries=$((tries + 1))
        [ $tries -le 100 ] || fail "$1" "no status line like '$2'"
        sleep 0.1
    done
}

expect_no_status() {
    if status_lines "$1" >/dev/null; then fail "$1" "status line left: $(status_lines "$1")"; fi
}

expect_cursor_visible() {
    [ "$(tm display-message -p -t "$SESSION:$1" '#{cursor_flag}')" = 1 ] || fail "$1" "cursor hidden"
}

# Every way out leaves the pane without a status line, the cursor visible,
# the mode as found.
expect_clean_exit() {
    expect_mode_kept "$1"
    expect_no_status "$1"
    expect_cursor_visible "$1"
}

# Playing, paused, resized, then q.
open_window play
run_program play "$BIN 440,30 550,30"
wait_for_lines play "  440, 30" 1
wait_for_status play '^440 Hz  0:0[0-9] / 0:30  tone 1 of 2  0:[0-9]{2} left  keys: \+ - n N s b p q$'
expect_cursor_visible play
tm send-keys -t "$SESSION:play" p
wait_for_lines play "#pause" 1
wait_for_status play '^440 Hz  0:0[0-9] / 0:30  paused  tone 1 of 2  0:[0-9]{2} left  keys: \+ - n N s b p q$'
tm send-keys -t "$SESSION:play" x
wait_for_status play '^440 Hz  0:[0-9]{2} / 0:30  tone 1 of 2'
# Narrower than the line: it is cut to fit, and the rows the terminal
# rewrapped the old one into are cleared.
tm resize-window -t "$SESSION:play" -x 30
wait_for_status play '^440 Hz  0:[0-9]{2} / 0:30$'
[ "$(status_lines play | wc -l)" -eq 1 ] || fail play "more than one status line after the resize"
tm resize-window -t "$SESSION:play" -x 100
tm send-keys -t "$SESSION:play" +
wait_for_lines play "# added 441, 180" 1
wait_for_status play 'tone 1 of 3  [0-9:]+ left'
tm send-keys -t "$SESSION:play" q
expect_clean_exit play
expect_status play 0
# What the scrollback keeps is what the run printed.
pane_lines play | grep -Ev '^\$|^$' >"$WORK/play.kept"
printf '%s\n' "#Frequency, Duration" "  440, 30" "#pause" "# added 441, 180" | cmp -s - "$WORK/play.kept" ||
    fail play "scrollback holds more than the printed lines"

# The end of the schedule.
open_window end
run_program end "$BIN 440,1"
wait_for_status end '^440 Hz  0:0[01] / 0:01'
expect_clean_exit end
expect_status end 0

# Ctrl-C, SIGTERM, SIGHUP from elsewhere.
for way in interrupt terminate hangup; do
    open_window $way
    run_program $way "bash -c 'echo \$\$ > $WORK/$way.pid; exec \"\$0\" 440,30' $BIN"
    wait_for_status $way '^440 Hz'
    case $way in
    interrupt) tm send-keys -t "$SESSION:$way" C-c ;;
    terminate) kill -TERM "$(cat "$WORK/$way.pid")" ;;
    hangup) kill -HUP "$(cat "$WORK/$way.pid")" ;;
    esac
    expect_clean_exit $way
done

# Ctrl-Z takes the line away while the job is stopped; fg brings it back.
open_job_window suspend
type_line suspend "stty -g > $WORK/suspend.before"
wait_for_file suspend "$WORK/suspend.before"
type_line suspend "$BIN 440,30"
wait_for_status suspend '^440 Hz'
tm send-keys -t "$SESSION:suspend" C-z
wait_for_stop suspend
# Nothing of it is left beside the shell's notice either.
expect_no_status suspend
pane_lines suspend | grep 'Stopped' | grep -q '440,30$' || fail suspend "status line left behind the notice"
type_line suspend "fg; stty -g > $WORK/suspend.after"
wait_for_status suspend '^440 Hz'
tm send-keys -t "$SESSION:suspend" q
expect_clean_exit suspend

# Standard output redirected: exactly today's lines in the file, and no
# status line on the terminal, which still has standard error.
open_window redirected
run_program redirected "$BIN 440,2 550,1 > $WORK/redirected.out"
sleep 1.5
expect_no_status redirected
wait_for_file redirected "$WORK/redirected.status"
expect_no_status redirected
printf '#Frequency, Duration\n  440, 2\n  550, 1\n' | cmp -s - "$WORK/redirected.out" ||
    fail redirected "standard output holds: $(cat -A "$WORK/redirected.out")"

# A terminal that cannot redraw a line.
open_window dumb
run_program dumb "TERM=dumb $BIN 440,2"
sleep 1.5
expect_no_status dumb
expect_mode_kept dumb

# The export's progress bar, taken away by Ctrl-Z and back after fg, then
# Ctrl-C: no bar left, no file. Short names keep the shell's notice of the
# stop shorter than the bar, so that a bar left behind it would show.
printf '440,3600\n440,3600\n440,3600\n' >"$WORK/h"
ln -s "$TONQUEL_BIN" "$WORK/t"
open_job_window export
type_line export "cd $WORK && stty -g > export.before"
wait_for_file export "$WORK/export.before"
type_line export "./t -v0 --output l.flac -f h"
wait_for_status export '^export  \[#*-*\]  [0-9]+%  [0-9:]+ left$'
tm send-keys -t "$SESSION:export" C-z
wait_for_stop export
pane_lines export | grep 'Stopped' | grep -q -- '-f h$' || fail export "progress bar left while stopped"
type_line export "fg; echo \$? > export.status; stty -g > export.after"
wait_for_status export '^export  \[#*-*\]  [0-9]+%'
tm send-keys -t "$SESSION:export" C-c
expect_mode_kept export
# Ctrl-C before the file is in place: not written, status 1.
expect_status export 1
pane_text export | grep -q '^tonquel: l.flac: not written: interrupted$' || fail export "no word that the file was not written"
pane_text export | grep -q '^export' && fail export "progress bar left"
ls "$WORK" | grep -Eq 'l.flac|tonquel-.*\.part' && fail export "a file was left: $(ls "$WORK")"

# An error ends the run: the sound server goes away mid-tone.
open_window error
run_program error "$BIN 440,30"
wait_for_status error '^440 Hz'
pulse_stop
tries=0
until pane_text error | grep -q '^tonquel: waveOut: '; do
    tries=$((tries + 1))
    [ $tries -le 100 ] || fail error "no waveOut error"
    sleep 0.1
done
expect_clean_exit error
expect_status error 1

exit 0
