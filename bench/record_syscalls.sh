#!/usr/bin/env bash
# The system calls that keeping the record costs in a real run: tonquel -r
# -m with TONES one-second tones into a private PulseAudio server, under
# strace. Prints, per file of the record (standard output into a file, the
# session file, the MOR file), the writes, seeks and syncs, and the time spent
# in fsync.
#
#   bench/record_syscalls.sh [TONQUEL_BIN] [TONES]
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
bin=${1:-${TONQUEL_BIN:-$source_dir/build/tonquel}}
tones=${2:-5}

source "$here/lib/bench_setup.sh"
bench_require strace pulseaudio pactl
[ -x "$bin" ] || { echo "not an executable: $bin" >&2; exit 1; }

source "$source_dir/tests/system/lib/pulse.sh"
work=$(mktemp -d /tmp/tonquel-bench.XXXXXX)
trap 'pulse_stop; rm -rf "$work"' EXIT
pulse_start || exit 1

schedule=()
for i in $(seq "$tones"); do schedule+=("$((300 + 100 * i)),1"); done
cd "$work" || exit 1
strace -ff -y -T -o trace -e trace=write,lseek,fsync "$bin" -r -m mor.txt "${schedule[@]}" \
    </dev/null >stdout.txt 2>stderr.txt || { cat stderr.txt >&2; exit 1; }

echo "$tones tones of 1 s; calls on each file of the record:"
# One trace file a thread, so that no call is split. Lines look like:
# write(3</path/session_...>, ...) = 10 <0.000012>
cat trace.* | awk -v work="$work/" '
    match($0, /(write|lseek|fsync)\([0-9]+<[^>]*>/) {
        call = substr($0, RSTART, RLENGTH)
        name = call; sub(/^[a-z]+\([0-9]+</, "", name); sub(/>$/, "", name); sub(work, "", name)
        kind = call; sub(/\(.*/, "", kind)
        if (name !~ /^(stdout.txt|mor.txt|session_)/) next
        sub(/session_.*/, "session file", name)
        count[name " " kind]++
        if (kind == "fsync") { t = $NF; gsub(/[<>]/, "", t); fsync_time += t; fsyncs++ }
    }
    END {
        for (k in count) printf "  %-20s %d\n", k, count[k]
        if (fsyncs) printf "fsync: %d calls, %.2f ms in all, %.3f ms each\n", fsyncs, fsync_time * 1000, fsync_time * 1000 / fsyncs
    }' | sort
