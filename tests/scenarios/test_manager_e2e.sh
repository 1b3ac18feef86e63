#!/usr/bin/env bash
# Right-click to playing: the real Tavomenu64.dll (driven as Explorer drives it), the real
# Lumavert.exe and the Server.exe it starts, all under Wine on a PC namespace, and simulated
# players (kestro-player) on a LAN of namespaces made here. Each case checks what the players
# saw (search, connect, lists, the file read) and what the manager logged or showed: one free
# player, a second selection on the open session, Stop Streaming, Disconnect; the access code
# (wrong, then right); two free players and the device list; a busy player (reported at the
# next tick), a refusing, a silent and an only-busy one; the player ending the session; a
# missing folder; Quit while playing (stop and disconnect reach the player before the close).
source "$(dirname "$0")/lib.sh"

need_pc_lan

source "$(dirname "$0")/pc_lan.sh"
started=$SECONDS

# --- The selection: a folder named with non-ASCII letters and "%" ---------------------------
share="$work/Médias à 100%"
more=$work/Ещё
mkdir -p "$share" "$more"
head -c $((64 << 20)) /dev/urandom >"$share/Film d'été.mkv"
head -c 300000 /dev/urandom >"$share/chanson.mp3"
head -c 50000 /dev/urandom >"$share/photo.jpg"
head -c 20000 /dev/urandom >"$share/notes.txt"
head -c 400000 /dev/urandom >"$more/песня.mp3"
head -c 300000 /dev/urandom >"$more/chanson.mp3" # same name, other bytes
film_sha=$(sha256sum "$share/Film d'été.mkv" | cut -d' ' -f1)
song_sha=$(sha256sum "$more/песня.mp3" | cut -d' ' -f1)

# --- The manager alone: it starts the server; a stand-in taskbar for its popups ------------
start_manager
check "the manager runs" test -n "$(probe windows)"

# --- (a) One free player: right-click to playing --------------------------------------------
start_player a "$ns_a" --name "Salon"
right_click "$share/Film d'été.mkv" "$share/chanson.mp3" "$share/photo.jpg" "$share/notes.txt"
check "a: the player reads the first video" await "$a_log" '"event":"file_read"' 60
check "a: Root is the folder" equals "$(reg_root Root)" "sz:$(win_path "$share")"
check "a: CodePage 65001" equals "$(reg_root CodePage)" "dword:65001"
check "a: search to the directed broadcast" test "$(count_events "$a_log" search_request)" -ge 1
check "a: connect, update, assign (1, 0), play in order" equals "$(pc_requests "$a_log")" \
    "REQ_ConnectKestro 0,REQ_UpdateFileList 3,REQ_AssignFileIndex 1,REQ_PlayCtrl 0,"
check "a: the connect carries the MAC and host name" \
    equals "$(field "$a_log" pc_request mac 0) $(field "$a_log" pc_request hostname 0)" \
    "$pc_mac $host_name"
check "a: the lists as selected, media only" equals "$(lists "$a_log")" \
    "video=Film d'été.mkv audio=chanson.mp3 image=photo.jpg"
check "a: assign picks the video" equals "$(field "$a_log" assign file)" "Film d'été.mkv"
check "a: the 64 MiB file read byte-identically" \
    equals "$(field "$a_log" file_read size) $(field "$a_log" file_read sha256)" \
    "$((64 << 20)) $film_sha"
probe log >"$work/log.txt"
check "a: the log emptied, then the server's reload and its acknowledgement" \
    equals "$(head -3 "$work/log.txt" | tr '\n' '|')" "Set Server setting: start|Set to Server...|Set Server: OK!|"
check "a: ... and the play" log_has "Play OP Complete."
say a "assignname Film d'été.mkv"
say a "playstatus 0"
sleep 1
probe post 1026 150 514 >/dev/null # the tray icon's left click
probe popup 10 >"$work/popup.txt"
check "a: the status popup names the file" has "$work/popup.txt" "Film d'été.mkv"
check "a: ... and offers Stop Streaming" has "$work/popup.txt" "stop shown"
probe post 273 2 0 >/dev/null # its close box
sleep 0.5

