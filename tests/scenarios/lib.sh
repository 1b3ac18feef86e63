# Shared helpers of the scenario scripts: a private network namespace per script, the server
# under test started in the background and ended by its PID.
set -euo pipefail

SOURCE=${LUMAVERT_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
SERVER=${LUMAVERT_SERVER:-$SOURCE/build/lumavert-server}

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 0; }

# Re-runs the calling script inside a fresh network namespace with loopback up, once.
enter_private_network() {
    if [ -z "${LUMAVERT_IN_NETNS:-}" ]; then
        [ "$(id -u)" = 0 ] || skip "needs root for a private network namespace"
        export LUMAVERT_IN_NETNS=1
        exec unshare -n bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
    fi
}

# Waits until TCP port $1 on 127.0.0.1 accepts connections (up to $2 seconds, default 10).
wait_for_port() {
    local port=$1 limit=${2:-10} i
    for ((i = 0; i < limit * 10; i++)); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Starts lumavert-server with the given arguments; sets SERVER_PID. A private settings folder
# keeps the instance lock and settings of the test apart from the user's.
start_server() {
    export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$(mktemp -d)}
    SERVER_LOG=${SERVER_LOG:-$(mktemp)}
    "$SERVER" "$@" 2>>"$SERVER_LOG" &
    SERVER_PID=$!
    wait_for_port 2049 10 || { cat "$SERVER_LOG" >&2; fail "server did not start"; }
}

stop_server() {
    if [ -n "${SERVER_PID:-}" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
        kill -TERM "$SERVER_PID"
        wait "$SERVER_PID" || true
    fi
    SERVER_PID=
}

# check NAME COMMAND...: runs the command, counts and reports the outcome in passed/failed.
passed=0
failed=0
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}
