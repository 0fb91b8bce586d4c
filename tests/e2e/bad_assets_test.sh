#!/usr/bin/env bash
# Every asset in turn missing, truncated, empty or replaced by garbage: the
# demo never crashes or hangs. Textures and music fail silently, a damaged
# font leaves the scroller empty, a damaged shader shows its boxes and ends
# the demo with status 255 after the seventh failed link.
. "$(dirname "$0")/lib.sh"
ROOT=$(pwd)
work=$(mktemp -d)


# damage FILE HOW: a copy of the assets folder with FILE damaged.
damage() {
    local dir="$work/$1-$2"
    mkdir -p "$dir/assets"
    for f in "$ROOT"/assets/*; do [ "$(basename "$f")" = "$1" ] || ln -s "$f" "$dir/assets/"; done
    local original="$ROOT/assets/$1"
    case "$2" in
        missing) ;;
        empty) : >"$dir/assets/$1" ;;
        truncated) head -c $(( $(stat -c %s "$original") / 2 )) "$original" >"$dir/assets/$1" ;;
        garbage) head -c 4096 /dev/urandom >"$dir/assets/$1" ;;
    esac
    echo "$dir"
}

start_xvfb 1280x720

# Control: with every asset intact the scroll text is plainly there by then.
start_demo --in "$ROOT" SDL_AUDIODRIVER=dummy x
sleep 9
import -window root "$work/control.png" 2>/dev/null
kill -TERM "$DEMO_PID"
wait_exit 30
gold=$(gold_pixels "$work/control.png")
check "control: with the font the scroll text shows ($gold gold pixels)" test "$gold" -ge 200

# The marker file only tells the folder apart (the install test covers a
# folder without it); every other asset is damaged in turn.
for file in $(cd "$ROOT/assets" && ls | grep -v '^vrom2022-assets.txt$'); do
    for how in missing truncated empty garbage; do
        dir=$(damage "$file" "$how")
        case "$file" in *.vs|*.fs) watch_boxes ;; esac
        # The window is a precondition, not a latency target: a loaded
        # machine may take long to map it, so it gets two minutes.
        start_demo --in "$dir" --wait 120 SDL_AUDIODRIVER=dummy x
        case "$file" in
        *.vs|*.fs)
            dismiss_boxes
            wait_exit 30
            # Seven attempts: each a link box, and a compile box when the file
            # was there but did not compile (a file cut in half may compile).
            boxes_ok=no
            case "$how:$DISMISSED" in missing:7|*:14|truncated:7) boxes_ok=yes ;; esac
            check "$file $how: $DISMISSED boxes $CAPTIONS, status $DEMO_STATUS" \
                test "$boxes_ok" = yes -a "$DEMO_STATUS" -eq 255
            case "$CAPTIONS" in *"[Shader link failed]"*) ;; *) fail "$file $how: no link failure box" ;; esac
            ;;
        *)
            win=$WINDOW
            # The font cases run until text would long be visible (T > 5000).
            if [ "$file" = fona.png ]; then sleep 9; else sleep 3; fi
            boxes=$(other_windows)
            still=no; alive && still=yes
            shot="$dir/shot.png"
            import -window root "$shot" 2>/dev/null
            kill -TERM "$DEMO_PID" 2>/dev/null
            wait_exit 30
            if ! check "$file $how: runs without a box and ends with 0 (window ${win:+yes}, running $still, boxes '${boxes}', status $DEMO_STATUS)" \
                test -n "$win" -a "$still" = yes -a -z "$boxes" -a "$DEMO_STATUS" -eq 0; then
                x_diagnostics
                echo "--- the demo's standard error:"; tail -n 20 "$ERR_FILE"
            fi
            if [ "$file" = fona.png ]; then
                gold=$(gold_pixels "$shot")
                check "$file $how: the scroller stays empty ($gold gold pixels)" test "$gold" -lt 200
            fi
            ;;
        esac
    done
done
stop_xvfb
rm -rf "$work"
finish
