#!/usr/bin/env bash
# Hostile players against the real Lumavert.exe under Wine, on the LAN of pc_lan.sh. Discovery:
# 200 players at once (the table holds 128); a flood of 12,000 datagrams at 1,000 per second to
# the search's own port beside a player whose answers have each field wrong in turn before a
# good one (the exchange ends within its 10 s). Control: random bytes on accept, a silent
# player, late ones, players that close or reset inside each step, one sending its own requests
# in a loop, one writing every packet a byte at a time, cut packets, lengths past the limits
# and random bytes in a session, random bytes as fast as they go for 4 s. After each case
# Lumavert.exe lives and its main dialog answers WM_NULL within 1 s; after each group a good
# player is played normally.
#
#   test_manager_hostile.sh                 the cases once (CI)
#   test_manager_hostile.sh --soak SECONDS  the cases over and over for SECONDS, sampling the
#                                           manager's handles and memory; prints the figures
source "$(dirname "$0")/lib.sh"

soak=0
if [ "${1:-}" = --soak ]; then soak=${2:-600}; fi

need_pc_lan

source "$(dirname "$0")/pc_lan.sh"
started=$SECONDS

share=$work/share
mkdir -p "$share"
head -c 3000000 /dev/urandom >"$share/film.mkv"
head -c 200000 /dev/urandom >"$share/song.mp3"
film_sha=$(sha256sum "$share/film.mkv" | cut -d' ' -f1)

# 199 more addresses for player b, which answers from each of them too: 200 players.
flock=()
for i in $(seq 20 218); do
    ip -n "$ns_b" addr add "192.0.2.$i/24" dev eth0
    flock+=(--answer-source "192.0.2.$i")
done

start_manager

# The Linux processes of Lumavert.exe and of the prefix's wineserver.
of_prefix() { # of_prefix PATTERN: the PID whose first argument matches, running in our prefix
    python3 -c 'import os, re, sys
for pid in filter(str.isdigit, os.listdir("/proc")):
    try:
        argv = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
        env = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
    except OSError:
        continue
    if re.search(sys.argv[1], argv[0].decode(errors="replace")) and \
            ("WINEPREFIX=" + sys.argv[2]).encode() in env:
        print(pid); sys.exit(0)
sys.exit(1)' "$1" "$WINEPREFIX"
}
lumavert=$(of_prefix '/app/Lumavert\.exe$') || fail "no Linux process of Lumavert.exe"
wineserver=$(of_prefix '/wineserver') || wineserver=none

# --- What must hold after every case -----------------------------------------------------------
health_log=$work/health.log
# One sample: "ping MS handles N private KB working KB" as Windows sees the process (Wine 8
# answers 0 for the handle count and the private bytes), then its Linux process's VmRSS and
# descriptors, and the descriptors of the prefix's wineserver (every socket and file of a
# Windows process is one there).
sample() {
    pc wine "$win_build/tests/ManagerProbe.exe" health 1000 >"$work/health.out" 2>/dev/null || true
    local line rss fds server_fds
    line=$(tr -d '\r' <"$work/health.out")
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$lumavert/status" 2>/dev/null || echo none)
    fds=$(ls "/proc/$lumavert/fd" 2>/dev/null | wc -l)
    server_fds=$(ls "/proc/$wineserver/fd" 2>/dev/null | wc -l)
    echo "$line rss $rss fds $fds server-fds $server_fds" | tee -a "$health_log"
}
responsive() { # the manager runs and its dialog answered within 1 s
    kill -0 "$lumavert" 2>/dev/null || { echo "  Lumavert.exe has ended"; return 1; }
    local line ms
    line=$(sample)
    ms=$(awk '{print $2}' <<<"$line")
    [[ "$ms" =~ ^[0-9]+$ ]] && [ "$ms" -le 1000 ] || { echo "  [$line]"; return 1; }
}
holds() { check "$1: the manager lives and answers within 1 s" responsive; }

quit_player() { # quit_player TAG: ends a hostile player, whatever it saw
    local pid_var=${1}_pid fifo_var=${1}_fifo
    echo quit >"${!fifo_var}"
    wait "${!pid_var}" || true
}
disconnect() { probe post 273 32772 0 >/dev/null; }
box() { probe error-box "$1"; } # the error box's text (it is closed)

