#!/usr/bin/env bash
# libnfs's command-line tools against lumavert-server on the real ports: a recursive listing with
# spaces and UTF-8 in names, a 64 MiB read and a 64 MiB write compared byte for byte, and a file
# read through a mounted subfolder. Runs in a private network namespace.
source "$(dirname "$0")/lib.sh"
enter_private_network "$@"
[ -x "$SERVER" ] || fail "$SERVER is not built"
for tool in nfs-ls nfs-cat nfs-cp; do
    command -v "$tool" >/dev/null || skip "$tool missing (package libnfs-utils)"
done

work=$(mktemp -d /tmp/lumavert-libnfs-tools.XXXXXX)
trap 'stop_server; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config LANG=C.UTF-8 LC_ALL=C.UTF-8
root=$work/root
mkdir -p "$HOME" "$root/a folder/inner" "$root/Ünïcödé ñ" "$root/sub/deeper"
echo one > "$root/a folder/file one.txt"
echo two > "$root/a folder/inner/two  spaces.txt"
echo jp > "$root/Ünïcödé ñ/日本語.txt"
echo "sub file" > "$root/sub/file"
echo deeper > "$root/sub/deeper/x"
head -c 64M /dev/urandom > "$root/big.bin"
head -c 64M /dev/urandom > "$work/upload.bin"

url() { printf 'nfs://127.0.0.1/%s%s' "$1" "$NFS_OPTS"; }

start_server --root "$root" --codepage 65001
started=$SECONDS

listing=$(timeout 60 nfs-ls -R "$(url "")" 2>&1) || true
lists() { grep -qF -- "$1" <<<"$listing" || { echo "  not listed: $1"; return 1; }; }
for name in "a folder/file one.txt" "a folder/inner/two  spaces.txt" "Ünïcödé ñ/日本語.txt" \
    "sub/deeper/x" "big.bin"; do
    check "nfs-ls -R lists $name" lists "$name"
done
[ "$CHECKS_FAILED" -eq 0 ] || printf '%s\n' "$listing" | sed 's/^/    /'

timeout 60 nfs-cat "$(url /big.bin)" > "$work/big.out" 2>"$work/cat.err" || true
check "nfs-cat of 64 MiB is byte-identical" cmp "$root/big.bin" "$work/big.out"

timeout 60 nfs-cp "$work/upload.bin" "$(url /upload.bin)" >"$work/cp.log" 2>&1 || cat "$work/cp.log"
check "nfs-cp of 64 MiB lands byte-identical" cmp "$work/upload.bin" "$root/upload.bin"

sub=$(timeout 20 nfs-cat "$(url sub/file)" 2>&1) || true
check "a file read through the mounted /sub" test "$sub" = "sub file"
deeper=$(timeout 20 nfs-cat "$(url sub/deeper/x)" 2>&1) || true
check "a file two levels below the mounted /sub" test "$deeper" = "deeper"

stop_server
echo "scenario took $((SECONDS - started)) s"
check_summary
