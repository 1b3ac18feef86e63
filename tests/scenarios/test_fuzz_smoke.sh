#!/usr/bin/env bash
# Fuzzing smoke run: every fuzz target for about 15 seconds through scripts/fuzz, which fails on
# a crash, a leak or a broken invariant. Skipped without the build-fuzz tree (no clang).
. "$(dirname "$0")/lib.sh"
[ -d "$SOURCE/build-fuzz" ] || skip "build-fuzz is absent (scripts/build makes it when clang is installed)"
bash "$SOURCE/scripts/fuzz" --seconds "${LUMAVERT_FUZZ_SECONDS:-15}" ||
    fail "a fuzz target crashed, leaked or broke an invariant (inputs in $SOURCE/fuzz-out/artifacts)"
echo "PASS: fuzz smoke"
