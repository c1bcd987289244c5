# The manual page: mandoc and groff find nothing to report, and its OPTIONS
# list every option of the program's usage text, with the usage text's value
# names, and the long options.
set -u
source "$(dirname "$0")/lib/check.sh"
page=$TONQUEL_SOURCE_DIR/doc/tonquel.1
for program in mandoc groff col; do
    command -v $program >/dev/null || { echo "skipped: $program is not installed"; exit 77; }
done

report=$(mandoc -T lint "$page" 2>&1) || fail "mandoc -T lint failed"
[ -z "$report" ] || fail "mandoc -T lint: $report"
report=$(groff -ww -z -man "$page" 2>&1) || fail "groff failed"
[ -z "$report" ] || fail "groff -ww -z -man: $report"

# The tags of the entries of OPTIONS (the line after each .TP), as plain
# text, and the words in them that begin with "-".
tag_lines=$(awk '/^\.SH/ { section = $2 } section == "OPTIONS" && tag { print } { tag = /^\.TP/ }' "$page" |
    sed 's/^\.[A-Z]* //; s/\\f[BIRP]//g; s/\\-/-/g; s/"//g; s/  */ /g')
tags=$(tr ', ' '\n\n' <<<"$tag_lines" | grep '^-' | sort -u)

# The usage text, as the program prints it after a usage error.
usage=$("$TONQUEL_BIN" </dev/null 2>&1 >/dev/null | sed -n '/^Usage:/,$p')
[ -n "$usage" ] || fail "the program printed no usage text"
options=$(grep -o -- '-v\[lr\]\|-[A-Za-z]\(=r\)\?' <<<"$usage" | sed 's/^-v\[lr\]$/-v\n-vl\n-vr/' | sort -u)
[ "$(wc -l <<<"$options")" -ge 15 ] || fail "too few options read from the usage text: $options"
for option in $options --help --version --output --device --input-device --list-devices --control --send; do
    grep -qx -- "$option" <<<"$tags" || fail "option $option has no entry under OPTIONS"
done

# "[-b bracket]" in the [X] part: the entry of -b names its value "bracket".
while read -r option value; do
    [ "$option" = "-v[lr]" ] && option=-v
    value=${value%%[!A-Za-z_]*}
    grep -q -- "^$option $value" <<<"$tag_lines" ||
        fail "the entry of $option does not name its value $value"
done < <(sed -n '/where \[X\] is:/,$p' <<<"$usage" | grep -o -- '-[A-Za-z]\(\[lr\]\)\? [A-Za-z_]*' | grep -v ' $')
[ $failed -eq 0 ] && echo "ok: $(wc -l <<<"$options") options of the usage text, each with an entry"
exit $failed
