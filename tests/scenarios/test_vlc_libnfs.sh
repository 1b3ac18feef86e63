#!/usr/bin/env bash
# libnfs with its default options, as media players and file managers use it: nfs-ls and nfs-cat
# (reads at and across the end of files), and VLC remuxing an mp4 whose index is at the end and an
# mkv from nfs:// URLs, compared with the same remux of the local files. VLC refuses root, so it
# runs as nobody. Runs in a private network namespace.
source "$(dirname "$0")/lib.sh"
enter_private_network "$@"
[ -x "$SERVER" ] || fail "$SERVER is not built"
for tool in nfs-ls nfs-cat cvlc ffmpeg ffprobe setpriv; do
    command -v "$tool" >/dev/null || fail "$tool missing (scripts/setup installs it)"
done

started=$SECONDS
work=$(mktemp -d "/tmp/lumavert-vlc-$$.XXXXXX")
trap 'stop_server; rm -rf "$work"' EXIT
chmod 0755 "$work" # VLC runs as nobody and reads the media and writes below it
export HOME=$work/home XDG_CONFIG_HOME=$work/config LANG=C.UTF-8 LC_ALL=C.UTF-8
root=$work/root
list=$HOME/Documents/Lumavert
mkdir -p "$list" "$root/ends"
echo listed >"$list/in-the-list.txt"
echo "in the root" >"$root/root.txt"
for size in 0 1 1048576 1048577 3145745; do head -c "$size" /dev/urandom >"$root/ends/size-$size"; done
make_test_media "$root/media" || fail "ffmpeg could not make the test media"

SERVER_LOG=$work/server.log
start_server --root "$root" --codepage 65001
url=nfs://127.0.0.1
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)

# --- libnfs tools with default options -------------------------------------------------------
lists() { # lists URL NAME
    timeout 30 nfs-ls "$1" >"$work/ls.out" 2>&1
    grep -q -- "$2" "$work/ls.out" || { sed -n '1,3s/^/    /p' "$work/ls.out"; return 1; }
}
check "nfs-ls $url/ (default options) lists the root" lists "$url/" root.txt
check "nfs-ls $url/lst (default options) lists the list folder" lists "$url/lst" in-the-list.txt
same_bytes() { # same_bytes URL FILE [USER...]: nfs-cat of URL gives FILE's bytes
    local target=$1 file=$2
    shift 2
    timeout 30 "$@" nfs-cat "$target" >"$work/cat.out" 2>"$work/cat.err"
    local rc=$?
    cmp -s "$work/cat.out" "$file" && [ "$rc" = 0 ] ||
        { echo "    status $rc, $(wc -c <"$work/cat.out") of $(wc -c <"$file") bytes; $(head -c 200 "$work/cat.err")"; return 1; }
}
# A file directly in the root: with one slash libnfs mounts "" (the server takes it as "/"), but
# with its default options it then fails by itself after EXPORT, sending nothing more; the URL
# with two slashes (as the README writes it) and the one without the EXPORT call both work.
check "nfs-cat $url//root.txt (default options)" same_bytes "$url//root.txt" "$root/root.txt"
check "nfs-cat $url/root.txt (MNT of \"\", auto-traverse-mounts=0)" \
    same_bytes "$url/root.txt$NFS_OPTS" "$root/root.txt"
for size in 0 1 1048576 1048577 3145745; do
    check "nfs-cat of $size bytes (default options)" \
        same_bytes "$url/ends/size-$size" "$root/ends/size-$size"
done
# The same reads without the EXPORT call, so that the end of file shows apart from the mount.
for size in 0 1 1048576 1048577 3145745; do
    check "nfs-cat of $size bytes (auto-traverse-mounts=0)" \
        same_bytes "$url/ends/size-$size$NFS_OPTS" "$root/ends/size-$size"
done
check "nfs-cat from an unprivileged port, as VLC reads" \
    same_bytes "$url/ends/size-1048577$NFS_OPTS" "$root/ends/size-1048577" "${nobody[@]}"

# --- VLC: remux from nfs:// and from the local file ------------------------------------------
vlc_home=$work/vlc
mkdir -p "$vlc_home"
chown 65534 "$vlc_home"
# remux INPUT OUTPUT: VLC's stream output into an MPEG-TS file, no interface, display or sound.
remux() {
    timeout 60 "${nobody[@]}" env -i HOME="$vlc_home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
        cvlc -vv --no-dbus --aout=dummy --vout=dummy "$1" \
        --sout "#std{access=file,mux=ts,dst=$2}" vlc://quit >"$2.log" 2>&1
}
streams() { # streams FILE: codec, type and packet count of each stream, then count and duration
    # (an MPEG-TS program lists its streams again: each line once)
    ffprobe -v error -count_packets -show_entries stream=codec_name,codec_type,nb_read_packets \
        -of csv=p=0 "$1" 2>&1 | awk 'NF && !seen[$0]++' | sort
    ffprobe -v error -show_entries format=nb_streams,duration -of csv=p=0 "$1" 2>&1
}
same_streams() { # same_streams FROM-NFS LOCAL
    local got want
    got=$(streams "$1") want=$(streams "$2")
    [ "$got" = "$want" ] || { echo "    from nfs:  ${got//$'\n'/ / }"; echo "    local:     ${want//$'\n'/ / }"; return 1; }
}
for clip in clip-index-at-end.mp4 clip.mkv; do
    remux "$root/media/$clip" "$vlc_home/$clip.local.ts" || true
    check "VLC remux of the local $clip has video and audio" \
        eval "[ \"\$(streams '$vlc_home/$clip.local.ts' | grep -cE ',(video|audio),')\" = 2 ]"
    remux "$url/media/$clip" "$vlc_home/$clip.nfs.ts" || true
    check "VLC opened $url/media/$clip with its nfs access" \
        grep -q 'using access module "nfs"' "$vlc_home/$clip.nfs.ts.log"
    grep -E 'nfs (stream )?error' "$vlc_home/$clip.nfs.ts.log" | head -3 | sed 's/^/    /' || true
    check "VLC remux of $clip from nfs:// gives the local streams (ffprobe)" \
        same_streams "$vlc_home/$clip.nfs.ts" "$vlc_home/$clip.local.ts"
done

stop_server
check "no sanitizer report from the server" eval '! grep -qE "AddressSanitizer|runtime error|LeakSanitizer" "$SERVER_LOG"'
echo "scenario took $((SECONDS - started)) s"
check_summary
