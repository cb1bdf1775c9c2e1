// One keystroke at the start of each kind of block, on a 1 MB and a 10 MB document made of
// every kind in turn: the time `updateDocument` takes for it, as the page calls it for a change
// (the lines found from the change; the page before this one made the lines of a change at offset 0
// again from the whole text, and is timed so). This is Node,
// not the browser: the DOM patch and the paint come on top.
//
//   node bench/blocks.mjs                 this tree's parser
//   node bench/blocks.mjs --before main   the same rows with the parser of a git revision too
//   node bench/blocks.mjs --mb 1          one size only
import { performance } from 'node:perf_hooks';
import { execFileSync } from 'node:child_process';
import { writeFileSync, rmSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

const src = new URL('../src/', import.meta.url);

// A unit of the document: one block of each kind, each marked so that it can be found again.
// Footnotes are in one unit of twenty: a whole parse of thousands of them takes far longer.
const UNIT = (n) => `## Section ${n}

A paragraph of plain prose for section ${n}, with *emphasis*, a [link][ref${n}] and \`code\`.
It runs over two lines, as prose does.

- heading item ${n}
- second item with **strong** text

> a quoted line in section ${n}
> and its second line

\`\`\`js
const section = ${n};
\`\`\`

~~~
tilde fence ${n}
~~~

    indented code ${n}
    second line

<div class="note">
html block ${n}
</div>

<!-- a comment in section ${n}
over two lines -->

| name | value |
|------|------:|
| row ${n} | ${n} |

$$
x_{n} = n^2
$$

[ref${n}]: https://example.org/${n} "Title ${n}"

${n % 20 ? '' : `Text with a note[^n${n}].

[^n${n}]: The note of section ${n}.

`}***

Setext heading ${n}
-------------------

`;

const FRONT = '---\ntitle: A long document\ntags: [bench]\n---\n\n';

// The line a kind's block starts on, within the unit, and how to find it.
const KINDS = [
  ['heading', (l) => l.startsWith('## Section')],
  ['paragraph', (l) => l.startsWith('A paragraph')],
  ['list item', (l) => l.startsWith('- heading item')],
  ['blockquote', (l) => l.startsWith('> a quoted')],
  ['fence open', (l) => l.startsWith('```js')],
  ['fence close', (l, prev) => l === '```\n' && prev.startsWith('const')],
  ['tilde fence close', (l, prev) => l === '~~~\n' && prev.startsWith('tilde')],
  ['indented code', (l) => l.startsWith('    indented')],
  ['HTML block', (l) => l.startsWith('<div')],
  ['HTML comment', (l) => l.startsWith('<!--')],
  ['table row', (l) => l.startsWith('| row')],
  ['math $$', (l, prev) => l === '$$\n' && prev === '\n'],
  ['reference definition', (l) => l.startsWith('[ref')],
  ['footnote definition', (l) => l.startsWith('[^n')],
  ['thematic break', (l) => l === '***\n'],
  ['setext underline', (l) => l.startsWith('-------')],
  ['front matter', (l, prev, i) => i === 0],
];

function build(bytes) {
  const parts = [FRONT];
  let size = FRONT.length;
  for (let n = 0; size < bytes; n += 1) {
    const unit = UNIT(n);
    parts.push(unit);
    size += unit.length;
  }
  return parts.join('');
}

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

function time(mod, md, text, kinds, pageTakesStart) {
  const dir = 'file:///docs/';
  const state = mod.parseDocument(md, text, dir);
  const lines = state.lines;
  const out = {};
  // Compiled and warm before the first row, as a page is after a few keys.
  const prose = text.indexOf('A paragraph', text.length >> 2);
  for (let i = 0; i < 5; i += 1) mod.updateDocument(md, state, text.slice(0, prose) + 'x' + text.slice(prose), dir);
  for (const [name, test] of kinds) {
    // The block nearest the middle of the document.
    let at = -1;
    const middle = name === 'front matter' ? 0 : lines.length >> 1;
    for (let i = middle; i < lines.length; i += 1) if (test(lines[i], lines[i - 1] ?? '', i)) { at = i; break; }
    let offset = 0;
    for (let i = 0; i < at; i += 1) offset += lines[i].length;
    const typed = text.slice(0, offset) + 'x' + text.slice(offset);
    const samples = [];
    let full = false;
    const spent = performance.now();
    // At least three keystrokes, fewer when each is a whole render of ten megabytes.
    while (samples.length < 3 && (samples.length < 1 || performance.now() - spent < 4000)) {
      const t0 = performance.now();
      const next = offset === 0 && !pageTakesStart
        ? mod.updateDocument(md, state, typed, dir)
        : mod.updateDocument(md, state, null, dir, mod.parseDocument, { ...mod.changeLines(state, offset, 0, 'x'), length: typed.length });
      samples.push(performance.now() - t0);
      full = next.full;
      if (next.blocks.length === 0) throw new Error('no blocks');
    }
    out[name] = { ms: median(samples), full };
  }
  return out;
}

async function main() {
  const at = process.argv.indexOf('--before');
  const rev = at > 0 ? process.argv[at + 1] : null;
  const mods = [];
  if (rev) {
    // The old parser beside the new one, so that its imports resolve the same way.
    const file = new URL(`.markdown-${rev.replace(/\W/g, '_')}.js`, src);
    const old = execFileSync('git', ['show', `${rev}:web/src/markdown.js`], { cwd: fileURLToPath(src), encoding: 'utf8' });
    writeFileSync(file, old);
    try {
      mods.push([rev, await import(file)]);
    } finally {
      rmSync(file);
    }
  }
  mods.push(['now', await import(new URL('markdown.js', src))]);
  const only = process.argv.indexOf('--mb');
  for (const mb of only > 0 ? [Number(process.argv[only + 1])] : [1, 10]) {
    const text = build(mb * 1024 * 1024);
    const results = mods.map(([name, mod]) => [name, time(mod, mod.createMarkdown(), text, KINDS, name === 'now')]);
    console.log(`One keystroke at the start of a block, ${mb} MB (${text.length} characters), updateDocument, median ms`);
    console.log(`  ${'block'.padEnd(22)}${results.map(([name]) => name.padStart(14)).join('')}`);
    for (const [kind] of KINDS) {
      const cells = results.map(([, r]) => `${r[kind].ms.toFixed(1)}${r[kind].full ? ' whole' : ''}`.padStart(14));
      console.log(`  ${kind.padEnd(22)}${cells.join('')}`);
    }
  }
}

main();
