import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';
import { EDIT_DELAY_MS } from '../src/editor.js';
import { typeChar, press } from './keys.mjs';
import { insertBlocks } from '../src/shelves.js';

// Written the way people write: odd markers, trailing spaces, a reference
// definition and a comment between blocks. None of it may change unless the
// user edits that block.
const DOC = [
  'Title',
  '=====',
  '',
  '*   star item   ',
  '*   second',
  '',
  'Para one with trailing spaces   ',
  'and a [ref link][r].',
  '',
  'Para two.',
  '',
  '[r]: http://x.com',
  '<!-- comment -->',
  '',
  '|a|b|',
  '|-|-|',
  '|1|2|',
  '',
].join('\n');

function editing(doc = DOC, dir = '') {
  const env = makePage();
  env.page.render(doc, dir);
  env.page.setEditable(true);
  return env;
}

function paragraph(root, text) {
  return [...root.querySelectorAll('p')].find((p) => p.textContent.startsWith(text));
}

function selectText(win, node, start, end) {
  const range = win.document.createRange();
  range.setStart(node, start);
  range.setEnd(node, end);
  const sel = win.getSelection();
  sel.removeAllRanges();
  sel.addRange(range);
}

describe('visual editing', () => {
  // The engine types a space at a line's end, or beside another, as a no-break space.
  for (const [name, doc, typed, want] of [
    ['typed-trailing-space', 'Hello world\n', 'Hello world more\u00a0b', 'Hello world more b\n'],
    ['typed-double-space', 'Hello world\n', 'abc\u00a0 def', 'abc  def\n'],
    ['the-files-own-no-break-space-stays', 'Hello\u00a0world\n', 'Hello\u00a0world and\u00a0b', 'Hello\u00a0world and b\n'],
    // Typing beside a line break inside a paragraph: the engine turns the break into a space.
    ['the-line-break-after-the-typing-stays', 'line one\nline two\n', 'line oneY line two', 'line oneY\nline two\n'],
    ['the-line-break-before-the-typing-stays', 'line one\nline two\n', 'line one Yline two', 'line one\nYline two\n'],
    ['the-line-break-around-a-word-stays', 'a\nb\nc\n', 'a\u00a0XY c', 'a\nXY\nc\n'],
    ['the-line-break-in-a-list-item-stays', '- line one\n  line two\n', 'line oneY line two', '- line oneY\n  line two\n'],
  ]) {
    it(`writes what was typed: ${name}`, async () => {
      const { root, page, settle } = editing(doc);
      root.querySelector('p, li').firstChild.data = typed;
      await settle();
      assert.equal(page.flushEdit(), want);
    });
  }

  it('rewrites only the edited block; every other line stays byte for byte', async () => {
    const { root, page, settle } = editing();
    paragraph(root, 'Para two').firstChild.data = 'Para 2, edited.';
    await settle();
    assert.equal(page.flushEdit(), DOC.replace('Para two.', 'Para 2, edited.'));
  });

  it('posts the edit once, after the typing pauses', async () => {
    const { root, settle, clock, of } = editing();
    const p = paragraph(root, 'Para two').firstChild;
    p.data = 'Para tw';
    await settle();
    clock.advance(EDIT_DELAY_MS - 1);
    p.data = 'Para two!';
    await settle();
    clock.advance(EDIT_DELAY_MS - 1);
    assert.equal(of('edit').length, 0);
    clock.advance(1);
    assert.deepEqual(of('edit'), [{ type: 'edit', source: DOC.replace('Para two.', 'Para two!') }]);
  });

  it('writes a new paragraph (Enter) between untouched blocks', async () => {
    const { root, page, settle, doc } = editing();
    const p = doc.createElement('p');
    p.textContent = 'Inserted *literally*';
    paragraph(root, 'Para one').after(p);
    await settle();
    assert.equal(page.flushEdit(),
      DOC.replace('and a [ref link][r].\n', 'and a [ref link][r].\n\nInserted \\*literally\\*\n'));
  });

  it('drops a deleted block but keeps the definitions around it', async () => {
    const { root, page, settle } = editing();
    paragraph(root, 'Para two').remove();
    await settle();
    assert.equal(page.flushEdit(), DOC.replace('Para two.\n\n', ''));
  });

  it('keeps the edited text as its own after flushing, for the next edit', async () => {
    const { root, page, settle } = editing();
    paragraph(root, 'Para two').firstChild.data = 'First.';
    await settle();
    page.flushEdit();
    root.querySelector('li').firstChild.data = 'star edited';
    await settle();
    const out = page.flushEdit();
    assert.ok(out.includes('\nFirst.\n'));
    // The list is one block, so it is written whole; the lines around it are not.
    assert.equal(out, DOC.replace('star item', 'star edited').replace('Para two.', 'First.'));
  });

  it('moves the blocks after an edit that added lines, for the next edit', async () => {
    const { root, page, settle, doc } = editing();
    const li = doc.createElement('li');
    li.textContent = 'third';
    root.querySelector('ul').append(li);
    await settle();
    page.flushEdit();
    paragraph(root, 'Para two').firstChild.data = 'Para 2.';
    await settle();
    assert.equal(page.flushEdit(), DOC.replace('*   second\n', '*   second\n*   third\n').replace('Para two.', 'Para 2.'));
  });

  it('keeps the lines around a block edited after the page showed another text', async () => {
    const src = '## Licensing\nAlways read.\n\n- a\n- b\n';
    const { root, page, settle } = editing(src);
    root.querySelector('li').firstChild.data = 'a2';
    await settle();
    page.flushEdit();
    page.render(src, '');
    paragraph(root, 'Always').firstChild.data = 'Always read it.';
    await settle();
    assert.equal(page.flushEdit(), src.replace('read.', 'read it.'));
  });

  // The engine's own: computed values, or the page's variables as the engine found them.
  for (const [name, style, written] of [
    ['computed', 'font-size: 1.4em; font-weight: 600; color: rgb(26, 32, 44);', 'Title'],
    ['page-variables', 'caret-color: var(--accent); color: var(--fg); font-family: var(--serif);', 'Title'],
    ['someones', 'color: red', '<span style="color: red">Title</span>'],
  ]) {
    it(`writes the styled spans the engine leaves when it joins blocks as plain text (${name})`, async () => {
      const { root, page, settle, doc } = editing('# Title\n\nPara two.\n');
      const span = doc.createElement('span');
      span.setAttribute('style', style);
      span.textContent = 'Title';
      paragraph(root, 'Para two').prepend(span);
      root.querySelector('h1').remove();
      await settle();
      assert.equal(page.flushEdit(), `${written}Para two.\n`);
    });
  }

  it('cancelEdit drops what was not posted and shows the source again', async () => {
    const { root, page, settle, clock, of } = editing();
    paragraph(root, 'Para two').firstChild.data = 'lost';
    await settle();
    page.cancelEdit();
    clock.advance(EDIT_DELAY_MS * 2);
    assert.equal(of('edit').length, 0);
    assert.ok(paragraph(root, 'Para two'));
    assert.equal(page.flushEdit(), DOC);
  });

  it('ignores a render of the text it just posted', async () => {
    const { root, page, settle, clock, of } = editing();
    const p = paragraph(root, 'Para two');
    p.firstChild.data = 'Para two, typed.';
    await settle();
    clock.advance(EDIT_DELAY_MS);
    page.render(of('edit')[0].source, '');
    assert.equal(paragraph(root, 'Para two'), p, 'the edited element was replaced');
  });
});

