import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { JSDOM } from 'jsdom';
import { makePage } from './helpers.mjs';
import { parseThemePayload } from '../src/theme.js';
import { createHighlighter } from '../src/highlighter.js';

const PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==', 'base64');

describe('exportHTML', () => {
  it('writes one standalone file: stylesheet inlined, no scripts, math as MathML, the images the host hands over inlined', () => {
    const dir = mkdtempSync(join(tmpdir(), 'qv-export-'));
    writeFileSync(join(dir, 'dot.png'), PNG);
    const { page } = makePage();
    page.setTheme({ theme: 'sepia', fontSize: 19, lineHeight: 1.5, width: 900, fontFamily: '' });
    page.render('# Trip\n\nSee $e^{i\\pi}$ and ![dot](dot.png) and ![far](https://example.com/x.png).\n\n- [x] packed\n', pathToFileURL(`${dir}/`).href);
    page.find('trip');
    const images = page.exportImages();
    assert.deepEqual(images, [pathToFileURL(`${dir}/dot.png`).href]);
    const data = `data:image/png;base64,${PNG.toString('base64')}`;
    const html = page.exportHTML('Trip <notes>', 'body { color: red } </style><script>x()</script>',
      { images: { [images[0]]: data }, base: pathToFileURL(`${dir}/`).href });

    const out = new JSDOM(html).window.document;
    assert.equal(out.title, 'Trip <notes>');
    assert.equal(out.querySelectorAll('script').length, 0);
    assert.equal(out.querySelectorAll('style').length, 1);
    assert.match(out.querySelector('style').textContent, /color: red/);
    assert.equal(out.documentElement.getAttribute('data-theme'), 'sepia');
    assert.match(out.documentElement.getAttribute('style'), /--font-size: 19px/);
    assert.ok(out.querySelector('math annotation'), 'math kept as MathML');
    assert.equal(out.querySelectorAll('.katex-html').length, 0);
    const [local, remote] = out.querySelectorAll('img');
    assert.match(local.getAttribute('src'), /^data:image\/png;base64,/);
    assert.equal(Buffer.from(local.getAttribute('src').split(',')[1], 'base64').equals(PNG), true);
    assert.equal(remote.getAttribute('src'), 'https://example.com/x.png');
    assert.equal(out.querySelectorAll('mark.find-hit').length, 0, 'find highlights left out');
    assert.ok(out.querySelector('input[type=checkbox][disabled]'));
    assert.equal(out.querySelectorAll('[data-from], [contenteditable]').length, 0);
  });

  const hostile = [
    // name, Markdown, the export's folder (relative to the note's), what stands in the output
    ['image-the-host-did-not-hand-over', '![k](../secret/key.png)\n', 'notes/', { img: '../secret/key.png' }],
    ['absolute-path', '![x](/etc/hostname)\n', 'notes/', {}],
    ['link-to-a-note', '[o](other.md#part)\n', 'notes/', { a: 'other.md#part' }],
    ['export-in-another-folder', '[o](other.md) ![p](dot.png)\n', 'out/', { a: '../notes/other.md', img: '../notes/dot.png' }],
  ];
  for (const [name, text, outDir, want] of hostile) {
    it(`reads no file itself and writes local addresses relative to the export: ${name}`, () => {
      const dir = mkdtempSync(join(tmpdir(), 'qv-export-'));
      mkdirSync(join(dir, 'secret'));
      mkdirSync(join(dir, 'notes'));
      writeFileSync(join(dir, 'secret', 'key.png'), PNG);
      writeFileSync(join(dir, 'notes', 'dot.png'), PNG);
      const { page } = makePage();
      page.render(text, pathToFileURL(`${dir}/notes/`).href);
      const base = pathToFileURL(`${dir}/${outDir}`).href;
      const html = page.exportHTML('x', '', { images: {}, base });
      assert.doesNotMatch(html, /file:|data:/);
      const out = new JSDOM(html).window.document;
      if (want.img) assert.equal(out.querySelector('img').getAttribute('src'), want.img);
      if (want.a) assert.equal(out.querySelector('a').getAttribute('href'), want.a);
    });
  }
});

describe('exportHTML links', () => {
  it('keeps a link to a note that is there as its relative .md path and leaves out one to a note that is not', () => {
    const dir = mkdtempSync(join(tmpdir(), 'qv-export-'));
    mkdirSync(join(dir, 'notes'));
    writeFileSync(join(dir, 'notes', 'other.md'), '# Other\n');
    const { page } = makePage();
    page.render('[there](other.md#part) and [gone](missing.md) and [abs](/nonexistent/far.md)\n', pathToFileURL(`${dir}/notes/`).href);
    const files = page.exportFiles();
    const present = files.filter((f) => f.includes('other.md'));
    assert.equal(present.length, 1);
    assert.ok(files.some((f) => f.includes('missing.md')), 'every local address is listed');
    const html = page.exportHTML('x', '', { images: {}, base: pathToFileURL(`${dir}/notes/`).href, present });
    assert.doesNotMatch(html, /file:|missing\.md|far\.md/);
    const links = [...new JSDOM(html).window.document.querySelectorAll('a')];
    assert.deepEqual(links.map((a) => [a.textContent, a.getAttribute('href')]),
      [['there', 'other.md#part'], ['gone', null], ['abs', null]]);
  });
});

