import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage, random, readFixtures } from './helpers.mjs';
import { canonical, canonicalHtml } from '../bench/harness.mjs';
import { slugify, headingIds, makeOutline, updateOutline } from '../src/headings.js';
import hljsCore from 'highlight.js/lib/core';
import { grammars, grammarAliases } from '../src/grammars.js';
import { createHighlighter } from '../src/highlighter.js';

describe('render', () => {
  for (const c of readFixtures(new URL('./fixtures/render.txt', import.meta.url))) {
    it(c.name, () => {
      const { page, root, win } = makePage();
      page.render(c.input, 'file:///notes/');
      assert.equal(canonical(root), canonicalHtml(win, c.expected));
    });
  }

  it('posts outline, resolve and rendered after each render, in that order', () => {
    const { page, messages } = makePage();
    page.render('# One\n\n## Two\n\n[[A]] [[B]] [[A]]\n', '');
    assert.deepEqual(messages.map((m) => m.type), ['outline', 'resolve', 'rendered']);
    assert.deepEqual(messages[0].items, [{ level: 1, text: 'One', id: 'one' }, { level: 2, text: 'Two', id: 'two' }]);
    assert.deepEqual(messages[1].targets, ['A', 'B']);
  });

  it('typesets math with KaTeX, inline and as a block', () => {
    const { page, root } = makePage();
    page.render('Inline $a^2$ here.\n\n$$\n\\sum_i x_i\n$$\n', '');
    assert.ok(root.querySelector('p .math .katex'));
    assert.equal(root.querySelector('.math-block annotation').textContent, '\\sum_i x_i');
  });

  it('highlights code of known languages', () => {
    const { page, root } = makePage();
    page.render('```js\nconst x = "s";\n```\n', '');
    assert.ok(root.querySelector('pre code .hljs-keyword'));
  });

  it('highlights the code of a long document right after showing it', () => {
    const { page, root, clock } = makePage();
    page.render(`${'Filler paragraph of prose.\n\n'.repeat(5000)}\`\`\`js\nconst x = 1;\n\`\`\`\n`, '');
    const code = root.querySelector('pre code');
    assert.equal(code.firstElementChild, null);
    clock.advance(0);
    assert.ok(code.querySelector('.hljs-keyword'));
  });
});

describe('headings', () => {
  it('gives repeated headings numbered ids that stay put when text before them changes', () => {
    const { page, root } = makePage();
    page.render('# Intro\n\ntext\n\n## Notes\n\n## Notes\n', '');
    assert.deepEqual([...root.querySelectorAll('h1, h2')].map((h) => h.id), ['intro', 'notes', 'notes-1']);
    page.render('# Intro\n\nother text\n\n## Notes\n\n## Notes\n', '');
    assert.deepEqual([...root.querySelectorAll('h1, h2')].map((h) => h.id), ['intro', 'notes', 'notes-1']);
  });

  const slugs = [
    ['punctuation-dropped', 'What? Why!', 'what-why'],
    ['accents-kept', 'Café crème', 'café-crème'],
    ['only-punctuation', '???', 'section'],
  ];
  for (const [name, text, slug] of slugs) it(`slug: ${name}`, () => assert.equal(slugify(text), slug));

  it('numbers repeats per slug', () => {
    assert.deepEqual(headingIds([{ text: 'A' }, { text: 'a' }, { text: 'B' }, { text: 'A' }]), ['a', 'a-1', 'b', 'a-2']);
  });

  // Few names, so that slugs repeat and changes renumber headings far from them.
  it('an outline carried over changes of blocks is the one made afresh', () => {
    const rng = random(Number(process.env.QUORVEL_SEED ?? 7));
    const block = () => ({ heading: rng.next() < 0.6 ? { level: 1 + rng.int(3), text: rng.pick(['A', 'a', 'B', 'A 1', 'a-1']) } : null });
    let blocks = Array.from({ length: 30 }, block);
    let els = blocks.map(() => ({}));
    let outline = makeOutline(blocks, els);
    for (let step = 0; step < 400; step += 1) {
      const first = rng.int(blocks.length + 1);
      const removed = Math.min(blocks.length - first, rng.int(4));
      const added = Array.from({ length: rng.int(4) }, block);
      blocks = blocks.slice(0, first).concat(added, blocks.slice(first + removed));
      els = els.slice(0, first).concat(added.map(() => ({})), els.slice(first + removed));
      outline = updateOutline(outline, blocks, els, [first, removed, added.length]);
      const fresh = makeOutline(blocks, blocks.map(() => ({})));
      assert.deepEqual(outline.items, fresh.items, `step ${step}`);
      assert.deepEqual(els.filter((_, i) => blocks[i].heading).map((el) => el.id), fresh.items.map((h) => h.id));
    }
  });
});

describe('highlighting', () => {
  const everyGrammar = () => {
    const hljs = hljsCore.newInstance();
    for (const [name, grammar] of grammars) hljs.registerLanguage(name, grammar);
    return hljs;
  };
  // Code that hands parts of itself to other grammars: a grammar made without those would
  // leave them plain.
  const snippets = {
    xml: '<style>a { color: red }</style>\n<script>const x = 1;</script>\n<p class="c">Text</p>\n',
    markdown: '# Title\n\n<b>bold</b> and `code`\n',
    javascript: 'const a = <div className="x">{b}</div>;\nconst q = gql`query { a }`;\nconst s = css`a { color: red }`;\n',
    typescript: 'const q: string = gql`query { a }`;\nconst e = <Item key={1} />;\n',
    'php-template': '<p><?php echo $x; ?></p>\n',
    'python-repl': '>>> def f(x):\n...     return x\n',
    shell: '$ ls -la | grep x\ntotal 0\n',
    yaml: 'key: value\nlist: [1, 2]\nerb: <%= 1 + 1 %>\n',
  };
  const names = [...grammars.map(([name]) => name), ...Object.keys(grammarAliases)];

  it('highlights every language and alias as with every grammar made at once', () => {
    const all = everyGrammar();
    for (const name of names) {
      const primary = grammarAliases[name] ?? name;
      const code = snippets[primary] ?? 'if (x == 1) { return "s"; } // note\nfor i in range(3): print(i)\n';
      const expected = all.highlight(code, { language: name, ignoreIllegals: true }).value;
      assert.equal(createHighlighter().highlight(code, name), expected, name);
    }
  });

  it('knows each grammar by the aliases it declares', () => {
    const all = everyGrammar();
    const declared = Object.fromEntries(grammars.flatMap(([name]) => (all.getLanguage(name).aliases ?? [])
      .map((alias) => [alias.toLowerCase(), name])));
    assert.deepEqual(grammarAliases, declared);
  });

  it('makes only the grammars a block needs', () => {
    const cases = [['python', ['python']], ['PY', ['python']], ['html', ['xml', 'css', 'javascript', 'graphql']], ['nosuch', []]];
    for (const [lang, made] of cases) {
      const highlighter = createHighlighter();
      highlighter.highlight('x = 1\n', lang);
      assert.deepEqual(highlighter.made().sort(), made.sort(), lang);
    }
  });
});
