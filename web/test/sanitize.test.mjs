import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage, readFixtures } from './helpers.mjs';

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
    }
  }
  return found;
}

describe('sanitising untrusted documents', () => {
  for (const c of readFixtures(new URL('./fixtures/xss.txt', import.meta.url))) {
    it(`neutralises ${c.name}`, async () => {
      const { page, root, win, messages, settle } = makePage({ runScripts: 'dangerously' });
      page.render(c.input, 'file:///notes/');
      page.setEditable(true);
      for (const el of root.querySelectorAll('*')) {
        for (const type of ['click', 'mouseover', 'focus', 'load', 'error', 'toggle']) {
          el.dispatchEvent(new win.Event(type, { bubbles: true }));
        }
      }
      await settle();
      assert.equal(win.__xss, undefined, 'a script ran');
      assert.deepEqual(dangers(root), []);
      assert.deepEqual(messages.filter((m) => !PAGE_MESSAGES.has(m.type) && m.type !== 'link' && m.type !== 'wikilink'), []);
      // Clicks on surviving links go to the host as data, never to the engine.
      for (const m of messages.filter((x) => x.type === 'link')) assert.doesNotMatch(m.href, /^\s*javascript:/i);
      assert.equal(win.document.getElementById('content'), root, 'the page element was shadowed');
      assert.equal(typeof win.quorvel, 'undefined');
    });
  }

  it('keeps harmless raw HTML', () => {
    const { page, root } = makePage();
    page.render('Press <kbd>Ctrl</kbd> and <span style="color:red">red</span>.\n\n<details><summary>More</summary>\n\nInside\n\n</details>\n', '');
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
