#!/usr/bin/env bash
# Lumavert.exe under Wine, watched and driven from outside: start-up with the real Server.exe
# (exactly one hidden topmost main dialog, the server replaced, the tray icon), a second start,
# a hand-off, one after the Server was killed (started again, then acknowledged), the
# hidden-window rule, the tray callback's status popup, the About box, a re-created taskbar and
# Quit; then the supervision of Server.exe with a stand-in server (one deaf to the close
# request, none at all, one that never shows its window, one slow to take messages, a decoy in
# the current directory).
# In a private network namespace (Server.exe takes the NFS ports), with a fresh prefix.
source "$(dirname "$0")/lib.sh"

command -v wine >/dev/null 2>&1 || skip "wine is not installed"
enter_private_network

win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
for f in Lumavert.exe Server.exe "Lumavert Help.txt" shellext/Tavomenu64.dll \
    tests/ManagerProbe.exe tests/StubServer.exe; do
    [ -f "$win_build/$f" ] || fail "$win_build/$f is not built"
done

work=$(mktemp -d /tmp/lumavert-manager-exe.$$.XXXXXX)
start_wine_prefix "$work"

probe() { wine "$win_build/tests/ManagerProbe.exe" "$@" 2>/dev/null | tr -d '\r'; }
server_probe() { wine "$win_build/tests/ServerProbe.exe" "$@" 2>/dev/null | tr -d '\r'; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }
equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }
contains() { grep -qF -- "$2" <<<"$1" || { echo "  [$1] lacks [$2]"; return 1; }; }
between() { [ "$1" -ge "$2" ] && [ "$1" -le "$3" ] || { echo "  $1 not in $2..$3"; return 1; }; }
alive() { kill -0 "$1" 2>/dev/null; }
# Waits up to $2 seconds for the process $1 to end; its exit code in $exit_code.
ended_within() {
    local end=$((SECONDS + $2))
    while alive "$1" && [ $SECONDS -lt $end ]; do sleep 0.2; done
    alive "$1" && return 1
    set +e; wait "$1"; exit_code=$?; set -e
    return 0
}
ms() { date +%s%3N; }
nim_count() { grep -c "^NIM $1 " "$work/taskbar.log" || true; }

# The installed folder: the manager, the real server, the help file and the extension.
app=$work/app
mkdir -p "$app"
cp "$win_build/Lumavert.exe" "$win_build/Server.exe" "$win_build/Lumavert Help.txt" \
    "$win_build/shellext/Tavomenu64.dll" "$app/"

started=$SECONDS

# No taskbar under the null driver: the probe owns one along the bottom of the screen.
wine "$win_build/tests/ManagerProbe.exe" taskbar "$(win_path "$work/taskbar.log")" \
    >/dev/null 2>&1 &
read -r screen_x screen_y <<<"$(probe screen)"
sleep 1

# --- Start-up with the real Server.exe, one already running ---
wine "$app/Server.exe" >/dev/null 2>&1 &
server_probe wait-app 30 >/dev/null
old_server=$(probe server-pid)
check "an old Server runs" test "$old_server" != none
wine "$app/Lumavert.exe" >/dev/null 2>&1 &
manager=$!
check "main dialog appears" probe wait-manager 40
new_server=none
for _ in $(seq 1 100); do
    new_server=$(probe server-pid)
    [ "$new_server" != none ] && [ "$new_server" != "$old_server" ] && break
    sleep 0.2
done
check "the running Server is replaced" test "$new_server" != none -a "$new_server" != "$old_server"
check "one hidden topmost main dialog, nothing visible" equals "$(probe windows)" \
    "main=1 visible=0 shown=no topmost=yes"
check "NIM_ADD with 150, 1026, Lumavert" grep -qx "NIM 0 150 1026 Lumavert" "$work/taskbar.log"

second_start=$SECONDS
set +e; timeout 30 wine "$app/Lumavert.exe" >/dev/null 2>&1; second=$?; set -e
check "a second start exits 1" equals "$second" 1
check "... at once" test $((SECONDS - second_start)) -lt 10
check "... and leaves the Server alone" equals "$(probe server-pid)" "$new_server"
check "the first manager stays" probe wait-manager 1

# --- A hand-off from the extension reaches the session: the registry, the server's reload ---
share="$work/Фильмы 100%s"
mkdir -p "$share"
probe hand-off 1 "$(win_path "$share")" >/dev/null
probe hand-off 0 >/dev/null # no block
check "wParam 1 and a missing block are ignored" equals "$(server_probe reg-get Root)" "no key"
check "... and log nothing" bash -c "! wine '$win_build/tests/ManagerProbe.exe' log 2>/dev/null | grep -q 'New share'"
probe hand-off 0 "" >/dev/null
check "an empty folder is logged" contains "$(probe log)" "New share: "
check "... and stored nowhere" equals "$(server_probe reg-get Root)" "no key"
probe hand-off 0 "$(win_path "$share")" >/dev/null
check "the folder becomes Root" equals "$(server_probe reg-get Root)" "sz:$(win_path "$share")"
check "... with CodePage 65001" equals "$(server_probe reg-get CodePage)" "dword:65001"
acked=no
for _ in $(seq 1 50); do
    probe log | grep -qx "Set Server: OK!" && { acked=yes; break; }
    sleep 0.2
