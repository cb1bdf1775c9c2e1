// Random edits on real documents, from a fixed seed: whatever the edit, the page's
// incremental result must be the one a full render of the new text gives, and nothing throws.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { makePage, random } from './helpers.mjs';
import { canonical } from '../bench/harness.mjs';
import { createMarkdown, parseDocument, updateDocument, beginDocument, changeLines, splitLines } from '../src/markdown.js';
import { topNodes } from '../src/shelves.js';

const SEED = Number(process.env.QUORVEL_SEED ?? 20261207);


const vault = new URL('../../examples/vault/', import.meta.url);
function notes(dir) {
  return readdirSync(dir, { withFileTypes: true }).flatMap((e) => {
    const url = new URL(e.name + (e.isDirectory() ? '/' : ''), dir);
    if (e.isDirectory()) return notes(url);
    return e.name.endsWith('.md') ? [readFileSync(url, 'utf8')] : [];
  });
}
const modules = new URL('../node_modules/', import.meta.url);
const DOCS = [
  ...notes(vault),
  readFileSync(new URL('markdown-it/README.md', modules), 'utf8'),
  readFileSync(new URL('dompurify/README.md', modules), 'utf8').slice(0, 12000),
];

// Pieces that change the structure around them, as well as plain typing.
const PIECES = ['x', 'word ', ' ', '\n', '\n\n', '\r\n', '# ', '## ', '- ', '* ', '1. ', '> ', '    ', '```', '```\n',
  '~~~\n', '---\n', '===', '*', '**', '_', '`', '[', ']', '(', ')', '[x]: /u\n', '[^1]', '[^1]: note\n', '|', '| a | b |\n|---|---|\n',
  '<div>', '</div>', '<!--', '-->', '$$', '$', '[[Note]]', '- [ ] ', '\\', '&amp;', 'é', '😀'];

function edit(rng, text) {
  let at = rng.int(text.length + 1);
  // The start of a line, where a block starts or ends, a third of the time.
  if (rng.next() < 0.3) at = text.lastIndexOf('\n', at - 1) + 1;
  const removed = rng.next() < 0.4 ? Math.min(text.length - at, rng.int(12)) : 0;
  const inserted = rng.next() < 0.8 ? rng.pick(PIECES) : '';
  return { start: at, removed, inserted, text: text.slice(0, at) + inserted + text.slice(at + removed) };
}

function piecewise(md, text) {
  const { doc, rest } = beginDocument(md, text, 'file:///v/', { from: 0, pieceChars: 64 });
  if (!rest) return doc;
  let blocks = [];
  while (!rest.done) blocks = blocks.concat(rest.next());
  return rest.exact() ? { blocks } : parseDocument(md, text, 'file:///v/');
}

const shape = (doc) => doc.blocks.map((b) => `${b.start}-${b.end}:${b.html}`);

// A full parse after the change, and the change as the page makes it: the blocks it says it
// replaced are the only ones that are new.
function checkUpdate(md, doc, e, known, message) {
  const next = known ? updateDocument(md, doc, null, 'file:///v/', parseDocument, known) : updateDocument(md, doc, e.text, 'file:///v/');
  assert.equal(next.src, e.text, message);
  const full = parseDocument(md, e.text, 'file:///v/');
  assert.deepEqual(shape(next), shape(full), message);
  if (!next.full) {
    const [first, removed, added] = next.changed;
    assert.equal(next.blocks.length, doc.blocks.length - removed + added, message);
    // Elsewhere, only blocks that name a definition the change made or moved are new.
    const also = new Set(next.also);
    next.blocks.slice(0, first).forEach((b, i) => also.has(i) || assert.equal(b, doc.blocks[i], message));
    const kept = doc.blocks.length - first - removed;
    for (let i = 1; i <= kept; i += 1) {
      if (!also.has(next.blocks.length - i)) assert.equal(next.blocks.at(-i).html, doc.blocks.at(-i).html, message);
    }
  }
  return next;
}

// One block of each kind, each followed by what it could swallow.
const KINDS = ['---\ntitle: Kinds\n---\n', '# Heading\n', 'A paragraph\nover two lines.\n', '- item\n- item two\n',
  '> quote\n> more\n', '```js\nlet a = 1;\n```\n', '    indented code\n', '<div>\nhtml block\n</div>\n',
  '<!-- a comment\nover two lines -->\n', '| a | b |\n|---|---|\n| 1 | 2 |\n', '$$\nx = 1\n$$\n', '[ref]: /u "t"\n',
  'See [ref] and a note[^1].\n', '[^1]: The note.\n', '***\n', 'Setext\n------\n', '~~~\ntilde\n~~~\n', '<!-- -->\n',
  'The end, with $$ in it.\n'].join('\n');

