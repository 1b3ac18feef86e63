#!/usr/bin/env bash
# Server.exe under Wine, driven from outside like the manager does: single instance, the default
# export, reload through "CMD To NFS Server" with its acknowledgement, the error box of a badly
# typed registry value, the settings form's "Ok", and the close request. Runs in a private
# network namespace so that the real ports 111/635/2049 are free.
source "$(dirname "$0")/lib.sh"

command -v wine >/dev/null 2>&1 || skip "wine is not installed"
enter_private_network

win_build=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}
server_exe=$win_build/Server.exe
probe_exe=$win_build/tests/ServerProbe.exe
for f in "$server_exe" "$probe_exe"; do
    [ -f "$f" ] || fail "$f is not built"
done

work=$(mktemp -d /tmp/lumavert-server-exe.$$.XXXXXX)
start_wine_prefix "$work"

probe() { wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
win_path() { printf 'Z:%s' "${1//\//\\}"; }
nfs_list() { timeout 20 nfs-ls nfs://127.0.0.1/ 2>&1 || true; }
lists() { nfs_list | grep -q -- "$1"; }
lists_not() { ! nfs_list | grep -q -- "$1"; }
form_hidden_for() { ! probe wait-form "$1" shown >/dev/null; }
form() { probe debug 0 "$1" >/dev/null && probe wait-form 10 "$2" >/dev/null; } # form 1 shown
rpc_up() { # rpc_up SECONDS: the portmapper answers with NFS registered
    local end=$((SECONDS + $1))
    while [ $SECONDS -lt $end ]; do
        rpcinfo -p 127.0.0.1 2>/dev/null | grep -q ' 100003 ' && return 0
        sleep 0.2
    done
    return 1
}
rpc_down() { ! rpcinfo -p 127.0.0.1 >/dev/null 2>&1; }
equals() { [ "$1" = "$2" ] || { echo "  expected [$2], got [$1]"; return 1; }; }

started=$SECONDS

# Start: no registry key, so Documents\Lumavert is exported.
documents_list=$HOME/Lumavert
wine "$server_exe" >/dev/null 2>&1 &
server_pid=$!
check "application window appears" probe wait-app 30
check "server answers with the default settings" rpc_up 20
check "Documents\\Lumavert was made" test -d "$documents_list"
echo default > "$documents_list/default-export.txt"
check "default export lists Documents\\Lumavert" lists default-export.txt
check "start does not create the key" equals "$(probe reg-get Root)" "no key"

# A second instance ends at once and silently; the first keeps serving.
second_start=$SECONDS
check "second instance exits with 0" timeout 20 wine "$server_exe"
check "second instance took under 10 s" test $((SECONDS - second_start)) -lt 10
check "first instance still serves" lists default-export.txt

check "version resource" equals "$(probe version "$(win_path "$server_exe")" | head -2 | tr '\n' ' ')" \
    "FileDescription=Lumavert Server FileVersion=1.0.0.0 "

# The manager's path: a UTF-16 root outside the ANSI code page, then the reload command.
manager_root=$work/Фильмы-日本
mkdir -p "$manager_root"
echo m > "$manager_root/manager-export.txt"
probe reg-set-sz Root "$(win_path "$manager_root")" >/dev/null
probe reg-set-dword CodePage 65001 >/dev/null
check "reload is acknowledged" equals "$(probe reload 15)" "ack"
check "new mount sees the manager's folder" lists manager-export.txt
check "old folder no longer exported" lists_not default-export.txt

# A CodePage stored as a string: error box without a full stop after the quote, server stopped,
# no acknowledgement.
probe reg-set-sz CodePage 1252 >/dev/null
check "no acknowledgement for a bad registry" equals "$(probe reload 3)" "no ack"
check "error box names the value" equals "$(probe error-box 10)" "Invalid data type for 'CodePage'"
check "server stays stopped" rpc_down
probe reg-set-dword CodePage 65001 >/dev/null
check "reload after the fix is acknowledged" equals "$(probe reload 15)" "ack"
check "server serves again" lists manager-export.txt

# The developer's show message: the form appears with the code pages in numeric order.
probe debug 1 1 >/dev/null
check "DEBUG 1,1 leaves the form hidden" form_hidden_for 1
check "DEBUG 0,1 shows the form" form 1 shown
order=$(probe form-codepages | grep -E '^(437|850|1252) ' | cut -d' ' -f1 | tr '\n' ' ')
check "code pages in numeric order" equals "$order" "437 850 1252 "

# "Ok" with the manager's root unchanged keeps it exactly.
check "Ok with the same root" equals "$(probe form-ok "$(win_path "$manager_root")" 10)" ""
check "Unicode root survives Ok" equals "$(probe reg-get Root)" "sz:$(win_path "$manager_root")"
check "export unchanged after Ok" lists manager-export.txt

# "Ok" with a typed folder writes it and moves the export.
form_root=$work/Ωmega-é
mkdir -p "$form_root"
echo f > "$form_root/form-export.txt"
form 1 shown
check "Ok with a typed folder" equals "$(probe form-ok "$(win_path "$form_root")" 10)" ""
check "registry follows the form" equals "$(probe reg-get Root)" "sz:$(win_path "$form_root")"
check "export follows the form" lists form-export.txt
form 1 shown
check "DEBUG 0,0 hides the form" form 0 hidden

# The close request ends the process.
check "close request sent" probe close
check "application window gone" probe gone-app 15
ended=0
for _ in $(seq 1 100); do
    kill -0 "$server_pid" 2>/dev/null || { ended=1; break; }
    sleep 0.1
done
check "Server.exe process ended" test $ended = 1
check "ports released" rpc_down

echo "scenario took $((SECONDS - started)) s"
check_summary