done
check "the server's acknowledgement reaches the session" equals "$acked" yes
check "... after the log was emptied and the broadcast" equals "$(probe log | head -3 | tr '\n' '|')" \
    "Set Server setting: start|Set to Server...|Set Server: OK!|"
# Then discovery: on this network without adapters it finds nobody and says so.
check "... then discovery reports no player" equals "$(probe error-box 20)" \
    "$(printf 'No device found. \nPlease check PC/Device network connection.')"

# --- A Server that has ended is started again by the next hand-off, which is then acknowledged ---
killed=$(probe server-pid)
wine taskkill /F /PID "$killed" >/dev/null 2>&1 || true
gone=no
for _ in $(seq 1 50); do
    [ "$(probe server-pid)" = none ] && { gone=yes; break; }
    sleep 0.2
done
check "the Server this scenario started is killed by its pid" equals "$gone" yes
after="$work/После 2"
mkdir -p "$after"
probe hand-off 0 "$(win_path "$after")" >/dev/null
acked=no
for _ in $(seq 1 100); do
    probe log | grep -qx "Set Server: OK!" && { acked=yes; break; }
    sleep 0.2
done
check "after the kill the Server is started again before the broadcast" equals \
    "$(probe log | head -3 | tr '\n' '|')" "Set Server setting: start|Server has ended: restart|Set to Server...|"
restarted=$(probe server-pid)
check "... which runs under a new pid" test "$restarted" != none -a "$restarted" != "$killed"
check "... with the new Root" equals "$(server_probe reg-get Root)" "sz:$(win_path "$after")"
check "... and acknowledges the hand-off" equals "$(probe log | sed -n 4p)" "Set Server: OK!"
check "... then discovery goes on" equals "$(probe error-box 20)" \
    "$(printf 'No device found. \nPlease check PC/Device network connection.')"
new_server=$restarted

# --- The hidden-window rule ---
probe send "Debug To Manager AP" 0 1 >/dev/null
check "Debug 0,1 shows the main dialog" contains "$(probe windows)" "shown=yes"
probe send "Debug To Manager AP" 0 0 >/dev/null
check "Debug 0,0 hides it" contains "$(probe windows)" "shown=no"
probe send "Debug To Manager AP" 0 1 >/dev/null
probe post 16 0 0 >/dev/null # WM_CLOSE
sleep 0.5
check "WM_CLOSE hides it" contains "$(probe windows)" "shown=no"
probe show-outside >/dev/null
sleep 0.5
check "an outside ShowWindow leaves it hidden" equals "$(probe windows)" \
    "main=1 visible=0 shown=no topmost=yes"

# --- The tray icon's callback, the About box, a new taskbar ---
probe post 1026 150 514 >/dev/null # WM_LBUTTONUP
popup=$(probe popup 10)
check "left click shows Not Connected" contains "$popup" "status [Not Connected]"
check "... with no Stop Streaming" contains "$popup" "stop hidden"
check "... in the free area's corner" contains "$popup" \
    "rect $((screen_x - 369)) $((screen_y - 40 - 100)) $screen_x $((screen_y - 40))"
probe post 273 32775 0 >/dev/null # About
check "About shows the three versions" equals "$(probe about 10 | tr '\n' '|')" \
    "Lumavert AP Version 1.0.0.0|Copyright (C) 2026 Lumavert|Lumavert Server Version 1.0.0.0|Lumavert DLL Version 1.0.0.0|"
adds=$(nim_count 0)
probe send TaskbarCreated 0 0 >/dev/null
check "TaskbarCreated adds the icon again" equals "$(nim_count 0)" $((adds + 1))

probe post 273 32773 0 >/dev/null # Quit
check "Quit ends the manager" ended_within "$manager" 15
check "... with exit code 0" equals "$exit_code" 0
check "... after NIM_DELETE" equals "$(tail -1 "$work/taskbar.log")" "NIM 2 150 1026 Lumavert"
check "... and the Server still runs" equals "$(probe server-pid)" "$new_server"

# --- Supervision, with a stand-in server ---
stub_app=$work/stub-app
mkdir -p "$stub_app"
cp "$win_build/Lumavert.exe" "$stub_app/"
cp "$win_build/tests/StubServer.exe" "$stub_app/Server.exe"
cp "$win_build/tests/StubServer.exe" "$stub_app/OtherServer.exe"
export LUMAVERT_STUB_LOG=$(win_path "$work/stub.log")