// Typing in one block changes that block's bytes and no others: each source
// holds "EDIT" in the block typed into, and the result must be the source
// with " typed" inserted after it. The outline lists the headings shown.
const LOCAL_EDITS = [
  // Two blocks typed into between two write-backs, far apart.
  ['two-blocks-apart', 'EDIT one\nsecond line\n\n## Middle\n\nNot touched  \nline two\n\n- a\n- EDIT two\n', ['Middle']],
  ['after-details-closed-past-a-blank-line',
    '<details>\n<summary>More</summary>\n\n## Inside\n\nSome **bold** and [[Note]].\n\n</details>\n\n# After\n\n- item **b**\n\nEDIT here.\n',
    ['Inside', 'After']],
  ['inside-details',
    '<details>\n<summary>More</summary>\n\nEDIT **bold** and [[Note]].\n\n</details>\n\n# After\n',
    ['After']],
  ['after-unclosed-div', '<div class="x">\n\n# Later\n\nEDIT *x* **y**\n', ['Later']],
  ['crlf', '# Title\r\n\r\nEDIT one\r\nline two\r\n\r\n- a\r\n- b\r\n', ['Title']],
  ['crlf-last-block-without-final-break', 'a\r\n\r\nEDIT', []],
  ['lone-cr', 'one\r\rEDIT\r\rthree\r', []],
  ['single-line-without-final-break', 'EDIT and a long line', []],
  ['blank-lines-around-kept', '# H\n\n\nEDIT\n\n\n\nnext\n', ['H']],
  ['no-blank-line-after-heading', '# H\nEDIT\n## I\n', ['H', 'I']],
  ['second-of-two-adjacent-lists', '- a\n- b\n\n* EDIT c\n* d\n\n1) e\n', []],
  ['bom-first-block-edited', '\uFEFF# EDIT title\n\npara\n', ['EDIT title']],
  ['bom-front-matter', '\uFEFF---\ntitle: T\n---\n# Title\n\nEDIT\n', ['Title']],
  // The block typed into keeps every form it was written in.
  ['emphasis-as-written', 'EDIT _x_, __y__, ***z*** and **_w_**\n', []],
  ['reference-links', 'EDIT [a][r], [r][], [r] and ![i][r]\n\n[r]: http://x.com "T"\n', []],
  ['links-and-addresses', "EDIT [a](<u v> 't') <https://x.y> www.x.org https://b.c/d_e\n", []],
  ['code-escapes-entities', 'EDIT ``a`b`` \\* \\_ &amp; &copy; &#35;\n', []],
  ['hard-breaks', 'EDIT one  \ntwo\\\nthree\n', []],
  ['raw-inline-html', 'EDIT <kbd>K</kbd>, <br/>, <span class="x">s</span> <span style="color:red">r</span>\n', []],
  ['list-markers-and-numbers', '1. one\n1. EDIT\n1. three\n\n+ a\n', []],
  ['table-delimiters-and-padding', '|  a  |b|\n|-----|----:|\n| EDIT | 2 |\n', []],
  ['comment-inside-a-list', '- EDIT\n  <!-- c -->\n- b\n', []],
  ['footnote-label', 'EDIT[^note] here.\n\n[^note]: The note.\n', []],
  ['strike-mark-math-wikilink', 'EDIT ~~s~~ ==m== $x^2$ [[Note|alias]]\n', []],
  ['setext-heading', 'EDIT title\n===\n', ['EDIT title']],
  ['lazy-quote', '> EDIT one\ncontinued lazily\n', []],
  ['crlf-mixed-in-a-block', 'EDIT one\r\ntwo\nthree\r\n', []],
  // Shown first with the text after the arrow, which a far-reaching change
  // turns into a render of the whole document.
  ['after-a-whole-render', '# A\n\n<!-- c -->\n\nSome __y__.\n\nEDIT\n', ['A'], '# A\n\n<!-- c -->\n\nSome __y__.\n\nEDIT <\n'],
];

