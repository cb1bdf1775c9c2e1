// How faithfully visual editing writes back what the user typed: random
// single insertions and deletions in the text of real documents (the Markdown
// that packages ship, and the system's own documentation when it has any),
// made in the DOM as the engine would make them, then flushed. An edit counts
// as exact when the file differs from before by exactly the typed or deleted
// character, and the file renders to what the page shows.
import { readFileSync } from 'node:fs';
import { makeWindow, freshPage } from './harness.mjs';
import { markdownFiles, modules } from './corpus.mjs';

const KINDS = { P: 'paragraph', LI: 'list item', TD: 'table cell', TH: 'table cell', BLOCKQUOTE: 'quote' };
const SKIP = 'pre, code, .raw-html, .frontmatter, .footnotes, .math, .katex, .math-block, .diagram, [contenteditable=false]';

// A seeded generator, so that every run makes the same edits.
function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function kindOf(node, root) {
  // Typing in the text of [text] or [text][] changes the label, which the
  // link has to spell out from then on: a kind of its own.
  if (node.parentElement.closest('a[data-ref]:not([data-ref-form=full])')) return 'reference link text';
  for (let n = node.parentNode; n && n !== root; n = n.parentNode) {
    if (/^H[1-6]$/.test(n.nodeName)) return 'heading';
    if (n.nodeName === 'P' && n.parentNode.nodeName === 'BLOCKQUOTE') return 'quote';
    if (KINDS[n.nodeName] && n.nodeName !== 'BLOCKQUOTE') return KINDS[n.nodeName];
    if (n.nodeName === 'P' && n.parentNode === root) return 'paragraph';
  }
  return null;
}

function textNodes(win, root) {
  const out = [];
  const walker = win.document.createTreeWalker(root, 4);
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (!n.data.trim() || n.parentElement.closest(SKIP)) continue;
    const kind = kindOf(n, root);
    if (kind) out.push([n, kind]);
  }
  return out;
}

// True when `out` is `orig` with `ch` inserted (or removed, when `removed`).
function onlyThat(orig, out, ch, removed) {
  const [long, short] = removed ? [orig, out] : [out, orig];
  if (long.length !== short.length + 1) return false;
  let i = 0;
  while (i < short.length && long[i] === short[i]) i += 1;
  return long[i] === ch && long.slice(i + 1) === short.slice(i);
}

// The span of the file that changed, for looking into a miss.
function changed(orig, out) {
  let i = 0;
  while (i < orig.length && orig[i] === out[i]) i += 1;
  let j = 0;
  while (j < orig.length - i && orig[orig.length - 1 - j] === out[out.length - 1 - j]) j += 1;
  return { was: orig.slice(Math.max(0, i - 20), orig.length - j + 20), now: out.slice(Math.max(0, i - 20), out.length - j + 20) };
}

function documents() {
  const sets = [];
  const packages = [];
  markdownFiles(modules, 0, packages);
  sets.push(['package documentation', packages]);
  const system = [];
  markdownFiles('/usr/share/doc', 0, system);
  if (system.length) sets.push(['system documentation (/usr/share/doc)', system]);
  return sets;
}

export function runFidelity({ perDoc = 12, maxBytes = 60000, maxDocs = 60, seed = 7 } = {}) {
  const next = random(seed);
  const results = [];
  for (const [name, files] of documents()) {
    const tally = new Map();
    const misses = [];
    const count = (kind, exact, sample) => {
      const t = tally.get(kind) ?? { exact: 0, total: 0 };
      t.total += 1;
      if (exact) t.exact += 1;
      else if (misses.length < (process.env.FIDELITY_DEBUG ? 60 : 8)) misses.push(sample);
      tally.set(kind, t);
    };
    let docs = 0;
    for (const file of files) {
      const orig = readFileSync(file, 'utf8');
      if (orig.length > maxBytes || orig.includes('\0')) continue;
      if (++docs > maxDocs) break;
      // A window per document: a page lives as long as its window.
      const win = makeWindow();
      const { page, root } = freshPage(win);
      const checkWin = makeWindow();
      const check = freshPage(checkWin);
      for (let k = 0; k < perDoc; k += 1) {
        page.render(orig, '/tmp');
        page.setEditable(true);
        const nodes = textNodes(win, root);
        if (!nodes.length) break;
        const [node, kind] = nodes[Math.floor(next() * nodes.length)];
        const deleting = next() < 0.4;
        const at = Math.floor(next() * (node.data.length + (deleting ? 0 : 1)));
        const ch = deleting ? node.data[Math.min(at, node.data.length - 1)] : 'xyzqk'[Math.floor(next() * 5)];
        const pos = Math.min(at, node.data.length - (deleting ? 1 : 0));
        node.data = deleting ? node.data.slice(0, pos) + node.data.slice(pos + 1) : node.data.slice(0, pos) + ch + node.data.slice(pos);
        const shown = root.textContent;
        const out = page.flushEdit();
        page.setEditable(false);
        check.page.render(out, '/tmp');
        const flat = (t) => t.replace(/\s+/g, ' ').trim();
        const same = flat(check.root.textContent) === flat(shown);
        let written = out;
        const ref = node.parentElement?.closest('a[data-ref]');
        if (kind === 'reference link text' && ref) {
          const form = ref.getAttribute('data-ref-form');
          written = out.replace(`][${ref.getAttribute('data-ref')}]`, form === 'collapsed' ? '][]' : ']');
        }
        const exact = onlyThat(orig, written, ch, deleting) && same;
        count(`${deleting ? 'deletion' : 'insertion'} in a ${kind}`, exact, { file, kind, deleting, ch, text: node.data.slice(0, 80), ...(process.env.FIDELITY_DEBUG ? { same, ...changed(orig, out), shown: changed(flat(check.root.textContent), flat(shown)) } : {}) });
        page.render(orig, '/tmp');
      }
      win.close();
      checkWin.close();
    }
    docs = Math.min(docs, maxDocs);
    results.push({ name, docs, tally, misses });
  }
  return results;
}

if (import.meta.url === `file://${process.argv[1]}`) {
  for (const { name, docs, tally, misses } of runFidelity()) {
    let exact = 0;
    let total = 0;
    console.log(`Visual-edit fidelity on ${name} (${docs} documents)`);
    for (const [kind, t] of [...tally].sort()) {
      console.log(`  ${kind.padEnd(28)} ${String(t.exact).padStart(4)} / ${String(t.total).padEnd(4)} ${(100 * t.exact / t.total).toFixed(1)} %`);
      exact += t.exact;
      total += t.total;
    }
    console.log(`  ${'all single edits'.padEnd(28)} ${String(exact).padStart(4)} / ${String(total).padEnd(4)} ${(100 * exact / total).toFixed(1)} % (target 99 %)`);
    for (const m of misses) console.log(`    missed: ${JSON.stringify(m)}`);
  }
}
