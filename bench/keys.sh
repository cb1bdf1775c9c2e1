#!/usr/bin/env bash
# Key to pixels in real windows, as a user meets it: the program on a virtual X display (Xvfb, no
# GPU), a 1 MB and a 10 MB note, each typing view, keys at the start of the heading (a block's
# start: in the source it turns the heading into a paragraph) and in the middle of a line of
# prose. Each key goes through the X server's test extension; the time is until the line on
# screen shows it (bench/keypaint.cpp). Median and slowest of 15 keys.
#   bench/keys.sh [--peers] [build-dir] [sizes in MB, default "1 10"]
# --peers: after this build's views of each size, the same keys in two other Markdown editors where
# installed (ghostwriter, retext), in the view where one types, as a new user meets them.
# The build folder is taken from the top of the checkout unless it is an absolute path.
# Needs `scripts/setup --bench` (xdotool, pstree, the test extension's headers; the editors).
set -euo pipefail
shopt -s nullglob
peers=0
[ "${1:-}" = --peers ] && { peers=1; shift; }
build=${1:-build}
sizes=${2:-1 10}
top=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build="$top/$build" ;; esac
exe="$build/quorvel"
keypaint="$build/bench/keypaint"
[ -x "$keypaint" ] || { echo "keys.sh: no $keypaint (scripts/setup --bench, then build)" >&2; exit 1; }
scratch=$(mktemp -d)
program=

# shellcheck source=bench/processes.sh
. "$top/bench/processes.sh"

trap '[ -z "$program" ] || stop "$program"; kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
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
            # shellcheck disable=SC2086,SC2046
            xdotool key ctrl+Home $down End $(printf 'Left %.0s' $(seq 1 30))
        fi
        sleep 1
        local band
        band=$("$keypaint" --find "$x" "$y" "$w" "$h" W) || { echo "$1 MB $3 $position: the key showed nowhere"; continue; }
        local line_y line_h
        read -r line_y line_h <<< "$band"
        local result
        # keypaint fails when a key never showed; its summary says how many did.
        result=$("$keypaint" "$x" $((line_y - 2)) "$w" $((line_h + 4)) W 15 400 | tail -1) || true
        printf '%3s MB  %-7s %-8s %s\n' "$1" "$3" "$position" "$result"
    done
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    program=
}

cpu_ticks() { # pid: processor time of the process and what it started, in hundredths of a second
    local total=0 p ticks
    for p in $(tree_pids "$1"); do
        ticks=$(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)
        total=$((total + ${ticks:-0}))
    done
    echo "$total"
}

idle() { # pid seconds: until the processes use under 3 % of a core two seconds in a row
    local last now quiet=0
    last=$(cpu_ticks "$1")
    for _ in $(seq 1 "$2"); do
        sleep 1
        now=$(cpu_ticks "$1")
        if [ $((now - last)) -le 3 ]; then
            quiet=$((quiet + 1))
            [ $quiet -ge 2 ] && return 0
        else
            quiet=0
        fi
        last=$now
    done
    return 1
}

peer() { # size name: the same keys in another editor's text, its panes as it shows them
    local file="$scratch/keys-$1.md" window=
    if ! command -v "$2" >/dev/null; then
        printf '%3s MB  %-11s not installed\n' "$1" "$2"
        return
    fi
    note "$1" "$file"
    XDG_DATA_HOME="$scratch/data" "$2" "$file" >/dev/null 2>&1 &
    program=$!
    for _ in $(seq 1 120); do
        sleep 0.5
        window=$(xdotool search --pid "$program" --onlyvisible --name 'keys' 2>/dev/null | head -1) && [ -n "$window" ] && break
    done
    if [ -z "$window" ]; then
        printf '%3s MB  %-11s no window within a minute\n' "$1" "$2"
        stop "$program"; program=
        return
    fi
    xdotool windowmove --sync "$window" 0 0 windowfocus --sync "$window"
    # The others show their window before the text is in it, and a long note takes them a while:
    # the keys wait until they are done (their processes idle), up to ten minutes.
    idle "$program" 600 || printf '%3s MB  %-11s still busy after 600 s; the keys go in all the same\n' "$1" "$2"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    for position in heading prose; do
        xdotool windowfocus --sync "$window"
        if [ $position = heading ]; then
            xdotool key ctrl+Home Home
        else
            # Their text wraps at the pane's width (ghostwriter's column is some 30 characters
            # wide): near the start of the prose line, so that the word typed into stays on it.
            xdotool key ctrl+Home Down Down Home Right Right
        fi
        # The first key changes more than the line: the note becomes modified (an undo button
        # lights up) and the heading leaves the outline. Once, before the line is looked for.
        xdotool key W
        idle "$program" 60 || true
        # Beside the text a pane may follow it (ghostwriter's outline and preview): the band is
        # the line from where the key went in to its pane's edge, not the rows across the window.
        local box bx by bw bh result
        box=$("$keypaint" --find-box 0 0 "$WIDTH" "$HEIGHT" W) || { printf '%3s MB  %-11s %-8s the key showed nowhere\n' "$1" "$2" "$position"; continue; }
        read -r bx by bw bh <<< "$box"
        result=$("$keypaint" "$bx" $((by - 2)) "$bw" $((bh + 4)) W 15 400 | tail -1) || true
        printf '%3s MB  %-11s %-8s %s\n' "$1" "$2" "$position" "$result"
    done
    stop "$program"
    program=
}

for size in $sizes; do
    settle=$((size >= 10 ? 20 : 5))
    run "$size" 4 source "$settle"
    run "$size" 3 split "$settle"
    run "$size" 2 visual "$settle"
    if [ $peers = 1 ]; then
        peer "$size" ghostwriter
        peer "$size" retext
    fi
done
