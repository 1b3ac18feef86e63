#!/usr/bin/env bash
# Start-up with the portmapper port held by someone else: lumavert-server asks the holder for
# its DUMP and names who is there, and binds none of its own ports. Runs in a private network
# namespace, where port 111 is ours to give to a small fake portmapper.
set -euo pipefail

server=${LUMAVERT_SERVER:?LUMAVERT_SERVER must name the lumavert-server program}
[ -x "$server" ] || { echo "FAIL: $server is not built"; exit 1; }

if [ "${LUMAVERT_IN_NETNS:-}" != 1 ]; then
    exec env LUMAVERT_IN_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

work=$(mktemp -d /tmp/lumavert-portmap-busy.XXXXXX)
fake_pid=
cleanup() {
    [ -n "$fake_pid" ] && kill "$fake_pid" 2>/dev/null && wait "$fake_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/home"
# The daemon's settings file, instance lock and list folder go to a home of its own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config

# Answers every call on TCP 111 with a successful DUMP of the rows given as
# "program:version:protocol:port,..." (an empty list is allowed).
cat > "$work/fake_portmapper.py" <<'EOF'
import socket, struct, sys

rows = [tuple(int(x) for x in r.split(":")) for r in sys.argv[1].split(",") if r]
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("0.0.0.0", 111))
listener.listen(4)
open(sys.argv[2], "w").close()  # listening now


def receive(connection, count):
    data = b""
    while len(data) < count:
        chunk = connection.recv(count - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


while True:
    connection, _ = listener.accept()
    try:
        while True:
            mark = struct.unpack(">I", receive(connection, 4))[0]
            call = receive(connection, mark & 0x7FFFFFFF)
            reply = call[:4] + struct.pack(">IIIII", 1, 0, 0, 0, 0)
            for row in rows:
                reply += struct.pack(">IIIII", 1, *row)
            reply += struct.pack(">I", 0)
            connection.sendall(struct.pack(">I", 0x80000000 | len(reply)) + reply)
    except (EOFError, OSError):
        pass
    connection.close()
EOF

failures=0
passes=0

# check NAME ROWS EXPECTED_TEXT
check() {
    local name=$1 rows=$2 expected=$3
    rm -f "$work/ready"
    python3 "$work/fake_portmapper.py" "$rows" "$work/ready" &
    fake_pid=$!
    for _ in $(seq 100); do
        [ -e "$work/ready" ] && break
        sleep 0.1
    done
    local status=0
    timeout 30 "$server" --root "$work/root" >"$work/out" 2>"$work/err" || status=$?
    kill "$fake_pid" 2>/dev/null || true
    wait "$fake_pid" 2>/dev/null || true
    fake_pid=
    if [ "$status" -ne 0 ] && [ "$status" -ne 124 ] && grep -qxF "lumavert-server: $expected" "$work/err"; then
        echo "ok: $name"
        passes=$((passes + 1))
    else
        echo "FAIL: $name: exit $status, expected \"$expected\", stderr:"
        sed 's/^/    /' "$work/err"
        failures=$((failures + 1))
    fi
}

check "empty map" "" "A Portmapper is still running on local TCP port 111"
check "only a portmapper" "100000:2:6:111,100000:2:17:111" \
    "A Portmapper is still running on local TCP port 111"
check "NFS 3 registered" "100000:2:6:111,100003:3:17:2049" \
    "A NFS server is still running on this machine"
check "MOUNT 3 registered" "100000:2:6:111,100005:3:6:635" \
    "A Mount service is still running on this machine"

# The failed start bound nothing: the MOUNT and NFS ports are free.
if python3 - <<'EOF'
import socket
for port in (635, 2049):
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        s = socket.socket(socket.AF_INET, kind)
        s.bind(("0.0.0.0", port))
        if kind == socket.SOCK_STREAM:
            s.listen(1)
        s.close()
EOF
then
    echo "ok: ports 635 and 2049 free afterwards"
    passes=$((passes + 1))
else
    echo "FAIL: ports 635 or 2049 still bound"
    failures=$((failures + 1))
fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
