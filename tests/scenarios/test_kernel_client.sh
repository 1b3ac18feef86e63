#!/usr/bin/env bash
# The Linux kernel's NFS v3 client against lumavert-server, as a player uses it: a Debian kernel
# booted in QEMU (tests/tools/kernel-client.sh) inside the server's private network namespace
# runs kernel-client-guest.sh, which streams, removes, renames, lists, probes and decodes through
# the mounts while this side changes the export folder on request.
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "needs root for QEMU's cache and a private network namespace"
[ -x "$SERVER" ] || fail "$SERVER is not built"
kclient=$SOURCE/tests/tools/kernel-client.sh

# The kernel and initramfs come from the package archive: set up in the main namespace, once.
if [ -z "${LUMAVERT_IN_NETNS:-}" ]; then
    setup_start=$SECONDS
    bash "$kclient" setup >/dev/null || fail "kernel-client setup failed"
    echo "kernel-client setup took $((SECONDS - setup_start)) s"
fi
enter_private_network "$@"
command -v ffmpeg >/dev/null || fail "ffmpeg missing (scripts/setup installs it)"

started=$SECONDS
work=$(mktemp -d "/tmp/lumavert-kclient-$$.XXXXXX")
agent=
cleanup() {
    [ -z "$agent" ] || kill "$agent" 2>/dev/null || true
    stop_server
    rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config LANG=C.UTF-8 LC_ALL=C.UTF-8
root=$work/root
out=$work/out
list=$HOME/Documents/Lumavert
mkdir -p "$list" "$out/req" "$out/ack" "$root"/{play,justread,gone,many,case,times}
echo listed >"$list/in-the-list.txt"

# play/: the stream among siblings that the client removes (aa-*), renames (zz-*) and the
# server side removes (hh-*) while the stream is read.
for i in 01 02 03 04 05 06 07 08; do head -c 4096 /dev/urandom >"$root/play/aa-$i"; done
for i in 01 02 03 04; do head -c 4096 /dev/urandom >"$root/play/hh-$i"; done
head -c 256M /dev/urandom >"$root/play/stream.bin"
for i in 01 02 03 04; do head -c 4096 /dev/urandom >"$root/play/zz-$i"; done
stream_md5=$(md5sum <"$root/play/stream.bin" | cut -d' ' -f1)
head -c 1M /dev/urandom >"$root/justread/move-me.bin"
head -c 1M /dev/urandom >"$root/justread/remove-me.bin"
make_test_media "$root/media" || fail "ffmpeg could not make the test media"
# References for the guest: ffprobe's view and the video frames after each seek, of the local files.
probe_args="-v error -show_entries stream=index,codec_type,codec_name,nb_frames:format=duration,nb_streams -of compact"
seeks="6 1 3.5"
reference=$work/reference
mkdir -p "$reference"
for clip in clip-index-at-end.mp4 clip.mkv; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    ffprobe $probe_args "$root/media/$clip" >"$reference/$clip.probe" 2>&1
    for seek in $seeks; do
        ffmpeg -nostdin -v error -ss "$seek" -t 1 -i "$root/media/$clip" -map 0:v -f framemd5 \
            "$reference/$clip.seek-$seek"
    done
done
(cd "$root/gone" && for i in $(seq -f '%04g' 0 299); do echo "$i" >"g$i"; done)
(cd "$root/many" && seq -f 'f%05g' 0 9999 | xargs touch)
for name in Film.txt film.txt FILM.TXT; do echo "content of $name" >"$root/case/$name"; done
echo old >"$root/case/new.txt"
echo touched >"$root/times/touched.txt"
check "test media: the mp4 has its index at the end" mp4_index_at_end "$root/media/clip-index-at-end.mp4"

# Requests from the guest ($out/req/NAME): changes on the server side, acknowledged in $out/ack.
serve_requests() {
    local req name i
    while :; do
        for req in "$out"/req/*; do
            [ -e "$req" ] || continue
            name=${req##*/}
            case $name in
            remove-play-siblings) rm -f "$root"/play/hh-* ;;
            delete-on-server) for i in $(seq -f '%04g' 100 299); do rm -f "$root/gone/g$i"; done ;;
            *) echo "unknown request $name" >&2 ;;
            esac
            rm -f "$req"
            : >"$out/ack/$name"
        done
        sleep 0.2
    done
}

SERVER_LOG=$work/server.log
start_server --root "$root" --codepage 65001
serve_requests &
agent=$!

guest_start=$SECONDS
set +e
# The guest caches the host's root (process start is the slow part under TCG); it looks each
# path of the export folder up only after the change it checks, so the cache cannot hide one.
# Its time limit leaves room for a busy machine: QEMU's 90 s margin on top stays within ctest's.
KCLIENT_ROOT_CACHE=loose bash "$kclient" run "$SOURCE/tests/scenarios/kernel-client-guest.sh" \
    --out "$out" --timeout 420 --env STREAM_MD5="$stream_md5" --env EXPORT="$root" \
    --env REFERENCE="$reference" --env PROBE_ARGS="$probe_args" --env SEEKS="$seeks" 2>&1 | tr -d '\r' >"$work/console.txt"
guest_rc=${PIPESTATUS[0]}
set -e
guest_seconds=$((SECONDS - guest_start))
# The console without the guest's echo of results (they are counted from $out/results below).
grep -vE '^(ok   |FAIL )' "$work/console.txt" | sed 's/^/  | /'

while IFS= read -r line; do
    case $line in
    "ok   "*) CHECKS_PASSED=$((CHECKS_PASSED + 1)) ;;
    "FAIL "*) CHECKS_FAILED=$((CHECKS_FAILED + 1)) ;;
    *) continue ;;
    esac
    echo "$line"
done < <(cat "$out/results" 2>/dev/null)
check "the guest script ran to its end (status $guest_rc, 0 or 1)" test "$guest_rc" -le 1
check "the server is still running" kill -0 "$SERVER_PID"
stop_server
check "no sanitizer report from the server" eval '! grep -qE "AddressSanitizer|runtime error|LeakSanitizer" "$SERVER_LOG"'
echo "guest run took $guest_seconds s; scenario took $((SECONDS - started)) s"
check_summary
