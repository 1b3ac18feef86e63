#!/usr/bin/env bash
# Benchmark: right-click to the player's first READ. The real Tavomenu64.dll, Lumavert.exe and
# Server.exe under Wine on a PC namespace, one free kestro-player on the LAN (tests/scenarios/
# pc_lan.sh); each run is a whole session (reload, discovery, connect, update, assign, play),
# then Disconnect. Prints, per run and as medians:
#   T  the hand-off reaching the manager (its log's "Set Server setting: start") to the player's
#      first data of the file (kestro-player's file_first_data, after its first READ)
#   R  the same start to the player's first search request: Server.exe's reload and its
#      acknowledgement, seen at timer 1's next tick, after which discovery starts at once (the
#      log box itself cannot time it: the manager's thread answers no message during discovery)
#   P  R + the waits the session prescribes after it: 1.1 s of discovery silence and 4 ticks
#      of timer 0 (50 ms each); T - P is what the system adds on top of them
#
#   bench/handoff.sh [--runs N]   (scripts/bench --handoff [--runs N])
set -euo pipefail
source "$(dirname "$0")/../tests/scenarios/lib.sh"

runs=10
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    *) echo "handoff: unknown option $1" >&2; exit 2 ;;
    esac
done
[ "$(id -u)" = 0 ] || { echo "handoff: needs root (network namespaces)" >&2; exit 1; }
PLAYER=${LUMAVERT_PLAYER:-$SOURCE/build/player/kestro-player}
win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
[ -x "$PLAYER" ] || { echo "handoff: build $PLAYER first (scripts/build)" >&2; exit 1; }
for f in Lumavert.exe Server.exe shellext/Tavomenu64.dll tests/ManagerProbe.exe \
    tests/TavomenuDriver.exe; do
    [ -f "$win_build/$f" ] || { echo "handoff: $win_build/$f is not built" >&2; exit 1; }
done
source "$SOURCE/tests/scenarios/pc_lan.sh"

share=$work/media
mkdir -p "$share"
head -c $((8 << 20)) /dev/urandom >"$share/clip.mkv"
start_manager
start_player a "$ns_a"

discovery_silence_ms=1100 tick_ms=50 timer0_ticks=4
printf '%4s %8s %8s %8s %8s\n' run T_ms R_ms P_ms T-P_ms
rows=$work/rows
: >"$rows"
for run in $(seq 1 "$runs"); do
    reads=$(count_events "$a_log" file_first_data)
    searches=$(count_events "$a_log" search_request)
    pc wine "$win_build/tests/ManagerProbe.exe" watch-log 60 "Set Server setting: start" \
        >"$work/watch.txt" 2>/dev/null &
    watcher=$!
    sleep 1.5 # the watcher's own start under Wine
    right_click "$share/clip.mkv"
    for _ in $(seq 1 600); do
        [ "$(count_events "$a_log" file_first_data)" -gt "$reads" ] && break
        sleep 0.1
    done
    wait "$watcher" || true
    start=$(tr -d '\r' <"$work/watch.txt" | sed -n 's/^Set Server setting: start //p')
    first_ts() { # first_ts EVENT SKIP: ms of the first EVENT line after the first SKIP ones
        python3 -c 'import json,sys
l = [l for l in map(json.loads, open(sys.argv[1])) if l["event"] == sys.argv[2]]
print(round(l[int(sys.argv[3])]["ts"] * 1000))' "$a_log" "$1" "$2"
    }
    acked=$(first_ts search_request "$searches")
    first=$(first_ts file_first_data "$reads")
    t=$((first - start)) r=$((acked - start))
    p=$((r + discovery_silence_ms + timer0_ticks * tick_ms))
    printf '%4d %8d %8d %8d %8d\n' "$run" "$t" "$r" "$p" $((t - p))
    echo "$t $r $p" >>"$rows"
    ends=$(count_events "$a_log" session_end)
    probe post 273 32772 0 >/dev/null # Disconnect: the next run is a new session
    for _ in $(seq 1 100); do
        [ "$(count_events "$a_log" session_end)" -gt "$ends" ] && break
        sleep 0.1
    done
    sleep 0.5
done
python3 "$SOURCE/bench/road_medians.py" "$rows"
echo "player departures: $(count_events "$a_log" departure)"
