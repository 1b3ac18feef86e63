#!/usr/bin/env bash
# lumavert-server beside a system portmapper and with its ports taken. A real rpcbind holds port
# 111: the server registers MOUNT and NFS with it (rpcinfo lists them, libnfs finds the server
# through it), renews what a killed server left, leaves another NFS server's registration alone
# and unsets its own at stop. Taken ports are named with their holder and --ports. Runs in a
# private network namespace and a private mount namespace (rpcbind's socket and state files go
# to a /run of its own).
set -euo pipefail

server=${LUMAVERT_SERVER:?LUMAVERT_SERVER must name the lumavert-server program}
[ -x "$server" ] || { echo "FAIL: $server is not built"; exit 1; }
command -v rpcbind >/dev/null || { echo "SKIP: rpcbind missing (package rpcbind)"; exit 0; }
command -v nfs-ls >/dev/null || { echo "SKIP: nfs-ls missing (package libnfs-utils)"; exit 0; }

if [ "${LUMAVERT_IN_NETNS:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root for private namespaces"; exit 0; }
    exec env LUMAVERT_IN_NETNS=1 unshare -n -m bash "$0" "$@"
fi
ip link set lo up
mount --make-rprivate /
mount -t tmpfs "lumavert-run-$$" /run

work=$(mktemp -d "/tmp/lumavert-portmap-busy-$$.XXXXXX")
rpcbind_pid= server_pid= holder_pid=
end() { # end PID: SIGTERM and wait
    if [ -n "$1" ] && kill "$1" 2>/dev/null; then wait "$1" 2>/dev/null || true; fi
}
cleanup() {
    end "$server_pid"
    end "$holder_pid"
    end "$rpcbind_pid"
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/home"
echo "served" > "$work/root/file.txt"
# The daemon's settings file, instance lock and list folder go to a home of its own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config

failures=0
passes=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"
        passes=$((passes + 1))
    else
        echo "FAIL: $name"
        failures=$((failures + 1))
    fi
}
wait_for() { # wait_for SECONDS COMMAND...: until the command succeeds
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
}
quietly() { "$@" >/dev/null 2>&1; }
registered() { # registered PROGRAM PROTOCOL PORT
    rpcinfo -p 127.0.0.1 | awk -v p="$1" -v t="$2" -v n="$3" \
        '$1 == p && $2 == 3 && $3 == t && $4 == n { found = 1 } END { exit !found }'
}
ours_registered() {
    registered 100005 tcp 635 && registered 100005 udp 635 && registered 100003 tcp 2049 &&
        registered 100003 udp 2049
}
none_registered() { ! rpcinfo -p 127.0.0.1 | awk '$1 == 100005 || $1 == 100003' | grep -q .; }
start_server() { # start_server: in the background, waits for the line that says it runs
    : > "$work/err"
    "$server" --root "$work/root" "$@" 2>"$work/err" &
    server_pid=$!
    wait_for 20 grep -q "exporting" "$work/err" || { cat "$work/err"; return 1; }
}
said() { grep -qF -- "$1" "$work/err" || { sed 's/^/    /' "$work/err"; return 1; }; }
fails_saying() { # fails_saying TEXT: the server exits 1 and says TEXT
    local status=0
    timeout 30 "$server" --root "$work/root" >/dev/null 2>"$work/err" || status=$?
    [ "$status" = 1 ] || { echo "    exit status $status"; return 1; }
    said "$1"
}
# A program of our own that holds a port: "tcp PORT" listens, "udp PORT" binds.
hold() {
    python3 -c 'import socket, sys, time
kind = socket.SOCK_STREAM if sys.argv[1] == "tcp" else socket.SOCK_DGRAM
s = socket.socket(socket.AF_INET, kind)
s.bind(("0.0.0.0", int(sys.argv[2])))
if kind == socket.SOCK_STREAM:
    s.listen(1)
open(sys.argv[3], "w").close()
time.sleep(600)' "$1" "$2" "$work/held" &
    holder_pid=$!
    wait_for 10 test -e "$work/held"
    rm -f "$work/held"
}
ports_free() {
    python3 - <<'EOF'
import socket
for port in (635, 2049):
    for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
        s = socket.socket(socket.AF_INET, kind)
        if kind == socket.SOCK_STREAM:  # connections of earlier servers may linger in TIME_WAIT
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("0.0.0.0", port))
        s.close()
EOF
}
# PMAPPROC_SET of program 100003 version 3 over TCP, as another NFS server would do it.
register_other_nfs() {
    python3 - "$1" <<'EOF'
import socket, struct, sys
call = struct.pack(">IIIIIIIIII", 7, 0, 2, 100000, 2, 1, 0, 0, 0, 0)
call += struct.pack(">IIII", 100003, 3, 6, int(sys.argv[1]))
s = socket.create_connection(("127.0.0.1", 111))
s.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
reply = s.recv(100)
sys.exit(0 if struct.unpack(">I", reply[-4:])[0] == 1 else 1)
EOF
}

# A port taken by some other program: named with its holder, and what to do.
hold tcp 2049
check "taken NFS port names its holder and --ports" fails_saying \
    "Can't bind socket to local TCP port 2049: Address already in use, held by python3 (pid $holder_pid); stop it, or choose ports of its own with --ports PORTMAP,MOUNT,NFS"
end "$holder_pid"
holder_pid=
hold tcp 111
check "port 111 held by no portmapper names its holder" fails_saying \
    "A Portmapper is still running on local TCP port 111: Address already in use, held by python3 (pid $holder_pid)"
end "$holder_pid"
holder_pid=
check "the failed starts bound nothing" ports_free

# The system's portmapper: rpcbind as a Debian system starts it, in the foreground.
rpcbind -f -w &
rpcbind_pid=$!
check "rpcbind answers" wait_for 10 quietly rpcinfo -p 127.0.0.1

check "the server starts beside rpcbind" start_server
check "it says it registered" said "registered with the system's portmapper on port 111"
check "rpcinfo -p lists MOUNT and NFS version 3 on TCP and UDP" ours_registered
check "rpcinfo reaches MOUNT through rpcbind" quietly rpcinfo -t 127.0.0.1 100005 3
check "nfs-ls with default options finds the server through rpcbind" \
    sh -c 'nfs-ls nfs://127.0.0.1/ | grep -q file.txt'
kill -HUP "$server_pid"
check "registered again after SIGHUP" wait_for 20 sh -c "grep -c exporting '$work/err' | grep -qx 2"
check "... and still listed" ours_registered
end "$server_pid"
server_pid=
check "SIGTERM unsets MOUNT and NFS" none_registered

# A server killed outright leaves its registrations behind; the next one renews them.
start_server
kill -KILL "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=
check "a killed server's registrations stay" ours_registered
check "the next server starts over them" start_server
check "... and serves" sh -c 'nfs-ls nfs://127.0.0.1/ | grep -q file.txt'
end "$server_pid"
server_pid=
check "... and unsets them at stop" none_registered

# Another NFS server registered on other ports keeps its registration.
check "another NFS server registers" register_other_nfs 20049
check "the server refuses to take its registration" fails_saying \
    "A NFS server is still running on this machine: registered with the portmapper for TCP port 20049"
check "... naming --ports" said "--ports PORTMAP,MOUNT,NFS"
check "... and leaves it alone" registered 100003 tcp 20049
check "... and binds nothing" ports_free

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
