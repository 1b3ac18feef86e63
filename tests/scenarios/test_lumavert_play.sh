#!/usr/bin/env bash
# lumavert play, end to end and natively: the program hands its files off itself, writes Root and
# CodePage, has lumavert-server reload (starting it the first time) and waits for its answer,
# then finds, connects and plays on simulated players that mount the PC's folders over NFS and
# read the first file. A LAN of network namespaces made here: the PC (own host name and hosts
# file), a bridge, and two players.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/lan.sh"

[ "$(id -u)" = 0 ] || skip "needs root for network namespaces"
PLAYER=${LUMAVERT_PLAYER:-$SOURCE/build/player/kestro-player}
LUMAVERT=${LUMAVERT_PROGRAM:-$(dirname "$SERVER")/manager/lumavert}
[ -x "$PLAYER" ] || skip "kestro-player is not built ($PLAYER)"
[ -x "$LUMAVERT" ] || fail "$LUMAVERT is not built"
[ -x "$SERVER" ] || fail "$SERVER is not built"
export LUMAVERT_SERVER=$SERVER

id=$$
ns_pc=lmp-pc-$id ns_lan=lmp-lan-$id ns_a=lmp-pa-$id ns_b=lmp-pb-$id
work=$(mktemp -d /tmp/lumavert-play.XXXXXX)
server_pid=

