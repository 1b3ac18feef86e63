#!/usr/bin/env bash
# Discovery and the control protocol of the manager's core against simulated players, once
# with the native driver (poll loop) and once with the Windows driver under Wine (hidden
# window, WSAAsyncSelect). A LAN of network namespaces made here: the PC (own host name and
# hosts file in its own UTS and mount namespaces, a veth MAC set here), a bridge, and two
# players running kestro-player.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/lan.sh"

[ "$(id -u)" = 0 ] || skip "needs root for network namespaces"
PLAYER=${LUMAVERT_PLAYER:-$SOURCE/build/player/kestro-player}
NATIVE_DRIVER=${LUMAVERT_MANAGER_DRIVER:-$SOURCE/build/tests/manager/driver/manager-driver}
win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
WIN_DRIVER=$win_build/tests/manager/driver/ManagerDriver.exe
[ -x "$PLAYER" ] || skip "kestro-player is not built ($PLAYER)"
[ -x "$NATIVE_DRIVER" ] || fail "$NATIVE_DRIVER is not built"

id=$$
ns_pc=lmv-pc-$id ns_lan=lmv-lan-$id ns_a=lmv-pa-$id ns_b=lmv-pb-$id
work=$(mktemp -d /tmp/lumavert-protocols.XXXXXX)
pc_mac=02:4c:56:$(printf '%02x:%02x:%02x' $((id >> 16 & 255)) $((id >> 8 & 255)) $((id & 255)))
pc_mac_dashes=${pc_mac//:/-}
host_name_utf8=$'pc-\xc3\xa9'          # what both drivers must send: "pc-é" in UTF-8
host_name_native='pc-\303\251'         # the kernel's name for the native driver (UTF-8)
host_name_wine='pc-\351'               # and for Wine: one byte 0xE9 of code page 1252

cleanup() {
    for pid in "${player_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        ip netns exec "$ns_pc" wineserver -k >/dev/null 2>&1 || true
    fi
    for ns in "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"; do ip netns del "$ns" 2>/dev/null || true; done
    [ -n "${LUMAVERT_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

# --- The LAN: PC 192.0.2.1, players .2 and .3, one bridge between them ---------------------
LAN_PC_MAC=$pc_mac make_lan "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"

# The PC's own name resolves to its veth address; each command gets the namespaces afresh.
printf '127.0.0.1 localhost\n192.0.2.1 %s pc-\351\n' "$host_name_utf8" > "$work/hosts"
cat > "$work/pc-exec" <<'EOF'
#!/bin/sh
printf "$1" > /proc/sys/kernel/hostname
mount --bind "$2" /etc/hosts
shift 2
exec "$@"
EOF
chmod +x "$work/pc-exec"
pc_exec() { # pc_exec HOSTNAME COMMAND...
    local name=$1
    shift
    ip netns exec "$ns_pc" unshare -m -u "$work/pc-exec" "$name" "$work/hosts" "$@"
}

# --- Players --------------------------------------------------------------------------------
PLAYER_OPTIONS="--expect-mac $pc_mac --expect-dest directed_broadcast"
say() { echo "$2" > "$(eval echo "\$${1}_fifo")"; } # say TAG COMMAND: a control command
pc_requests() { # NAME SUB per line, in order
    python3 -c 'import json,sys
for l in map(json.loads, open(sys.argv[1])):
    if l["event"] == "pc_request": print(l["name"], l["sub"])' "$1"
}
connect_payload() { # the first connect request's MAC, code and host name
    python3 -c 'import json,sys
for l in map(json.loads, open(sys.argv[1])):
    if l["event"] == "pc_request" and l.get("mac"):
        print(l["mac"], l["code"], l["hostname"]); break' "$1"
}
answers_within() { # every answer of the PC to a player request came within $2 ms
    python3 -c 'import json,sys
late = [l for l in map(json.loads, open(sys.argv[1]))
        if l["event"] == "pc_answer" and (l.get("late") or l["ms"] > int(sys.argv[2]))]
print(*late, sep="\n"); sys.exit(1 if late else 0)' "$1" "$2"
}

# --- Drivers --------------------------------------------------------------------------------
export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml=" HOME=$work/home
mkdir -p "$HOME"
driver() { # driver KIND OUTPUT STEP...
    local kind=$1 out=$2
    shift 2
    if [ "$kind" = native ]; then
        pc_exec "$host_name_native" "$NATIVE_DRIVER" "$@" >"$out" 2>&1
    else
        pc_exec "$host_name_wine" wine "$WIN_DRIVER" "$@" >"$out" 2>&1
    fi
}
strip_cr() { sed -i 's/\r$//' "$1"; }

run_checks() { # run_checks KIND
    local kind=$1 out=$work/$1
    echo "--- $kind driver"

    # Discovery: one free and one busy player, UTF-8 names.
    start_player a "$ns_a" --name "Wohnzimmer Ä" --product "KP-ü 100"
    start_player b "$ns_b" --name "Küche ✓" --connect-inform 1
    driver "$kind" "$out-discover" discover
    strip_cr "$out-discover"
    stop_player a
    stop_player b
    check "$kind: found 2, valid 1" has "$out-discover" "discover error=0 found=2 valid=1"
    check "$kind: UTF-8 names intact" has "$out-discover" \
        "connectInform=0 product=KP-ü 100 device=Wohnzimmer Ä"
    check "$kind: busy player listed" has "$out-discover" "ip=192.0.2.3 connectInform=1"
    check "$kind: MAC of the veth" has "$out-discover" "debug: MAC: $pc_mac_dashes"
    check "$kind: request to the directed broadcast" has "$out-discover" \
        "log: Target IP: 192.0.2.255 \\n "
    check "$kind: 6 requests with a free player answering at once" \
        equals "$(count_events "$a_log" search_request)" 6
    check "$kind: discovery left no departure" no_departures "$a_log"
    check "$kind: players exit 0" equals "$a_status$b_status" 00

    # Faulty answers are ignored: nothing found after 16 requests.
    start_player a "$ns_a" \
        --discovery-answer reserved,tag,len19,len1024,token,zero12,mac,text-extra,text-wrong
    driver "$kind" "$out-faulty" discover
    strip_cr "$out-faulty"
    stop_player a
    check "$kind: faulty answers ignored" has "$out-faulty" "discover error=5 found=0 valid=0"
    check "$kind: no device box" has "$out-faulty" \
        "box: No device found. \\nPlease check PC/Device network connection."
    check "$kind: 16 requests with no free player" \
        equals "$(count_events "$a_log" search_request)" 16
    start_player a "$ns_a" --discovery-answer len20,cut-name,unterminated
    driver "$kind" "$out-odd" discover
    strip_cr "$out-odd"
    stop_player a
    check "$kind: odd but valid answers count" has "$out-odd" "discover error=0 found=1 valid=1"

    # Without SO_BROADCAST the system refuses the broadcast.
    driver "$kind" "$out-probe" probe-broadcast 192.0.2.255
    strip_cr "$out-probe"
    check "$kind: broadcast without SO_BROADCAST refused" has "$out-probe" \
        "probe without SO_BROADCAST: error 10013"
    check "$kind: broadcast with SO_BROADCAST sent" has "$out-probe" \
        "probe with SO_BROADCAST: sent"

    # A session: the PC's requests, the player's requests, keep-alive, the player's end.
    start_player a "$ns_a" --expect-hostname "$host_name_utf8" \
        --result update=0 --result assign=0 --result play=0
    driver "$kind" "$out-session" discover open free wait-connect 5000 \
        connect 0 - wait connect 3000 state update 3 wait update 3000 \
        assign 1 0 wait assign 3000 key 0 wait play 3000 key 2 run 300 key 5 run 300 \
        key 6 run 300 key 1 wait stop 3000 status wait status 3000 state \
        run 9000 state wait-closed 15000 &
    local driver_pid=$!
    local ready=0 final=0
    await_line "$out-session" "status=0" 40 || ready=1
    sleep 0.5
    ip netns exec "$ns_pc" ss -tno state established '( dport = :62000 )' >"$out-ss" 2>&1
    say a "assignstatus 3 2"
    say a "getnext 5"
    say a "request 0x80010000 7"
    say a "request 0x80040000 1"
    say a "assignname Ä.mkv"
    say a "playstatus 2"
    # Malformed: out of step (reserved 1: it would stop the player), then a request whose
    # length is 3. Each drops what is buffered with it, so the next request waits a little.
    say a "raw 00000380010000001300040001000000"
    say a "raw 000003800000000013000300010000"
    sleep 0.5
    say a "assignstatus 4 1"
    say a "mark after malformed"
    await_line "$out-session" "fileIndex=4" 15 || final=1
    say a "end-session"
    wait "$driver_pid"
    strip_cr "$out-session"
    stop_player a
    check "$kind: session reached its status" equals "$ready" 0
    check "$kind: connect accepted" has "$out-session" "state connected=1 playing=0 playState=1"
    for slot in connect=0 update=0 assign=0 play=0 stop=0 status=0; do
        check "$kind: $slot" has "$out-session" "$slot"
    done
    check "$kind: connect payload (MAC, code, host name)" \
        equals "$(connect_payload "$a_log")" "$pc_mac 0000000000000000 $host_name_utf8"
    check "$kind: requests in order" equals "$(pc_requests "$a_log" | tr '\n' ',')" \
        "REQ_ConnectKestro 0,REQ_UpdateFileList 3,REQ_AssignFileIndex 1,REQ_PlayCtrl 0,REQ_PlayCtrl 2,REQ_PlayCtrl 5,REQ_PlayCtrl 6,REQ_PlayCtrl 1,REQ_GetStatus 1,REQ_ConnectKestro 1,"
    check "$kind: player requests took effect, malformed ones dropped" equals "$final" 0
    check "$kind: paused by the player" has "$out-session" "playing=1 playState=2 fileIndex=4 mediaType=1"
    check "$kind: unsupported subCmd logged" has "$out-session" \
        "log: REQ CTRL_REQ_CONNECT_PC: not support subCmd=7 \\n "
    check "$kind: file name logged" has "$out-session" "log: \\tFile Name: Ä.mkv"
    check "$kind: answers within 1 s" answers_within "$a_log" 1000
    check "$kind: end of session closes" has "$out-session" "closed"
    check "$kind: DoDisConnect on the player's request" has "$out-session" \
        "log: REQ CTRL_REQ_CONNECT_PC: do DoDisConnect() \\n "
    check "$kind: keep-alive set" has "$out-session" "log: OK \\n"
    check "$kind: 13 s keep-alive timer" grep -qE 'timer:\(keepalive,(1[0-3]|[1-9])(\.[0-9]+)?sec' "$out-ss"
    check "$kind: session without departure" no_departures "$a_log"

    # Split and merged packets, and the player closing the connection.
    for mode in --split --merge; do
        local out_mode=$out$mode
        start_player a "$ns_a" --result update=0 --result assign=0 --result play=0 "$mode"
        driver "$kind" "$out_mode" discover open free wait-connect 5000 connect 0 - \
            wait connect 5000 update 3 wait update 5000 status wait status 5000 \
            run 4000 state wait-closed 15000 &
        driver_pid=$!
        await_line "$out_mode" "status=0" 40 || true
        say a "assignstatus 6 3"
        say a "playstatus 0"
        await_line "$out_mode" "state connected" 20 || true
        say a "close"
        wait "$driver_pid"
        strip_cr "$out_mode"
        stop_player a
        check "$kind $mode: every packet took effect" has "$out_mode" \
            "state connected=1 playing=1 playState=0 fileIndex=6 mediaType=3"
        check "$kind $mode: the player's close ends the session" has "$out_mode" \
            "log: Socket disconnect!!!"
        check "$kind $mode: closed" has "$out_mode" "closed"
        check "$kind $mode: no departure" no_departures "$a_log"
    done
}

run_checks native
if command -v wine >/dev/null 2>&1 && [ -f "$WIN_DRIVER" ]; then
    pc_exec "$host_name_wine" sh -c 'wineboot -i >/dev/null 2>&1;
        wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f >/dev/null 2>&1;
        wineserver -k; wineserver -w'
    run_checks windows
else
    echo "SKIP windows driver: wine or $WIN_DRIVER missing"
fi

check_summary
