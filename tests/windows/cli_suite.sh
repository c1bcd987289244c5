#!/bin/bash
# The subprocess suite of the Linux build (tests/cli), run against the
# Windows program under Wine: the same bytes on each stream, line ends apart,
# the same statuses and files.
set -u
source "$(dirname "$0")/lib/windows_check.sh"
suite="${TONQUEL_LINUX_BUILD_DIR:-}/tests/cli_tests"
[ -x "$suite" ] || { echo "SKIP: no Linux build of the subprocess suite at '$suite'" >&2; exit 77; }
windows_setup
TONQUEL_CLI_PROGRAM="$TONQUEL_WINE" TONQUEL_CLI_CRLF=1 "$suite"
