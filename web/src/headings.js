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

// The outline of a document's blocks: for each heading in order, the index of its block, its
// slug and its item ({ level, text, id }). `of` is the blocks it was made from.
export function makeOutline(blocks, els) {
  const at = [];
  const slugs = [];
  const items = [];
  const seen = new Map();
  for (let i = 0; i < blocks.length; i += 1) {
    const heading = blocks[i].heading;
    if (!heading) continue;
    const slug = slugify(heading.text);
    const n = seen.get(slug) ?? 0;
    seen.set(slug, n + 1);
    const id = n ? `${slug}-${n}` : slug;
    at.push(i);
    slugs.push(slug);
    items.push({ level: heading.level, text: heading.text, id });
    setId(els[i], id);
  }
  return { of: blocks, at, slugs, items };
}

// The outline carried over a change that replaced `removed` blocks from `first` with `added`:
// only the headings that share a slug with one removed or added are numbered again, and the
// items that did not change are the same objects. A long note has tens of thousands of
// headings; made whole after each heading edit, they held the page a tenth of a second.
export function updateOutline(outline, blocks, els, [first, removed, added]) {
  const from = firstAtOrAfter(outline.at, first);
  const to = firstAtOrAfter(outline.at, first + removed);
  const at = [];
  const slugs = [];
  for (let i = first; i < first + added; i += 1) {
    const heading = blocks[i].heading;
    if (heading) {
      at.push(i);
      slugs.push(slugify(heading.text));
    }
  }
  const fresh = at.length;
  const shift = added - removed;
  // Typing in a paragraph of a long note: nothing of the outline moves, and copying its lists
  // at each pause left megabytes for the collector on a note of 80,000 headings.
  if (!fresh && from === to && !shift) return { ...outline, of: blocks };
  const kept = outline.at.slice(to);
  const next = {
    of: blocks,
    at: outline.at.slice(0, from).concat(at, shift ? kept.map((i) => i + shift) : kept),
    slugs: outline.slugs.slice(0, from).concat(slugs, outline.slugs.slice(to)),
    items: outline.items.slice(0, from).concat(new Array(fresh).fill(null), outline.items.slice(to)),
  };
  const touched = new Set(outline.slugs.slice(from, to).concat(slugs));
  if (!touched.size) return next;
  const seen = new Map();
  for (let k = 0; k < from; k += 1) {
    const slug = next.slugs[k];
    if (touched.has(slug)) seen.set(slug, (seen.get(slug) ?? 0) + 1);
  }
  for (let k = from; k < next.slugs.length; k += 1) {
    const slug = next.slugs[k];
    if (k >= from + fresh && !touched.has(slug)) continue;
    const n = seen.get(slug) ?? 0;
    seen.set(slug, n + 1);
    const id = n ? `${slug}-${n}` : slug;
    if (next.items[k]?.id === id) continue;
    const heading = blocks[next.at[k]].heading;
    next.items[k] = { level: heading.level, text: heading.text, id };
    setId(els[next.at[k]], id);
  }
  return next;
}

// The last id set is remembered on the element: reading ids back from the DOM is slow.
function setId(el, id) {
  if (el && el.qvId !== id) {
    el.id = id;
    el.qvId = id;
  }
}

function firstAtOrAfter(sorted, value) {
  let lo = 0;
  let hi = sorted.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (sorted[mid] < value) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}
