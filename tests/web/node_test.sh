#!/usr/bin/env bash
# The web build's code under node against the desktop's: the six scenes at
# several show times, cell for cell, and the first seconds of the show's
# sound, and the page's audio worklet. Run from the repository root after scripts/build.sh and scripts/web.sh.
. "$(dirname "$0")/../e2e/lib.sh"
WEB=${WEB_DIR:-build-web}
NATIVE=${NATIVE_DIR:-build}
NODE=(node --no-experimental-fetch)
work=$(mktemp -d)

for scene in worms quintic sinescape juliastack blobs cubictwist; do
    for t in 0 47000 123457; do
        "$NATIVE/voxeldump" "$scene" "$t" 6 12 --out "$work/n.bin" 2>"$work/n.err"
        "${NODE[@]}" "$WEB/node/voxeldump.js" "$scene" "$t" 6 12 --out "$work/w.bin" 2>"$work/w.err"
        check "$scene at T = $t: filled cells match ($(head -n 1 "$work/n.err") native, $(head -n 1 "$work/w.err") wasm)" \
            test "$(head -n 1 "$work/n.err")" = "$(head -n 1 "$work/w.err")"
        check "  and every cell is the same, bit for bit" cmp -s "$work/n.bin" "$work/w.bin"
    done
done

"$NATIVE/showmix" "$work/n.raw" --seconds 5 && "${NODE[@]}" "$WEB/node/showmix.js" "$work/w.raw" --seconds 5
result=$(python3 - "$work/n.raw" "$work/w.raw" <<'PY'
import array, sys
n = array.array('f', open(sys.argv[1], 'rb').read())
w = array.array('f', open(sys.argv[2], 'rb').read())
print(len(n), len(w), max((abs(a - b) for a, b in zip(n, w)), default=1), max(abs(a) for a in n))
PY
)
read -r nn wn diff peak <<<"$result"
check "5 s of the show's sound: 220500 stereo frames from both ($nn, $wn floats)" test "$nn" -eq 441000 -a "$wn" -eq 441000
check "  equal within 1e-6 (largest difference $diff)" python3 -c "import sys; sys.exit(not $diff <= 1e-6)"
check "  and not silent (peak $peak)" python3 -c "import sys; sys.exit(not $peak > 0.05)"

# From show time 90000 (past both tracks' loop point), as the page's ?start=T
# plays it: the music where the live show has it, in wasm as natively.
"$NATIVE/showmix" "$work/n90.raw" --seconds 3 --start 90000 &&
    "${NODE[@]}" "$WEB/node/showmix.js" "$work/w90.raw" --seconds 3 --start 90000
same=$(cmp -s "$work/n90.raw" "$work/w90.raw" && echo yes || echo no)
check "from T = 90000 the wasm mix is the native one, byte for byte ($same)" test "$same" = yes -a -s "$work/n90.raw"

# The page's audio worklet, in a stand-in for the browser's audio scope.
while IFS= read -r line; do
    case "$line" in
        ok:*) pass "worklet: ${line#ok: }" ;;
        *) fail "worklet: ${line#FAIL: }" ;;
    esac
done < <("${NODE[@]}" tests/web/worklet_test.js "$WEB/site" assets 2>&1 || echo "FAIL: worklet_test.js ended with an error")

rm -rf "$work"
finish
