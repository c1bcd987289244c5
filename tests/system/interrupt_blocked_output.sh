#!/bin/bash
# Ctrl-C while a write to standard output waits on a full pipe whose reader
# has stopped reading: the write goes on once the reader reads again, and the
# run ends as Ctrl-C ends it (status 0), not with "Interrupted system call"
# and status 1. The tones never sound, so no sound device is involved.

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
