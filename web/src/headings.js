// Heading anchors and the outline.

// Kept per text: the outline of a long note makes the slugs of thousands of headings again
// whenever one of them is typed into.
const slugs = new Map();

export function slugify(text) {
  let slug = slugs.get(text);
  if (slug !== undefined) return slug;
  slug = text.toLowerCase().normalize('NFKC')
    .replace(/[^\p{L}\p{N}\s_-]/gu, '')
    .trim()
    .replace(/\s+/g, '-') || 'section';
  if (slugs.size >= 50000) slugs.clear();
  slugs.set(text, slug);
  return slug;
}

// Ids depend only on the heading texts in document order: the n-th repeat of
// a slug gets "-n", so an id stays put while the text before it changes.
export function headingIds(headings) {
  const seen = new Map();
  return headings.map(({ text }) => {
    const slug = slugify(text);
    const n = seen.get(slug) ?? 0;
    seen.set(slug, n + 1);
    return n ? `${slug}-${n}` : slug;
  });
}

// Gives each heading element its id; returns the outline items.
export function applyHeadingIds(blocks, els) {
  const indices = [];
  const headings = [];
  blocks.forEach((b, i) => {
    if (b.heading) { indices.push(i); headings.push(b.heading); }
  });
  const ids = headingIds(headings);
  return indices.map((blockIndex, k) => {
    const el = els[blockIndex];
    // The last id set is remembered on the element: reading ids back from the
    // DOM for every heading on every keystroke is measurably slow.
    if (el.qvId !== ids[k]) {
      el.id = ids[k];
      el.qvId = ids[k];
    }
    return { level: headings[k].level, text: headings[k].text, id: ids[k] };
  });
}