# --- (e) A second selection on the open session: lists reloaded, no new search -------------
searches=$(count_events "$a_log" search_request)
right_click "$more/песня.mp3"
check "e: the new file is read" await "$a_log" '"file":"песня.mp3"' 40
await "$a_log" "$song_sha" 20 >/dev/null || true
check "e: update, assign, play on the same connection" equals "$(pc_requests "$a_log")" \
    "REQ_ConnectKestro 0,REQ_UpdateFileList 3,REQ_AssignFileIndex 1,REQ_PlayCtrl 0,REQ_UpdateFileList 3,REQ_AssignFileIndex 1,REQ_PlayCtrl 0,"
check "e: one connection" equals "$(count_events "$a_log" tcp_accept)" 1
check "e: no new search" equals "$(count_events "$a_log" search_request)" "$searches"
check "e: the new lists" equals "$(lists "$a_log")" "video= audio=песня.mp3 image="
check "e: read byte-identically" equals "$(field "$a_log" file_read sha256)" "$song_sha"

# --- (f) Stop Streaming, then Disconnect ------------------------------------------------------
probe post 1029 0 0 >/dev/null # WM_STOP_STREAMING, as the popup's button posts it
sleep 1
check "f: Stop Streaming sends the stop key" equals "$(last_requests "$a_log" 1)" "REQ_PlayCtrl 1"
check "f: ... and keeps the connection" equals "$(count_events "$a_log" session_end)" 0
probe post 273 32772 0 >/dev/null # Disconnect
check "f: Disconnect ends the connection" pc_ended "$a_log" 10
check "f: ... after REQ_ConnectKestro 1" equals "$(last_requests "$a_log" 1)" "REQ_ConnectKestro 1"
stop_player a

# --- (b) The access code: a wrong one, then the right one -----------------------------------
start_player a "$ns_a" --name "Salon" --access-code 4321
right_click "$share/chanson.mp3"
probe pin-code 30 1111 >"$work/pin.txt"
check "b: the prompt names the player" has "$work/pin.txt" "Salon"
check "b: a wrong code: Incorrect Pin Code" equals "$(probe error-box 20)" "Incorrect Pin Code. (Code:3)"
right_click "$share/chanson.mp3"
probe popup 30 >/dev/null
# A selection while the prompt is open is refused: the folder stays. (The DLL has rewritten the
# lists by then, so it names the same file here: other names would be looked for in the old
# folder.)
right_click "$more/chanson.mp3"
check "b: a selection during the prompt is refused" equals "$(reg_root Root)" "sz:$(win_path "$share")"
probe pin-code 30 4321 >/dev/null
check "b: the right code plays" await "$a_log" '"event":"file_read"' 40
check "b: the code as typed, zero-padded" bash -c \
    "grep '\"sub\":2' '$a_log' | grep -q '\"code\":\"$(hex8 4321)\"'"
check "b: the song read from the accepted folder" equals "$(field "$a_log" file_read sha256)" \
    "$(sha256sum "$share/chanson.mp3" | cut -d' ' -f1)"
probe post 273 32772 0 >/dev/null
pc_ended "$a_log" 10 >/dev/null || true
stop_player a

# --- (c) Two free players: the second chosen in the device list -----------------------------
start_player a "$ns_a" --name "Salon"
start_player b "$ns_b" --name "Cuisine"
right_click "$share/photo.jpg"
probe device-list 30 1 >"$work/list.txt"
check "c: the device list shows both" has "$work/list.txt" "entries 2"
sleep 1
await "$b_log" '"event":"file_read"' 20 >/dev/null || await "$a_log" '"event":"file_read"' 5 >/dev/null || true
check "c: exactly one player connected" equals "$( (grep -l '"event":"tcp_accept"' "$a_log" "$b_log" || true) | wc -l)" 1
check "c: ... and it reads the picture" equals "$(cat "$a_log" "$b_log" | grep '"event":"file_read"' | grep -c photo.jpg)" 1
probe post 273 32772 0 >/dev/null
sleep 1
stop_player a
stop_player b

