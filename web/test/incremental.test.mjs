import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';
import { canonical } from '../bench/harness.mjs';
import { topNodes } from '../src/shelves.js';
import { createMarkdown, parseDocument, updateDocument, changeLines, splitLines } from '../src/markdown.js';

const paras = Array.from({ length: 12 }, (_, i) => `Paragraph ${i} with *some* text.`);
const DOC = `# Head\n\n${paras.join('\n\n')}\n\n- a\n- b\n\nLast.\n`;

describe('incremental update', () => {
  it('replaces only the block whose source changed', () => {
    const { page, root } = makePage();
    page.render(DOC, '');
    const before = [...root.children];
    page.render(DOC.replace('Paragraph 5 with', 'Paragraph five with'), '');
    const after = [...root.children];
    const replaced = after.filter((el, i) => el !== before[i]);
    assert.equal(replaced.length, 1);
    assert.equal(replaced[0].textContent, 'Paragraph five with some text.');
  });

  it('moves the line ranges of the blocks below a new line', () => {
    const { page, root } = makePage();
    page.render(DOC, '');
    const last = root.lastElementChild;
    assert.equal(last.qvBlock.start, DOC.split('\n').indexOf('Last.'));
    page.render(DOC.replace('Paragraph 3 with', 'Paragraph 3\nwith'), '');
    assert.equal(root.lastElementChild, last);
    assert.equal(last.qvBlock.start, DOC.split('\n').indexOf('Last.') + 1);
  });

  // Each edit, rendered incrementally, must give exactly what a fresh render
  // of the new text gives.
  const edits = [
    ['type-a-character', (d) => d.replace('Paragraph 4 with', 'Paragraph 4x with')],
    ['join-paragraphs', (d) => d.replace('text.\n\nParagraph 7', 'text.\nParagraph 7')],
    ['paragraph-becomes-list-item', (d) => d.replace('Paragraph 11', '- Paragraph 11')],
    ['setext-underline', (d) => d.replace('Paragraph 2 with *some* text.', 'Paragraph 2 with *some* text.\n---')],
    ['open-a-fence', (d) => d.replace('Paragraph 6', '```\nParagraph 6')],
    ['add-a-reference', (d) => d.replace('Paragraph 1 with *some* text.', 'See [x].\n\n[x]: /u')],
    ['delete-everything-after', (d) => d.slice(0, d.indexOf('Paragraph 8'))],
    ['lazy-continuation-into-quote', (d) => d.replace('Paragraph 9', '> quoted\nParagraph 9')],
    ['footnote-added', (d) => d.replace('Paragraph 3 with', 'Paragraph 3[^1] with') + '\n[^1]: note\n'],
    ['html-block', (d) => d.replace('Paragraph 10', '<div>\nParagraph 10')],
    ['indent-into-code', (d) => d.replace('\n\nParagraph 5', '\n\n    Paragraph 5')],
  ];
  for (const [name, edit] of edits) {
    it(`matches a full render after ${name}`, () => {
      const inc = makePage();
      inc.page.render(DOC, '');
      const next = edit(DOC);
      inc.page.render(next, '');
      const full = makePage();
      full.page.render(next, '');
      assert.equal(canonical(inc.root), canonical(full.root));
      const ranges = (root) => [...root.children].map((el) => `${el.qvBlock.start}-${el.qvBlock.end}`);
      assert.deepEqual(ranges(inc.root), ranges(full.root));
    });
  }

  it('parses only the region around the change, keystroke after keystroke', () => {
    const md = createMarkdown();
    let prev = parseDocument(md, DOC, '');
    for (const typed of ['Paragraph 6 and', 'Paragraph 6 andx']) {
      const next = updateDocument(md, prev, DOC.replace('Paragraph 6 with', typed), '');
      assert.equal(next.full, false);
      const [, removed, added] = next.changed;
      assert.ok(removed <= 3 && added <= 3, `changed ${next.changed}`);
      assert.equal(next.blocks[0], prev.blocks[0], 'blocks before the change are the same objects');
      prev = next;
    }
  });

  // A keystroke at the start of a block changes what it is and what it may take in after it,
  // but no more than that: the parse stops where the blocks line up with the old ones again.
  const unit = (n) => `## Part ${n}\n\nProse ${n}.\n\n- item ${n}\n\n> quote ${n}\n\n    code ${n}\n\n<div>\nhtml ${n}\n</div>\n\n`
    + `<!-- comment ${n}\nover two lines -->\n\n| a | b |\n|---|---|\n| ${n} | 1 |\n\n***\n\nSetext ${n}\n---\n\n$$ x_${n} $$\n\n`;
  const LONG = Array.from({ length: 40 }, (_, n) => unit(n)).join('');
  const starts = [['a heading', '## Part 20'], ['a paragraph', 'Prose 20'], ['a list item', '- item 20'], ['a quote', '> quote 20'],
    ['indented code', '    code 20'], ['an HTML block', '<div>\nhtml 20'], ['a comment', '<!-- comment 20'], ['a table row', '| 20 |'],
    ['a thematic break', '***\n\nSetext 20'], ['a setext underline', '---\n\n$$ x_20'], ['display math', '$$ x_20']];
  for (const [name, before] of starts) {
    it(`re-renders a few blocks after a character typed at the start of ${name}`, () => {
      const md = createMarkdown();
      const prev = parseDocument(md, LONG, '');
      const at = LONG.indexOf(before);
      const text = `${LONG.slice(0, at)}x${LONG.slice(at)}`;
      const next = updateDocument(md, prev, null, '', parseDocument, changeLines(prev, at, 0, 'x'));
      assert.equal(next.full, false);
      assert.ok(next.changed[1] <= 4 && next.changed[2] <= 4, `changed ${next.changed}`);
      assert.deepEqual(next.blocks.map((b) => [b.start, b.end, b.html]), parseDocument(md, text, '').blocks.map((b) => [b.start, b.end, b.html]));
    });
  }

  it('keeps the caret where it was while a block above is replaced', () => {
    const { page, root, win } = makePage();
    page.render(DOC, '');
    page.setEditable(true);
    const target = [...root.querySelectorAll('p')].find((p) => p.textContent.startsWith('Paragraph 9'));
    win.getSelection().collapse(target.firstChild, 4);
    page.render(DOC.replace('Paragraph 1 with', 'Paragraph one with'), '');
    const sel = win.getSelection();
    assert.equal(sel.anchorNode, target.firstChild);
    assert.equal(sel.anchorOffset, 4);
  });
});

