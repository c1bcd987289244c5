# `cmake --install` into a fresh prefix: exactly the program, the manual
# page, the examples and the completion, all under the prefix, each a copy
# of its source; the installed program runs and plays an example silently.
set -u
source "$(dirname "$0")/lib/check.sh"
source "$(dirname "$0")/lib/examples.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$TONQUEL_BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; exit 1; }

expected=$(
    {
        echo bin/tonquel
        echo share/bash-completion/completions/tonquel
        echo share/man/man1/tonquel.1
        (cd "$TONQUEL_SOURCE_DIR/DATA" && find . -type f | sed 's|^\./|share/doc/tonquel/examples/|')
    } | sort
)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

# Everything that was installed, as cmake recorded it, is under the prefix.
outside=$(grep -v "^$prefix/" "$TONQUEL_BUILD_DIR/install_manifest.txt")
[ -z "$outside" ] || fail "installed outside the prefix: $outside"

same() {
    cmp -s "$1" "$2" || fail "$2 is not a copy of $1"
}
same "$TONQUEL_SOURCE_DIR/doc/tonquel.1" "$prefix/share/man/man1/tonquel.1"
same "$TONQUEL_SOURCE_DIR/completion/tonquel.bash" "$prefix/share/bash-completion/completions/tonquel"
for example in "$TONQUEL_SOURCE_DIR"/DATA/*; do
    same "$example" "$prefix/share/doc/tonquel/examples/$(basename "$example")"
done
[ -x "$prefix/bin/tonquel" ] || fail "bin/tonquel is not executable"
modes=$(cd "$prefix/share" && find . -type f ! -perm 644)
[ -z "$modes" ] || fail "data files not mode 644: $modes"

"$prefix/bin/tonquel" -V </dev/null 2>/dev/null | grep -q $'^\tVersion: 1.13$' ||
    fail "the installed program does not print its version"
for example in "$prefix"/share/doc/tonquel/examples/*; do
    play_example_silently "$prefix/bin/tonquel" "$example" "$work" || failed=1
done
exit $failed
