#!/usr/bin/env bash
# The simulated player against a scripted PC (tests/scenarios/player_pc.py) and the real
# lumavert-server, in a private network namespace with a veth pair for the directed broadcast:
# a clean session reads the lists and the played file byte-identically and reports no
# departure (exit 0); each deliberate mistake of the PC is reported with its rule (exit 1).
source "$(dirname "$0")/lib.sh"
enter_private_network "$@"
PLAYER=${LUMAVERT_PLAYER:-$(dirname "$SERVER")/player/kestro-player}
PC="python3 $(dirname "$0")/player_pc.py"
[ -x "$SERVER" ] || fail "$SERVER is not built"
[ -x "$PLAYER" ] || skip "$PLAYER is not built (needs libnfs-dev)"

work=$(mktemp -d "/tmp/lumavert-player-$$.XXXXXX")
PLAYER_PID=
stop_player() {
    if [ -n "$PLAYER_PID" ] && kill -0 "$PLAYER_PID" 2>/dev/null; then
        kill -TERM "$PLAYER_PID"
        wait "$PLAYER_PID" || true
    fi
    PLAYER_PID=
}
trap 'stop_player; stop_server; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DOCUMENTS_DIR=$work/docs
export LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_DOCUMENTS_DIR/Lumavert" "$work/root"

# The PC's side of a LAN: 192.0.2.1/24 on one end of a veth pair, so that 192.0.2.255 is a
# directed broadcast that reaches the player's socket on 0.0.0.0.
ip link add "plp$$" type veth peer name "plq$$"
ip addr add 192.0.2.1/24 broadcast 192.0.2.255 dev "plp$$"
ip addr add 192.0.2.2/24 broadcast 192.0.2.255 dev "plq$$"
ip link set "plp$$" up
ip link set "plq$$" up

# A selection of two audio files and one picture (no videos, so mediaType 0 means audio).
first="Clip ü 100%.mp3"
head -c 8M /dev/urandom > "$work/root/$first"
echo second > "$work/root/b.mp3"
echo picture > "$work/root/p.jpg"
python3 - "$XDG_DOCUMENTS_DIR/Lumavert" "$first" <<'PY'
import os, sys
folder, first = sys.argv[1], sys.argv[2]
def write(name, names):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"\xff\xfe" + "".join(n + "\r\n" for n in names).encode("utf-16-le"))
write("AudioList.txt", [first, "b.mp3"])
write("ImageList.txt", ["p.jpg"])
PY
start_server --root "$work/root" --codepage 65001

# Starts the player with the given options; its log is $work/$1.log.
start_player() {
    local name=$1
    shift
    : > "$work/$name.log"
    "$PLAYER" --log "$work/$name.log" --control "$work/$name.fifo" --sessions 1 "$@" \
        2>"$work/$name.err" &
    PLAYER_PID=$!
    for _ in $(seq 100); do
        grep -q '"event":"start"' "$work/$name.log" && return 0
        kill -0 "$PLAYER_PID" 2>/dev/null || break
        sleep 0.05
    done
    cat "$work/$name.err" >&2
    fail "player $name did not start"
}

# Waits up to 30 s for the player to end by itself; sets status to its exit status.
wait_player() {
    status=0
    for _ in $(seq 300); do
        kill -0 "$PLAYER_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$PLAYER_PID" 2>/dev/null; then
        stop_player
        status=124
        return
    fi
    wait "$PLAYER_PID" || status=$?
    PLAYER_PID=
}

host="pc-é-$$"
pc() { timeout 60 $PC --broadcast 192.0.2.255 --hostname "$host" --mac 02:00:00:00:00:01 \
    --control "$work/$1.fifo" --fault "${2:-}" > "$work/$1.pc" 2>&1; }

# --- A clean session ---
start_player clean --expect-dest directed_broadcast --expect-hostname "$host" \
    --expect-mac 02:00:00:00:00:01 --name "Wohnzimmer Ü"
pc clean || true
wait_player
check "the scripted PC went through every step" grep -q '"step": "closed"' "$work/clean.pc"
check "the PC got the player's UTF-8 name" grep -q '"device": "Wohnzimmer Ü"' "$work/clean.pc"
check "clean session: player exit status 0 (was $status)" test "$status" = 0
check "clean session: no departure" bash -c "! grep -q '\"event\":\"departure\"' '$work/clean.log'"

