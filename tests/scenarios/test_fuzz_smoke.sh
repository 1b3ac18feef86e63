#!/usr/bin/env bash
# Fuzzing smoke run through scripts/fuzz, which fails on a crash, a leak or a broken invariant:
# the server's three targets for about 12 seconds each, the manager's five for about 8 (some
# 90 s in all). Skipped without the build-fuzz tree (no clang).
. "$(dirname "$0")/lib.sh"
[ -d "$SOURCE/build-fuzz" ] || skip "build-fuzz is absent (scripts/build makes it when clang is installed)"
bash "$SOURCE/scripts/fuzz" --seconds "${LUMAVERT_FUZZ_SECONDS:-12}" portmap mount nfs ||
    fail "a server fuzz target crashed, leaked or broke an invariant (inputs in $SOURCE/fuzz-out/artifacts)"
bash "$SOURCE/scripts/fuzz" --seconds "${LUMAVERT_MANAGER_FUZZ_SECONDS:-8}" \
    discovery control listline handoff_block helptext ||
    fail "a manager fuzz target crashed, leaked or broke an invariant (inputs in $SOURCE/fuzz-out/artifacts)"
echo "PASS: fuzz smoke"
