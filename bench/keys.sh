#!/usr/bin/env bash
# Key to pixels in real windows, as a user meets it: the program on a virtual X display (Xvfb, no
# GPU), a 1 MB and a 10 MB note, each typing view, keys at the start of the heading (a block's
# start: in the source it turns the heading into a paragraph) and in the middle of a line of
# prose. Each key goes through the X server's test extension; the time is until the line on
# screen shows it (bench/keypaint.cpp). Median and slowest of 15 keys.
#   bench/keys.sh [build-dir] [sizes in MB, default "1 10"]
# Needs `scripts/setup --bench` (xdotool, the test extension's headers).
set -euo pipefail
shopt -s nullglob
build=${1:-build}
sizes=${2:-1 10}
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$top/$build/quorvel"
keypaint="$top/$build/bench/keypaint"
[ -x "$keypaint" ] || { echo "keys.sh: no $keypaint (scripts/setup --bench, then build)" >&2; exit 1; }
scratch=$(mktemp -d)
program=
trap '[ -n "$program" ] && kill "$program" 2>/dev/null; kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
export QTWEBENGINE_DISABLE_SANDBOX=1 XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
export XDG_RUNTIME_DIR="$scratch/run" && mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
display=$(for n in $(seq 150 199); do [ -e /tmp/.X11-unix/X$n ] || { echo $n; break; }; done)
Xvfb ":$display" -screen 0 1600x1000x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
sleep 2

note() { # size-in-MB file: a known first screen, then the example vault's notes over and over
    printf '# Keys\n\nA line of prose where the keys go, in the middle of this sentence, for timing.\n\n' > "$2"
    while [ "$(stat -c %s "$2")" -lt $(($1 * 1024 * 1024)) ]; do
        cat "$top"/examples/vault/*.md "$top"/examples/vault/*/*.md >> "$2" 2>/dev/null
    done
}

run() { # size view-key view-name settle-seconds
    local file="$scratch/keys-$1.md" window x y w h
    note "$1" "$file"
    "$exe" "$file" >/dev/null 2>&1 &
    program=$!
    for _ in $(seq 1 60); do
        sleep 0.5
        window=$(xdotool search --pid "$program" --onlyvisible --name 'keys' 2>/dev/null | head -1) && [ -n "$window" ] && break
    done
    xdotool windowmove --sync "$window" 0 0 windowfocus --sync "$window"
    sleep 2
    xdotool key "ctrl+$2"
    sleep "$4"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    x=0 y=60 w=$WIDTH h=$((HEIGHT - 100))
    # Beside the page, the keys go to the source on the left.
    [ "$3" = split ] && w=$((WIDTH / 2))
    for position in heading prose; do
        # The editing view has no empty line between the heading and the prose.
        local down="Down Down"
        [ "$3" = visual ] && down=Down
        # Without a window manager the keyboard can stray from the window meanwhile.
        xdotool windowfocus --sync "$window"
        if [ $position = heading ]; then
            xdotool key ctrl+Home Home
        else
            # shellcheck disable=SC2086
            xdotool key ctrl+Home $down End $(printf 'Left %.0s' $(seq 1 30))
        fi
        sleep 1
        local band
        band=$("$keypaint" --find "$x" "$y" "$w" "$h" W) || { echo "$1 MB $3 $position: the key showed nowhere"; continue; }
        local line_y line_h
        read -r line_y line_h <<< "$band"
        local result
        result=$("$keypaint" "$x" $((line_y - 2)) "$w" $((line_h + 4)) W 15 400 | tail -1)
        printf '%3s MB  %-7s %-8s %s\n' "$1" "$3" "$position" "$result"
    done
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    program=
}

for size in $sizes; do
    settle=$((size >= 10 ? 20 : 5))
    run "$size" 4 source "$settle"
    run "$size" 3 split "$settle"
    run "$size" 2 visual "$settle"
done
