#!/bin/bash
# The Windows program's page (--web) under Wine, asked by curl from Linux:
# the address on standard error with the key kept in %APPDATA%\tonquel,
# refused without the key, a foreign Host or a POST without the page's
# Origin; the key's address sets the cookie, the page's JSON follows a +1 Hz,
# a 10 MB request and a malformed one are refused at once, idle connections
# are closed within 2 s, and Quit ends the run. Without a sound server the
# run waits for its device, and is steered meanwhile.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
windows_setup curl
windows_no_sound_server
cd "$WORK" || exit 1
port=$((20000 + RANDOM % 20000))
base=http://127.0.0.1:$port

timeout 120 "$TONQUEL_WINE" --web=127.0.0.1:$port --wait-for-device=60 440,30 550,30 </dev/null >out 2>err &
player=$!
WINDOWS_CLEANUP='kill $player 2>/dev/null'
url=
for _ in $(seq 100); do
    url=$(program_stderr err | grep -o 'http://[^ ]*') && [ -n "$url" ] && break
    sleep 0.2
done
[[ $url =~ ^$base/\?key=[0-9a-f]{32}$ ]] || fail "address: '$url' ($(program_stderr err))"
key=${url##*key=}
kept=$(cat "${WINEPREFIX:-$HOME/.wine}"/drive_c/users/*/AppData/Roaming/tonquel/web-key 2>/dev/null | tr -d '\r')
[ "$kept" = "$key" ] || fail "the key is not kept in %APPDATA%\\tonquel: '$kept'"

code() { curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$@"; }
[ "$(code "$base/")" = 403 ] || fail "served without the key"
[ "$(code -c jar "$url")" = 303 ] || fail "the key's address does not lead to the page"
grep -q "tonquel-key.*$key" jar || fail "no cookie: $(cat jar)"
[ "$(code -b jar "$base/")" = 200 ] || fail "the page with the cookie"
[ "$(code -b jar -H "Host: evil.example:$port" "$base/state")" = 403 ] || fail "a foreign Host was served"
[ "$(code -b jar -X POST "$base/command/up")" = 403 ] || fail "a POST without Origin acted"
state=
for _ in $(seq 50); do
    state=$(curl -s -b jar "$base/state")
    [[ $state == *'"state":"waiting for device"'* ]] && break
    sleep 0.1
done
[[ $state == *'"frequency":"440 Hz"'*'"place":"1 of 2"'* ]] || fail "state: $state"
[ "$(curl -s -b jar -H "Origin: $base" -X POST "$base/command/up")" = '{"error":"success"}' ] || fail "+1 Hz"
for _ in $(seq 20); do
    state=$(curl -s -b jar "$base/state")
    [[ $state == *'"place":"1 of 3"'* ]] && break
    sleep 0.1
done
[[ $state == *'"next":["441 Hz for 3:00","550 Hz for 0:30"]'*'"place":"1 of 3"'* ]] || fail "after +1 Hz: $state"

# 10 MB is refused on its head, and a malformed line at once.
started=$(date +%s%N)
big=$(head -c $((10 << 20)) /dev/zero | curl -s -o /dev/null -w '%{http_code}' --max-time 10 -b jar \
    -H "Origin: $base" -H 'Expect:' --data-binary @- "$base/command/skip")
echo "10 MB: $big after $((($(date +%s%N) - started) / 1000000)) ms"
[ "$big" = 413 ] || fail "10 MB: $big"
bad=$(printf 'GARBAGE\r\n\r\n' | timeout 5 curl -s telnet://127.0.0.1:$port 2>/dev/null | head -n1 | tr -d '\r')
[[ $bad == 'HTTP/1.1 400 '* ]] || fail "malformed request line: '$bad'"
# Idle connections are closed within 2 s.
exec 7<>/dev/tcp/127.0.0.1/$port
started=$(date +%s%N)
timeout 5 cat <&7 >/dev/null
took=$((($(date +%s%N) - started) / 1000000))
echo "an idle connection closed after $took ms"
((took >= 1500 && took <= 3000)) || fail "an idle connection stayed $took ms"
exec 7<&-

quit=$(curl -s -b jar -H "Origin: $base" -X POST "$base/command/quit")
[ "$quit" = '{"error":"success"}' ] || fail "Quit: $quit"
wait "$player"
status=$?
[ $status -eq 0 ] || fail "the run ended with $status: $(program_stderr err)"
exit $FAILED
