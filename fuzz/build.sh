#!/bin/bash
# Builds the libFuzzer targets with clang straight from the sources, beside
# (not inside) the CMake build. Output: build-fuzz/<target> (ignored by git) unless FUZZ_OUT is set.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
cxx=${CXX_FUZZ:-clang++}
mkdir -p "$out/obj"

flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer
       -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
       -I"$root/src")

# The core modules and the simulated platform: everything a frequency file
# can reach, including the exits that unwind through run_tonquel's types.
mapfile -t sources < <(cd "$root" && find src/process src/log src/schedule src/engine src/cli -name '*.cc' \
    ! -name '*_test.cc' ! -name '*_fuzz.cc' ! -name '*_bench.cc' | sort)
sources+=(src/platform/sim/sim_platform.cc src/platform/linux/os_posix.cc)

objects=()
for source in "${sources[@]}"; do
    object="$out/obj/$(echo "$source" | tr / _).o"
    if [[ ! -f $object || $root/$source -nt $object ]]; then
        "$cxx" "${flags[@]}" -c "$root/$source" -o "$object" &
        # Two cores: never more than two compilers at once.
        while (( $(jobs -rp | wc -l) >= 2 )); do wait -n; done
    fi
    objects+=("$object")
done
wait

for target in duration_fuzz frequency_file_fuzz; do
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/$target.cc" "${objects[@]}" \
        -lpthread -o "$out/$target"
    echo "built $out/$target"
done