# Everything else about the clean session, from the log's JSON lines.
expected_sha=$(sha256sum "$work/root/$first" | cut -d' ' -f1)
expected_size=$(stat -c %s "$work/root/$first")
python3 - "$work/clean.log" "$first" "$expected_sha" "$expected_size" > "$work/clean.checks" <<'PY'
import json, sys
log, first, sha, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
lines = [json.loads(line) for line in open(log, encoding="utf-8")]
def of(event):
    return [l for l in lines if l["event"] == event]
def check(name, ok):
    print(("ok   " if ok else "FAIL ") + name)
udp = of("udp_rx")
check("the search request reached the directed broadcast, 42 bytes",
      len(udp) >= 1 and udp[0]["dest"] == "directed_broadcast" and udp[0]["size"] == 42)
order = [(r["name"], r["sub"]) for r in of("pc_request")]
check("requests in order connect, update, assign, play, status, disconnect: %s" % order,
      order == [("REQ_ConnectKestro", 0), ("REQ_UpdateFileList", 3), ("REQ_AssignFileIndex", 1),
                ("REQ_PlayCtrl", 0), ("REQ_GetStatus", 1), ("REQ_ConnectKestro", 1)])
assign = [r for r in of("pc_request") if r["name"] == "REQ_AssignFileIndex"]
check("assign (1, 0)", assign and (assign[0]["index"], assign[0]["mediaType"]) == (1, 0))
lists = of("lists")
check("lists read from /lst: audio, image, no video",
      lists and lists[0]["audio"] == [first, "b.mp3"] and lists[0]["image"] == ["p.jpg"]
      and lists[0]["video"] == [] and lists[0]["present"] == ["AudioList.txt", "ImageList.txt"])
chosen = of("assign")
check("mediaType 0 chose the first audio file", chosen and chosen[0].get("list") == 2
      and chosen[0].get("file") == first)
read = of("file_read")
check("the played file read byte-identically (size and SHA-256)",
      read and read[0]["file"] == first and read[0]["size"] == size and read[0]["sha256"] == sha)
first_data = [i for i, l in enumerate(lines) if l["event"] == "file_first_data"]
play_answer = [i for i, l in enumerate(lines) if l["event"] == "answer" and l["to"] == "REQ_PlayCtrl"]
check("play answered at the first data", first_data and play_answer and first_data[0] < play_answer[0])
answers = of("pc_answer")
check("both reports answered within 1 s",
      [a["to"] for a in answers] == ["CTRL_REQ_PLAYSTATUS_PC", "CTRL_REQ_ASSIGNFILESTATUS_PC"]
      and all(a["ms"] < 1000 and not a["late"] for a in answers))
summary = of("summary")
check("summary: one session, no departure, exit 0",
      summary and summary[-1]["departures"] == 0 and summary[-1]["exit"] == 0
      and summary[-1]["files_read"] == 1)
check("every line has a real-time stamp", all("time" in l and l["time"].endswith("Z") for l in lines))
PY
while read -r verdict name; do
    check "$name" test "$verdict" = ok
done < "$work/clean.checks"

# --- Each mistake of the PC, one player each ---
for case in wrong-mac:connect.mac two-zeros:connect.hostname status-nonzero:status.payload \
    bad-tag:packet.header late-answer:answer.late answer-end:answer.forbidden \
    close-without-disconnect:close.without-disconnect no-disconnect-after-end:end.disconnect; do
    fault=${case%%:*}
    rule=${case#*:}
    start_player "$fault" --expect-hostname "$host"
    pc "$fault" "$fault" || true
    wait_player
    check "$fault: player exit status 1 (was $status)" test "$status" = 1
    rules=$(grep -o '"event":"departure","rule":"[^"]*"' "$work/$fault.log" | cut -d'"' -f8 |
        sort -u | tr '\n' ' ')
    check "$fault: departure $rule logged, and no other (got: $rules)" test "$rules" = "$rule "
done

# --- A flood of search requests, then SIGTERM: the summary counts them, exit 0 ---
start_player flood --discovery-answer none
"$PLAYER" flood --to 127.0.0.1:62000 --rate 1000 --count 200 > "$work/flood.out"
sleep 0.3
kill -TERM "$PLAYER_PID"
status=0
wait "$PLAYER_PID" || status=$?
PLAYER_PID=
check "flood: 200 datagrams sent" grep -q '"sent":200' "$work/flood.out"
check "flood: SIGTERM ends the player with exit 0 (was $status)" test "$status" = 0
check "flood: the summary counts 200 datagrams" grep -q '"event":"summary".*"datagrams":200' "$work/flood.log"

stop_server
if [ "$CHECKS_FAILED" -ne 0 ]; then
    for f in "$work"/*.pc "$work"/*.err; do echo "== $f"; cat "$f"; done
fi
check_summary
