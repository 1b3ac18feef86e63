#!/usr/bin/env bash
# Benchmark: the road natively, `lumavert play FILE` to the player's first READ. lumavert and the
# lumavert-server it starts (and then has reload) on a PC namespace, one free kestro-player on a
# LAN of namespaces (tests/scenarios/lan.sh); each run is a whole session (reload, discovery,
# connect, update, assign, play), ended with `lumavert stop`. Prints, per run and as medians:
#   T  the command's start to the player's first data of the file (file_first_data, after its
#      first READ)
#   R  the same start to the player's first search request: the settings written, the server's
#      reload and its answer, seen at timer 1's next tick, after which discovery starts at once
#   P  R + the waits the session prescribes after it: 1.1 s of discovery silence and 4 ticks of
#      timer 0 (50 ms each); T - P is what the system adds on top of them
# Run 0 starts the server (none runs before it) and is shown apart, not in the medians.
#
#   bench/road.sh [--runs N] [--server PATH] [--lumavert PATH] [--player PATH]
#     (scripts/bench --road ...; scripts/bench --only road runs it as a table row)
#   Defaults: the programs of build-release/ (built here when missing).
set -euo pipefail
source "$(dirname "$0")/../tests/scenarios/lib.sh"
source "$SOURCE/tests/scenarios/lan.sh"

runs=10 server="" program="" PLAYER=""
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --server) server=$2; shift 2 ;;
    --lumavert) program=$2; shift 2 ;;
    --player) PLAYER=$2; shift 2 ;;
    *) echo "road: unknown option $1" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" = 0 ] || { echo "road: needs root (network namespaces)" >&2; exit 1; }
if [ -z "$server" ] || [ -z "$program" ] || [ -z "$PLAYER" ]; then
    if [ -z "$server" ]; then
        cmake -S "$SOURCE" -B "$SOURCE/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DLUMAVERT_TESTS=OFF -DLUMAVERT_SANITIZE=OFF >/dev/null
        cmake --build "$SOURCE/build-release" -j2 --target lumavert-server lumavert \
            kestro-player >/dev/null
        server=$SOURCE/build-release/lumavert-server
    fi
    program=${program:-$(dirname "$server")/manager/lumavert}
    PLAYER=${PLAYER:-$(dirname "$server")/player/kestro-player}
fi
for f in "$server" "$program" "$PLAYER"; do
    [ -x "$f" ] || { echo "road: $f is not built" >&2; exit 1; }
done
server=$(readlink -f "$server") program=$(readlink -f "$program") PLAYER=$(readlink -f "$PLAYER")

id=$$
ns_pc=lmr-pc-$id ns_lan=lmr-lan-$id ns_a=lmr-pa-$id
work=$(mktemp -d /tmp/lumavert-road.XXXXXX)
cleanup() {
    local pid
    for pid in "${player_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # The server was started by the first run, in a session of its own: its process id is in
    # that run's progress lines.
    pid=$(sed -n 's/^Started .* (process \([0-9]*\),.*/\1/p' "$work"/run-0.err 2>/dev/null || true)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    for ns in "$ns_pc" "$ns_lan" "$ns_a"; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
make_lan "$ns_pc" "$ns_lan" "$ns_a"

# The PC's name resolves to its veth address; settings, Documents and lists are this run's.
pc_command "$ns_pc" pc-road
export HOME=$work/home XDG_CONFIG_HOME=$work/config LUMAVERT_SERVER=$server
mkdir -p "$HOME/Documents" "$XDG_CONFIG_HOME"

share=$work/media
mkdir -p "$share"
head -c $((8 << 20)) /dev/urandom >"$share/clip.mkv"
start_player a "$ns_a" --name "Road"

ms_of() { # ms_of EVENT SKIP: the ms (Unix epoch) of the first EVENT line after the first SKIP
    python3 -c 'import json,sys
l = [l for l in map(json.loads, open(sys.argv[1])) if l["event"] == sys.argv[2]]
print(round(l[int(sys.argv[3])]["ts"] * 1000) if len(l) > int(sys.argv[3]) else "")' \
        "$a_log" "$1" "$2"
}

discovery_silence_ms=1100 tick_ms=50 timer0_ticks=4
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%4s %8s %8s %8s %8s\n' run T_ms R_ms P_ms T-P_ms
rows=$work/rows
: >"$rows"
for run in $(seq 0 "$runs"); do
    reads=$(count_events "$a_log" file_first_data)
    searches=$(count_events "$a_log" search_request)
    ends=$(count_events "$a_log" session_end)
    start=$(($(date +%s%N) / 1000000))
    pc setsid -w "$program" play "$share/clip.mkv" >"$work/run-$run.out" 2>"$work/run-$run.err" \
        </dev/null &
    play=$!
    for _ in $(seq 1 300); do
        [ "$(count_events "$a_log" file_first_data)" -gt "$reads" ] && break
        sleep 0.1
    done
    first=$(ms_of file_first_data "$reads") acked=$(ms_of search_request "$searches")
    pc "$program" stop >/dev/null 2>&1 || true
    wait "$play" || true
    for _ in $(seq 1 100); do
        [ "$(count_events "$a_log" session_end)" -gt "$ends" ] && break
        sleep 0.1
    done
    if [ -z "$first" ] || [ -z "$acked" ]; then
        echo "road: run $run did not reach the first READ:" >&2
        cat "$work/run-$run.err" >&2
        exit 1
    fi
    t=$((first - start)) r=$((acked - start))
    p=$((r + discovery_silence_ms + timer0_ticks * tick_ms))
    printf '%4s %8d %8d %8d %8d\n' "$run$([ "$run" = 0 ] && echo '*')" "$t" "$r" "$p" $((t - p))
    [ "$run" = 0 ] || echo "$t $r $p" >>"$rows"
    sleep 0.3
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "* run 0 starts lumavert-server (no server ran before it): not in the medians"
python3 "$SOURCE/bench/road_medians.py" "$rows"
echo "player departures: $(count_events "$a_log" departure)"