cleanup() {
    for pid in "${player_pids[@]}" $server_pid; do kill "$pid" 2>/dev/null || true; done
    for ns in "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"; do ip netns del "$ns" 2>/dev/null || true; done
    [ -n "${LUMAVERT_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

pc_requests() { # NAME SUB per line, in order
    python3 -c 'import json,sys
for l in map(json.loads, open(sys.argv[1])):
    if l["event"] == "pc_request": print(l["name"], l["sub"])' "$1" | tr '\n' ';'
}
file_read() { # the file names and SHA-256 the player read, "NAME SHA;" each
    python3 -c 'import json,sys
for l in map(json.loads, open(sys.argv[1])):
    if l["event"] == "file_read" and "sha256" in l: print(l["file"], l["sha256"])' "$1" |
        tr '\n' ';'
}
# --- The LAN: PC 192.0.2.1, players .2 and .3 ------------------------------------------------
make_lan "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"

# The PC's name resolves to its veth address (its own UTS and mount namespace per command); the
# settings, Documents and list folder are the test's.
pc_command "$ns_pc" pc-play
export HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME/Documents" "$XDG_CONFIG_HOME"
# lumavert without a terminal (setsid), its standard error in $1.err, output in $1.out.
lumavert() {
    local out=$1
    shift
    pc setsid -w "$LUMAVERT" "$@" >"$out.out" 2>"$out.err" </dev/null
}

PLAYER_OPTIONS="--expect-dest directed_broadcast"

# --- Media: a folder named with non-ASCII letters and "%" -------------------------------------
media="$work/Filme 100% äö"
mkdir -p "$media"
if command -v ffmpeg >/dev/null && make_test_media "$media" 2>/dev/null; then
    first=clip-index-at-end.mp4
else
    head -c 3000000 /dev/urandom >"$media/clip-index-at-end.mp4"
    first=clip-index-at-end.mp4
fi
head -c 6000000 /dev/urandom >"$media/Zweiter Film ß.mkv"
head -c 200000 /dev/urandom >"$media/song.mp3"
sha() { sha256sum "$media/$1" | cut -d' ' -f1; }

# --- 1. One player, no server running: lumavert starts it, plays, `lumavert stop` ends ---------
start_player a "$ns_a" --name "Den"
lumavert "$work/play1" play "$media/$first" "$media/song.mp3" &
play_pid=$!
check "1: plays" await_line "$work/play1.err" "Playing." 30
server_pid=$(sed -n 's/^Started .* (process \([0-9]*\),.*/\1/p' "$work/play1.err")
check "1: lumavert started the server" test -n "$server_pid"
conf=$XDG_CONFIG_HOME/lumavert/server.conf
check "1: Root written" has "$conf" "Root=$media"
check "1: CodePage 65001 written" has "$conf" "CodePage=65001"
check "1: the server's answer awaited" has "$work/play1.err" "lumavert-server serves the folder."
check "1: progress lines" has "$work/play1.err" "Connecting to Den (192.0.2.2)..."
check "1: the first file read whole" await_line "$a_log" '"event":"file_read"' 30
check "1: byte-identical" equals "$(file_read "$a_log")" "$first $(sha "$first");"
# A second selection goes to the running session: same connection, no new search.
searches=$(count_events "$a_log" search_request)
lumavert "$work/play1b" play "$media/Zweiter Film ß.mkv" || true
check "1: second selection handed over" has "$work/play1b.err" "Handed to the running lumavert session."
check "1: second file read" await_line "$a_log" "Zweiter Film ß.mkv" 30
sleep 1
check "1: second file byte-identical" equals "$(file_read "$a_log")" \
    "$first $(sha "$first");Zweiter Film ß.mkv $(sha "Zweiter Film ß.mkv");"
check "1: no new search" equals "$(count_events "$a_log" search_request)" "$searches"
check "1: one connection" equals "$(count_events "$a_log" tcp_accept)" 1
lumavert "$work/stop1" stop
status=0
wait $play_pid || status=$?
check "1: play exits 0 after stop" equals "$status" 0
sleep 0.5
stop_player a
check "1: requests in order" equals "$(pc_requests "$a_log")" \
    "REQ_ConnectKestro 0;REQ_UpdateFileList 3;REQ_AssignFileIndex 1;REQ_PlayCtrl 0;REQ_UpdateFileList 3;REQ_AssignFileIndex 1;REQ_PlayCtrl 0;REQ_PlayCtrl 1;REQ_ConnectKestro 1;"
check "1: no departure" no_departures "$a_log"
status=0
lumavert "$work/stop-none" stop || status=$?
check "1: stop without a session exits 1" equals "$status" 1

# --- 2. Two free players: a list without a terminal, then --player ----------------------------
start_player a "$ns_a" --name "Den" --end-after-play
start_player b "$ns_b" --name "Küche ✓" --end-after-play
status=0
lumavert "$work/play2" play "$media/song.mp3" || status=$?
check "2: several free players without a choice exit 6" equals "$status" 6
check "2: the list is shown" has "$work/play2.err" "2) "
status=0
lumavert "$work/play2b" play --json --player "Küche ✓" "$media/song.mp3" || status=$?
check "2: --player plays and the player's end ends it" equals "$status" 0
check "2: chosen by name" has "$work/play2b.out" '"text":"Connecting to Küche ✓ (192.0.2.3)..."'
check "2: status line as JSON" has "$work/play2b.out" '"event":"status"'
check "2: song read on the chosen player" await_line "$b_log" '"event":"file_read"' 10
check "2: the other player had no connection" equals "$(count_events "$a_log" tcp_accept)" 0
status=0
lumavert "$work/play2c" play --player 192.0.2.2 "$media/song.mp3" || status=$?
check "2: --player by address" equals "$status" 0
check "2: the session ended by the player" has "$work/play2c.err" "The session has ended."
stop_player a
stop_player b
check "2: no departures" no_departures "$a_log"
check "2: no departures (b)" no_departures "$b_log"

# --- 3. Access code right and wrong; busy; a missing folder -----------------------------------
start_player a "$ns_a" --name "Den" --access-code 1234 --end-after-play
status=0
lumavert "$work/code-ok" play --code 1234 "$media/song.mp3" || status=$?
check "3: right access code plays" equals "$status" 0
status=0
lumavert "$work/code-bad" play --code 9999 "$media/song.mp3" || status=$?
check "3: wrong code exits 13" equals "$status" 13
check "3: wrong code in the manager's words" has "$work/code-bad.err" \
    "lumavert: Incorrect Pin Code. (Code:3)"
stop_player a
check "3: codes sent" equals "$(python3 -c 'import json,sys
print(*[l["code"] for l in map(json.loads, open(sys.argv[1])) if l["event"] == "pc_request" and l["sub"] == 2])' "$a_log")" "3132333400000000 3939393900000000"
start_player a "$ns_a" --name "Den" --busy
status=0
lumavert "$work/busy" play "$media/song.mp3" || status=$?
check "3: busy at connect exits 12" equals "$status" 12
check "3: busy in the manager's words" has "$work/busy.err" "lumavert: Device is busy. (Code:2)"
stop_player a
start_player a "$ns_a" --name "Den" --silent
status=0
lumavert "$work/silent" play "$media/song.mp3" || status=$?
check "3: a silent player exits 12" equals "$status" 12
check "3: silent in the manager's words" has "$work/silent.err" \
    "lumavert: Fail to connect with device. (Code:2,f0000000)"
stop_player a
check "3: the connect request sent 11 times" equals \
    "$(pc_requests "$a_log" | grep -o 'REQ_ConnectKestro 0;' | wc -l)" 11
# A folder the server cannot see: lumavert's own mount namespace has it, the server's has not.
start_player a "$ns_a" --name "Den"
searches=$(count_events "$a_log" search_request)
mkdir -p "$work/ghost"
status=0
pc sh -c 'mount -t tmpfs none "$1" && mkdir "$1/Gone" && head -c 1000 /dev/zero >"$1/Gone/a.mkv" &&
    exec setsid -w "$2" play "$1/Gone/a.mkv"' sh "$work/ghost" "$LUMAVERT" \
    >"$work/ghost.out" 2>"$work/ghost.err" </dev/null || status=$?
check "3: missing folder exits 3" equals "$status" 3
check "3: Fail to set Server" has "$work/ghost.err" "lumavert: Fail to set Server"
check "3: the server's reason shown" has "$work/ghost.err" "lumavert-server: failed: "
check "3: no search" equals "$(count_events "$a_log" search_request)" "$searches"
stop_player a

# --- 4. players ----------------------------------------------------------------------------------
start_player a "$ns_a" --name "Den"
start_player b "$ns_b" --name "Küche ✓" --connect-inform 1
lumavert "$work/players" players --json
check "4: players lists the free one" has "$work/players.out" \
    '{"event":"player","name":"Den","address":"192.0.2.2","product":"Kestro Simulated Player","free":true}'
check "4: and the busy one" has "$work/players.out" '"name":"Küche ✓","address":"192.0.2.3"'
stop_player a
stop_player b

check_summary
