#!/usr/bin/env bash
# The benchmark's smoke mode (scripts/bench --smoke): small sizes against the server under test,
# so that the benchmark keeps working; its figures are not judged, only that every one came.
. "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "needs root for network namespaces"
command -v ip >/dev/null || skip "iproute2 not installed"
nfsbench=$(dirname "$SERVER")/bench/nfsbench
[ -x "$nfsbench" ] || skip "nfsbench not built (libnfs-dev missing)"

work=$(mktemp -d /var/tmp/lumavert-bench-smoke.XXXXXX)
trap 'rm -rf "$work"' EXIT
start=$SECONDS
bash "$SOURCE/scripts/bench" --smoke --server "$SERVER" --nfsbench "$nfsbench" --work "$work" \
    --tsv "$work/rows.tsv" >"$work/out.txt" 2>"$work/err.txt" || {
    cat "$work/out.txt" "$work/err.txt" >&2
    fail "scripts/bench --smoke failed"
}
cat "$work/out.txt"
took=$((SECONDS - start))

# Every measurement of the server and of the local baseline produced a positive figure.
for test in read write readdirplus lookup-1000 fill-1 read-cpu write-cpu \
    seek-tcp-4096 seek-tcp-32768-p99 seek-udp-4096 seek-udp-32768-p99 sequential-udp-8192 \
    sequential-udp-32768 cold cold-restart idle-cpu idle-rss-kib road-T road-P; do
    value=$(awk -F'\t' -v t="$test" '$3 == "lumavert" && $4 == t { print $8; exit }' "$work/rows.tsv")
    awk -v v="$value" 'BEGIN { exit !(v + 0 > 0 || v == "0.000") }' ||
        fail "no figure for $test (got '$value')"
done
for test in read write copy readdirplus; do
    grep -qP "\tlocal\t$test\t" "$work/rows.tsv" || fail "no local figure for $test"
done
grep -q '^READDIRPLUS 200 files' "$work/out.txt" || fail "table not printed"
grep -q '^seek UDP 32 KiB' "$work/out.txt" || fail "player table not printed"
grep -q '^lumavert play' "$work/out.txt" || fail "road row not printed"
[ "$took" -lt 120 ] || fail "smoke run took $took s"
echo "PASS: bench smoke ($took s)"
