# The Debian package that scripts/package built, installed system-wide with
# apt-get: tonquel runs from PATH, man finds its page, bash completes its
# file names, an example plays silently; then it is purged, and nothing of
# it is left. Needs root; changes the system, so it is run by .ci/run, not
# by scripts/test.
set -u
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
source tests/install/lib/check.sh
source tests/install/lib/examples.sh
source tests/install/lib/completion.sh

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing the package needs root"; exit 77; }
mapfile -t debs < <(ls dist/tonquel_*.deb 2>/dev/null)
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one dist/tonquel_*.deb (run scripts/package), found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}
if dpkg-query -W -f='${Status}' tonquel 2>/dev/null | grep -q installed; then
    echo "FAIL: tonquel is installed already; this test would remove it" >&2
    exit 1
fi

work=$(mktemp -d)
export DEBIAN_FRONTEND=noninteractive
purge() {
    apt-get purge -y -q tonquel </dev/null >"$work/purge.log" 2>&1
}
trap 'dpkg-query -W tonquel >/dev/null 2>&1 && purge; rm -rf "$work"' EXIT

# What the package holds, and which of those paths the system has already
# (the shared folders such as /usr/share/man/man1).
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/paths"
while read -r path; do
    [ -e "$path" ] && echo "$path"
done <"$work/paths" >"$work/before"

apt-get install -y -q "./$deb" </dev/null >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "apt-get install ./$deb failed"; exit 1; }
echo "ok: installed $deb"

[ "$(command -v tonquel)" = /usr/bin/tonquel ] || fail "tonquel is not /usr/bin/tonquel on PATH"
(cd "$work" && tonquel -V </dev/null 2>/dev/null) | grep -q $'^\tVersion: 1.13$' ||
    fail "tonquel -V from PATH does not print its version"

if grep -qs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    echo "skipped: man -w (dpkg on this machine leaves manual pages out)"
else
    page=$(man -w tonquel 2>&1)
    [ "$page" = /usr/share/man/man1/tonquel.1.gz ] || fail "man -w tonquel gives '$page'"
    zcat "$page" | cmp -s - doc/tonquel.1 || fail "$page is not doc/tonquel.1 compressed"
    echo "ok: man -w tonquel finds $page"
fi
[ -s /usr/share/doc/tonquel/copyright ] || fail "no copyright file"
[ -s /usr/share/doc/tonquel/changelog.Debian.gz ] || fail "no changelog.Debian.gz"
depends=$(dpkg-query -W -f='${Depends}' tonquel)
grep -q 'libasound2' <<<"$depends" || fail "Depends lacks libasound2: $depends"
grep -q 'libsndfile1' <<<"$depends" || fail "Depends lacks libsndfile1: $depends"
[ "$(dpkg-query -W -f='${Recommends}' tonquel)" = "zenity | kdialog" ] || fail "Recommends is not zenity | kdialog"

# The completion, as bash-completion finds it by the command's name.
completion_start
if completion_load_installed; then
    mkdir "$work/files" && touch "$work/files/tones.txt" "$work/files/more.txt"
    cd "$work/files" || exit 1
    expect_completions "tonquel -f " more.txt tones.txt
    expect_completions "tonquel -S -f t" tones.txt
    expect_completions "tonquel -b "
    cd "$root" || exit 1
else
    fail "bash-completion does not load a completion for tonquel"
fi

for example in /usr/share/doc/tonquel/examples/*; do
    play_example_silently tonquel "$example" "$work" || fail "$example"
done

purge || { cat "$work/purge.log" >&2; fail "apt-get purge tonquel failed"; }
dpkg-query -W tonquel >/dev/null 2>&1 && fail "dpkg still knows tonquel after the purge"
while read -r path; do
    [ -e "$path" ] && echo "$path"
done <"$work/paths" >"$work/after"
left=$(comm -13 "$work/before" "$work/after")
[ -z "$left" ] || fail "left behind after the purge: $left"
stray=$(find /usr /etc /var/lib/dpkg/info -name '*tonquel*' 2>/dev/null)
[ -z "$stray" ] || fail "left behind after the purge: $stray"
hash -r
[ -z "$(command -v tonquel)" ] || fail "tonquel is still on PATH"
[ $failed -eq 0 ] && echo "ok: purged, nothing left behind"
exit $failed
