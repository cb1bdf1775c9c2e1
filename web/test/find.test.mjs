import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';

const DOC = 'Alpha beta **gam**ma.\n\n## Beta heading\n\n- beta in a list\n\n`beta` code and $x$\n';

describe('find', () => {
  const queries = [
    ['case-insensitive', 'BETA', 4],
    ['across-formatting', 'gamma', 1],
    ['no-match', 'delta', 0],
    ['empty-query', '', 0],
    ['inside-a-word', 'lph', 1],
  ];
  for (const [name, q, count] of queries) {
    it(`counts ${name}`, () => {
      const { page, root } = makePage();
      page.render(DOC, '');
      const r = page.find(q);
      assert.deepEqual(r, { count, index: count ? 1 : 0 });
      const hits = new Set([...root.querySelectorAll('mark.find-hit')].map((m) => m.closest('p, h2, li')));
      assert.ok(hits.size <= count);
    });
  }

  // DOC's rendered text: "Alpha beta gamma.", "Beta heading", "beta in a list", "beta code and x".
  const withOptions = [
    ['match case', 'Beta', { matchCase: true }, 1],
    ['whole word', 'bet', { wholeWord: true }, 0],
    ['whole word, letter case aside', 'BETA', { wholeWord: true }, 4],
    ['a pattern', '^beta', { regex: true }, 3],
    ['a pattern with match case', 'b\\w+a', { regex: true, matchCase: true }, 3],
    ['a bad pattern', 'beta(', { regex: true }, 0],
  ];
  for (const [name, q, options, count] of withOptions) {
    it(`counts with ${name}`, () => {
      const { page, root } = makePage();
      page.render(DOC, '');
      assert.deepEqual(page.find(q, options), { count, index: count ? 1 : 0 });
      // None of these runs across formatting: one highlight each.
      assert.equal(root.querySelectorAll('mark.find-hit').length, count);
    });
  }

  it('steps forwards and backwards with wrap-around, one match current', () => {
    const { page, root } = makePage();
    page.render(DOC, '');
    page.find('beta');
    assert.deepEqual(page.findStep(1), { count: 4, index: 2 });
    assert.deepEqual(page.findStep(-1), { count: 4, index: 1 });
    assert.deepEqual(page.findStep(-1), { count: 4, index: 4 });
    assert.deepEqual(page.findStep(1), { count: 4, index: 1 });
    assert.equal(root.querySelectorAll('mark.find-hit.current').length, 1);
  });

  it('clears its highlights and leaves the text as it was', () => {
    const { page, root } = makePage();
    page.render(DOC, '');
    const before = root.innerHTML;
    page.find('gamma');
    assert.notEqual(root.innerHTML, before);
    page.findClear();
    assert.equal(root.querySelectorAll('mark.find-hit').length, 0);
    assert.equal(root.innerHTML, before);
    assert.deepEqual(page.findStep(1), { count: 0, index: 0 });
  });

  it('reports a new count on its own when the text changes under it', () => {
    const { page, of } = makePage();
    page.render(DOC, '');
    page.find('beta');
    page.render(`${DOC}\nOne more beta.\n`, '');
    assert.deepEqual(of('find').at(-1), { type: 'find', count: 5, index: 1 });
  });

  it('is never written back as Markdown', () => {
    const { page } = makePage();
    page.render(DOC, '');
    const clean = page.serialize();
    page.find('a');
    assert.equal(page.serialize(), clean);
  });
});
