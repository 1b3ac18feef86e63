#!/usr/bin/env bash
# rpcinfo against lumavert-server on the real ports: the portmapper's DUMP lists the six
# services, and MOUNT answers NULL over TCP and UDP. Runs in a private network namespace.
set -euo pipefail

server=${LUMAVERT_SERVER:?LUMAVERT_SERVER must name the lumavert-server program}
[ -x "$server" ] || { echo "FAIL: $server is not built"; exit 1; }
command -v rpcinfo >/dev/null || { echo "FAIL: rpcinfo missing (package rpcbind)"; exit 1; }

if [ "${LUMAVERT_IN_NETNS:-}" != 1 ]; then
    exec env LUMAVERT_IN_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d /tmp/lumavert-rpcinfo.XXXXXX)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/home"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config

"$server" --root "$work/root" 2>"$work/err" &
server_pid=$!
for _ in $(seq 100); do
    grep -q "exporting" "$work/err" && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "exporting" "$work/err"; then
    echo "FAIL: the server did not start:"
    sed 's/^/    /' "$work/err"
    echo "0 passed, 1 failed"
    exit 1
fi

failures=0
passes=0
result() {
    if [ "$1" -eq 0 ]; then
        echo "ok: $2"
        passes=$((passes + 1))
    else
        echo "FAIL: $2"
        failures=$((failures + 1))
    fi
}

# (set -e stays on: a failed check records its result and the script goes on.)
# rpcinfo -p prints "program vers proto port [service]" after a title line.
dump=$(timeout 20 rpcinfo -p 127.0.0.1 2>&1) || true
rows=$(printf '%s\n' "$dump" | awk 'NR > 1 { print $1, $2, $3, $4 }')
expected=$'100000 2 tcp 111\n100000 2 udp 111\n100005 3 tcp 635\n100005 3 udp 635\n100003 3 tcp 2049\n100003 3 udp 2049'
status=0
[ "$rows" = "$expected" ] || status=1
result $status "rpcinfo -p lists the six services in order"
[ "$rows" = "$expected" ] || printf '%s\n' "$dump" | sed 's/^/    /'

for transport in t u; do
    out=$(timeout 20 rpcinfo -$transport 127.0.0.1 100005 3 2>&1) || true
    status=0
    [ "$out" = "program 100005 version 3 ready and waiting" ] || status=1
    result $status "rpcinfo -$transport 127.0.0.1 100005 3: $out"
done

kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=
status=0
grep -q "stopped" "$work/err" || status=1
result $status "the server stops on SIGTERM"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
