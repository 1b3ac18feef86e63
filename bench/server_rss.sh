#!/usr/bin/env bash
# Prints the resident memory of an idle Server.exe under Wine: a fresh prefix with the null
# graphics driver, a private network namespace (the real ports are free there), no registry key
# (so Documents\Lumavert is exported), read from /proc 5 s after the process appeared.
# MinGW's DWARF sections are part of the image and Wine keeps them resident (about 12 MB of
# RssAnon for the RelWithDebInfo build): measure a stripped copy for the program's own share.
#   bench/server_rss.sh [SERVER.EXE] [RUNS]      (default build-win/Server.exe, 3 runs; needs root)
set -euo pipefail
exe=$(realpath "${1:-build-win/Server.exe}")
runs=${2:-3}
[ -f "$exe" ] || { echo "server_rss: $exe is not built" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "server_rss: needs root (unshare -n)" >&2; exit 1; }

one_run() {
    local work
    work=$(mktemp -d "/tmp/lumavert-rss-$$.XXXXXX")
    export WINEDEBUG=-all WINEPREFIX=$work/prefix HOME=$work/home
    mkdir -p "$HOME"
    local status=0
    unshare -n bash -c '
        set -euo pipefail
        ip link set lo up
        wineboot -i >/dev/null 2>&1
        wine reg add "HKCU\Software\Wine\Drivers" /v Graphics /d null /f >/dev/null 2>&1
        wineserver -k; wineserver -w
        wine "$1" >/dev/null 2>&1 &
        # The process whose whole command line is the program (Wine shows the Unix path there) and
        # whose environment names this prefix: other prefixes may run a Server.exe too.
        pid=
        for _ in $(seq 100); do
            for p in $(pgrep -f -x "$1" || true); do
                if tr "\0" "\n" < /proc/$p/environ 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
                    pid=$p
                fi
            done
            [ -n "$pid" ] && break
            sleep 0.1
        done
        [ -n "$pid" ] || { echo "Server.exe did not start" >&2; wineserver -k; exit 1; }
        sleep 5
        rpcinfo -p 127.0.0.1 2>/dev/null | grep -q " 100003 " || echo "warning: NFS not registered" >&2
        printf "pid %s  " "$pid"
        grep -E "^(VmRSS|VmHWM|RssAnon|RssFile)" /proc/$pid/status | tr -s " \t" " " | tr "\n" " "
        echo
        wineserver -k
    ' bash "$exe" || status=$?
    rm -rf "$work"
    return $status
}

for i in $(seq "$runs"); do
    echo -n "run $i: "
    one_run
done
