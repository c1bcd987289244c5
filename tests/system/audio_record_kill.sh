# kill -9 in the middle of a run, as the OOM killer, a crash or a power cut
# would end it: standard output redirected to a file, the session file and
# the MOR file hold every line written before the kill, and nothing else.
source "$(dirname "$0")/lib/audio_check.sh"
audio_setup
cd "$AUDIO_WORK" || exit 1

# wait_for_line FILE LINE: until the file holds the line, at most 20 s.
wait_for_line() {
    local tries=0
    until [ -f "$1" ] && grep -qxF -- "$2" "$1"; do
        tries=$((tries + 1))
        [ $tries -gt 200 ] && { fail "'$2' never reached $1"; return 1; }
        sleep 0.1
    done
}

# kill_during RUN LINE ARGS...: starts a run in folder RUN with standard
# output in RUN/run.log, waits until the tone of LINE has started and has
# sounded for a second, and kills it with SIGKILL.
kill_during() {
    local folder=$1 line=$2 player
    shift 2
    mkdir "$folder"
    (cd "$folder" && exec "$TONQUEL_BIN" "$@" </dev/null >run.log 2>stderr) &
    player=$!
    wait_for_line "$folder/run.log" "$line"
    sleep 1
    kill -9 "$player"
    wait "$player"
    status=$?
    [ $status -eq 137 ] || fail "$folder: exit status $status, expected the kill's 137: $(cat "$folder/stderr")"
    session=$(ls "$folder"/session_* 2>/dev/null)
    [ -n "$session" ] || fail "$folder: no session file"
}

header='#Frequency, Duration'

# During the first tone: no MOR block yet.
kill_during first '  440, 2' -r -m mor.txt 440,2 450,2 460,30
expected=$(printf '%s\n  440, 2' "$header")
[ "$(cat "$session")" = "$expected" ] || fail "first: session file holds '$(cat "$session")'"
[ "$(cat first/run.log)" = "$(printf '\n#Recording session in file: %s\n\n%s' "$(basename "$session")" "$expected")" ] ||
    fail "first: standard output holds '$(cat first/run.log)'"
[ -f first/mor.txt ] && [ ! -s first/mor.txt ] || fail "first: the MOR file is not there and empty"

# During the third tone: the blocks of the first two are whole.
kill_during third '  460, 30' -r -m mor.txt 440,2 450,2 460,30
expected=$(printf '%s\n  440, 2\n  450, 2\n  460, 30' "$header")
[ "$(cat "$session")" = "$expected" ] || fail "third: session file holds '$(cat "$session")'"
[ "$(cat third/run.log)" = "$(printf '\n#Recording session in file: %s\n\n%s' "$(basename "$session")" "$expected")" ] ||
    fail "third: standard output holds '$(cat third/run.log)'"
analyse mor third/mor.txt >blocks || fail "analyser failed"
cat blocks
[ "$(awk '{ print $1, $2, $3 }' blocks)" = "$(printf '440 2000 contiguous\n450 2000 contiguous')" ] ||
    fail "third: the MOR file does not hold the two whole blocks of 2000 frames"
[ "$(tail -c 1 third/mor.txt | od -An -c | tr -d ' ')" = '\n' ] || fail "third: the MOR file ends inside a line"
exit $AUDIO_FAILED