describe('edits stay local', () => {
  for (const [name, src, headings, shownBefore] of LOCAL_EDITS) {
    it(name, async () => {
      const { root, page, settle, win, outline } = editing(shownBefore ?? src);
      if (shownBefore) page.render(src, '');
      assert.deepEqual(outline().map((h) => h.text), headings);
      assert.equal(page.flushEdit(), src, 'nothing typed, yet the text changed');
      const walker = win.document.createTreeWalker(root, win.NodeFilter.SHOW_TEXT);
      while (walker.nextNode()) {
        const text = walker.currentNode;
        if (text.data.includes('EDIT')) text.data = text.data.replaceAll('EDIT', 'EDIT typed');
      }
      await settle();
      assert.equal(page.flushEdit(), src.replaceAll('EDIT', 'EDIT typed'));
    });
  }
});

describe('formatting commands', () => {
  const cases = [
    ['bold', 'Hello **world**\n'],
    ['italic', 'Hello *world*\n'],
    ['code', 'Hello `world`\n'],
    ['mark', 'Hello ==world==\n'],
    ['strike', 'Hello ~~world~~\n'],
    ['link', 'Hello [world](https://a.example)\n'],
    ['h1', '# Hello world\n'],
    ['h2', '## Hello world\n'],
    ['h3', '### Hello world\n'],
    ['quote', '> Hello world\n'],
    ['ul', '- Hello world\n'],
    ['ol', '1. Hello world\n'],
    ['task', '- [ ] Hello world\n'],
  ];
  for (const [key, want] of cases) {
    it(`formats with ${key}`, async () => {
      const { root, page, win, settle } = editing('Hello world\n');
      win.prompt = () => 'https://a.example';
      selectText(win, root.querySelector('p').firstChild, 6, 11);
      page.format(key);
      await settle();
      assert.equal(page.flushEdit(), want);
    });
  }

  // A new note: the command makes the block the text typed next goes into.
  for (const [key, want] of [['quote', '> text\n'], ['h2', '## text\n'], ['task', '- [ ] text\n']]) {
    it(`${key} on an empty note, then typing`, async () => {
      const env = editing('');
      env.page.format(key);
      typeChar(env.win, env.root, 't');
      for (const ch of 'ext') typeChar(env.win, env.root, ch);
      await env.settle();
      assert.equal(env.page.flushEdit(), want);
    });
  }

  it('turns a heading back into a paragraph', async () => {
    const { root, page, win, settle } = editing('# Hello world\n');
    selectText(win, root.querySelector('h1').firstChild, 0, 0);
    page.format('paragraph');
    await settle();
    assert.equal(page.flushEdit(), 'Hello world\n');
  });

  it('unwraps bold when the selection is bold already', async () => {
    const { root, page, win, settle } = editing('Hello **world**\n');
    selectText(win, root.querySelector('strong').firstChild, 1, 3);
    page.format('bold');
    await settle();
    assert.equal(page.flushEdit(), 'Hello world\n');
  });

  it('inserts an image at the caret, written as given and shown resolved', async () => {
    const { root, page, win, settle } = editing('Hello world\n', 'file:///n/');
    selectText(win, root.querySelector('p').firstChild, 6, 6);
    page.insertImage('Captures/capture-1.png');
    await settle();
    assert.equal(root.querySelector('img').getAttribute('src'), 'file:///n/Captures/capture-1.png');
    assert.equal(page.flushEdit(), 'Hello ![](Captures/capture-1.png)world\n');
  });

  it('sends a pasted image to the host as Base64', { timeout: 10000 }, async () => {
    const { root, win, of, posted } = editing('x\n');
    const bytes = new Uint8Array([137, 80, 78, 71]);
    const file = new win.File([bytes], 'a.png', { type: 'image/png' });
    const event = new win.Event('paste', { bubbles: true, cancelable: true });
    event.clipboardData = { items: [{ kind: 'file', type: 'image/png', getAsFile: () => file }], getData: () => '' };
    root.querySelector('p').dispatchEvent(event);
    await posted('pasteImage');
    assert.deepEqual(of('pasteImage'), [{ type: 'pasteImage', data: Buffer.from(bytes).toString('base64') }]);
  });
});

