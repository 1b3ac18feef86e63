# A PC and two players on a LAN of network namespaces, for the end-to-end scenario and the
# hand-off benchmark: the PC (192.0.2.1, its own MAC and host name) runs every Wine command of a
# fresh prefix, the players .2 and .3 run kestro-player. Needs lib.sh, PLAYER and win_build.
# Every name made here carries the caller's PID.

id=$$
ns_pc=lmv-e2e-pc-$id ns_lan=lmv-e2e-lan-$id ns_a=lmv-e2e-a-$id ns_b=lmv-e2e-b-$id
work=$(mktemp -d /tmp/lumavert-e2e.$id.XXXXXX)
pc_mac=02:4c:45:$(printf '%02x:%02x:%02x' $((id >> 16 & 255)) $((id >> 8 & 255)) $((id & 255)))
host_name=lumavert-pc
player_pids=()

cleanup() {
    for pid in "${player_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        ip netns exec "$ns_pc" wineserver -k >/dev/null 2>&1 || true
    fi
    for ns in "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"; do ip netns del "$ns" 2>/dev/null || true; done
    [ -n "${LUMAVERT_KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }
has() { grep -qF -- "$2" "$1" || { echo "  no [$2] in $1:"; tail -30 "$1" | sed 's/^/    /'; return 1; }; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# --- The LAN: PC 192.0.2.1, players .2 and .3 on one bridge ----------------------------------
for ns in "$ns_pc" "$ns_lan" "$ns_a" "$ns_b"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
done
ip -n "$ns_lan" link add br0 type bridge
ip -n "$ns_lan" link set br0 up
for pair in "$ns_pc:pc$id:192.0.2.1" "$ns_a:pa$id:192.0.2.2" "$ns_b:pb$id:192.0.2.3"; do
    IFS=: read -r ns port address <<<"$pair"
    ip link add eth0 netns "$ns" type veth peer name "$port" netns "$ns_lan"
    ip -n "$ns_lan" link set "$port" master br0 up
    ip -n "$ns" addr add "$address/24" brd + dev eth0
done
ip -n "$ns_pc" link set eth0 address "$pc_mac"
for ns in "$ns_pc" "$ns_a" "$ns_b"; do ip -n "$ns" link set eth0 up; done
ip -n "$ns_pc" route add default dev eth0

# Every Wine command runs on the PC with its host name resolving to the veth address.
printf '127.0.0.1 localhost\n192.0.2.1 %s\n' "$host_name" >"$work/hosts"
pc() {
    ip netns exec "$ns_pc" unshare -m -u sh -c \
        'hostname "$0"; mount --bind "$1" /etc/hosts; shift; exec "$@"' \
        "$host_name" "$work/hosts" "$@"
}
export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=$work/home LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME"
if [ -n "${PC_LAN_DISPLAY:-}" ]; then
    # For screenshots: a virtual desktop with its taskbar on the X display $DISPLAY.
    pc sh -c 'wineboot -i >/dev/null 2>&1;
        wine reg add "HKCU\\Software\\Wine\\Explorer" /v Desktop /d Default /f >/dev/null 2>&1;
        wine reg add "HKCU\\Software\\Wine\\Explorer\\Desktops" /v Default /d 1024x768 /f >/dev/null 2>&1;
        wineserver -w'
else
    pc sh -c 'wineboot -i >/dev/null 2>&1;
        wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f >/dev/null 2>&1;
        wineserver -k; wineserver -w'
fi

probe() { pc wine "$win_build/tests/ManagerProbe.exe" "$@" >"$work/probe.out" 2>/dev/null || true
    tr -d '\r' <"$work/probe.out"; }
reg_root() { pc wine "$win_build/tests/ServerProbe.exe" reg-get "$1" >"$work/reg.out" 2>/dev/null || true
    tr -d '\r' <"$work/reg.out"; }
log_has() { # the main dialog's log holds the line $1
    probe log >"$work/log.txt"
    grep -qxF -- "$1" "$work/log.txt" || { echo "  no [$1] in the log:"; tail -15 "$work/log.txt" | sed 's/^/    /'; return 1; }
}
# The right-click: the DLL's Initialize, QueryContextMenu and InvokeCommand on the paths.
right_click() {
    local paths=() p
    for p in "$@"; do paths+=("$(win_path "$p")"); done
    LUMAVERT_TAVOMENU64=$(win_path "$win_build/shellext/Tavomenu64.dll") \
        pc wine "$win_build/tests/TavomenuDriver.exe" --hand-off "${paths[@]}" >/dev/null 2>&1
}

# --- Players --------------------------------------------------------------------------------
player_runs=0
start_player() { # start_player TAG NAMESPACE OPTION...: sets <TAG>_pid, <TAG>_log, <TAG>_fifo
    local tag=$1 ns=$2
    shift 2
    local log=$work/$tag-$((++player_runs)).log fifo=$work/$tag-$player_runs.fifo
    ip netns exec "$ns" "$PLAYER" --log "$log" --control "$fifo" --expect-mac "$pc_mac" \
        --expect-dest directed_broadcast --expect-hostname "$host_name" "$@" \
        >>"$work/players.out" 2>&1 &
    player_pids+=($!)
    eval "${tag}_pid=$!; ${tag}_log=$log; ${tag}_fifo=$fifo"
    local i
    for ((i = 0; i < 50; i++)); do
        grep -q '"event":"start"' "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "player $tag did not start: $(cat "$work/players.out")"
}
stop_player() { # stop_player TAG: quits it; its exit status (1 after a departure) is checked
    local tag=$1 pid_var=${1}_pid fifo_var=${1}_fifo log_var=${1}_log status=0
    echo quit >"${!fifo_var}"
    wait "${!pid_var}" || status=$?
    check "player $tag ($(basename "${!log_var}")) saw no departure" no_departures "${!log_var}"
    check "... and exited 0" equals "$status" 0
}
no_departures() { ! grep '"event":"departure"' "$1" | sed 's/^/  /' | grep -q .; }
await() { # await FILE TEXT SECONDS
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "  waited in vain for [$2] in $1"
    return 1
}
# The PC ended the session: a close, or a reset when the player's answer to REQ_ConnectKestro 1
# came in before the close and was never read.
pc_ended() { # pc_ended LOG SECONDS
    await "$1" '"event":"session_end"' "$2" || return 1
    case $(field "$1" session_end reason) in "pc closed" | "pc reset") ;; *) field "$1" session_end reason; return 1 ;; esac
}
count_events() { grep -c "\"event\":\"$2\"" "$1" || true; }
field() { # field LOG EVENT KEY [N]: KEY of the Nth (default last) EVENT line
    python3 -c 'import json,sys
lines = [l for l in map(json.loads, open(sys.argv[1])) if l["event"] == sys.argv[2]]
n = int(sys.argv[4]) if len(sys.argv) > 4 else -1
print(lines[n].get(sys.argv[3], "") if lines else "none")' "$@"
}
pc_requests() { # NAME SUB[/code], in order
    python3 -c 'import json,sys
for l in map(json.loads, open(sys.argv[1])):
    if l["event"] == "pc_request":
        extra = "/" + l["code"] if l.get("sub") == 2 and "code" in l else ""
        print(l["name"], str(l["sub"]) + extra, end=",")' "$1"
}
lists() { python3 -c 'import json,sys
l = [l for l in map(json.loads, open(sys.argv[1])) if l["event"] == "lists"][-1]
print("video=" + "|".join(l["video"]), "audio=" + "|".join(l["audio"]), "image=" + "|".join(l["image"]))' "$1"; }
last_requests() { # the last $2 requests of the PC, "NAME SUB" joined by ","
    python3 -c 'import json,sys
r = [l["name"] + " " + str(l["sub"]) for l in map(json.loads, open(sys.argv[1])) if l["event"] == "pc_request"]
print(",".join(r[-int(sys.argv[2]):]))' "$1" "$2"
}
hex8() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; printf '%0*d' $((16 - 2 * ${#1})) 0; }

say() { echo "$2" >"$(eval echo "\$${1}_fifo")"; } # say TAG COMMAND: a player's control command

# The installed folder (the manager, the server, the help file, the extension) and the manager
# started alone, beside a stand-in taskbar (the virtual desktop's own with PC_LAN_DISPLAY); sets manager (its PID).
start_manager() {
    app=$work/app
    mkdir -p "$app"
    cp "$win_build/Lumavert.exe" "$win_build/Server.exe" "$win_build/Lumavert Help.txt" \
        "$win_build/shellext/Tavomenu64.dll" "$app/"
    [ -n "${PC_LAN_DISPLAY:-}" ] ||
        pc wine "$win_build/tests/ManagerProbe.exe" taskbar "$(win_path "$work/taskbar.log")" \
            >/dev/null 2>&1 &
    pc wine "$app/Lumavert.exe" >/dev/null 2>&1 &
    manager=$!
    probe wait-manager 40 >/dev/null
}
