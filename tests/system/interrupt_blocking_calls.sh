#!/bin/bash
# Signals while the run waits in a call that blocks. A write to standard
# output on a full pipe whose reader has stopped reading goes on once the
# reader reads again, and the run ends as Ctrl-C ends it (status 0), not with
# "Interrupted system call" and status 1. An open of a FIFO (-f, -m) that
# nobody holds the other end of ends at Ctrl-C, SIGTERM and SIGHUP alike,
# with status 0 and nothing said. The tones never sound, so no sound device
# is involved.

set -u
: "${TONQUEL_BIN:?}"
WORK=$(mktemp -d /tmp/tonquel-blocked-output.XXXXXX)
trap 'kill -CONT $reader 2>/dev/null; kill -KILL $player 2>/dev/null; rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
fail() {
    echo "FAIL: $*" >&2
    cat err >&2
    exit 1
}

awk 'BEGIN { for (i = 0; i < 200000; i++) printf "%d,-1\n", 100 + i % 900 }' >tones.txt  # far more than a pipe holds
mkfifo out
# A reader that takes a block, stops reading until it is resumed, then reads on.
(
    exec 3<out
    dd of=/dev/null bs=4096 count=1 iflag=fullblock status=none <&3
    kill -STOP $BASHPID
    exec cat <&3 >/dev/null
) &
reader=$!
"$TONQUEL_BIN" -f tones.txt >out 2>err </dev/null &
player=$!
for _ in $(seq 300); do
    [ "$(ps -o stat= -p "$reader" | cut -c1)" = T ] && break
    sleep 0.05
done
sleep 0.5  # the pipe fills and the run waits in a write
kill -0 "$player" 2>/dev/null || fail "the run ended before it could be caught writing"
kill -INT "$player"
sleep 0.3
kill -CONT "$reader"
wait "$player"
status=$?
[ $status -eq 0 ] || fail "exit status $status, expected 0"
grep '^tonquel: ' err | grep -v 'soundcard detected' | grep -q . && fail "messages on standard error"
echo "ok: the write went on and Ctrl-C ended the run with 0"

mkfifo fifo
for signal in INT TERM HUP; do
    for args in "-f fifo" "-m fifo 440,1"; do
        # shellcheck disable=SC2086
        "$TONQUEL_BIN" $args >/dev/null 2>err </dev/null &
        player=$!
        sleep 0.5
        kill -"$signal" "$player"
        for _ in $(seq 50); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$player" 2>/dev/null && fail "SIG$signal did not end a run waiting on $args"
        wait "$player"
        status=$?
        [ $status -eq 0 ] || fail "SIG$signal during $args: exit status $status, expected 0"
        grep '^tonquel: ' err | grep -v 'soundcard detected' | grep -q . && fail "messages after SIG$signal during $args"
    done
done
echo "ok: Ctrl-C, SIGTERM and SIGHUP end the opens of FIFOs nobody holds"