describe('edits outside the blocks', () => {
  it('turns text typed into an empty page into a paragraph', async () => {
    const { root, page, settle, doc } = editing('');
    root.append(doc.createTextNode('typed'));
    await settle();
    assert.equal(page.flushEdit(), 'typed\n');
    assert.equal(root.querySelector('p')?.textContent, 'typed');
  });

  // The view left, or the file saved, right after the key: the engine's records of it are
  // not delivered yet.
  it('writes back a block deleted just before the write-back', () => {
    const { root, page } = editing();
    paragraph(root, 'Para two').remove();
    assert.equal(page.flushEdit().includes('Para two'), false);
  });

  it('cancelEdit restores a deleted block and drops an added one', async () => {
    const { root, page, settle, doc } = editing();
    paragraph(root, 'Para two').remove();
    const extra = doc.createElement('p');
    extra.textContent = 'added';
    root.append(extra);
    await settle();
    page.cancelEdit();
    assert.ok(paragraph(root, 'Para two'));
    assert.equal(paragraph(root, 'added'), undefined);
    assert.equal(page.serialize().includes('added'), false);
  });
});

describe('the outline through edits', () => {
  // Made again from every heading of a long note at each pause in typing, the outline held the
  // page a fifth of a second on 10 MB: it follows only edits that touch a heading.
  const LONG = Array.from({ length: 300 }, (_, i) => (i % 10 ? `para ${i}` : `# Head ${i}`)).join('\n\n') + '\n';
  for (const [name, doc, sizes, typedInto, want, sent] of [
    ['a paragraph', DOC, undefined, 'Para two', null],
    ['a heading', DOC, undefined, 'Title', 'Titlex'],
    ['a paragraph of a long note', LONG, { huge: 50 }, 'para 151', null],
    ['a heading of a long note', LONG, { huge: 50 }, 'Head 150', 'Head 150x', 1],
    // Every later heading of the same name is numbered anew.
    ['a repeated heading', LONG.replace(/Head \d+/g, 'Same'), { huge: 50 }, 'Same', 'Samex', 30],
  ]) {
    it(`is posted again only after an edit of a heading: ${name}`, async () => {
      const env = makePage({ sizes });
      env.page.render(doc, '');
      env.page.setEditable(true);
      const { win, root, of, outline, settle, clock } = env;
      const before = of('outline').length;
      const walker = win.document.createTreeWalker(root, win.NodeFilter.SHOW_TEXT);
      while (walker.nextNode() && walker.currentNode.data !== typedInto);
      walker.currentNode.appendData('x');
      await settle();
      // The write-back, then the outline's wait for typing to pause.
      clock.advance(1000);
      clock.advance(1000);
      assert.ok(of('edit').length > 0, 'the edit was written back');
      if (!want) assert.equal(of('outline').length, before);
      else {
        assert.ok(outline().some((h) => h.text === want));
        // What the host puts together is the outline of the text written back.
        const fresh = makePage();
        fresh.page.render(env.page.flushEdit(), '');
        assert.deepEqual(outline(), fresh.outline());
        if (sent) assert.equal(of('outline').at(-1).items.length, sent, 'only the headings that changed travel');
        // A host that holds another outline asks for it whole.
        env.page.outlineAgain();
        assert.equal(of('outline').at(-1).from, undefined);
        assert.deepEqual(of('outline').at(-1).items, fresh.outline());
      }
    });
  }
});