# A deaf Server is terminated after the 501 polls of its close request, while a program whose
# name merely contains "Server.exe" lives on. (The real one is closed first: with two server
# windows the manager would close one and wait for both.)
server_probe close >/dev/null
check "the real Server ends on its close request" server_probe gone-app 15
LUMAVERT_STUB=ignore-close wine "$stub_app/Server.exe" >/dev/null 2>&1 &
deaf=$!
check "a deaf stand-in Server runs" server_probe wait-app 15
LUMAVERT_STUB=no-window wine "$stub_app/OtherServer.exe" >/dev/null 2>&1 &
sleep 1
before=$(ms)
LUMAVERT_STUB=normal wine "$stub_app/Lumavert.exe" >/dev/null 2>&1 &
manager=$!
check "the deaf Server is ended" ended_within "$deaf" 30
deaf_ms=$(($(ms) - before))
check "... after about 5 s" between "$deaf_ms" 4000 9000
check "OtherServer.exe survives" equals "$(probe running OtherServer.exe)" yes
check "the manager runs with a new Server" probe wait-manager 20
probe post 273 32773 0 >/dev/null
check "quit" ended_within "$manager" 15

# A Server whose window comes 8 s before it takes messages, as a first start that is slow: the
# manager waits for it, and the first hand-off's broadcast reaches it and is acknowledged.
LUMAVERT_STUB=slow-start wine "$stub_app/Lumavert.exe" >/dev/null 2>&1 &
manager=$!
check "slow Server: the manager starts" probe wait-manager 40
probe health 20000 >/dev/null # the hand-off once the manager takes messages
probe hand-off 0 "$(win_path "$share")" >/dev/null
acked=no
for _ in $(seq 1 100); do
    probe log | grep -qx "Set Server: OK!" && { acked=yes; break; }
    probe log | grep -qx "Set Server: TimeOut!" && break
    sleep 0.2
done
check "slow Server: the first hand-off is acknowledged" equals "$acked" yes
probe error-box 20 >/dev/null # discovery's or the failure's box, closed
probe post 273 32773 0 >/dev/null
check "quit" ended_within "$manager" 15

# No Server.exe beside the manager: the old one is closed first, then the box, then the end.
lone_app=$work/lone-app
mkdir -p "$lone_app"
cp "$win_build/Lumavert.exe" "$lone_app/"
wine "$lone_app/Lumavert.exe" >/dev/null 2>&1 &
manager=$!
box=$(probe error-box 30)
check "missing Server.exe: the box" equals "$box" \
    "$(printf 'Lost important file: Server.exe\nIf this problem persists, you may solve it by reinstall the application.')"
check "... OK ends the manager" ended_within "$manager" 15
check "... with exit code 0" equals "$exit_code" 0
check "... the old Server was closed" equals "$(probe server-pid)" none

# A Server that never shows its window: "Fail to reset Server" after about 10 s.
before=$(ms)
LUMAVERT_STUB=no-window wine "$stub_app/Lumavert.exe" >/dev/null 2>&1 &
manager=$!
box=$(probe error-box 40)
silent_ms=$(($(ms) - before))
check "silent Server: Fail to reset Server" equals "$box" "Fail to reset Server"
check "... after about 10 s" between "$silent_ms" 9000 20000
check "... OK ends the manager" ended_within "$manager" 15

# A decoy Server.exe in the current directory of a bare command line never runs: the server
# comes from the manager's own folder.
decoy=$work/decoy
mkdir -p "$decoy"
cp "$win_build/tests/StubServer.exe" "$decoy/Server.exe"
: >"$work/stub.log"
LUMAVERT_STUB=normal wine "$win_build/tests/ManagerProbe.exe" launch-bare \
    "$(win_path "$stub_app/Lumavert.exe")" "$(win_path "$decoy")" >/dev/null 2>&1 &
launcher=$!
check "bare command line: the manager starts" probe wait-manager 30
for _ in $(seq 1 100); do [ -s "$work/stub.log" ] && break; sleep 0.1; done
check "... the server beside it started" grep -qF "$(win_path "$stub_app/Server.exe")" "$work/stub.log"
# Wine hands a program started with an empty command line its quoted path instead.
check "... with no arguments" grep -qE 'Server\.exe (\[\]|\["[^"]*Server\.exe"\])$' "$work/stub.log"
check "... the decoy never ran" bash -c "! grep -qiF decoy '$work/stub.log'"
probe post 273 32773 0 >/dev/null
check "quit" ended_within "$launcher" 15
check "... with exit code 0" equals "$exit_code" 0

echo "scenario took $((SECONDS - started)) s"
check_summary
