#!/usr/bin/env bash
# Full disk: the robustness test Robustness.FullDiskAnswersNoSpaceAndKeepsEarlierData on a 4 MiB
# tmpfs with 64 inodes, mounted in a private mount namespace (nothing outside sees it). WRITE and
# CREATE must answer NFS3ERR_NOSPC, earlier data must stay intact, the server must go on.
. "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "needs root for a private mount namespace"
TESTS=${LUMAVERT_TESTS_PROGRAM:-$(dirname "$SERVER")/tests/lumavert_tests}
[ -x "$TESTS" ] || skip "no test program at $TESTS"

log=$(mktemp)
disk=$(mktemp -d)
trap 'rm -f "$log"; rmdir "$disk"' EXIT
# The tmpfs lives only in the namespace and ends with it.
unshare -m bash -c '
    set -e
    mount --make-rprivate /
    mount -t tmpfs -o size=4m,nr_inodes=64 lumavert-small-disk "$1"
    LUMAVERT_SMALL_DISK=$1 "$0" --gtest_filter=Robustness.FullDisk* --gtest_brief=0
' "$TESTS" "$disk" >"$log" 2>&1 || { grep -v '^\[Path=\|^\[Readdir' "$log" | tail -40 >&2; fail "full-disk test failed"; }
grep -q '^\[  PASSED  \] 1 test' "$log" || { tail -20 "$log" >&2; fail "the full-disk test did not run"; }
grep -q 'SKIPPED' "$log" && fail "the full-disk test was skipped"
grep '^\[ figures' "$log" || true
echo "PASS: full disk"
