# bash completion for tonquel                               -*- shell-script -*-

_tonquel()
{
    local cur prev words cword split
    _init_completion -s || return

    # Options end at the first word that does not begin with "-"; their
    # values are skipped on the way. Only -f makes the positional arguments
    # file names; after -g or -s there are none, and the pairs are numbers.
    local i word files=false positional=false
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ $word != -* ]]; then
            positional=true
            break
        fi
        case $word in
            -f) files=true ;;
            -[sbolPpm] | -vl* | -vr* | -v | --output | --wait-for-device) ((i++)) ;;
        esac
    done

    if ! $positional; then
        case $prev in
            -m | --output)
                _filedir
                return
                ;;
            -[sbolPp] | -vl* | -vr* | -v | --wait-for-device)
                # A number, or -l's "=r": nothing to offer.
                return
                ;;
        esac
        # --output=FILE was answered above; --wait-for-device= takes a number.
        $split && return
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '-g -f -s -b -o -v -vl -vr -V -r -S -T
                -e -l -l=r -P -m -p --help --version --output --wait-for-device
                --allow-sleep' -- "$cur"))
            return
        fi
    fi

    if $files; then
        _filedir
    fi
} &&
    complete -F _tonquel tonquel

# ex: filetype=sh
