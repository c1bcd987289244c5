#!/bin/bash
# Keys typed on a real terminal (a tmux pane) reach the playing program, and
# the terminal is given back exactly as it was: after q, Ctrl-C, SIGTERM, and
# while the job is stopped with Ctrl-Z.
set -u

source "$(dirname "$0")/lib/tmux.sh"
tmux_test_start keys 120 40

# + inserts, s and the down arrow skip, q quits.
open_window plain
run_program plain "$BIN 440,30 550,30 660,30"
wait_for_lines plain "  440, 30" 1
settle
tm send-keys -t "$SESSION:plain" +
wait_for_lines plain "# added 441, 180" 1
tm send-keys -t "$SESSION:plain" s
wait_for_lines plain "#skip to next frequency in list" 1
wait_for_lines plain "  441, 180" 1
settle
tm send-keys -t "$SESSION:plain" Down
wait_for_lines plain "#skip to next frequency in list" 2
wait_for_lines plain "  550, 30" 1
settle
tm send-keys -t "$SESSION:plain" q
expect_mode_kept plain
expect_status plain 0
# Keys are read without echo: neither the characters nor the arrow's escape
# sequence show.
pane_text plain | grep -q '\^\[' && fail plain "arrow key echoed"
pane_text plain | grep -qx '[+sq]' && fail plain "key echoed"

# Ctrl-C.
open_window interrupt
run_program interrupt "$BIN 440,30"
wait_for_lines interrupt "  440, 30" 1
settle
tm send-keys -t "$SESSION:interrupt" C-c
expect_mode_kept interrupt
expect_status interrupt 0

# SIGTERM from elsewhere; the shell in front of the program keeps its pid.
open_window terminate
run_program terminate "bash -c 'echo \$\$ > $WORK/terminate.pid; exec \"\$0\" 440,30' $BIN"
wait_for_lines terminate "  440, 30" 1
settle
kill -TERM "$(cat "$WORK/terminate.pid")"
expect_mode_kept terminate

# Ctrl-Z gives the terminal back while stopped; fg takes it again and keys
# act. The program runs straight from the shell, so that the shell sees it
# stop only once it has stopped, and fg reports its exit status.
open_job_window suspend
type_line suspend "stty -g > $WORK/suspend.before"
wait_for_file suspend "$WORK/suspend.before"
type_line suspend "$BIN 440,30 550,30"
wait_for_lines suspend "  440, 30" 1
settle
tm send-keys -t "$SESSION:suspend" C-z
wait_for_stop suspend
type_line suspend "stty -g > $WORK/suspend.stopped"
wait_for_file suspend "$WORK/suspend.stopped"
cmp -s "$WORK/suspend.before" "$WORK/suspend.stopped" ||
    fail suspend "stopped program kept the terminal: $(cat "$WORK/suspend.stopped")"
type_line suspend "fg; echo \$? > $WORK/suspend.status; stty -g > $WORK/suspend.after"
settle
settle
tm send-keys -t "$SESSION:suspend" s
wait_for_lines suspend "#skip to next frequency in list" 1
wait_for_lines suspend "  550, 30" 1
settle
tm send-keys -t "$SESSION:suspend" q
expect_mode_kept suspend
expect_status suspend 0

exit 0
