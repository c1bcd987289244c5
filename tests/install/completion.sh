# The bash completion: options after "-", file names after -f, -m, --output
# and the positional arguments of -f, the names that the program's
# --list-devices gives after --device and --input-device, nothing after
# options that take numbers or for the pairs.
set -u
source "$(dirname "$0")/lib/completion.sh"
completion_start
completion_load_file "$TONQUEL_SOURCE_DIR/completion/tonquel.bash"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch a.txt b.wav
mkdir tones

all_options=(-g -f -s -b -o -v -vl -vr -V -r -S -T -e -l -l=r -P -m -p
    --help --version --output --device --input-device --list-devices --wait-for-device --allow-sleep
    --smooth --fade --fade-in --fade-out --at --until --loop --control --web --send)
expect_completions "tonquel -" "${all_options[@]}"
expect_completions "tonquel --" --help --version --output --device --input-device --list-devices \
    --wait-for-device --allow-sleep --smooth --fade --fade-in --fade-out --at --until --loop --control --web --send
expect_completions "tonquel --control=" a.txt b.wav tones
expect_completions "tonquel --web="
expect_completions "tonquel --send " status schedule observe skip back pause resume quit add nearby
expect_completions "tonquel --control=a.txt --send nearby " coarse fine
expect_completions "tonquel --send add -" -1
expect_completions "tonquel -l=" -l=r
expect_completions "tonquel -f " a.txt b.wav tones
expect_completions "tonquel -f a" a.txt
expect_completions "tonquel -f a.txt " a.txt b.wav tones
expect_completions "tonquel -f -S " a.txt b.wav tones
expect_completions "tonquel -f -S -" "${all_options[@]}"
expect_completions "tonquel -b 5 -f a.txt b" b.wav
expect_completions "tonquel -m b.wav -f " a.txt b.wav tones
expect_completions "tonquel -vl 0.3 -f " a.txt b.wav tones
expect_completions "tonquel -m " a.txt b.wav tones
expect_completions "tonquel -m out.txt -S -b 5 -m a" a.txt
expect_completions "tonquel --output " a.txt b.wav tones
expect_completions "tonquel --output=" a.txt b.wav tones
expect_completions "tonquel --output=b" b.wav
# The device names come from the program itself, found as bash finds it.
mkdir bin
cat >bin/tonquel <<'LIST'
#!/bin/sh
[ "$1" = --list-devices ] || exit 2
printf '%s\n' 'Playback devices, for --device (* the default):' '* default            Default' \
    '  second             Second sink' '  hw:CARD=PCH,DEV=0  HDA Intel PCH' \
    'Capture devices, for --input-device (* the default):' '* default            Default' \
    '  secondmonitor      Monitor of the second sink'
LIST
chmod +x bin/tonquel
PATH=$work/bin:$PATH
expect_completions "tonquel --device " default second hw:CARD=PCH,DEV=0
expect_completions "tonquel --device=s" second
expect_completions "tonquel --device hw:CARD=P" PCH,DEV=0
expect_completions "tonquel --input-device " default secondmonitor
expect_completions "tonquel --input-device=se" secondmonitor
expect_completions "tonquel --device second -f " a.txt b.wav bin tones
expect_completions "tonquel --device=second -m " a.txt b.wav bin tones

for option in -s -b -o -v -vl -vr -l -P -p --at --until; do
    expect_completions "tonquel $option "
done
expect_completions "tonquel 440,2 "
expect_completions "tonquel -S 440,2 "
expect_completions "tonquel -s 100,200,10 "
expect_completions "tonquel -g "
expect_completions "tonquel --at 23:00 -f " a.txt b.wav bin tones
exit $failed
