import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage, readFixtures } from './helpers.mjs';
import { canonical } from '../bench/harness.mjs';
import { readdirSync, readFileSync } from 'node:fs';

const VAULT = new URL('../../examples/vault/', import.meta.url);

function renderAndSerialize(markdown) {
  const { page } = makePage();
  page.render(markdown, '');
  return page.serialize();
}

describe('serialize', () => {
  for (const c of readFixtures(new URL('./fixtures/serialize.txt', import.meta.url))) {
    it(c.name, () => {
      assert.equal(renderAndSerialize(c.input), c.expected);
    });
  }

  // Whatever the serialiser writes must render to what was rendered.
  const roundTrips = [
    ['emphasis-next-to-punctuation', '*(a)*b and **"q"**x and a*b*c\n'],
    ['nested-emphasis', '***both*** and *a **b** c* and _a_b_\n'],
    ['entities-and-ampersands', '&copy; &amp;copy; AT&T &#35;\n'],
    ['nested-quote-list-code', '> - a\n>   ```\n>   x\n>   ```\n> - b\n'],
    ['ordered-start', '7. seven\n8. eight\n'],
    ['link-reference', '[x][r]\n\n[r]: /u "t"\n'],
    ['html-inline', 'a <sub>2</sub> <kbd>k</kbd>\n'],
    ['footnotes', 'a[^1] b[^2]\n\n[^1]: one\n[^2]: two\n\n    more\n'],
    ['exclamation-before-link', 'Hi![x](y)\n'],
    ['table-with-code-and-pipe', '| `a|b` | c |\n|---|---|\n| d | e |\n'],
    // A block kept as written keeps its reference links, so their definitions must stay too.
    ['raw-block-keeps-its-reference', 'Some [l][ref] <span class="x">raw</span>.\n\n[ref]: https://e.com "T"\n\n[^n]: x\n'],
    ['named-footnotes', 'a[^note] b[^x]\n\n[^note]: one\n[^x]: two\n'],
    ...readdirSync(VAULT, { recursive: true }).filter((f) => f.endsWith('.md'))
      .map((f) => [`vault ${f}`, readFileSync(new URL(f, VAULT), 'utf8')]),
  ];
  for (const [name, md] of roundTrips) {
    it(`round-trips ${name}`, () => {
      const a = makePage();
      a.page.render(md, '');
      const b = makePage();
      b.page.render(a.page.serialize(), '');
      assert.equal(canonical(b.root), canonical(a.root));
    });
  }
});
