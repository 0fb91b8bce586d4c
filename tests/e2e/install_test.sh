#!/usr/bin/env bash
# The demo as people install it: started from another folder, installed with
# cmake --install into a prefix and started from /, and packaged as a .deb.
. "$(dirname "$0")/lib.sh"
ROOT=$(pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
work=$(mktemp -d)

# shows_the_show NAME: the demo of start_demo runs, shows the scroll text and
# no box, and ends with 0 on SIGTERM.
shows_the_show() {
    check "$1: the window opens" test -n "$WINDOW" || { tail -n 5 "$ERR_FILE"; return; }
    # The text scrolls with gaps between words: look every 2 s from 8 s on.
    local gold=0 boxes i
    sleep 6
    for i in 1 2 3 4 5 6 7 8; do
        sleep 2
        import -window root "$work/shot.png" 2>/dev/null
        gold=$(gold_pixels "$work/shot.png")
        [ "${gold:-0}" -gt 200 ] && break
    done
    boxes=$(other_windows)
    check "$1: the scroll text shows ($gold gold pixels)" test "${gold:-0}" -gt 200
    check "$1: no message box${boxes:+: $boxes}" test -z "$boxes"
    check "$1: nothing on standard error about assets or frame statistics" bash -c "! grep -qE '^(assets|stats):' '$ERR_FILE'"
    kill -TERM "$DEMO_PID"
    wait_exit 30
    check "$1: SIGTERM ends it with 0 (got $DEMO_STATUS)" test "$DEMO_STATUS" -eq 0
}

start_xvfb 1280x720

# From another folder: the assets are found beside the build folder.
elsewhere=$(mktemp -d)
start_demo --in "$elsewhere" SDL_AUDIODRIVER=dummy x
shows_the_show "from another folder"

# Installed into a prefix, started from / with nothing of the source tree near.
prefix=$work/prefix
cmake --install "$BUILD" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
for f in bin/vrom2022 bin/vromcap share/vrom2022/assets/knot.fs share/vrom2022/assets/vrom2022_melo.ogg \
         share/applications/vrom2022.desktop share/icons/hicolor/256x256/apps/vrom2022.png \
         share/man/man6/vrom2022.6 share/metainfo/vrom2022.metainfo.xml share/doc/vrom2022/copyright; do
    check "installed: $f" test -s "$prefix/$f"
done
check "the software-centre entry is valid (appstreamcli validate --no-net)" \
    appstreamcli validate --no-net "$prefix/share/metainfo/vrom2022.metainfo.xml"
check "  and launches the desktop entry" \
    grep -q '<launchable type="desktop-id">vrom2022.desktop</launchable>' "$prefix/share/metainfo/vrom2022.metainfo.xml"
check "  under the licence of LICENSE" \
    bash -c "grep -q '<project_license>MIT</project_license>' '$prefix/share/metainfo/vrom2022.metainfo.xml' && head -n 1 '$ROOT/LICENSE' | grep -q 'MIT License'"
check "the desktop entry is valid" desktop-file-validate "$prefix/share/applications/vrom2022.desktop"
check "the desktop entry starts the full-screen show" grep -qx "Exec=vrom2022" "$prefix/share/applications/vrom2022.desktop"
check "the icon is a 256x256 PNG" test "$(identify -format '%wx%h' "$prefix/share/icons/hicolor/256x256/apps/vrom2022.png")" = 256x256
check "the manual page reads" bash -c "man -l '$prefix/share/man/man6/vrom2022.6' 2>/dev/null | grep -q 'self-running' || grep -q 'self-running' '$prefix/share/man/man6/vrom2022.6'"
DEMO="$prefix/bin/vrom2022" start_demo --in / SDL_AUDIODRIVER=dummy x
shows_the_show "installed, from /"

# Started from folders whose "assets" is not the demo's (an empty one, and a
# web project's with a file of the same name as one of the demo's): they are
# passed over and the installed data is used.
foreign=$work/foreign
mkdir -p "$foreign/empty/assets" "$foreign/web/assets"
echo 'body { margin: 0 }' >"$foreign/web/assets/style.css"
echo 'not the demo'"'"'s shader' >"$foreign/web/assets/knot.vs"
DEMO="$prefix/bin/vrom2022" start_demo --in "$foreign/empty" SDL_AUDIODRIVER=dummy x
shows_the_show "installed, from a folder with an empty assets/"
DEMO="$prefix/bin/vrom2022" start_demo --in "$foreign/web" SDL_AUDIODRIVER=dummy x
shows_the_show "installed, from a folder with another project's assets/"
(cd "$foreign/web" && "${LAUNCH[@]}" "$prefix/bin/vromcap" --start 70000 --frames 1 --size 160x90 cap \
     >/dev/null 2>"$work/cap.err"); status=$?
check "the installed vromcap there renders too (status $status)" test "$status" -eq 0 -a -s "$foreign/web/cap/frame_000000.png"
check "  with no box and no missing assets" bash -c "! grep -qE 'assets: not found|Shader link failed' '$work/cap.err'"
check "the marker is installed" test -s "$prefix/share/vrom2022/assets/vrom2022-assets.txt"

# The package: binaries, assets, desktop entry and icon, and its dependencies.
(cd "$BUILD" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1)
deb=$(ls "$work"/deb/vrom2022_*.deb 2>/dev/null | head -n 1)
check "cpack makes a .deb${deb:+ ($(basename "$deb"))}" test -n "$deb" || tail -n 20 "$work/cpack.log"
if [ -n "$deb" ]; then
    dpkg-deb -c "$deb" >"$work/contents"
    for f in ./usr/bin/vrom2022 ./usr/bin/vromcap ./usr/share/vrom2022/assets/knot.vs \
             ./usr/share/vrom2022/assets/vrom2022_space.ogg ./usr/share/applications/vrom2022.desktop \
             ./usr/share/icons/hicolor/256x256/apps/vrom2022.png ./usr/share/man/man6/vrom2022.6 \
             ./usr/share/metainfo/vrom2022.metainfo.xml ./usr/share/doc/vrom2022/copyright; do
        check "the .deb holds $f" grep -q " $f\$" "$work/contents"
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libsdl2-2.0-0 libsndfile1 libgomp1 libstdc++6 libgl1; do
        check "it depends on $lib ($depends)" grep -q "$lib" <<<"$depends"
    done
    # Unpacked as apt would lay it out (under a stand-in root), it runs from /.
    dpkg-deb -x "$deb" "$work/root"
    DEMO="$work/root/usr/bin/vrom2022" start_demo --in / SDL_AUDIODRIVER=dummy x
    shows_the_show "unpacked .deb, from /"
fi

stop_xvfb
rm -rf "$work" "$elsewhere"
finish
