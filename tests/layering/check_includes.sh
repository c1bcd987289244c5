#!/usr/bin/env bash
# The rooms under src/ depend one way, from the ground up:
#   platform seams (src/platform/*.h), process, log, schedule, engine, web, cli;
# and within the engine, its folders: sound, clock, status, control, capture,
# export, playing.
# A room includes only itself and the rooms below it, so no two rooms can
# form a circle. The back ends (src/platform/<system>/) include only the
# seams, process, log and their own folder; main.cc alone puts a back end and
# cli together. Tests beside the modules may use the whole program.
# Within the schedule, the engine, the web page and the command line, no two modules (a
# header and its source) use each other, however far round: tsort finds any
# circle. (log and process, the ground, still have small ones.) Prints each include that breaks
# this, naming the file, and fails.
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../../src" && pwd)}
cd "$src"

rank() {
    case $1 in
    platform) echo 0 ;;
    process) echo 1 ;;
    log) echo 2 ;;
    schedule) echo 3 ;;
    engine) echo 4 ;;
    web) echo 5 ;;
    cli) echo 6 ;;
    *) echo -1 ;;
    esac
}

# The engine's concerns, in folders that depend one way too: the sound, the
# clock options, the status line, control, capture, export, the players.
engine_rank() {
    case $1 in
    sound) echo 0 ;;
    clock) echo 1 ;;
    status) echo 2 ;;
    control) echo 3 ;;
    capture) echo 4 ;;
    export) echo 5 ;;
    playing) echo 6 ;;
    *) echo -1 ;;
    esac
}

# The engine folder of a path under src/engine/, or "" for one outside them.
engine_folder_of() {
    case $1 in
    engine/*/*) local rest=${1#engine/}; echo "${rest%%/*}" ;;
    *) echo "" ;;
    esac
}

# The room of a path under src/: a back end is "backend:<system>".
room_of() {
    case $1 in
    platform/*/*) local rest=${1#platform/}; echo "backend:${rest%%/*}" ;;
    platform/*) echo platform ;;
    */*) echo "${1%%/*}" ;;
    *) echo top ;;
    esac
}

allowed() {  # from-room to-room
    local from=$1 to=$2
    [[ $from == "$to" ]] && return 0
    if [[ $from == backend:* ]]; then
        [[ $to == platform || $to == process || $to == log ]]
        return
    fi
    local from_rank to_rank
    from_rank=$(rank "$from")
    to_rank=$(rank "$to")
    ((to_rank >= 0 && from_rank >= 0 && to_rank <= from_rank))
}

broken=0
while IFS= read -r file; do
    from=$(room_of "$file")
    [[ $from == top ]] && continue  # main.cc
    while IFS= read -r included; do
        to=$(room_of "$included")
        if ! allowed "$from" "$to"; then
            echo "src/$file: includes \"$included\": $from may not use $to" >&2
            broken=1
        fi
        if [[ $from == engine && $to == engine ]]; then
            from_folder=$(engine_folder_of "$file")
            to_folder=$(engine_folder_of "$included")
            from_rank=$(engine_rank "$from_folder")
            to_rank=$(engine_rank "$to_folder")
            if ((from_rank < 0 || to_rank < 0 || to_rank > from_rank)); then
                echo "src/$file: includes \"$included\": engine/$from_folder may not use engine/$to_folder" >&2
                broken=1
            fi
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.h' -o -name '*.cc' \) ! -name '*_test.cc' ! -name '*_test_support.h' \
    ! -name '*_fuzz.cc' ! -name '*_bench.cc' | sed 's|^\./||' | sort)

if ((broken)); then
    echo "An include climbs between rooms: the order is platform seams, process, log, schedule, engine, web, cli;" >&2
    echo "within the engine: sound, clock, status, control, capture, export, playing (each module in one)." >&2
    exit 1
fi

# Module to module, within each room: "user used" pairs for tsort.
module_pairs() {
    local file module included
    while IFS= read -r file; do
        module=${file%.*}
        while IFS= read -r included; do
            [[ ${included%.*} == "$module" ]] && continue
            [[ $(room_of "$included") == "$(room_of "$file")" ]] || continue
            [[ $file == schedule/* || $file == engine/* || $file == web/* || $file == cli/* ]] || continue
            echo "$module ${included%.*}"
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find . -type f \( -name '*.h' -o -name '*.cc' \) ! -name '*_test.cc' ! -name '*_test_support.h' \
        ! -name '*_fuzz.cc' ! -name '*_bench.cc' ! -name 'main.cc' | sed 's|^\./||' | sort)
}
if ! circles=$(module_pairs | tsort 2>&1 >/dev/null) || [ -n "$circles" ]; then
    echo "Modules use each other in a circle:" >&2
    echo "$circles" >&2
    exit 1
fi
echo "Includes under src/ depend one way, and no modules form a circle."
