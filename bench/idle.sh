#!/usr/bin/env bash
# What the program costs while nobody touches it: a real window on a virtual X display (Xvfb, no
# GPU), a note of 1 MB and of 10 MB (the machine's Node.js API docs, else the sample vault,
# repeated) shown in each view with the focus in it; once the work that opening and switching
# started is done (two seconds in a row under 3 % of a core, or 40 seconds at most), the CPU
# time of each process over ten seconds (utime + stime from /proc, as a share of one core).
#   bench/idle.sh [build-dir] [sizes in MB, or KB with a k, comma-separated: 1,10,20k]
# QUORVEL_IDLE_SECONDS changes the ten seconds; QTWEBENGINE_CHROMIUM_FLAGS reaches the engine.
set -euo pipefail
build=${1:-build}
sizes=${2:-1,10}
seconds=${QUORVEL_IDLE_SECONDS:-10}
top=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) exe="$build/quorvel" ;; *) exe="$top/$build/quorvel" ;; esac
scratch=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
export QTWEBENGINE_DISABLE_SANDBOX=1 XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/run" && mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
display=$(for n in $(seq 150 199); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { echo $n; break; }; done)
Xvfb ":$display" -screen 0 1600x1000x24 >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
sleep 2

bytes() { # a size as given (MB, or KB with a k): 10, 20k
    case $1 in *k) echo $((${1%k} * 1024)) ;; *) echo $(($1 * 1048576)) ;; esac
}

note() { # size file
    local docs=/usr/share/doc/nodejs/api size
    size=$(bytes "$1")
    : > "$2"
    while [ "$(stat -c %s "$2")" -lt "$size" ]; do
        if [ -d $docs ]; then cat $docs/*.md >> "$2"; else cat "$top"/examples/vault/*.md >> "$2"; fi
    done
    truncate -s "$size" "$2"
}

# shellcheck source=bench/processes.sh
. "$top/bench/processes.sh"

ticks() { # utime + stime of one process, in clock ticks
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

kind() { # main, renderer (a zygote's child keeps the zygote's command line) or other
    local parent
    [ "$1" = "$2" ] && { echo main; return; }
    parent=$(awk '/^PPid:/ {print $2}' "/proc/$1/status" 2>/dev/null)
    if tr '\0' ' ' < "/proc/$1/cmdline" 2>/dev/null | grep -q -- '--type=renderer' \
        || { [ "$parent" != "$2" ] && grep -q -- '--type=zygote' "/proc/$parent/cmdline" 2>/dev/null; }; then
        echo renderer
    else
        echo other
    fi
}

idle() { # root-pid: the share of a core each kind of process used over $seconds
    local -A before after
    local p k hz
    hz=$(getconf CLK_TCK)
    for p in $(tree_pids "$1"); do before[$p]=$(ticks "$p"); done
    sleep "$seconds"
    local main=0 renderer=0 other=0
    for p in $(tree_pids "$1"); do
        after[$p]=$(ticks "$p")
        k=$(kind "$p" "$1")
        local d=$(( ${after[$p]} - ${before[$p]:-0} ))
        case $k in main) main=$((main + d)) ;; renderer) renderer=$((renderer + d)) ;; *) other=$((other + d)) ;; esac
    done
    awk -v m=$main -v r=$renderer -v o=$other -v s="$seconds" -v hz="$hz" \
        'BEGIN { printf "main %5.1f %%  renderer %5.1f %%  other %5.1f %%", 100*m/hz/s, 100*r/hz/s, 100*o/hz/s }'
}

settle() { # root-pid: until what opening and switching started is done (code highlighted late,
           # a long note's source filled): two quiet seconds in a row, at most 40 seconds
    local quiet=0 busy p
    for _ in $(seq 1 20); do
        busy=0
        for p in $(tree_pids "$1"); do busy=$((busy - $(ticks "$p"))); done
        sleep 2
        for p in $(tree_pids "$1"); do busy=$((busy + $(ticks "$p"))); done
        # Under 3 % of a core over the two seconds.
        if [ $((busy * 100)) -lt $((3 * 2 * $(getconf CLK_TCK))) ]; then
            quiet=$((quiet + 1))
            [ $quiet -ge 2 ] && return
        else
            quiet=0
        fi
    done
}

declare -A keys=([read]=ctrl+1 [visual]=ctrl+2 [split]=ctrl+3 [source]=ctrl+4)
IFS=, read -ra mbs <<< "$sizes"
echo "idle CPU, share of one core over ${seconds} s, real window under Xvfb ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg))"
for mb in "${mbs[@]}"; do
    note "$mb" "$scratch/note-$mb.md"
    for view in ${QUORVEL_IDLE_VIEWS:-read visual split source}; do
        rm -rf "$XDG_CONFIG_HOME"
        "$exe" "$scratch/note-$mb.md" >/dev/null 2>&1 &
        app_pid=$!
        win=$(xdotool search --sync --onlyvisible --pid "$app_pid" 2>/dev/null | head -1)
        # The first render of a large note, then the switch, then whatever a view does once.
        sleep $((3 + $(bytes "$mb") / 1048576))
        xdotool windowfocus --sync "$win" 2>/dev/null || true
        xdotool key "${keys[$view]}"
        settle "$app_pid"
        printf "%5s  %-7s %s\n" "$([[ $mb == *k ]] && echo "${mb%k} KB" || echo "$mb MB")" "$view" "$(idle "$app_pid")"
        [ -n "${QUORVEL_IDLE_SHOTS:-}" ] && import -display "$DISPLAY" -window root "$QUORVEL_IDLE_SHOTS/$mb-$view.png"
        kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
        app_pid=
    done
done
