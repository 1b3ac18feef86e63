#!/usr/bin/env bash
# The Linux daemon: serves its settings file's root, SIGHUP switches the export, a second
# instance refuses to start, SIGTERM stops it cleanly; the diagnostic log appears only with
# --verbose; a first start makes the default root with the file the README's example reads.
. "$(dirname "$0")/lib.sh"
enter_private_network "$@"
command -v nfs-ls >/dev/null || skip "libnfs-utils not installed"

work=$(mktemp -d)
trap 'stop_server; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -p "$work/first" "$work/second" "$HOME/Documents"
echo one > "$work/first/only-in-first.txt"
echo two > "$work/second/only-in-second.txt"
mkdir -p "$XDG_CONFIG_HOME/lumavert"
printf 'Root=%s\nHost=\nCodePage=65001\n' "$work/first" > "$XDG_CONFIG_HOME/lumavert/server.conf"

start_server
nfs-ls nfs://127.0.0.1/ | grep -q only-in-first.txt || fail "first root not exported"

# A second instance of the same user refuses with a clear message and leaves the first alone.
if "$SERVER" 2>"$work/second.log"; then fail "second instance started"; fi
grep -q "already running" "$work/second.log" || fail "no clear message: $(cat "$work/second.log")"
kill -0 "$SERVER_PID" || fail "first instance died"

# SIGHUP re-reads the settings and restarts the server on the new root.
printf 'Root=%s\n' "$work/second" > "$XDG_CONFIG_HOME/lumavert/server.conf"
kill -HUP "$SERVER_PID"
for _ in $(seq 50); do
    nfs-ls nfs://127.0.0.1/ 2>/dev/null | grep -q only-in-second.txt && break
    sleep 0.2
done
nfs-ls nfs://127.0.0.1/ | grep -q only-in-second.txt || fail "SIGHUP did not switch"

# SIGTERM: a clean stop, exit status 0, every port released.
kill -TERM "$SERVER_PID"
wait "$SERVER_PID" || fail "exit status $? after SIGTERM"
SERVER_PID=
grep -q "stopped" "$SERVER_LOG" || fail "no stop message"
if (exec 3<>/dev/tcp/127.0.0.1/2049) 2>/dev/null; then fail "port 2049 still open"; fi
! grep -q "^\[Path=" "$SERVER_LOG" || fail "diagnostic log without --verbose"

# --verbose: every mount and listing is logged.
SERVER_LOG=$work/verbose.log
start_server --verbose
nfs-ls nfs://127.0.0.1/ >/dev/null || fail "nfs-ls with --verbose"
grep -q "^\[Path=/: hwd=" "$SERVER_LOG" || fail "no mount line with --verbose: $(cat "$SERVER_LOG")"
grep -q "^\[Readdir name=" "$SERVER_LOG" || fail "no listing line with --verbose"
stop_server

# A first start (no settings file, no export folder): the default root is made with a
# Welcome.txt, which the README's first example reads; a folder that exists is left alone.
export XDG_CONFIG_HOME=$work/fresh-config HOME=$work/fresh-home
mkdir -p "$HOME"
SERVER_LOG=$work/fresh.log
start_server
grep -qF "settings from $XDG_CONFIG_HOME/lumavert/server.conf" "$SERVER_LOG" ||
    fail "the real settings path is not named: $(cat "$SERVER_LOG")"
nfs-cat nfs://127.0.0.1//Welcome.txt | grep -q "lumavert-server exports this folder" ||
    fail "no Welcome.txt in a fresh export: $(cat "$SERVER_LOG")"
stop_server
rm "$HOME/Documents/Lumavert/Welcome.txt"
start_server
[ ! -e "$HOME/Documents/Lumavert/Welcome.txt" ] || fail "Welcome.txt made in a folder that exists"
stop_server
echo "PASS: linux daemon"
