// How faithfully visual editing writes back what the user typed: random
// single insertions and deletions in the text of real documents (the Markdown
// that packages ship, and the system's own documentation when it has any),
// made in the DOM as the engine would make them, then flushed. An edit counts
// as exact when the file differs from before by exactly the typed or deleted
// character, and the file renders to what the page shows.
import { readFileSync } from 'node:fs';
import { makeWindow, freshPage } from './harness.mjs';
import { markdownFiles, modules } from './corpus.mjs';
import DiffMatchPatch from 'diff-match-patch';
import { press, putCaret, typeChar } from '../test/keys.mjs';

const dmp = new DiffMatchPatch();

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

const DEBUG = Boolean(process.env.FIDELITY_DEBUG);
// Text as shown, white space aside (the page leaves none between new items).
const flat = (t) => t.replace(/\s+/g, '');

// Runs `trial` on each document of each set, on a page of its own (a page
// lives as long as its window), and tallies what it reports per kind.
async function survey({ maxDocs, maxBytes }, trial) {
  const results = [];
  for (const [name, files] of documents()) {
    const tally = new Map();
    const misses = [];
    const count = (kind, exact, sample) => {
      const t = tally.get(kind) ?? { exact: 0, total: 0 };
      t.total += 1;
      if (exact) t.exact += 1;
      else if (misses.length < (DEBUG ? 60 : 8)) misses.push(sample);
      tally.set(kind, t);
    };
    let docs = 0;
    for (const file of files) {
      const orig = readFileSync(file, 'utf8');
      if (orig.length > maxBytes || orig.includes('\0')) continue;
      if (++docs > maxDocs) break;
      const win = makeWindow();
      const checkWin = makeWindow();
      const { page, root } = freshPage(win);
      const check = freshPage(checkWin);
      // What the page shows, and whether the file it wrote shows the same.
      const flush = () => {
        const shown = root.textContent;
        // The page sends its edit as a change of the text it was given.
        const change = page.flushEdit();
        const out = change ? orig.slice(0, change.start) + change.inserted + orig.slice(change.start + change.removed) : orig;
        page.setEditable(false);
        check.page.render(out, '/tmp');
        return { out, same: flat(check.root.textContent) === flat(shown) };
      };
      const edit = () => {
        page.render(orig, '/tmp');
        page.setEditable(true);
      };
      await trial({ file, orig, win, root, edit, flush, count });
      win.close();
      checkWin.close();
    }
    results.push({ name, docs: Math.min(docs, maxDocs), tally, misses });
  }
  return results;
}

export function runFidelity({ perDoc = 12, maxBytes = 60000, maxDocs = 60, seed = 7 } = {}) {
  const next = random(seed);
  return survey({ maxDocs, maxBytes }, ({ file, orig, win, root, edit, flush, count }) => {
    for (let k = 0; k < perDoc; k += 1) {
      edit();
      const nodes = textNodes(win, root);
      if (!nodes.length) break;
      const [node, kind] = nodes[Math.floor(next() * nodes.length)];
      const deleting = next() < 0.4;
      const at = Math.floor(next() * (node.data.length + (deleting ? 0 : 1)));
      const ch = deleting ? node.data[Math.min(at, node.data.length - 1)] : 'xyzqk'[Math.floor(next() * 5)];
      const pos = Math.min(at, node.data.length - (deleting ? 1 : 0));
      node.data = deleting ? node.data.slice(0, pos) + node.data.slice(pos + 1) : node.data.slice(0, pos) + ch + node.data.slice(pos);
      const { out, same } = flush();
      let written = out;
      const ref = node.parentElement?.closest('a[data-ref]');
      if (kind === 'reference link text' && ref) {
        const form = ref.getAttribute('data-ref-form');
        written = out.replace(`][${ref.getAttribute('data-ref')}]`, form === 'collapsed' ? '][]' : ']');
      }
      count(`${deleting ? 'deletion' : 'insertion'} in a ${kind}`, onlyThat(orig, written, ch, deleting) && same,
        { file, kind, deleting, ch, text: node.data.slice(0, 80), ...(DEBUG ? changed(orig, out) : {}) });
    }
  });
}

