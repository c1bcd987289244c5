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

# The core modules and the simulated platform: the whole program but its
# back ends, including the exits that unwind through run_tonquel's types.
mapfile -t sources < <(cd "$root" && find src/process src/log src/schedule src/engine src/web src/cli -name '*.cc' \
    ! -name '*_test.cc' ! -name '*_fuzz.cc' ! -name '*_bench.cc' | sort)
sources+=(src/platform/sim/sim_platform.cc src/platform/linux/os_posix.cc src/platform/linux/control_socket_unix.cc)

objects=()
for source in "${sources[@]}"; do
    object="$out/obj/$(echo "$source" | tr / _).o"
    extra=()
    # The per-frame loop: its comparisons tell the fuzzer nothing and would
    # cost most of a run; its reads stay checked.
    [[ $source == src/engine/sound/render.cc ]] && extra=(-O2 -fno-sanitize-coverage=trace-cmp)
    if [[ ! -f $object || $root/$source -nt $object || $0 -nt $object ]]; then
        "$cxx" "${flags[@]}" "${extra[@]}" -c "$root/$source" -o "$object" &
        # Two cores: never more than two compilers at once.
        while (( $(jobs -rp | wc -l) >= 2 )); do wait -n; done
    fi
    objects+=("$object")
done
# The web page, compiled in as a string as the CMake build does it.
page=$(<"$root/src/web/page.html")
printf '#include "web/web_server.h"\nconst char* const web_page_html = R"tonquel_page(%s)tonquel_page";\nconst size_t web_page_size = sizeof R"tonquel_page(%s)tonquel_page" - 1;\n' \
    "$page" "$page" >"$out/web_page.cc.new"
cmp -s "$out/web_page.cc.new" "$out/web_page.cc" || mv "$out/web_page.cc.new" "$out/web_page.cc"
rm -f "$out/web_page.cc.new"
if [[ ! -f $out/obj/web_page.o || $out/web_page.cc -nt $out/obj/web_page.o ]]; then
    "$cxx" "${flags[@]}" -c "$out/web_page.cc" -o "$out/obj/web_page.o" &
fi
objects+=("$out/obj/web_page.o")
wait

for target in duration_fuzz frequency_file_fuzz control_request_fuzz control_answer_fuzz; do
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/$target.cc" "${objects[@]}" \
        -lpthread -o "$out/$target"
    echo "built $out/$target"
done

# The whole program from a fuzzed command line, with the test support that
# describes its input. The table's memory limit is the target's own.
"$cxx" "${flags[@]}" -I"$root/tests" -fsanitize=fuzzer "$root/fuzz/whole_run_fuzz.cc" "${objects[@]}" \
    -Wl,--wrap=_Z21physical_memory_bytesv -lpthread -o "$out/whole_run_fuzz"
echo "built $out/whole_run_fuzz"

# The Windows dialog's selection buffer: plain C++, built here on its own.
"$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/selection_buffer_fuzz.cc" \
    "$root/src/platform/windows/selection_buffer.cc" -o "$out/selection_buffer_fuzz"
echo "built $out/selection_buffer_fuzz"
