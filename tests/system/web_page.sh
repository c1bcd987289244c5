#!/bin/bash
# --web against a real run on a private sound server, driven by headless
# Chromium (lib/web_page.py): refused without the key, the page with it at
# 360 px, each button doing its command as --send status tells, the page
# following without a reload, Quit ending the run and the page saying so.
# Then a hostile client (idle connections, a slow request, 10 MB, garbage,
# wrong keys, a foreign Host or Origin) leaves no gap in the sound and a
# --send status comes within 0.5 s. Last, --web alone listens at a private
# place, a port in use ends the run with status 1 before anything sounds,
# and --web is not for --output.
source "$(dirname "$0")/lib/audio_check.sh"
for program in chromium chromedriver; do
    command -v $program >/dev/null || { echo "SKIP: $program is missing"; exit 77; }
done
/usr/bin/python3 -c 'import selenium' 2>/dev/null || { echo "SKIP: python3-selenium is missing"; exit 77; }
audio_setup
export XDG_CONFIG_HOME=$AUDIO_WORK/config AUDIO_WORK TONQUEL_BIN
script=$(dirname "$0")/lib/web_page.py
port=$((20000 + RANDOM % 20000))
place=$AUDIO_WORK/control
send() { "$TONQUEL_BIN" --send "$@" --control="$place" </dev/null; }

# The address the run prints: the key is made once and kept.
wait_for_address() {
    for _ in $(seq 100); do
        url=$(grep -o 'http://[^ ]*' "$1" 2>/dev/null) && [ -n "$url" ] && return
        sleep 0.1
    done
    fail "no address on standard error: $(cat "$1")"
}

"$TONQUEL_BIN" --web=127.0.0.1:$port --control="$place" 440,60 880,60 660,60 </dev/null >"$AUDIO_WORK/out" \
    2>"$AUDIO_WORK/err" &
run=$!
wait_for_address "$AUDIO_WORK/err"
[[ $url =~ ^http://127\.0\.0\.1:$port/\?key=[0-9a-f]{32}$ ]] || fail "address: $url"
key=${url##*key=}
[ "$(cat "$XDG_CONFIG_HOME/tonquel/web-key")" = "$key" ] || fail "the key printed is not the one kept"
[ "$(stat -c %a "$XDG_CONFIG_HOME/tonquel")" = 700 ] || fail "the key's folder is not private"
[ "$(stat -c %a "$XDG_CONFIG_HOME/tonquel/web-key")" = 600 ] || fail "the key's file is not private"
for _ in $(seq 50); do send status >/dev/null 2>&1 && break; sleep 0.1; done
timeout 120 /usr/bin/python3 "$script" browser "$url" "$place" "${WEB_SCREENSHOT:-}" || fail "the browser test failed"
expect_exit "$run" 5 "Quit"
[ $status -eq 0 ] || fail "the run ended with $status: $(cat "$AUDIO_WORK/err")"

# The flood, on a steady tone that is recorded.
AUDIO_RECORD_LATENCY_MS=100 audio_record_start "$AUDIO_WORK/flood.raw"
"$TONQUEL_BIN" --web=127.0.0.1:$port --control="$place" 440,30 </dev/null >/dev/null 2>"$AUDIO_WORK/flood.err" &
run=$!
wait_for_address "$AUDIO_WORK/flood.err"
[ "${url##*key=}" = "$key" ] || fail "the next run has another key"
for _ in $(seq 50); do send status >/dev/null 2>&1 && break; sleep 0.1; done
sleep 0.5
WEB_KEY=$key timeout 60 /usr/bin/python3 "$script" flood 127.0.0.1 $port >"$AUDIO_WORK/flood" &
flood=$!
slowest=0
while kill -0 $flood 2>/dev/null; do
    asked=$(date +%s%N)
    send status >/dev/null || fail "--send status during the flood gave status $?"
    took=$((($(date +%s%N) - asked) / 1000000))
    ((took > slowest)) && slowest=$took
    sleep 0.2
done
wait $flood || fail "the flood: $(grep FAIL "$AUDIO_WORK/flood")"
cat "$AUDIO_WORK/flood"
expect_range "the slowest --send status during the flood (ms)" $slowest 0 500
send quit || fail "quit gave status $?"
expect_exit "$run" 5 "quit"
audio_record_stop
read -r gaps longest < <(analyse gaps "$AUDIO_WORK/flood.raw" right)
expect_range "the longest silence in the sound during the flood (ms)" "$longest" 0 1.9

# --web alone: the page's server reaches the run at a private place, and
# none answers at the default one.
"$TONQUEL_BIN" --web=127.0.0.1:$port 440,30 </dev/null >/dev/null 2>"$AUDIO_WORK/alone.err" &
run=$!
wait_for_address "$AUDIO_WORK/alone.err"
state=
for _ in $(seq 30); do
    state=$(curl -s -b "tonquel-key=$key" "http://127.0.0.1:$port/state")
    [[ $state == *'"frequency":"440 Hz"'* ]] && break
    sleep 0.1
done
[[ $state == *'"frequency":"440 Hz"'* ]] || fail "--web alone: $state"
"$TONQUEL_BIN" --send status </dev/null >/dev/null 2>&1 && fail "--web alone answers at the default place"
# The port in use: status 1 before anything sounds.
"$TONQUEL_BIN" --web=127.0.0.1:$port 550,30 </dev/null >/dev/null 2>"$AUDIO_WORK/busy.err"
[ $? -eq 1 ] || fail "a port in use did not end the run with status 1"
grep -q "^tonquel: --web: 127.0.0.1:$port: " "$AUDIO_WORK/busy.err" || fail "port in use: $(cat "$AUDIO_WORK/busy.err")"
curl -s -X POST -b "tonquel-key=$key" -H "Origin: http://127.0.0.1:$port" "http://127.0.0.1:$port/command/quit" \
    >/dev/null
expect_exit "$run" 5 "quit by the page"

"$TONQUEL_BIN" --web --output "$AUDIO_WORK/x.wav" 440,1 </dev/null 2>"$AUDIO_WORK/usage.err"
[ $? -eq 2 ] || fail "--web with --output is no usage error"
head -n1 "$AUDIO_WORK/usage.err" | grep -q '^tonquel: --output .*: not with --web' ||
    fail "--web --output: $(head -n1 "$AUDIO_WORK/usage.err")"
exit $AUDIO_FAILED
