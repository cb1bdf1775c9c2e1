// CommonMark conformance and the render/serialize round trip, over every
// example of the CommonMark specification.
import spec from 'commonmark-spec';
import { makeWindow, freshPage, canonical, canonicalHtml } from './harness.mjs';
import { createSanitizer } from '../src/sanitize.js';

// Our extensions and the sanitiser change some examples on purpose; each
// such example is named with the reason, and only those count as allowed.
function allowedReason(win, sanitize, ex, root) {
  const ours = canonical(root);
  if (/\[\[/.test(ex.markdown)) return 'wikilinks: [[...]] is a link to a note';
  if (canonicalHtml(win, sanitize(ex.html)) === ours) return 'sanitiser: raw HTML from a document is cleaned';
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
      const reason = allowedReason(win, sanitize, ex, a.root);
      (reason ? allowed : failed).push({ number: ex.number, section: ex.section, reason });
    }
    const md = a.page.serialize();
    const b = freshPage(win);
    b.page.render(md, '');
    if (canonical(b.root) !== ours) roundTripFailed.push({ number: ex.number, section: ex.section });
  }
  return { total: examples.length, passed: passed.length, allowed, failed, roundTripFailed };
}
