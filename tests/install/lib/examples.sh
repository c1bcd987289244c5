# Sourced by the install tests: plays an example frequency file with every
# duration forced negative, so that its whole schedule runs and nothing
# sounds, and checks the tone lines printed against the file.
#
#   play_example_silently PROGRAM EXAMPLE WORK   fails (status 1, message on
#                                                standard error) unless the
#                                                run ends with 0 and prints
#                                                every tone, in order

# Every tone line gets a minus sign right after its comma (and the blanks
# that follow it); a line without a comma gets ",-1".
negate_durations() {
    awk '/^[ \t]*[-+0-9]/ {
             if (index($0, ",")) sub(/,[ \t]*/, "&-"); else $0 = $0 ",-1"
         }
         { print }' "$1"
}

play_example_silently() {
    local program=$1 example=$2 work=$3
    local copy
    copy="$work/$(basename "$example")"
    negate_durations "$example" >"$copy"
    local status=0
    "$program" -f "$copy" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
    if [ $status -ne 0 ]; then
        echo "$example: status $status: $(cat "$work/stderr")" >&2
        return 1
    fi
    local expected actual durations
    expected=$(awk '/^[ \t]*[-+0-9]/ { printf "%g\n", $0 + 0 }' "$copy")
    actual=$(awk '/^  [-0-9]/ { printf "%g\n", $1 + 0 }' "$work/stdout")
    durations=$(awk '/^  [-0-9]/ { print $2 }' "$work/stdout")
    if [ -z "$expected" ] || [ "$actual" != "$expected" ]; then
        echo "$example: tones played: ${actual//$'\n'/ }; in the file: ${expected//$'\n'/ }" >&2
        return 1
    fi
    if grep -qv '^-' <<<"$durations"; then
        echo "$example: a duration is not negative: ${durations//$'\n'/ }" >&2
        return 1
    fi
    head -n 1 "$work/stdout" | grep -qx '#Frequency, Duration' || {
        echo "$example: no schedule header on standard output" >&2
        return 1
    }
    echo "ok: $example played $(wc -l <<<"$actual") tones silently"
}