describe('the caret through a whole render', () => {
  // The engine's caret left between blocks made every frame after a render cost a second or more
  // on a 20 KB note: a render puts it into the block nearest to where it was.
  for (const [name, before, place, after, want] of [
    ['on an empty page, a note arriving', '', (root) => [root, 0], 'First line.\n\nSecond.\n', ['First line.', 0]],
    ['between blocks, the text changed below', 'One.\n\nTwo.\n\nThree.\n', (root) => [root, [...root.childNodes].indexOf(root.children[1])],
      'One.\n\nTwo.\n\nThree, changed.\n', ['Two.', 0]],
    ['after the last block', 'One.\n\nTwo.\n', (root) => [root, root.childNodes.length], 'One.\n\nTwo.\n\nThree.\n', ['Two.', 4]],
    ['in a block the render replaces', 'One.\n\nTwo.\n', (root) => [root.children[1].firstChild, 2], 'One.\n\nTwo, changed.\n', ['Two, changed.', 2]],
  ]) {
    it(`is in a block after a render: ${name}`, () => {
      const { win, root, page } = editing(before);
      root.focus();
      win.getSelection().collapse(...place(root));
      page.render(after, '');
      const sel = win.getSelection();
      const block = sel.anchorNode.nodeType === 3 ? sel.anchorNode.parentNode : sel.anchorNode;
      assert.notEqual(block, root);
      assert.deepEqual([block.textContent, sel.anchorOffset], want);
    });
  }
});

describe('the caret carried between the source and the page', () => {
  // '|' marks the caret in the source; typing after a view switch went in at the top of the note.
  for (const [name, marked, after] of [
    ['in a heading', '# Ti|tle\n\nText.\n', 'tle'],
    ['in emphasis', 'Intro.\n\nSome **bo|ld** text\n', 'ld text'],
    ['after emphasis and its space', 'Some **bold** |text\n', 'text'],
    ['after a link', 'A [link](http://x.org/a "T") and mo|re\n', 're'],
    ['after escapes and code', 'A \\*star\\* and `co|de` here\n', 'de here'],
    ['in the second item', '- one\n- tw|o\n', 'o'],
    ['on the second line of a paragraph', 'First line\nsecond |line\n', 'line'],
    ['in a paragraph after CRLF lines', 'One.\r\n\r\nTw|o.\r\n', 'o.'],
  ]) {
    it(`goes both ways: ${name}`, () => {
      const offset = marked.indexOf('|');
      const env = makePage();
      env.page.render(marked.replace('|', ''), '');
      env.page.setEditable(true, offset);
      const sel = env.win.getSelection();
      const range = env.win.document.createRange();
      range.setStart(sel.focusNode, sel.focusOffset);
      const block = [...env.root.children].find((el) => el.contains(sel.focusNode));
      range.setEnd(block, block.childNodes.length);
      assert.equal(range.toString().trimEnd(), after);
      assert.equal(env.page.caretOffset(), offset);
    });
  }
});