describe('random edits', () => {
  it('the incremental parse equals a full parse after every edit', () => {
    const md = createMarkdown();
    const rng = random(SEED);
    let edits = 0;
    for (const original of DOCS) {
      let text = original;
      let doc = parseDocument(md, text, 'file:///v/');
      for (let i = 0; i < 600; i += 1) {
        const e = edit(rng, text);
        // Every other change goes as the page's deltas go: the lines found from the change, the
        // line of the last one as the place to look from, and the text made up only when asked.
        const known = changeLines(doc, e.start, e.removed, e.inserted);
        if (known) assert.deepEqual(known.lines, splitLines(e.text));
        const next = checkUpdate(md, doc, e, i % 2 ? known : null,
          `seed ${SEED}, edit ${edits}: ${JSON.stringify(e.inserted)} at ${e.start} (removed ${e.removed})`);
        text = e.text;
        doc = next;
        edits += 1;
        // A document parsed a piece at a time, in small pieces, is the same document.
        if (i % 40 === 0) assert.deepEqual(shape(piecewise(md, text)), shape(next), `pieces, seed ${SEED}, edit ${edits}`);
        // Now and then the document drifts too far from anything real: start it over.
        if (i % 150 === 149) {
          text = original;
          doc = parseDocument(md, text, 'file:///v/');
        }
      }
    }
    assert.ok(edits >= 3000);
  });

  it('equals a full parse after typing, deleting or breaking the line at the start of every line of every kind of block', () => {
    const md = createMarkdown();
    for (const text of [KINDS, KINDS.replace('---\ntitle: Kinds\n---\n', '---\n'), KINDS.replaceAll('\n\n', '\n')]) {
      const doc = parseDocument(md, text, 'file:///v/');
      let start = 0;
      for (const line of splitLines(text)) {
        for (const [removed, inserted] of [[0, 'x'], [1, ''], [0, '\n'], [0, '`'], [0, '$$'], [0, '<!--'], [0, '    '], [0, '- ']]) {
          const e = { start, removed, inserted, text: text.slice(0, start) + inserted + text.slice(start + removed) };
          const message = `${JSON.stringify(inserted)} for ${removed} at the start of ${JSON.stringify(line)}`;
          checkUpdate(md, doc, e, null, message);
          checkUpdate(md, doc, e, changeLines(doc, start, removed, inserted), message);
        }
        start += line.length;
      }
    }
  });

  // Shelves of three blocks stand in for a very long document's, so that changes keep crossing
  // their edges.
  it('the page shows what a full render shows after deltas that come while a large text is built', () => {
    const rng = random(SEED + 2);
    const original = DOCS.join('\n');
    const p = makePage({ sizes: { progressive: 1000, piece: 100, firstScreen: 200 } });
    // A slice of the rest builds a piece or two, so that changes find it at every stage.
    let t = 0;
    Object.defineProperty(p.win, 'performance', { value: { now: () => (t += 5) }, configurable: true });
    p.page.render(original, 'file:///v/', 1);
    let text = original;
    for (let v = 1; v < 80; v += 1) {
      if (rng.next() < 0.5) p.clock.advance(0);
      // Mostly where the reader is: near the top, above what is not built yet; else around the
      // line the rest is built from, or anywhere.
      const r = rng.next();
      const lastBuilt = [...topNodes(p.root)].filter((n) => n.nodeType === 1).at(-1);
      const restLine = lastBuilt?.qvBlock?.end ?? 0;
      const restAt = text.split('\n').slice(0, restLine).join('\n').length;
      const [from, to] = r < 0.6 ? [0, 150] : r < 0.85 ? [Math.max(0, restAt - 60), Math.min(text.length, restAt + 60)] : [0, text.length];
      const near = edit(rng, text.slice(from, to));
      const e = { ...near, start: near.start + from, text: text.slice(0, from) + near.text + text.slice(to) };
      // A quarter come as whole texts (a reload, an outside change).
      if (rng.next() < 0.25) p.page.render(e.text, 'file:///v/', v + 1);
      else assert.equal(p.page.update({ base: v, version: v + 1, start: e.start, removed: e.removed, inserted: e.inserted, length: e.text.length }), true);
      text = e.text;
      // Now and then the rest gets built between two changes, and the text is shown whole again,
      // to be built anew.
      if (v % 10 === 0) {
        p.clock.advance(0);
        p.page.render(text, 'file:///v/', v + 1);
      }
    }
    while (p.clock.pending()) p.clock.advance(0);
    const fresh = makePage();
    fresh.page.render(text, 'file:///v/');
    assert.equal(canonical(p.root), canonical(fresh.root));
  });

  // A whole text sent for the one the page holds is reduced to the span that differs.
  for (const [how, sizes, whole] of [['', undefined, false], [' on shelves', { huge: 0, shelf: 3 }, false], [' sent as whole texts', undefined, true]]) it(`the page shows what a full render shows after deltas${how}, and refuses ones that do not apply`, () => {
    const rng = random(SEED + 1);
    const original = DOCS[0];
    const { page, root, outline } = makePage({ sizes });
    page.render(original, 'file:///v/', 1);
    let text = original;
    for (let v = 1; v < 120; v += 1) {
      const e = edit(rng, text);
      if (whole) page.render(e.text, 'file:///v/', v + 1);
      else {
        const ok = page.update({ base: v, version: v + 1, start: e.start, removed: e.removed, inserted: e.inserted,
          length: e.text.length });
        assert.equal(ok, true);
      }
      text = e.text;
      if (sizes) {
        const wrong = [...root.childNodes].filter((n) => !n.classList?.contains('shelf') || !n.firstChild || n.childNodes.length > 2 * 3 + 8);
        assert.deepEqual(wrong.map((n) => n.nodeName), [], `after delta ${v}: every block on a shelf, none empty or overfull`);
      }
      if (v % 20 === 0) {
        const fresh = makePage();
        fresh.page.render(text, 'file:///v/');
        assert.equal(canonical(root), canonical(fresh.root), `after delta ${v}`);
        assert.deepEqual(outline(), fresh.outline(), `the host's outline after delta ${v}`);
        // The text the page made up from its changes, as it gives it back.
        assert.equal(page.flushEdit(), text, `text after delta ${v}`);
      }
    }
    assert.equal(page.serialize().length > 0, true);
    const base = 120;
    const refused = [
      { base: base - 1, version: base + 1, start: 0, removed: 0, inserted: 'x', length: text.length + 1 },
      { base, version: base + 1, start: 0, removed: 0, inserted: 'x', length: text.length },
      { base, version: base + 1, start: text.length + 1, removed: 0, inserted: 'x', length: text.length + 1 },
      { base, version: base + 1, start: 0, removed: -1, inserted: '', length: text.length + 1 },
      { base, version: base + 1, start: 0, removed: 0, length: text.length },
      'not json',
    ];
    for (const d of refused) assert.equal(page.update(d), false, JSON.stringify(d));
    assert.equal(page.update({ base, version: base + 1, start: 0, removed: 0, inserted: 'x', length: text.length + 1 }), true);
  });

  // Documents made of well-formed blocks with random inline content: what a user writes, in
  // random combinations.
  const INLINE = ['word', 'two words', '*em*', '**strong**', '`code`', '[link](u)', '<https://e.org>', '~~gone~~',
    '==mark==', '$x^2$', '[[Note]]', 'a_b', '1. not a list', 'é😀', '\\*', '&amp;', '<br>'];
  const BLOCKS = [
    (t) => `${t}\n`, (t) => `# ${t}\n`, (t) => `### ${t}\n`, (t) => `- ${t}\n- ${t}\n`, (t) => `1. ${t}\n2. ${t}\n`,
    (t) => `> ${t}\n`, (t) => `- [ ] ${t}\n- [x] ${t}\n`, (t) => `\`\`\`js\nlet ${t.length} = 1;\n\`\`\`\n`,
    (t) => `| a | b |\n|---|--:|\n| ${t} | 1 |\n`, () => '---\n', (t) => `${t}\n===\n`, (t) => `    ${t}\n`,
    (t) => `- ${t}\n  - ${t}\n`, () => '$$\nx = 1\n$$\n', (t) => `<div>${t}</div>\n`, (t) => `${t}[^n]\n\n[^n]: A *note*.\n`,
  ];
  it('random Markdown renders, and an untouched page serialises to text that renders the same', () => {
    const rng = random(SEED + 2);
    for (let n = 0; n < 80; n += 1) {
      const blocks = [];
      for (let b = 0; b < 6; b += 1) {
        const inline = Array.from({ length: 1 + rng.int(4) }, () => rng.pick(INLINE)).join(' ');
        blocks.push(rng.pick(BLOCKS)(inline));
      }
      const text = blocks.join('\n');
      const { page, root } = makePage();
      page.render(text, 'file:///v/');
      const again = makePage();
      again.page.render(page.serialize(), 'file:///v/');
      assert.equal(canonical(again.root), canonical(root), `seed ${SEED + 2}, document ${n}: ${JSON.stringify(text)}`);
    }
  });

  // A character typed into a random block of a real note: the file changes inside that block's
  // lines and nowhere else.
  it('a visual edit changes only the lines of the block it was made in', async () => {
    const rng = random(SEED + 3);
    for (const original of DOCS.slice(0, 4)) {
      for (let n = 0; n < 15; n += 1) {
        // Every other page stands on shelves, which editing keeps.
        const { page, root, win, settle } = makePage(n % 2 ? { sizes: { huge: 0, shelf: 3 } } : {});
        page.render(original, 'file:///v/');
        page.setEditable(true);
        const blocks = topNodes(root).filter((el) => /^(P|H[1-6]|LI|BLOCKQUOTE|UL|OL)$/.test(el.nodeName));
        const el = rng.pick(blocks);
        const walker = win.document.createTreeWalker(el, 4);
        const texts = [];
        // Text a reader can type into: not inside rendered math, a diagram or other read-only parts.
        for (let t = walker.nextNode(); t; t = walker.nextNode()) {
          if (t.data.trim() && !t.parentElement.closest('[contenteditable="false"]')) texts.push(t);
        }
        if (!texts.length) continue;
        const text = rng.pick(texts);
        text.insertData(rng.int(text.data.length + 1), 'Z');
        await settle();
        const { start: from, end: to } = el.qvBlock;
        const after = page.flushEdit().split('\n');
        const before = original.split('\n');
        const tail = before.length - to;
        assert.deepEqual(after.slice(0, from), before.slice(0, from), `lines before the block, ${el.outerHTML.slice(0, 80)}`);
        assert.deepEqual(after.slice(after.length - tail), before.slice(to), `lines after the block, ${el.outerHTML.slice(0, 80)}`);
        assert.ok(after.slice(from, after.length - tail).join('\n').includes('Z'), `${text.parentElement.outerHTML.slice(0, 200)}`);
      }
    }
  });
});

