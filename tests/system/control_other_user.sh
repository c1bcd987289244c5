#!/bin/bash
# Only the user who started a run may control it. Another user (nobody)
# cannot reach its socket, whose mode is 0600; and once the socket's mode is
# loosened by hand, the run itself refuses that user, whom it reads from
# the socket. The run goes on untouched. The other way round, --send trusts
# no run of another user's: not a socket that nobody serves, nor a default
# place whose folder nobody made first. Needs root, to act as nobody.
set -u
[ -x "${TONQUEL_BIN:-}" ] || { echo "TONQUEL_BIN is not an executable: '${TONQUEL_BIN:-}'" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    echo "SKIP: needs root and setpriv" >&2
    exit 77
fi
work=$(mktemp -d /tmp/tonquel-control.XXXXXX)
chmod 755 "$work"  # others may enter the folder: the socket's mode alone keeps them out
player=
trap '[ -n "$player" ] && kill "$player" 2>/dev/null; rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
socket=$work/control
send() { "$TONQUEL_BIN" --send "$@" --control="$socket" </dev/null; }
send_as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$TONQUEL_BIN" --send "$@" --control="$socket" </dev/null; }

cd "$work" || exit 1
# No sound server: the run waits for its device, and answers meanwhile.
env -u PULSE_SERVER XDG_RUNTIME_DIR="$work" "$TONQUEL_BIN" --control="$socket" --wait-for-device=60 440,30 \
    </dev/null >out 2>err &
player=$!
for _ in $(seq 100); do
    send status >/dev/null 2>&1 && break
    sleep 0.1
done
refused=$(send_as_nobody skip 2>&1)
[ $? -eq 1 ] || fail "nobody's skip did not end with 1"
[ "$refused" = "tonquel: $socket: Permission denied" ] || fail "nobody at a socket of mode 0600: '$refused'"

chmod 666 "$socket"
refused=$(send_as_nobody quit 2>&1)
[ $? -eq 1 ] || fail "nobody's quit did not end with 1"
[ "$refused" = "tonquel: $socket: the program that answers there runs as another user (uid 0), not as this one" ] ||
    fail "nobody's --send trusted root's run: '$refused'"
# A client of nobody's that asks all the same.
refused=$(setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"{\"command\": [\"quit\"]}\n")
print(s.makefile().readline().strip())' "$socket" 2>&1)
[ "$refused" = '{"error":"only the user who started the run may control it"}' ] || fail "nobody let in: '$refused'"

send quit || fail "the run's own user was refused"
wait "$player"
status=$?
player=
[ $status -eq 0 ] || fail "the run ended with $status: $(cat err)"
[ "$(cat out)" = $'#Frequency, Duration\n  440, 30' ] || fail "a refused command acted: $(cat out)"
# A socket that nobody serves, where root looks: root is told whose it is.
mkdir "$work/stranger"
chown nobody "$work/stranger"
setpriv --reuid=nobody --regid=nogroup --clear-groups env -u PULSE_SERVER XDG_RUNTIME_DIR="$work/stranger" \
    "$TONQUEL_BIN" --control="$work/stranger/control" --wait-for-device=60 440,30 </dev/null >/dev/null 2>&1 &
player=$!
for _ in $(seq 100); do [ -S "$work/stranger/control" ] && break; sleep 0.1; done
chmod 666 "$work/stranger/control"
refused=$("$TONQUEL_BIN" --send status --control="$work/stranger/control" </dev/null 2>&1)
[ $? -eq 1 ] || fail "a run of nobody's was trusted"
[ "$refused" = "tonquel: $work/stranger/control: the program that answers there runs as another user (uid $(id -u nobody)), not as this one" ] ||
    fail "nobody's run: '$refused'"
# Its folder as the default place: refused before anything is sent.
mv "$work/stranger" "$work/tonquel"
refused=$(XDG_RUNTIME_DIR="$work" "$TONQUEL_BIN" --send quit </dev/null 2>&1)
[ $? -eq 1 ] || fail "a folder of nobody's was trusted"
[ "$refused" = "tonquel: $work/tonquel: belongs to another user (uid $(id -u nobody)), so no run of this user's answers there" ] ||
    fail "nobody's folder: '$refused'"
kill "$player"
wait "$player" 2>/dev/null
player=

[ $failed -eq 0 ] && echo "pass"
exit $failed
