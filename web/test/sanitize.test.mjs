import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage, readFixtures } from './helpers.mjs';
import { createSanitizer } from '../src/sanitize.js';
import { createMarkdown, parseDocument } from '../src/markdown.js';

const URL_ATTRS = ['href', 'src', 'xlink:href', 'action', 'formaction', 'data', 'srcdoc', 'values', 'to', 'from'];
const FORBIDDEN = 'script, iframe, frame, object, embed, form, base, meta, link, style, button, textarea, noscript, template';
// Only the page's own messages may appear: a vector must not post anything.
const PAGE_MESSAGES = new Set(['outline', 'resolve', 'rendered']);

function dangers(root) {
  const found = [];
  for (const el of root.querySelectorAll(FORBIDDEN)) {
    // Code blocks show markup as text; an element inside one is real.
    found.push(`<${el.localName}>`);
  }
  for (const el of root.querySelectorAll('*')) {
    for (const { name, value } of el.attributes) {
      if (/^on/i.test(name)) found.push(`${el.localName}[${name}]`);
      if (URL_ATTRS.includes(name) && /^\s*(javascript|vbscript|data:text)/i.test(value.replace(/[\s\0]/g, ''))) {
        found.push(`${el.localName}[${name}=${value}]`);
      }
      // An element of the document's own over the page would take any click.
      if (name === 'style' && /position|z-index|\\/i.test(value)) found.push(`${el.localName}[style=${value}]`);
    }
  }
  return found;
}

// Whatever carries an address; a click on it or inside it is the page's to
// handle, never the engine's.
const XLINK = 'http://www.w3.org/1999/xlink';
function addressed(el, root) {
  for (let n = el; n && n !== root; n = n.parentElement) {
    if (n.localName === 'area' || n.hasAttribute('href') || n.hasAttributeNS(XLINK, 'href')) return true;
  }
  return false;
}

describe('sanitising untrusted documents', () => {
  for (const c of readFixtures(new URL('./fixtures/xss.txt', import.meta.url))) {
    it(`neutralises ${c.name}`, async () => {
      const { page, root, win, messages, tasksRun, navigations } = makePage({ runScripts: 'dangerously' });
      const home = win.location.href;
      page.render(c.input, 'file:///notes/');
      // Read mode, then edit mode where Ctrl+click follows links.
      for (const [editable, keys] of [[false, {}], [true, { ctrlKey: true }]]) {
        page.setEditable(editable);
        for (const el of root.querySelectorAll('*')) {
          for (const [type, button] of [['click', 0], ['auxclick', 1]]) {
            const event = new win.MouseEvent(type, { bubbles: true, cancelable: true, button, ...keys });
            el.dispatchEvent(event);
            if (addressed(el, root)) assert.ok(event.defaultPrevented, `${type} on <${el.localName}> reached the engine`);
          }
          for (const type of ['mouseover', 'focus', 'load', 'error', 'toggle']) {
            el.dispatchEvent(new win.Event(type, { bubbles: true }));
          }
        }
      }
      await tasksRun();
      assert.equal(win.__xss, undefined, 'a script ran');
      assert.deepEqual(navigations, [], 'the page navigated');
      assert.equal(win.location.href, home, 'the page navigated');
      assert.deepEqual(dangers(root), []);
      assert.deepEqual(messages.filter((m) => !PAGE_MESSAGES.has(m.type) && m.type !== 'link' && m.type !== 'wikilink'), []);
      // Clicks on surviving links go to the host as data, never to the engine.
      for (const m of messages.filter((x) => x.type === 'link')) assert.doesNotMatch(m.href, /^\s*javascript:/i);
      assert.equal(win.document.getElementById('content'), root, 'the page element was shadowed');
      assert.equal(typeof win.quorvel, 'undefined');
    });
  }

  it('keeps harmless raw HTML, but no editable island of its own', () => {
    const { page, root } = makePage();
    page.render('Press <kbd>Ctrl</kbd> and <span style="color:red" contenteditable="true">red</span>.\n\n<details><summary contenteditable>More</summary>\n\nInside\n\n</details>\n', '');
    assert.deepEqual(root.querySelectorAll('[contenteditable]:not([contenteditable="false"])').length, 0);
    assert.ok(root.querySelector('kbd'));
    assert.equal(root.querySelector('span').getAttribute('style'), 'color:red');
    assert.ok(root.querySelector('details summary'));
  });

  it('keeps remote images', () => {
    const { page, root } = makePage();
    page.render('![x](https://example.com/a.png)\n\n<img src="https://example.com/b.png">\n', '');
    assert.deepEqual([...root.querySelectorAll('img')].map((i) => i.getAttribute('src')),
      ['https://example.com/a.png', 'https://example.com/b.png']);
  });
});

describe('sanitising many pieces in one pass', () => {
  const { win } = makePage();
  const sanitize = createSanitizer(win);
  // The blocks' HTML as the page has it to sanitise: the rendered blocks that hold raw HTML.
  const md = createMarkdown();
  const vectors = readFixtures(new URL('./fixtures/xss.txt', import.meta.url))
    .flatMap((c) => parseDocument(md, c.input, 'file:///notes/').blocks.filter((b) => b.raw || b.rawBlock).map((b) => b.html));
  // Pieces that leave something open or close what is not theirs, and one that forges a wrapper.
  const unruly = ['<table><tr><td>open', '<b>x</b></div>', '</div></div><p>after</p>', '<svg><g>', '<div data-qv-piece="0-1">forged</div>',
    '<details><summary>s', '<p>plain</p>', '  <em>lead</em>', '<select><option>x'];
  const cases = [
    ['every vector', vectors],
    ['unruly pieces among plain ones', unruly.flatMap((u) => [u, '<i>next</i>'])],
  ];
  it('gives a comment of plain text back as the sanitiser would, alone and among others', () => {
    const plain = ['<!-- YAML\nadded: v1.0.0\n-->\n', '<!---->', '<!-- a - b -->\n\n', '<!-- a\nb\nc -->'];
    // Not plain: these go through the sanitiser, whatever they look like.
    const others = ['<!-- a --->', '<!-->', '<!--->', '<!-- a ]> b -->', '<!-- <b>x</b> -->', '<!-- a -- b -->',
      '<!-- a --!> <img src=x onerror=alert(1)> -->', '<!-- a\r\nb -->', '<!-- a\0b -->', '<!-- a -->\n<img src=x onerror=alert(1)>'];
    for (const html of [...plain, ...others]) assert.equal(sanitize(html), sanitize.thorough(html), html);
    assert.deepEqual(sanitize.many([...plain, '<i>next</i>']), [...plain.map(sanitize.thorough), '<i>next</i>']);
  });

  for (const [name, pieces] of cases) {
    it(`gives what one pass per piece gives: ${name}`, () => {
      assert.ok(pieces.length > 10);
      assert.deepEqual(sanitize.many(pieces), pieces.map((p) => sanitize(p)));
    });
  }
});