describe('the lines of a change', () => {
  // Each row is a change to the text before it, so that the line of the last change (where
  // the next search starts) is sometimes after, sometimes before the next one.
  const steps = [
    ['a line break after a lone carriage return', 'a\rb\nc\n', [2, 0, '\n']],
    ['typing far above the last change', 'a\rb\nc\n', [1, 0, 'xy']],
    ['typing far below it', 'one\ntwo\nthree\nfour\n', [14, 0, 'z']],
    ['a removed line break joins two lines', 'one\ntwo\nthree\nfour\n', [7, 1, '']],
    ['a carriage return typed at a line end', 'one\ntwo\n', [3, 0, '\r']],
  ];
  for (const [name, text, ...changes] of steps) {
    it(name, () => {
      const md = createMarkdown();
      let doc = parseDocument(md, text, '');
      let src = text;
      for (const step of [[Math.max(1, src.length - 2), 0, 'q'], ...changes]) {
        const [start, removed, inserted] = step;
        const known = changeLines(doc, start, removed, inserted);
        src = src.slice(0, start) + inserted + src.slice(start + removed);
        assert.deepEqual(known.lines, splitLines(src));
        doc = updateDocument(md, doc, null, '', parseDocument, known);
        assert.equal(doc.src, src);
      }
    });
  }
});

