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

# What the scenarios of a PC and players (pc_lan.sh) need: root, Wine, the simulated player and
# the Windows programs with their probes. Sets PLAYER and win_build.
need_pc_lan() {
    [ "$(id -u)" = 0 ] || skip "needs root for network namespaces"
    command -v wine >/dev/null 2>&1 || skip "wine is not installed"
    PLAYER=${LUMAVERT_PLAYER:-$SOURCE/build/player/kestro-player}
    win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
    [ -x "$PLAYER" ] || skip "kestro-player is not built ($PLAYER)"
    local f
    for f in Lumavert.exe Server.exe "Lumavert Help.txt" shellext/Tavomenu64.dll \
        tests/ManagerProbe.exe tests/ServerProbe.exe tests/TavomenuDriver.exe; do
        [ -f "$win_build/$f" ] || fail "$win_build/$f is not built"
    done
}

NFS_OPTS="?auto-traverse-mounts=0"

# Makes a fresh Wine prefix with the null graphics driver in the new folder $1 (the script's work
# folder, which also holds the prefix's home: Wine links Documents into it), and on exit ends
# this prefix's processes and removes the folder. Sets WORK.
start_wine_prefix() {
    WORK=$1
    export WINEDEBUG=-all WINEPREFIX=$WORK/prefix WINEDLLOVERRIDES="mscoree,mshtml="
    # UTF-8, so that non-ASCII names pass the command line and the file system unchanged.
    export HOME=$WORK/home LANG=C.UTF-8 LC_ALL=C.UTF-8
    mkdir -p "$HOME"
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WORK"' EXIT
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # Windows are made only after the prefix's server restarts with the null driver.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
}

# Named checks: `check NAME COMMAND...` runs the command and prints "ok   NAME" or "FAIL NAME";
# `check_summary` prints the counts and fails when any check failed.
CHECKS_PASSED=0
CHECKS_FAILED=0
check() {
    local name=$1
    shift
    if "$@"; then
        CHECKS_PASSED=$((CHECKS_PASSED + 1))
        echo "ok   $name"
    else
        CHECKS_FAILED=$((CHECKS_FAILED + 1))
        echo "FAIL $name"
    fi
}
check_summary() {
    echo "$CHECKS_PASSED passed, $CHECKS_FAILED failed"
    [ "$CHECKS_FAILED" -eq 0 ]
}

# Small test media in folder $1: clip-index-at-end.mp4 (H.264 + AAC, its index after the data, as
# a muxer writes it without faststart) and clip.mkv (the same streams, about 1 MB), 8 s each.
make_test_media() {
    local dir=$1 source=(-f lavfi -i testsrc2=size=320x240:rate=25:duration=8
        -f lavfi -i sine=frequency=440:duration=8)
    local codecs=(-c:v libx264 -preset veryfast -g 25 -b:v 1M -pix_fmt yuv420p -c:a aac -b:a 64k)
    mkdir -p "$dir"
    ffmpeg -nostdin -v error -y "${source[@]}" "${codecs[@]}" "$dir/clip-index-at-end.mp4" &&
        ffmpeg -nostdin -v error -y "${source[@]}" "${codecs[@]}" "$dir/clip.mkv"
}

# True when the mp4 file $1 has its index ("moov") after its data ("mdat") at the top level.
mp4_index_at_end() {
    python3 - "$1" <<'PY'
import struct, sys
boxes = []
with open(sys.argv[1], "rb") as f:
    while True:
        head = f.read(8)
        if len(head) < 8:
            break
        size, kind = struct.unpack(">I4s", head)
        boxes.append(kind.decode("latin-1"))
        if size == 0:  # runs to the end of the file
            break
        if size == 1:
            size = struct.unpack(">Q", f.read(8))[0]
            f.seek(size - 16, 1)
        elif size >= 8:
            f.seek(size - 8, 1)
        else:
            break
sys.exit(0 if "mdat" in boxes and "moov" in boxes and boxes.index("moov") > boxes.index("mdat") else 1)
PY
}
