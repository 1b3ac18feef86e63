#!/usr/bin/env bash
# The Windows build's Server.exe under Wine, serving a folder set in the registry, read from the
# Linux side by libnfs: a listing and a 16 MiB file compared byte for byte. Runs in a private
# network namespace so that the real ports 111/635/2049 are free.
source "$(dirname "$0")/lib.sh"

command -v wine >/dev/null 2>&1 || skip "wine is not installed"
for tool in nfs-ls nfs-cat; do
    command -v "$tool" >/dev/null || skip "$tool missing (package libnfs-utils)"
done
server_exe=${LUMAVERT_WIN_BUILD_DIR:-$SOURCE/build-win}/Server.exe
[ -f "$server_exe" ] || skip "$server_exe is not built"
enter_private_network "$@"

work=$(mktemp -d /tmp/lumavert-windows-daemon.XXXXXX)
export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
# Wine links Documents to $HOME: keep it inside the work folder.
export HOME=$work/home LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME"
server_pid=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$server_pid" ]; then wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

win_path() { printf 'Z:%s' "${1//\//\\}"; }

root=$work/served
mkdir -p "$root/folder"
head -c 16M /dev/urandom > "$root/movie.bin"
echo "inside" > "$root/folder/note.txt"

wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKCU\SOFTWARE\Lumavert' /v Root /t REG_SZ /d "$(win_path "$root")" /f >/dev/null 2>&1
wine reg add 'HKCU\SOFTWARE\Lumavert' /v CodePage /t REG_DWORD /d 65001 /f >/dev/null 2>&1
wineserver -w
started=$SECONDS

wine "$server_exe" >/dev/null 2>&1 &
server_pid=$!
check "Server.exe listens on 2049" wait_for_port 2049 60

listing=$(timeout 30 nfs-ls "nfs://127.0.0.1/" 2>&1) || true
lists() { grep -qF -- "$1" <<<"$listing" || { echo "  not listed: $1"; return 1; }; }
check "nfs-ls lists movie.bin" lists movie.bin
check "nfs-ls lists folder" lists folder
[ "$CHECKS_FAILED" -eq 0 ] || printf '%s\n' "$listing" | sed 's/^/    /'

timeout 60 nfs-cat "nfs://127.0.0.1//movie.bin" > "$work/movie.out" 2>"$work/cat.err" ||
    sed 's/^/    /' "$work/cat.err"
check "nfs-cat of 16 MiB through Wine is byte-identical" cmp "$root/movie.bin" "$work/movie.out"
note=$(timeout 30 nfs-cat "nfs://127.0.0.1/folder/note.txt" 2>&1) || true
check "a file of a mounted subfolder" test "$note" = "inside"

echo "scenario took $((SECONDS - started)) s"
check_summary