describe('a large document', () => {
  // Small sizes stand in for megabytes: shown at once from 2 000 characters, 600 at first.
  const sizes = { progressive: 2000, piece: 300, firstScreen: 600 };
  const sections = Array.from({ length: 120 }, (_, i) => `## Part ${i}\n\nSome [text][t] for part ${i}.\n\n- one\n- two\n`);
  const LARGE = `# Large\n\n${sections.join('\n')}\n[t]: /target\n`;
  const built = (p) => {
    while (p.clock.pending()) p.clock.advance(0);
  };
  const full = (text) => {
    const p = makePage();
    p.page.render(text, '');
    return p;
  };

  it('shows the first screen at once and the rest in slices, ending as a whole render does', () => {
    const p = makePage({ sizes });
    p.page.render(LARGE, '');
    const whole = full(LARGE);
    const shown = topNodes(p.root).length;
    assert.ok(shown < topNodes(whole.root).length / 4, `${shown} blocks at first`);
    assert.equal(p.of('rendered').length, 1);
    // The definition at the very end was guessed: the first screen's links already work.
    assert.ok(p.root.querySelector('a[href="/target"]'));
    built(p);
    assert.equal(canonical(p.root), canonical(whole.root));
    assert.equal(p.outline().length, 121);
  });

  // Slices of the rest held back the frame that shows the first screen. A page out of sight
  // gets no frames and builds the rest all the same.
  for (const [when, draw] of [
    ['a frame has shown the first screen', (p) => p.clock.frame()],
    ['no frame came for a while', (p) => p.clock.advance(100)],
  ]) {
    it(`builds the rest of a note it opens once ${when}`, () => {
      const p = makePage({ sizes });
      p.clock.holdFrames();
      p.page.render(LARGE, '');
      const shown = topNodes(p.root).length;
      for (let i = 0; i < 5; i++) p.clock.advance(0);
      p.clock.advance(99);
      assert.equal(topNodes(p.root).length, shown);
      draw(p);
      built(p);
      assert.equal(canonical(p.root), canonical(full(LARGE).root));
    });
  }

  // Built in the frame of a key, the rest made that key's frame three times as long.
  it('builds the rest while the keys pause, not between them', () => {
    const p = makePage({ sizes: { ...sizes, typingPause: 200 } });
    let t = 0;
    Object.defineProperty(p.win, 'performance', { value: { now: () => t }, configurable: true });
    p.page.render(LARGE, '', 1);
    const shown = () => topNodes(p.root).filter((n) => n.nodeType === 1).length;
    const first = shown();
    p.page.update({ base: 1, version: 2, start: 0, removed: 0, inserted: 'x', length: LARGE.length + 1 });
    for (let i = 0; i < 20; i += 1) {
      t += 9;
      p.clock.advance(9);
    }
    assert.equal(shown(), first, 'built while typing');
    t += 100;
    p.clock.advance(100);
    built(p);
    assert.equal(canonical(p.root), canonical(full(`x${LARGE}`).root));
  });

  it('follows a long note\'s headings, and gives them their ids, sending only what changed', () => {
    const p = makePage({ sizes: { huge: 50 } });
    p.page.render(LARGE, '', 1);
    const edited = LARGE.replace('## Part 7\n', '## Part seven\n');
    p.page.update({ base: 1, version: 2, start: LARGE.indexOf('7\n'), removed: 1, inserted: 'seven', length: edited.length });
    assert.equal(p.outline()[8].text, 'Part seven');
    assert.equal(p.of('outline').at(-1).items.length, 1);
    assert.ok(p.root.querySelector('h2#part-seven'));
  });

  const during = [
    ['find', (p) => {
      assert.equal(p.page.find('part').count, 240);
      p.page.findClear();
    }],
    ['serialize', (p) => assert.equal(p.page.serialize(), full(LARGE).page.serialize())],
    ['a change', (p) => assert.equal(p.page.update({ base: 1, version: 2, start: LARGE.length - 1, removed: 0, inserted: 'x', length: LARGE.length + 1 }), true)],
    ['another text', (p) => p.page.render(LARGE.replace('# Large', '# Other'), '', 2)],
    // Typing above what is built yet goes on while the rest is built, without waiting for it.
    ['a change above the rest', (p) => {
      const shown = topNodes(p.root).length;
      assert.equal(p.page.update({ base: 1, version: 2, start: LARGE.indexOf('part 1.'), removed: 0, inserted: 'x\n\n- y', length: LARGE.length + 6 }), true);
      assert.ok(topNodes(p.root).length < shown + 4, 'the rest is not built at once');
    }],
    // Typing below it (the source view) leaves what is built standing and the rest going on.
    ['a change below what is built', (p) => {
      let t = 0;
      Object.defineProperty(p.win, 'performance', { value: { now: () => (t += 5) }, configurable: true });
      const els = () => [...topNodes(p.root)].filter((n) => n.nodeType === 1);
      const shown = els().length;
      for (let i = 0; i < 10 && els().length === shown; i += 1) p.clock.advance(0);
      const last = els().at(-1);
      assert.equal(p.page.update({ base: 1, version: 2, start: LARGE.indexOf('part 100.'), removed: 0, inserted: 'x', length: LARGE.length + 1 }), true);
      built(p);
      assert.ok(last.isConnected, 'what was built is built again');
    }],
  ];
  for (const [name, act] of during) {
    it(`${name} while it is built sees the whole document`, () => {
      const p = makePage({ sizes });
      p.page.render(LARGE, '', 1);
      act(p);
      built(p);
      const expected = {
        'a change': `${LARGE.slice(0, -1)}x\n`,
        'a change below what is built': LARGE.replace('part 100.', 'xpart 100.'),
        'another text': LARGE.replace('# Large', '# Other'),
        'a change above the rest': LARGE.replace('part 1.', 'x\n\n- ypart 1.'),
      }[name] ?? LARGE;
      assert.equal(canonical(p.root), canonical(full(expected).root));
    });
  }

  // A definition below what is built, typed at while the rest is built (the source view of a note
  // just opened): the guess at the definitions follows it, and what is built stays unless it
  // names the label.
  const late = sections.map((s, i) => (i === 100 ? s.replace('[text][t]', '[late][u]') : s));
  const LATE = `# Late\n\n${late.join('\n')}\n[u]: /first\n\n[t]: /target\n`;
  for (const [name, from, to, target] of [
    ['changed', '[u]: /first', '[u]: /second', '/second'],
    ['made', '[t]: /target\n', '[t]: /target\n\n[v]: /v\n', '/first'],
    ['turned into text', '[u]: /first', 'x[u]: /first', null],
    ['changed, named by what is built', '[t]: /target', '[t]: /elsewhere', '/first'],
  ]) {
    it(`follows a link definition below what is built: ${name}`, () => {
      const p = makePage({ sizes });
      p.page.render(LATE, '', 1);
      const els = () => [...topNodes(p.root)].filter((n) => n.nodeType === 1);
      const shown = els().length;
      while (els().length === shown) p.clock.advance(0);
      const last = els().at(-1);
      const edited = LATE.replace(from, to);
      assert.equal(p.page.update({ base: 1, version: 2, start: LATE.indexOf(from), removed: from.length, inserted: to, length: edited.length }), true);
      assert.equal(last.isConnected, !name.includes('named'), 'built again from the top');
      // The block naming the definition, built after the change, is built with it as it now is,
      // not mended once the whole is built.
      const named = () => [...p.root.querySelectorAll('p')].find((el) => el.textContent.includes('for part 100.'));
      while (!named()) p.clock.advance(0);
      const block = named();
      assert.equal(block.querySelector('a')?.getAttribute('href') ?? null, target);
      built(p);
      assert.ok(block.isConnected, 'rendered again at the end');
      assert.equal(canonical(p.root), canonical(full(edited).root));
    });
  }

  it('reports drawn only once the whole document is built', async () => {
    const p = makePage({ sizes });
    p.page.render(LARGE, '');
    p.page.reportDrawn(false, false);
    await p.settle();
    assert.equal(p.of('drawn').length, 0);
    built(p);
    await p.posted('drawn');
  });
});
