#!/usr/bin/env bash
# Start to the note's text on screen, phase by phase: real windows on a virtual X display (Xvfb,
# no GPU), a 20 KB and a 1 MB note, the median of five starts each (bench_startup).
#   bench/startup.sh [--runs N] [--peers] [build-dir] [other-program...]
# Other programs (another build, kept with its web/ folder beside it) take turns with this build's,
# so that both meet the same moments of a busy machine. The build folder is taken from the top of
# the checkout unless it is an absolute path.
# --peers: also two other Markdown editors where installed (ghostwriter, retext; from
# `scripts/setup --bench`), in turns with this build, and every program once more seen from
# outside alike (bench_startup's "seen from outside" table), since the others have no trace.
# One start before the timed ones is left out: it makes the settings and the engine's profile on
# disk, which a returning user already has.
set -euo pipefail
runs=5 peers=0
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --peers) peers=1; shift ;;
        *) break ;;
    esac
done
build=${1:-build}
[ $# -gt 0 ] && shift
top=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build="$top/$build" ;; esac
exe="$build/quorvel"
probe="$build/bench/bench_startup"
[ -x "$exe" ] && [ -x "$probe" ] || { echo "build quorvel and bench_startup first" >&2; exit 2; }
scratch=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT
export QTWEBENGINE_DISABLE_SANDBOX=1 XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM QUORVEL_DEBUG
display=$(for n in $(seq 150 199); do [ -e /tmp/.X11-unix/X$n ] || { echo $n; break; }; done)
Xvfb ":$display" -screen 0 1600x1000x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
sleep 2

note() { # size-in-KB file
    : > "$2"
    while [ "$(stat -c %s "$2")" -lt $(($1 * 1024)) ]; do
        cat "$top"/examples/vault/*.md >> "$2"
    done
}
mkdir -p "$scratch/notes"
note 20 "$scratch/notes/note-20k.md"
note 1024 "$scratch/notes/note-1m.md"

# The other editors, found by name on the PATH; each one's own settings start fresh in
# the scratch folders above, as this build's do.
others=() missing=()
if [ $peers = 1 ]; then
    for name in ghostwriter retext; do
        if command -v "$name" >/dev/null; then others+=("$(command -v "$name")"); else missing+=("$name"); fi
    done
    others=(--peers "${others[@]}")
fi

"$probe" --runs 1 "$scratch/notes/note-20k.md" "$exe" "$@" "${others[@]}" >/dev/null
for size in 20k 1m; do
    echo "== $size note"
    "$probe" --runs "$runs" "$scratch/notes/note-$size.md" "$exe" "$@" "${others[@]}"
    for name in "${missing[@]}"; do
        printf '%-28s not installed\n' "$name"
    done
done
