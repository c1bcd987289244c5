#!/bin/bash
# A finished export reaches the disk in this order: the temporary file is
# synced, renamed over the final name, and then the folder is synced. A power
# cut then leaves under the name the earlier file or the whole new one.
# Traced with strace; no sound device is involved.

set -u

command -v strace >/dev/null || { echo "skip: strace not installed"; exit 77; }
strace -o /dev/null true 2>/dev/null || { echo "skip: strace cannot trace here"; exit 77; }
: "${TONQUEL_BIN:?}"

WORK=$(mktemp -d /tmp/tonquel-export-sync.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
FOLDER=$(pwd -P)

fail() {
    echo "FAIL: $*" >&2
    for f in trace err; do [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }; done
    exit 1
}

echo earlier >out.wav
# A sanitized build's leak check cannot run under ptrace.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -y -o trace -e trace=fsync,fdatasync,rename,renameat,renameat2 \
    "$TONQUEL_BIN" --output out.wav 440,1 </dev/null >/dev/null 2>err || fail "exit status $?"
[ "$(stat -c %s out.wav)" -eq $((44 + 44100 * 4)) ] || fail "out.wav holds $(stat -c %s out.wav) bytes"

# The calls that succeeded, in order, with the pid and the results cut off.
sed -n 's/^[0-9]* *\([a-z0-9]*(.*)\) *= 0$/\1/p' trace >calls
part=$(sed -n 's/^fsync([0-9]*<\(.*\/tonquel-[a-z0-9]*\.part\)>)$/\1/p' calls)
[ -n "$part" ] || fail "the temporary file was not synced"
name=$(basename "$part")
expected="fsync(<$part>)
rename(\"$name\", \"out.wav\")
fsync(<$FOLDER>)"
# Descriptor numbers and the rename's flavour (rename, renameat with AT_FDCWD)
# are the C library's business.
actual=$(sed -e 's/([0-9]*</(</' -e 's/^renameat2\?(AT_FDCWD, \("[^"]*"\), AT_FDCWD, \("[^"]*"\).*)$/rename(\1, \2)/' calls)
[ "$actual" = "$expected" ] || fail "calls: $actual
expected: $expected"
echo "ok: the file synced, renamed into place, the folder synced"