describe('a long note in the editing view', () => {
  // Enough blocks to stand on shelves of sixteen nodes (eight blocks and the line breaks between).
  const LONG = Array.from({ length: 400 }, (_, i) => `para ${i}`).join('\n\n') + '\n';
  const lines = (text) => text.split('\n').filter(Boolean);

  function onShelves(shelf = 16) {
    const env = makePage({ sizes: { huge: 50, shelf } });
    env.page.render(LONG, '');
    env.page.setEditable(true);
    return env;
  }

  it('keeps its blocks on shelves: the engine watches a few dozen elements, not every block', () => {
    const { root } = onShelves();
    // What the style sheet gives `content-visibility: auto`.
    const watched = root.querySelectorAll('#content.huge > *');
    assert.ok(watched.length > 0 && watched.length <= 400 / 8 + 5, `${watched.length} elements watched`);
  });

  // An edit far down, in a block at a shelf's edge, goes back to its own lines: those from
  // "para 303" on, as many as `covers`, become `want`.
  for (const [name, edit, covers, want] of [
    ['typed into the last block of a shelf', ({ p }) => p('para 303').firstChild.appendData('x'), 1, ['para 303x']],
    ['a new paragraph at the end of a shelf', ({ p, doc }) => {
      const fresh = doc.createElement('p');
      fresh.textContent = 'new';
      p('para 303').after(fresh);
    }, 2, ['para 303', 'new', 'para 304']],
    ['backspace joining the first block of a shelf to the last of the one before', ({ p }) => {
      const second = p('para 304');
      p('para 303').append(...second.childNodes);
      second.remove();
    }, 3, ['para 303para 304', 'para 305']],
  ]) {
    it(`writes back an edit far down: ${name}`, async () => {
      const { root, doc, page, settle } = onShelves();
      const p = (text) => [...root.querySelectorAll('p')].find((el) => el.textContent === text);
      assert.ok(p('para 303').parentNode.classList.contains('shelf') && p('para 304').parentNode !== p('para 303').parentNode,
        'the two blocks stand on neighbouring shelves');
      edit({ p, doc });
      await settle();
      const after = lines(page.flushEdit());
      const before = lines(LONG);
      const at = before.indexOf('para 303');
      assert.deepEqual(after, [...before.slice(0, at), ...want, ...before.slice(at + covers)]);
    });
  }

  // The engine leaves the caret at the edge of a shelf it has not laid out (Ctrl+End, a page
  // down into one): what is typed next goes into a block, as the reader expects.
  for (const [name, move, want] of [
    ['ctrl+end', ({ win, root }) => press(win, root, 'C-End'), 'para 399Z'],
    ['ctrl+home', ({ win, root }) => press(win, root, 'C-Home'), 'Zpara 0'],
    // Shelves of fifteen nodes: every other one starts with the line break before its first block.
    ['the caret left at the start of a shelf', ({ win, doc, root }) => {
      win.getSelection().collapse(root.children[21], 0);
      doc.dispatchEvent(new win.Event('selectionchange'));
    }, 'Zpara 158'],
    ['the caret left at the end of a shelf', ({ win, doc, root }) => {
      win.getSelection().collapse(root.children[21], root.children[21].childNodes.length);
      doc.dispatchEvent(new win.Event('selectionchange'));
    }, 'Zpara 165'],
  ]) {
    it(`types into a block after ${name}`, async () => {
      const env = onShelves(15);
      const { win, root, page, settle } = env;
      root.focus();
      win.getSelection().collapse(root.querySelector('p').firstChild, 2);
      move(env);
      typeChar(win, root, 'Z');
      await settle();
      const after = lines(page.flushEdit());
      assert.equal(after.length, 400);
      assert.ok(after.includes(want), after.filter((l) => l.includes('Z')).join());
    });
  }

  // A block the editor puts beside the shelves (pasted with no caret in the page) stays there;
  // many new blocks put before it leave the content element in place.
  it('takes new blocks before one that stands beside the shelves', () => {
    const { root, doc } = onShelves();
    const loose = doc.createElement('p');
    root.append(loose);
    const fresh = Array.from({ length: 40 }, () => doc.createElement('p'));
    const fragment = doc.createDocumentFragment();
    fragment.append(...fresh);
    insertBlocks(root, fragment, fresh, loose);
    assert.ok(root.isConnected);
    assert.equal(fresh[39].nextSibling, loose);
  });
});
