// Bringing the DOM of the content element in line with a new list of blocks,
// touching only the elements whose block changed.

import { placed, insertBlocks, nextTopNode, dropEmptyShelves, topNodes, holdsBlocks } from './shelves.js';

// `html(block)` gives the safe HTML of a block; `keep(el)` says whether an
// element may stay when its block's HTML is unchanged (an element the user
// is editing may not). Returns the elements, one per block.
// With `alone`, the blocks outside the changed span are those the elements already have.
export function patchBlocks(root, state, html, keep = () => true) {
  const { oldBlocks, oldEls, blocks, changed, alone = false } = state;
  const [first, removed, added] = changed ?? [0, oldBlocks.length, blocks.length];
  const same = (o, n, el) => o.html !== null && o.html === n.html && placed(root, el) && keep(el);
  let a = 0;
  while (a < removed && a < added && same(oldBlocks[first + a], blocks[first + a], oldEls[first + a])) a += 1;
  let b = 0;
  while (b < removed - a && b < added - a &&
    same(oldBlocks[first + removed - 1 - b], blocks[first + added - 1 - b], oldEls[first + removed - 1 - b])) b += 1;

  const from = first + a;
  removeRun(root, oldEls, from, first + removed - b);
  const fresh = blocks.slice(from, first + added - b);
  const { fragment, els: created } = createElements(root.ownerDocument, fresh, html);
  // One insertion for all new elements: inserting them one by one costs a
  // layout invalidation (and in jsdom a list walk) each.
  insertBlocks(root, fragment, created, anchorAt(root, oldEls, first + removed - b));

  const els = oldEls.slice(0, from).concat(created, oldEls.slice(first + removed - b));
  // After a whole render every block is a new object, the kept ones too (and
  // after a partial one, those of the changed region and after it): an
  // element left pointing at its old block would count as new markup and be
  // written back from the DOM at the next edit, not copied from the source.
  for (let i = changed ? first : 0, end = alone ? first + added : els.length; i < end; i += 1) {
    if (i >= from && i < from + created.length) els[i].qvBlock = blocks[i];
    else setRange(els[i], blocks[i]);
  }
  return { els, created };
}

// Elements leave in one operation: removed one by one, each removal made the engine look at
// every sibling after it again, and a full render of a large note after another took seconds.
function removeRun(root, els, from, to) {
  const gone = [];
  for (let i = from; i < to; i += 1) if (placed(root, els[i])) gone.push(els[i]);
  if (!gone.length) return;
  const shelves = [gone[0].parentNode, gone[gone.length - 1].parentNode];
  const oneByOne = () => {
    gone.forEach((el) => {
      const shelf = el.parentNode;
      el.remove();
      dropEmptyShelves([shelf]);
    });
  };
  // Anything else between them (text typed outside any block) stays where it is.
  let k = 0;
  for (let n = gone[0]; n && k < gone.length; n = nextTopNode(n)) {
    if (n === gone[k]) k += 1;
    else if (n.nodeType !== 3 || n.data.trim()) {
      oneByOne();
      return;
    }
  }
  // A few go one by one: a range costs more than it saves there.
  if (gone.length < 16) {
    oneByOne();
    return;
  }
  const range = root.ownerDocument.createRange();
  range.setStartBefore(gone[0]);
  range.setEndAfter(gone[gone.length - 1]);
  range.deleteContents();
  dropEmptyShelves(shelves);
}

// The element to insert before: the first old one still in place (one the
// user deleted while editing is not).
function anchorAt(root, els, from) {
  for (let i = from; i < els.length; i += 1) if (placed(root, els[i])) return els[i];
  return null;
}

// The lines a block stood on when its element was made go into the markup: the engine moves
// and removes elements parsed with attributes of their own at half the cost of bare ones (a
// 1 MB note rendered again: 22 against 45 ms). They are not kept up to date; the block is.
function withRange(html, block) {
  return html.replace(/^<([a-zA-Z][a-zA-Z0-9]*)/, `<$1 data-from="${block.start}" data-to="${block.end}"`);
}

function createElements(doc, blocks, html) {
  const template = doc.createElement('template');
  if (!blocks.length) return { fragment: template.content, els: [] };
  template.innerHTML = blocks.map((b) => withRange(html(b), b)).join('');
  const els = elementChildren(template.content);
  if (els.length === blocks.length) return { fragment: template.content, els };
  return wrapEach(doc, blocks, html);
}

// Some block made no element or several (broken raw HTML): each one gets a
// wrapper so that the one-element-per-block rule holds.
function wrapEach(doc, blocks, html) {
  const els = blocks.map((block) => {
    const t = doc.createElement('template');
    t.innerHTML = html(block);
    if (t.content.children.length === 1 && t.content.childNodes.length <= 2) return t.content.firstElementChild;
    const div = doc.createElement('div');
    div.className = 'raw-html';
    div.append(t.content);
    return div;
  });
  els.forEach((el, i) => setRange(el, blocks[i]));
  const fragment = doc.createDocumentFragment();
  fragment.append(...els);
  return { fragment, els };
}

// Walking siblings rather than indexing an HTMLCollection, which some DOMs
// (jsdom) answer in linear time per index.
export function elementChildren(parent) {
  const out = [];
  for (let el = parent.firstElementChild; el; el = el.nextElementSibling) out.push(el);
  return out;
}

// Every top-level element carries its block, with the block's source line range [start, end).
// As a property only: kept in attributes too, a line break near the top of a long note set
// two of them on each of a quarter of a million elements below it.
export function setRange(el, block) {
  el.qvBlock = block;
}

export function blockOf(el) {
  return el?.qvBlock ?? null;
}

// Removes top-level nodes that belong to no block (what an editor typed
// outside any block, once its edit is dropped).
export function dropStrays(root, els) {
  const known = new Set(els);
  for (const node of topNodes(root)) {
    if (!known.has(node) && (node.nodeType === 1 || node.data.trim())) node.remove();
  }
}

// The block element (of the content element or a shelf) that holds `node`, or null.
export function topLevelOf(root, node) {
  let n = node;
  while (n && n !== root && !holdsBlocks(root, n.parentNode)) n = n.parentNode;
  return n && n !== root && n.nodeType === 1 && !n.qvShelf ? n : null;
}

// Text typed into an empty page stands in the content element itself, outside any block. The
// paragraph made around it (and the inline nodes beside it) keeps the caret where it was; an
// empty page gets an empty paragraph. Returns the paragraph, or null when the caret is in a
// block already.
export function paragraphAtCaret(win, root, isBlock) {
  const doc = win.document;
  const sel = win.getSelection();
  const range = sel.rangeCount ? sel.getRangeAt(0) : null;
  const node = range?.startContainer;
  if (!root.firstChild) {
    const p = doc.createElement('p');
    p.append(doc.createElement('br'));
    root.append(p);
    sel.collapse(p, 0);
    return p;
  }
  if (!node || node.nodeType !== 3 || !holdsBlocks(root, node.parentNode)) return null;
  const loose = (n) => n && !(n.nodeType === 1 && isBlock(n));
  const run = [node];
  while (loose(run[0].previousSibling)) run.unshift(run[0].previousSibling);
  while (loose(run[run.length - 1].nextSibling)) run.push(run[run.length - 1].nextSibling);
  const offset = range.startOffset;
  const p = doc.createElement('p');
  run[0].before(p);
  p.append(...run);
  sel.collapse(node, offset);
  return p;
}