describe('themes', () => {
  const payloads = [
    ['host-payload', '{"fontFamily":"","fontSize":17,"lineHeight":1.6,"theme":"cream","width":1180}',
      { theme: 'cream', fontFamily: '', fontSize: 17, lineHeight: 1.6, width: 1180 }],
    ['unknown-theme-and-junk', { theme: 'Dark', fontSize: 'big', lineHeight: null, width: -5, fontFamily: 3 },
      { theme: 'light-sans', fontFamily: '', fontSize: 17, lineHeight: 1.6, width: 320 }],
    ['not-json', '{oops', { theme: 'light-sans', fontFamily: '', fontSize: 17, lineHeight: 1.6, width: 1180 }],
  ];
  for (const [name, input, want] of payloads) {
    it(`reads a ${name} payload`, () => assert.deepEqual(parseThemePayload(input), want));
  }

  it('applies theme and typography to the page, and a family name cannot escape its declaration', () => {
    const { page, doc } = makePage();
    page.setTheme({ theme: 'dark', fontSize: 20, lineHeight: 1.8, width: 700, fontFamily: 'Iosevka"; color: red' });
    const html = doc.documentElement;
    assert.equal(html.getAttribute('data-theme'), 'dark');
    assert.equal(html.style.getPropertyValue('--font-size'), '20px');
    assert.equal(html.style.getPropertyValue('--content-width'), '700px');
    assert.equal(html.style.getPropertyValue('--user-font'), '"Iosevka color: red"');
    page.setTheme({ theme: 'ink', fontSize: 17, lineHeight: 1.6, width: 1180, fontFamily: '' });
    assert.equal(html.style.getPropertyValue('--user-font'), '');
  });
});

// The page's helper thread as the engine runs it: answers come later, from the same grammars.
function helperThread({ refused = false } = {}) {
  const highlighter = createHighlighter();
  const listeners = { message: [], error: [] };
  const say = (type, data) => setImmediate(() => listeners[type].forEach((f) => f({ data })));
  const helper = {
    terminated: false,
    addEventListener: (type, f) => listeners[type].push(f),
    postMessage: (batch) => say('message', batch.map(([id, text, lang]) => [id, highlighter.highlight(text, lang)])),
    terminate() { helper.terminated = true; },
  };
  say(refused ? 'error' : 'message', 'ready');
  return helper;
}

describe('reportDrawn', () => {
  it('reports only once the late code highlighting is done', async () => {
    const { page, root, of, posted, clock, settle } = makePage();
    // Long enough that the first render leaves the code plain and highlights it later.
    page.render(`${'```js\nconst x = 1;\n```\n\n'.repeat(200)}${'word '.repeat(20000)}`, '/tmp/');
    const codes = [...root.querySelectorAll('pre code')];
    assert.equal(codes[0].firstElementChild, null);
    page.reportDrawn();
    await settle();
    assert.equal(of('drawn').length, 0);
    while (clock.pending()) clock.advance(10);
    await posted('drawn');
    assert.ok(codes.every((c) => c.firstElementChild));
  });

  const fence = (code) => `${'`'.repeat(3)}js\n${code}\n${'`'.repeat(3)}\n\n`;
  const texts = [
    // Code on the first screen, and in the rest of the note, built after the helper started.
    ['code-first', `${fence('const x = 1;').repeat(200)}${'word '.repeat(20000)}\n\n${fence('let last = "end";')}`],
    // Code only in the rest: none is queued when the helper is asked for.
    ['code-later', `${`${'word '.repeat(2000)}\n\n`.repeat(30)}${fence('const x = 1;').repeat(3)}`],
  ];
  // Built a piece at a time, as a long note is.
  const sizes = { progressive: 50000 };
  for (const [name, text] of texts) {
    it(`colours code on a helper thread as the page itself does, and on its own when the helper is refused (${name})`, async () => {
      const drawnBy = async ({ page, root, of, clock }, edit) => {
        page.render(text, '/tmp/');
        page.reportDrawn(true, false);
        // Sent to the helper already: its answer must not undo the edit.
        const shown = root.querySelectorAll('pre code')[1];
        if (edit && shown) shown.textContent = 'edited meanwhile';
        for (let turn = 0; !of('drawn').length && turn < 1000; turn += 1) {
          await new Promise((r) => setImmediate(r));
          if (clock.pending()) clock.advance(10);
        }
        assert.equal(of('drawn').length, 1);
        return { edited: Boolean(edit && shown), html: [...root.querySelectorAll('pre code')].map((c) => c.innerHTML) };
      };
      const itself = (await drawnBy(makePage({ sizes }), false)).html;
      assert.ok(itself.length > 2 && itself.every((html) => html.includes('hljs-')), 'the page colours every block');
      for (const refused of [false, true]) {
        let helper = null;
        const { edited, html } = await drawnBy(makePage({ sizes, makeWorker: () => (helper = helperThread({ refused })) }), true);
        assert.equal(edited, name === 'code-first');
        assert.ok(helper?.terminated, 'a helper was started, and ends with the export');
        assert.deepEqual(html, edited ? [itself[0], 'edited meanwhile', ...itself.slice(2)] : itself, refused ? 'refused' : 'helper');
      }
    });
  }
});
