# Sourced by the install and package tests: failures are reported and
# counted, and the script ends with "exit $failed".
failed=0

fail() {
    echo "FAIL: $*" >&2
    failed=1
}
