# The bash completion: options after "-", file names after -f, -m, --output
# and the positional arguments of -f, nothing after options that take
# numbers or for the pairs.
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
    --help --version --output --wait-for-device --allow-sleep)
expect_completions "tonquel -" "${all_options[@]}"
expect_completions "tonquel --" --help --version --output --wait-for-device --allow-sleep
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
for option in -s -b -o -v -vl -vr -l -P -p; do
    expect_completions "tonquel $option "
done
expect_completions "tonquel 440,2 "
expect_completions "tonquel -S 440,2 "
expect_completions "tonquel -s 100,200,10 "
expect_completions "tonquel -g "
exit $failed
