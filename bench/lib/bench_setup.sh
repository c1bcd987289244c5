# What the shell benchmarks share: the tools they need and what they built.

# The programs on PATH; a missing one skips the benchmark (status 77).
bench_require() {
    local program
    for program in "$@"; do
        command -v "$program" >/dev/null || { echo "missing: $program" >&2; exit 77; }
    done
}

# The build's own programs; a missing one is an error.
bench_require_built() {
    local program
    for program in "$@"; do
        [ -x "$program" ] || { echo "not built: $program" >&2; exit 1; }
    done
}
