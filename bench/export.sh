#!/usr/bin/env bash
# The headless export against its peers on the same files, in the same run: pandoc for HTML,
# pandoc's HTML printed by headless Chromium for PDF. Median of RUNS runs each, in seconds, and
# the ratios. See README.md.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
quorvel=${QUORVEL:-$here/build/quorvel}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

chromium=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[[ -x $quorvel ]] || { echo "build first: $quorvel is missing" >&2; exit 1; }
command -v pandoc >/dev/null || { echo "pandoc is missing (sudo apt install pandoc)" >&2; exit 1; }

# Real documentation: the Node.js API reference of the machine, concatenated, cut at a blank line
# near the size asked for, and repeated for sizes beyond it.
docs=(/usr/share/doc/nodejs/api/*.md)
[[ -e ${docs[0]} ]] || { echo "no Node.js API docs in /usr/share/doc/nodejs/api (sudo apt install nodejs-doc)" >&2; exit 1; }
cat "${docs[@]}" > "$work/all.md"
make_doc() { # size-in-bytes name
    python3 - "$work/all.md" "$1" "$work/$2.md" <<'PY'
import sys
src, size, out = open(sys.argv[1], 'rb').read(), int(sys.argv[2]), sys.argv[3]
text = src
while len(text) < size:
    text += b'\n\n' + src
cut = text[:size]
at = cut.rfind(b'\n\n')
open(out, 'wb').write(cut[:at + 1] if at > 0 else cut)
PY
}

# The median wall-clock time of a command, run $runs times.
median() {
    local times=()
    for ((i = 0; i < runs; i++)); do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
        end=$(date +%s%N)
        times+=("$(( (end - start) / 1000000 ))")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p" | awk '{ printf "%.2f", $1 / 1000 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

pandoc_html() { pandoc -f gfm -t html5 --standalone --metadata title=doc "$1" -o "$2"; }
chromium_pdf() {
    pandoc_html "$1" "$work/peer.html"
    "$chromium" --headless --no-sandbox --disable-gpu --no-pdf-header-footer \
        --print-to-pdf="$2" "file://$work/peer.html"
}

echo "HTML (target: 0.9 MB at most 0.6x pandoc, 100 KB at most 1.0x)"
for spec in 100000:0.1MB 900000:0.9MB; do
    size=${spec%%:*} name=${spec##*:}
    make_doc "$size" "$name"
    ours=$(median "$quorvel" --export html "$work/$name.md" "$work/out.html")
    peer=$(median pandoc_html "$work/$name.md" "$work/peer.html")
    echo "  $name: quorvel ${ours} s, pandoc ${peer} s, ratio $(ratio "$ours" "$peer")"
done

echo "PDF (target: 0.9 MB at most 1.0x pandoc + Chromium)"
ours=$(median "$quorvel" --export pdf "$work/0.9MB.md" "$work/out.pdf")
if [[ -n $chromium ]]; then
    peer=$(median chromium_pdf "$work/0.9MB.md" "$work/peer.pdf")
    echo "  0.9MB: quorvel ${ours} s, pandoc + chromium ${peer} s, ratio $(ratio "$ours" "$peer")"
else
    echo "  0.9MB: quorvel ${ours} s; no Chromium for the peer (sudo apt install chromium)"
fi

echo "Growth (quorvel alone)"
for spec in 100000:0.1MB 1000000:1MB 5000000:5MB; do
    size=${spec%%:*} name=${spec##*:}
    make_doc "$size" "$name"
    line="  $name:"
    for format in html md pdf; do
        line+=" $format $(median "$quorvel" --export "$format" "$work/$name.md" "$work/out.$format") s"
    done
    echo "$line"
done
