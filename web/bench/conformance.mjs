// CommonMark conformance and the render/serialize round trip, over every
// example of the CommonMark specification.
import spec from 'commonmark-spec';
import { makeWindow, freshPage, canonical, canonicalHtml } from './harness.mjs';
import { createSanitizer } from '../src/sanitize.js';
import { createMarkdown, parseDocument } from '../src/markdown.js';

const VOID = /^<(area|base|br|col|embed|hr|img|input|link|meta|param|source|track|wbr)\b/i;

// Elements a piece of HTML opens and does not close (or closes without
// opening): not zero for an HTML block that encloses the blocks after it.
function unbalanced(html) {
  const tags = html.replace(/<!--[\s\S]*?-->/g, '').match(/<\/?[a-z][^>]*>/gi) ?? [];
  return tags.reduce((n, t) => (t[1] === '/' ? n - 1 : VOID.test(t) || t.endsWith('/>') ? n : n + 1), 0);
}

// Our extensions and the sanitiser change some examples on purpose; each
// such example is named with the reason, and only those count as allowed.
function allowedReason(win, sanitize, md, ex, root) {
  const ours = canonical(root);
  if (/\[\[/.test(ex.markdown)) return 'wikilinks: [[...]] is a link to a note';
  if (canonicalHtml(win, sanitize(ex.html)) === ours) return 'sanitiser: raw HTML from a document is cleaned';
  // Blocks shown one by one: our blocks' HTML, joined into one string, is the
  // expected HTML, whose open element takes in the blocks after it.
  const { blocks } = parseDocument(md, ex.markdown, '');
  if (blocks.some((b) => b.rawBlock && unbalanced(b.html) !== 0) &&
      canonicalHtml(win, blocks.map((b) => b.html).join('')) === canonicalHtml(win, ex.html)) {
    return 'HTML blocks: each is shown on its own, not around the blocks after it';
  }
  // GFM autolinks: unlinking the bare URLs and addresses we linked gives the
  // expected HTML.
  const clone = root.cloneNode(true);
  for (const a of clone.querySelectorAll('a')) {
    const href = a.getAttribute('href');
    const text = a.textContent;
    if ([text, `mailto:${text}`, `http://${text}`].includes(href)) a.replaceWith(text);
  }
  if (canonical(clone) === canonicalHtml(win, ex.html)) return 'GFM autolinks: bare URLs and e-mail addresses are linked';
  return null;
}

export function runConformance() {
  const win = makeWindow();
  const sanitize = createSanitizer(win);
  const md = createMarkdown();
  const examples = spec.tests.map((t) => ({ ...t, markdown: t.markdown.replace(/→/g, '\t'), html: t.html.replace(/→/g, '\t') }));
  const passed = [];
  const allowed = [];
  const failed = [];
  const roundTripFailed = [];
  for (const ex of examples) {
    const a = freshPage(win);
    a.page.render(ex.markdown, '');
    const ours = canonical(a.root);
    if (ours === canonicalHtml(win, ex.html)) passed.push(ex);
    else {
      const reason = allowedReason(win, sanitize, md, ex, a.root);
      (reason ? allowed : failed).push({ number: ex.number, section: ex.section, reason });
    }
    const written = a.page.serialize();
    const b = freshPage(win);
    b.page.render(written, '');
    if (canonical(b.root) !== ours) roundTripFailed.push({ number: ex.number, section: ex.section });
  }
  return { total: examples.length, passed: passed.length, allowed, failed, roundTripFailed };
}