// A line break, a deleted block, a pasted paragraph, two blocks joined: written back as the
// blocks between the unchanged ones around them, the text is the one the whole page gives.
describe('write-back around structural edits', () => {
  const elements = (root) => topNodes(root).filter((n) => n.nodeType === 1);
  const OPS = [
    ['split', (doc, el, k) => {
      const text = el.nodeName === 'P' && [...el.childNodes].find((n) => n.nodeType === 3 && n.data.length > 1);
      if (!text) return;
      const p = doc.createElement('p');
      p.append(text.splitText(k % text.data.length));
      while (text.nextSibling) p.append(text.nextSibling);
      el.after(p);
    }],
    ['remove', (doc, el) => el.remove()],
    ['insert', (doc, el, k) => {
      const p = doc.createElement('p');
      p.textContent = `Pasted ${k}`;
      (k % 2 ? el.after(p) : el.before(p));
    }],
    ['join', (doc, el) => {
      const next = el.nextElementSibling;
      if (!next || el.nodeName !== 'P' || next.nodeName !== 'P') return;
      el.append(...next.childNodes);
      next.remove();
    }],
    ['type', (doc, el) => el.append(doc.createTextNode(' typed'))],
  ];
  for (const [how, sizes] of [['', {}], [' on shelves', { huge: 0, shelf: 3 }]]) {
    it(`writes what a whole write-back writes${how}`, async () => {
      const rng = random(SEED + 5);
      for (let round = 0; round < 60; round += 1) {
        const text = rng.pick(DOCS).slice(0, 6000);
        const pages = [makePage({ sizes }), makePage({ sizes: { ...sizes, around: -1 } })];
        for (const { page } of pages) {
          page.render(text, '');
          page.setEditable(true);
        }
        // Twice: the second edit finds the lines of the blocks where the first left them.
        for (let time = 0; time < 3; time += 1) {
          const ops = Array.from({ length: 1 + rng.int(3) }, () => [rng.pick(OPS), rng.next(), rng.int(1000)]);
          for (const { root, win, settle } of pages) {
            for (const [[, op], where, k] of ops) {
              const els = elements(root);
              if (els.length) op(win.document, els[Math.floor(where * els.length)], k);
            }
            await settle();
          }
          const message = `round ${round}.${time}: ${ops.map(([[name]]) => name).join(', ')}`;
          const [around, whole] = pages.map(({ page }) => page.flushEdit());
          assert.equal(around, whole, message);
        }
      }
    });
  }
});
