import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { makePage } from './helpers.mjs';

// The page with our style sheet applied after a stand-in for the engine's own default for
// header cells (jsdom has no such default, so without it the check would pass on any sheet).
function styledPage() {
  const made = makePage();
  const { win } = made;
  const engine = win.document.createElement('style');
  engine.textContent = 'th { text-align: center; }';
  const ours = win.document.createElement('style');
  ours.textContent = readFileSync(new URL('../style.css', import.meta.url), 'utf8');
  win.document.head.append(engine, ours);
  return made;
}

const left = (value) => value === 'left' || value === 'start';

describe('table style', () => {
  it('aligns each header cell like its column', () => {
    const { page, root, win } = styledPage();
    page.render('| plain | mid | end | start |\n|---|:-:|--:|:--|\n| 1 | 2 | 3 | 4 |\n', '');
    const align = (sel) => [...root.querySelectorAll(sel)].map((c) => win.getComputedStyle(c).textAlign);
    const [plain, ...aligned] = align('th');
    assert.ok(left(plain), `a header over a column without alignment is ${plain}`);
    assert.deepEqual(aligned, ['center', 'right', 'left']);
    assert.deepEqual(aligned, align('td').slice(1));
  });
});

describe('an empty note', () => {
  // The rules that put words into an empty page, as the style sheet writes them.
  const sheet = readFileSync(new URL('../style.css', import.meta.url), 'utf8');
  const selectors = [...sheet.matchAll(/^([^{}\n]*):empty::before\s*\{/gm)].map((m) => `${m[1]}:empty`);

  for (const [when, text, saysEmpty] of [
    ['before the note arrives', null, false],
    ['for an empty note', '', true],
    ['for a note with text', '# Title\n', false],
  ]) {
    it(`says it is empty only ${when}`, () => {
      const { page, root } = makePage();
      if (text !== null) page.render(text, '');
      assert.ok(selectors.length > 0);
      assert.equal(selectors.some((s) => root.matches(s)), saysEmpty, selectors.join(', '));
    });
  }
});