# --- (d) Busy, refusing, silent and only busy players ---------------------------------------
failure_case() { # failure_case NAME BOX-SECONDS EXPECTED-BOX PLAYER-OPTION...
    local name=$1 wait=$2 expected=$3
    shift 3
    start_player a "$ns_a" --name "Salon" "$@"
    right_click "$share/chanson.mp3"
    check "d: $name: the box" equals "$(probe error-box "$wait")" "$expected"
    sleep 0.5
    stop_player a
}
# Busy at connect: reported at the tick after the answer, not after the step's 200 ticks (10 s).
start_player a "$ns_a" --name "Salon" --busy
pc wine "$win_build/tests/ManagerProbe.exe" watch-log 40 "Device ACK: Busy!!!" \
    >"$work/watch.txt" 2>/dev/null &
watcher=$!
sleep 1.5 # the watcher's own start under Wine
right_click "$share/chanson.mp3"
check "d: busy: the box" equals "$(probe error-box 20)" "Device is busy. (Code:2)"
wait "$watcher" || true
busy_ms=$(tr -d '\r' <"$work/watch.txt" | sed -n 's/^Device ACK: Busy!!! //p')
connect_ms=$(python3 -c 'import json,sys
print([round(l["ts"] * 1000) for l in map(json.loads, open(sys.argv[1])) if l["event"] == "pc_request"][0])' "$a_log")
check "d: busy: logged at the next tick, well before a time-out" \
    test $((${busy_ms:-99999999999999} - connect_ms)) -lt 3000
check "d: busy: then the disconnect" equals "$(last_requests "$a_log" 9)" \
    "REQ_ConnectKestro 0,REQ_ConnectKestro 1"
sleep 0.5
stop_player a
failure_case refusing 20 "Unable to connect with device. (Code:2)" --not-allowed
failure_case silent 30 "Fail to connect with device. (Code:2,f0000000)" --silent
check "d: silent: 11 connect requests, then the close" equals "$(last_requests "$a_log" 99)" \
    "$(printf 'REQ_ConnectKestro 0,%.0s' $(seq 11))REQ_ConnectKestro 1"
failure_case "only busy" 20 "No valid device found." --connect-inform 1

# --- The player ends the session -------------------------------------------------------------
start_player a "$ns_a" --name "Salon" --end-after-play
right_click "$share/chanson.mp3"
check "end: the player's end closes the connection" pc_ended "$a_log" 40
check "end: ... REQ_ConnectKestro 1 as the last request" equals "$(last_requests "$a_log" 1)" \
    "REQ_ConnectKestro 1"
check "end: the manager logs DoDisConnect" log_has "DoDisConnect!!!"
stop_player a

# --- A missing folder: no acknowledgement, no search -----------------------------------------
start_player a "$ns_a" --name "Salon"
# The extension's block names a folder that is gone by the time the server reloads on it.
# Written by the probe rather than the DLL: removing the folder behind a real right-click races
# the server's reload, which on a loaded machine can come first.
probe hand-off 0 "$(win_path "$work/gone")" >/dev/null
check "missing folder: Fail to set Server" equals "$(probe error-box 20)" "Fail to set Server"
check "missing folder: no search" equals "$(count_events "$a_log" search_request)" 0
stop_player a

# --- Quit while playing: stop, REQ_ConnectKestro 1, close; the manager ends ------------------
start_player a "$ns_a" --name "Salon"
right_click "$share/Film d'été.mkv"
await "$a_log" '"event":"file_first_data"' 40 >/dev/null || true
say a "playstatus 0"
sleep 0.5
probe post 273 32773 0 >/dev/null
check "quit: the connection ends" pc_ended "$a_log" 15
check "quit: play, stop, REQ_ConnectKestro 1" equals "$(last_requests "$a_log" 3)" \
    "REQ_PlayCtrl 0,REQ_PlayCtrl 1,REQ_ConnectKestro 1"
check "quit: ... and a close, not a reset" equals "$(field "$a_log" session_end reason)" "pc closed"
for _ in $(seq 1 50); do kill -0 "$manager" 2>/dev/null || break; sleep 0.2; done
check "quit: the manager ends" bash -c "! kill -0 $manager 2>/dev/null"
stop_player a

echo "scenario took $((SECONDS - started)) s"
check_summary