await_count() { # await_count LOG EVENT N SECONDS: until LOG holds N lines of EVENT
    local i
    for ((i = 0; i < $4 * 10; i++)); do
        [ "$(count_events "$1" "$2")" -ge "$3" ] && return 0
        sleep 0.1
    done
    echo "  waited in vain for $3 $2 lines in $1"
    return 1
}
plays() { # plays TAG LABEL FILE SHA [OPEN]: the player reads FILE after connect, update, assign
    # and play (with OPEN, on the open session: update, assign and play)
    local log_var=${1}_log expected="REQ_UpdateFileList 3,REQ_AssignFileIndex 1,REQ_PlayCtrl 0,"
    [ -n "${5:-}" ] || expected="REQ_ConnectKestro 0,$expected"
    check "$2: the player reads the file" await "${!log_var}" '"event":"file_read"' 40
    check "$2: ${expected//,/ }" bash -c "[[ '$(pc_requests "${!log_var}")' == *'$expected' ]]"
    check "$2: ... byte-identically" equals "$(field "${!log_var}" file_read sha256)" "$4"
    check "$2: ... the right file" equals "$(field "${!log_var}" file_read file)" "$3"
}
good_player() { # good_player LABEL: a plain player afterwards is played and disconnected
    start_player a "$ns_a" --name "Salon"
    right_click "$share/film.mkv"
    plays a "$1: a good player" film.mkv "$film_sha"
    disconnect
    check "$1: ... and disconnected" pc_ended "$a_log" 10
    stop_player a
}

# --- Discovery ---------------------------------------------------------------------------------
discovery_group() {
    # 200 free players answer every request: the device list holds the table's 128.
    start_player b "$ns_b" --name Flock "${flock[@]}"
    right_click "$share/film.mkv"
    probe device-list 40 - >"$work/list.txt"
    check "200 players: the device list shows 128" has "$work/list.txt" "entries 128"
    holds "200 players"
    quit_player b

    # A flood to the search's port while a player answers with each field wrong in turn, then
    # right: only the good answer counts and the player is played.
    start_player b "$ns_b" --discovery-answer none --flood-on-search mixed:12000
    start_player a "$ns_a" --name "Salon" \
        --discovery-answer reserved,tag,len19,len1024,token,zero12,mac,text-extra,text-wrong,good
    right_click "$share/film.mkv"
    check "flood: sent to the search's port" await "$b_log" '"event":"flood"' 20
    check "flood: the exchange ends within its 10 s" await "$a_log" '"event":"tcp_accept"' 15
    check "flood: ... after the flood began" python3 -c 'import json,sys
ts = lambda f, e: next(l["ts"] for l in map(json.loads, open(f)) if l["event"] == e)
d = ts(sys.argv[2], "tcp_accept") - ts(sys.argv[1], "flood")
print(f"  connected {d:.1f} s after the flood began"); sys.exit(0 if 0 < d < 11 else 1)' "$b_log" "$a_log"
    plays a "flood and wrong answers" film.mkv "$film_sha"
    holds "flood and wrong answers"
    disconnect
    check "flood and wrong answers: disconnected" pc_ended "$a_log" 10
    stop_player a
    quit_player b
    good_player discovery
}

# --- Control -----------------------------------------------------------------------------------
failing() { # failing NAME BOX-SECONDS EXPECTED-BOX PLAYER-OPTION...: a player the session gives up
    local name=$1 wait=$2 expected=$3
    shift 3
    start_player a "$ns_a" --name "Salon" "$@"
    right_click "$share/song.mp3"
    check "$name: the box" equals "$(box "$wait")" "$expected"
    holds "$name"
    quit_player a
}

ended_by() { # ended_by NAME PLAYER-OPTION...: a player that ends the connection inside a step
    local name=$1
    shift
    start_player a "$ns_a" --name "Salon" "$@"
    right_click "$share/song.mp3"
    check "$name: the session ends" await "$a_log" '"event":"session_end"' 30
    check "$name: ... and the manager disconnects" log_has "DoDisConnect!!!"
    check "$name: no error box" equals "$(box 1)" "no error box"
    holds "$name"
    quit_player a
}

# Random bytes as fast as the connection takes them, for 4 s, in a session: the dialog answers
# while they come, and afterwards the player's next request is answered at once (it lies inside
# a read, behind the garbage's last bytes), Disconnect ends the session and the next selection
# plays.
noise_case() {
    start_player a "$ns_a" --name "Salon" --lenient answer.
    right_click "$share/song.mp3"
    check "noise: the player reads the file" await "$a_log" '"event":"file_read"' 40
    say a "noise 4000"
    sleep 1
    holds "noise for 4 s, while it comes"
    sleep 3.5
    local answers
    answers=$(count_events "$a_log" pc_answer)
    say a "playstatus 0"
    check "noise: the next request is answered within 2 s" \
        await_count "$a_log" pc_answer $((answers + 1)) 2
    holds "noise, afterwards"
    disconnect
    check "noise: disconnected" pc_ended "$a_log" 10
    quit_player a
}

