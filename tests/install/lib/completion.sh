# Sourced by the tests of the bash completion: loads bash-completion and the
# completion of tonquel, and asks it what it offers for a command line, as
# bash would when Tab is pressed at the end of that line.
#
#   completion_start              skip (77) unless bash-completion is there
#   completion_load_file FILE     load the completion from FILE
#   completion_load_installed     load it as bash does, by the command's name
#   completions LINE              print what Tab at the end of LINE offers,
#                                 one per line, sorted
#   expect_completions LINE WORD...   fail (see check.sh) unless exactly
#                                     WORDs are offered

source "$(dirname "${BASH_SOURCE[0]}")/check.sh"

completion_start() {
    local script=/usr/share/bash-completion/bash_completion
    [ -r "$script" ] || { echo "skipped: bash-completion is not installed"; exit 77; }
    # shellcheck source=/dev/null
    source "$script"
}

completion_load_file() {
    # shellcheck source=/dev/null
    source "$1"
}

completion_load_installed() {
    _completion_loader tonquel
    complete -p tonquel >/dev/null 2>&1
}

completions() {
    local line=$1
    # Split the line into words as bash does: at blanks, and with each
    # character of COMP_WORDBREAKS that the line holds ("=" here) as a word
    # of its own.
    local spaced=${line//=/ = }
    read -ra COMP_WORDS <<<"$spaced"
    [[ $line == *[[:space:]] ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    local function_name
    function_name=$(complete -p tonquel | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
    "$function_name" tonquel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect_completions() {
    local line=$1
    shift
    local expected actual
    expected=$( (($# == 0)) || printf '%s\n' "$@" | sort)
    actual=$(completions "$line")
    if [ "$actual" = "$expected" ]; then
        echo "ok: '$line' offers: ${actual//$'\n'/ }"
    else
        fail "'$line' offers '${actual//$'\n'/ }', expected '${expected//$'\n'/ }'"
        return 1
    fi
}