// Structural actions as a user does them, on blocks picked at random, with
// what the file must show afterwards: only insertions (or only deletions)
// that together are `expect`.
const MARKER = String.raw`([-*+]|\d+[.)]) +(\[ \] )?`;
const ACTIONS = [
  // A paragraph of several lines becomes a heading of several lines, which
  // Markdown writes with an underline.
  ['"## " typed at the start of a paragraph', ':scope > p', '@0', '## ',
    (el) => ({ inserted: el.textContent.includes('\n') ? /^\r?\n-{3}$/ : /^## $/, rotate: true })],
  ['"- " typed at the start of a paragraph', ':scope > p', '@0', '- ', () => ({ inserted: /^- $/ })],
  // A line inserted next to another may be found shifted by a few
  // characters: any rotation of the new line counts.
  ['Enter at the end of a list item, then text', ':scope > ul > li, :scope > ol > li', '@$', '{Enter}new',
    () => ({ inserted: new RegExp(`^(\\r?\\n)?\\r?\\n[ \\t]*${MARKER}new$`), rotate: true })],
  // Tab selects the next cell, and what is typed replaces what it held; in
  // the last cell it adds a row.
  ['Tab in a table cell, then text', ':scope > table th, :scope > table td', '@0', '{Tab}x', (el) => {
    const cells = [...el.closest('table').querySelectorAll('th, td')];
    const next = cells[cells.indexOf(el) + 1];
    if (!next) return { inserted: /^\r?\n\| x \|( +\|)*$/, rotate: true };
    return { inserted: /^x$/, deleted: next.textContent.trim() ? /./ : /^$/ };
  }],
  ['Ctrl+B in a word of a paragraph', ':scope > p', '@word', '{C-b}', () => ({ inserted: /^(\*\*\*\*|____)$/ })],
  // An underlined heading loses its underline.
  ['Backspace at the start of a heading', ':scope > h1, :scope > h2, :scope > h3', '@0', '{Backspace}',
    () => ({ deletedLike: /^(#{1,6} +|[=-]+\r?\n|\r?\n[=-]+)$/ })],
];

const rotations = (s) => [...s].map((_, i) => s.slice(i) + s.slice(0, i));

function meets(want, { inserted, deleted }) {
  if (want.deletedLike) return !inserted && want.deletedLike.test(deleted);
  if (!(want.deleted ?? /^$/).test(deleted)) return false;
  return (want.rotate ? rotations(inserted) : [inserted]).some((s) => want.inserted.test(s));
}

function changes(orig, out) {
  let inserted = '';
  let deleted = '';
  for (const [op, text] of dmp.diff_main(orig, out)) {
    if (op === 1) inserted += text;
    else if (op === -1) deleted += text;
  }
  return { inserted, deleted };
}

async function act(win, root, el, caret, keys) {
  el.setAttribute('data-bench', '');
  let at = caret;
  if (caret === '@word') {
    const m = /\p{L}{3,}/u.exec(el.firstChild?.data ?? '');
    if (!m) return false;
    at = `@${m.index + 1}`;
  }
  putCaret(win, root, `[data-bench]${at}`);
  el.removeAttribute('data-bench');
  for (const [, key, ch] of keys.matchAll(/\{([^}]+)\}|(.)/gsu)) {
    if (key) press(win, root, key);
    else typeChar(win, root, ch);
  }
  await new Promise((r) => setImmediate(r));
  return true;
}

export function runStructure({ maxDocs = 60, perAction = 3, maxBytes = 60000, seed = 11, only = '' } = {}) {
  const next = random(seed);
  return survey({ maxDocs, maxBytes }, async ({ file, orig, win, root, edit, flush, count }) => {
    for (const [kind, selector, caret, keys, want] of ACTIONS.filter(([k]) => k.includes(only))) {
      for (let k = 0; k < perAction; k += 1) {
        edit();
        const els = [...root.querySelectorAll(selector)].filter((el) => el.firstChild?.nodeType === 3 &&
          el.textContent.trim() && !el.closest('[contenteditable=false]'));
        if (!els.length) break;
        const el = els[Math.floor(next() * els.length)];
        const expected = want(el);
        if (!expected || !(await act(win, root, el, caret, keys))) continue;
        const { out, same } = flush();
        const { inserted, deleted } = changes(orig, out);
        count(kind, same && meets(expected, { inserted, deleted }),
          { file, kind, inserted, deleted, ...(DEBUG ? changed(orig, out) : {}) });
      }
    }
  });
}

function print(title, results, target) {
  for (const { name, docs, tally, misses } of results) {
    let exact = 0;
    let total = 0;
    console.log(`${title} on ${name} (${docs} documents)`);
    for (const [kind, t] of [...tally].sort()) {
      console.log(`  ${kind.padEnd(46)} ${String(t.exact).padStart(4)} / ${String(t.total).padEnd(4)} ${(100 * t.exact / t.total).toFixed(1)} %`);
      exact += t.exact;
      total += t.total;
    }
    console.log(`  ${'all'.padEnd(46)} ${String(exact).padStart(4)} / ${String(total).padEnd(4)} ${(100 * exact / total).toFixed(1)} %${target}`);
    for (const m of misses) console.log(`    missed: ${JSON.stringify(m)}`);
  }
}

if (import.meta.url === `file://${process.argv[1]}`) {
  print('Visual-edit fidelity, single insertions and deletions,', await runFidelity(), ' (target 99 %)');
  print('Visual-edit fidelity, structural actions,', await runStructure(), '');
}