control_group() {
    start_player a "$ns_a" --name "Salon" --random-bytes 100000
    right_click "$share/film.mkv"
    plays a "random bytes on accept" film.mkv "$film_sha"
    holds "random bytes on accept"
    disconnect
    quit_player a

    failing silent 30 "Fail to connect with device. (Code:2,f0000000)" --silent
    failing "late update" 30 "Command timeout. (Code:4,f0000000)" --delay update=11000
    ended_by "close in connect" --close-at connect:5
    ended_by "close in update" --close-at update:7
    ended_by "reset in assign" --reset-at assign:0
    ended_by "reset in play" --reset-at play:3

    # An assign answered after the wait (its 200 ticks take longer than 10 s on a busy machine):
    # reported, the session stays; its late answer comes on the open connection, and the next
    # selection on the session plays.
    start_player a "$ns_a" --name "Salon" --delay assign=14000
    right_click "$share/song.mp3"
    check "late assign: the box" equals "$(box 30)" "Command timeout. (Code:5,f0000000)"
    check "late assign: the late answer is sent" await "$a_log" '"to":"REQ_AssignFileIndex"' 10
    holds "late assign"
    say a "option --normal"
    right_click "$share/film.mkv"
    plays a "late assign, then a selection" film.mkv "$film_sha" open
    disconnect
    quit_player a

    # Its own requests every 5 ms: the session goes on, the dialog stays responsive.
    start_player a "$ns_a" --name "Salon" --request-loop 5 --lenient answer.
    right_click "$share/film.mkv"
    plays a "request loop" film.mkv "$film_sha"
    holds "request loop"
    disconnect
    quit_player a

    # Every packet a byte at a time.
    start_player a "$ns_a" --name "Salon" --split --split-gap 0
    right_click "$share/film.mkv"
    plays a "byte by byte" film.mkv "$film_sha"
    holds "byte by byte"
    disconnect
    check "byte by byte: disconnected" pc_ended "$a_log" 10
    quit_player a

    # In a session: cut packets, lengths past the limits, a megabyte of random bytes.
    start_player a "$ns_a" --name "Salon" --lenient answer.
    right_click "$share/song.mp3"
    check "stream: the player reads the file" await "$a_log" '"event":"file_read"' 40
    say a "cut 5 0x80030000 0"
    say a "cut 13 0x80030000 1"
    sleep 0.3
    say a "raw 0000038000000000130015080000000000" # length 2069: past the largest packet
    say a "raw 00000380000000001300ffff"           # length 65535, nothing follows
    say a "raw 000003800000000013000300"           # length 3, below the smallest
    say a "random 1000000"
    sleep 1
    holds "stream"
    local answers
    answers=$(count_events "$a_log" pc_answer)
    say a "playstatus 0"
    check "stream: the next request is answered" \
        await_count "$a_log" pc_answer $((answers + 1)) 10
    disconnect
    check "stream: disconnected" pc_ended "$a_log" 10
    quit_player a

    noise_case
    good_player control
}

round=0
run_round() {
    round=$((round + 1))
    discovery_group
    control_group
    sample >/dev/null
}

run_round
if [ "$soak" -gt 0 ]; then
    soak_end=$((SECONDS + soak))
    while [ $SECONDS -lt $soak_end ]; do
        run_round >"$work/round-$((round + 1)).out" 2>&1
        sed "s/^/round $round: /" "$work/round-$round.out" | grep '^round [0-9]*: FAIL' || true
    done
    python3 - "$health_log" "$round" <<'PY'
import sys
rows = [l.split() for l in open(sys.argv[1])]
rows = [dict(zip(r[0::2], r[1::2])) for r in rows]
print(f"soak: {sys.argv[2]} rounds, {len(rows)} samples")
for key, unit in (("ping", "ms"), ("handles", ""), ("private", "KiB"), ("working", "KiB"),
                  ("rss", "KiB"), ("fds", ""), ("server-fds", "")):
    values = [int(r[key]) for r in rows if r.get(key, "").isdigit()]
    if values:
        print(f"  {key:8} start {values[0]} end {values[-1]} max {max(values)} min {min(values)} {unit}")
PY
fi

echo "scenario took $((SECONDS - started)) s"
check_summary
