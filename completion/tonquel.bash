# bash completion for tonquel                               -*- shell-script -*-

# The names of the devices in one section ("Playback" or "Capture") of the
# program's own --list-devices: the first word of each line after the mark.
_tonquel_devices()
{
    "$1" --list-devices 2>/dev/null | awk -v heading="$2" '
        /^[^ *]/ { inside = index($0, heading) == 1; next }
        inside { split(substr($0, 3), field, " "); print field[1] }'
}

_tonquel()
{
    local cur prev words cword split
    _init_completion -s -n : || return

    # --send takes a command of the run's, then its argument.
    local i
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} == --send ]] || continue
        case $((cword - i)) in
            1) COMPREPLY=($(compgen -W 'status schedule observe skip back pause resume quit add nearby' -- "$cur")) ;;
            2)
                case ${words[i + 1]} in
                    add) COMPREPLY=($(compgen -W '1 -1' -- "$cur")) ;;
                    nearby) COMPREPLY=($(compgen -W 'coarse fine' -- "$cur")) ;;
                esac
                ;;
        esac
        return
    done

    # Options end at the first word that does not begin with "-"; their
    # values are skipped on the way. Only -f makes the positional arguments
    # file names; after -g or -s there are none, and the pairs are numbers.
    local word files=false positional=false
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ $word != -* ]]; then
            positional=true
            break
        fi
        case $word in
            -f) files=true ;;
            -[sbolPpm] | -vl* | -vr* | -v | --output | --wait-for-device | --device | --input-device | --fade | \
                --fade-in | --fade-out | --at | --until) ((i++)) ;;
        esac
    done

    if ! $positional; then
        case $prev in
            -m | --output)
                _filedir
                return
                ;;
            --device | --input-device)
                local section=Playback
                [[ $prev == --input-device ]] && section=Capture
                # ALSA's names hold ":" and "=", which bash takes as word
                # breaks: offer what follows the last of them in cur.
                local name names=() prefix=${cur%"${cur##*[:=]}"}
                while IFS= read -r name; do
                    [[ $name == "$cur"* ]] && names+=("${name#"$prefix"}")
                done < <(_tonquel_devices "${words[0]}" $section)
                COMPREPLY=("${names[@]}")
                return
                ;;
            -[sbolPp] | -vl* | -vr* | -v | --wait-for-device | --fade | --fade-in | --fade-out | --at | --until)
                # A number, a duration, a time of day, or -l's "=r": nothing
                # to offer.
                return
                ;;
        esac
        # --output=FILE and the devices were answered above; --wait-for-device,
        # --at, --until and --loop take numbers, --web=ADDRESS:PORT an address,
        # --control=PATH a socket's name.
        if $split && [[ $prev == --control ]]; then
            _filedir
            return
        fi
        $split && return
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '-g -f -s -b -o -v -vl -vr -V -r -S -T
                -e -l -l=r -P -m -p --help --version --output --device
                --input-device --list-devices --wait-for-device --allow-sleep
                --smooth --fade --fade-in --fade-out --at --until --loop --control --web --send' -- "$cur"))
            return
        fi
    fi

    if $files; then
        _filedir
    fi
} &&
    complete -F _tonquel tonquel

# ex: filetype=sh
