// CommonMark conformance and the render/serialize round trip, over every
// example of the CommonMark specification.
import spec from 'commonmark-spec';
import { makeWindow, freshPage, canonical, canonicalHtml } from './harness.mjs';

export function runConformance({ verbose = false } = {}) {
  const win = makeWindow();
  const examples = spec.tests.map((t) => ({ ...t, markdown: t.markdown.replace(/→/g, '\t'), html: t.html.replace(/→/g, '\t') }));
  const failed = [];
  const roundTripFailed = [];
  for (const ex of examples) {
    const a = freshPage(win);
    a.page.render(ex.markdown, '');
    const ours = canonical(a.root);
    if (ours !== canonicalHtml(win, ex.html)) failed.push(ex);
    const md = a.page.serialize();
    const b = freshPage(win);
    b.page.render(md, '');
    if (canonical(b.root) !== ours) roundTripFailed.push({ ...ex, serialized: md, got: canonical(b.root), want: ours });
  }
  return { total: examples.length, failed, roundTripFailed };
}
