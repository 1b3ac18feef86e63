# A simulated LAN for the manager's scenarios: network namespaces for the PC, a bridge and the
# players (TEST-NET-1 addresses), the simulated players on it, and checks of their JSON logs.
# Source after lib.sh; the caller sets `work` (its temporary folder) and PLAYER.

has() { grep -qF -- "$2" "$1" || { echo "  no [$2] in $1:"; sed 's/^/    /' "$1" | tail -40; return 1; }; }
has_not() { ! grep -qF -- "$2" "$1" || { echo "  [$2] in $1"; return 1; }; }
equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }

# make_lan PC_NS LAN_NS PLAYER_NS... [PC_MAC]: the PC at 192.0.2.1, the players at .2, .3, ...,
# one bridge between them, and a default route on the PC (a send to 255.255.255.255 needs one).
make_lan() {
    local pc=$1 lan=$2 mac=${LAN_PC_MAC:-}
    shift 2
    local ns host=1 pair port address
    for ns in "$pc" "$lan" "$@"; do
        ip netns add "$ns"
        ip -n "$ns" link set lo up
    done
    ip -n "$lan" link add br0 type bridge
    ip -n "$lan" link set br0 up
    local pairs=("$pc:pc:192.0.2.1")
    for ns in "$@"; do pairs+=("$ns:p$((++host)):192.0.2.$host"); done
    for pair in "${pairs[@]}"; do
        IFS=: read -r ns port address <<<"$pair"
        ip link add eth0 netns "$ns" type veth peer name "$port" netns "$lan"
        ip -n "$lan" link set "$port" master br0 up
        ip -n "$ns" addr add "$address/24" brd + dev eth0
    done
    [ -z "$mac" ] || ip -n "$pc" link set eth0 address "$mac"
    for ns in "$pc" "$@"; do ip -n "$ns" link set eth0 up; done
    ip -n "$pc" route add default dev eth0
}

# pc_command PC_NS NAME: defines `pc CMD...`, which runs CMD on the PC with host name NAME
# resolving to 192.0.2.1 (a UTS and mount namespace of its own per command; files in $work).
pc_command() {
    pc_ns=$1
    printf '127.0.0.1 localhost\n192.0.2.1 %s\n' "$2" >"$work/hosts"
    printf '#!/bin/sh\nprintf %s >/proc/sys/kernel/hostname\nmount --bind "$1" /etc/hosts\nshift\nexec "$@"\n' \
        "$2" >"$work/pc-exec"
    chmod +x "$work/pc-exec"
}
pc() { ip netns exec "$pc_ns" unshare -m -u "$work/pc-exec" "$work/hosts" "$@"; }

# start_player TAG NAMESPACE OPTION...: kestro-player with $PLAYER_OPTIONS and the options;
# sets <TAG>_pid, <TAG>_log, <TAG>_fifo and adds the PID to player_pids.
player_runs=0
player_pids=()
start_player() {
    local tag=$1 ns=$2
    shift 2
    local log=$work/$tag-$((++player_runs)).log fifo=$work/$tag.fifo
    # shellcheck disable=SC2086
    ip netns exec "$ns" "$PLAYER" --log "$log" --control "$fifo" ${PLAYER_OPTIONS:-} "$@" \
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
stop_player() { # stop_player TAG: quits it; its exit status is in <TAG>_status
    local tag=$1
    local pid_var=${tag}_pid fifo_var=${tag}_fifo
    echo quit > "${!fifo_var}"
    local status=0
    wait "${!pid_var}" || status=$?
    eval "${tag}_status=$status"
}

departures() { grep '"event":"departure"' "$1" || true; }
no_departures() { local d; d=$(departures "$1"); [ -z "$d" ] || { echo "  $d"; return 1; }; }
count_events() { grep -c "\"event\":\"$2\"" "$1" || true; }
await_line() { # await_line FILE TEXT SECONDS
    local i
    for ((i = 0; i < $3 * 10; i++)); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "  waited in vain for [$2] in $1"
    return 1
}
