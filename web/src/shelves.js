// Very long documents: the blocks stand on shelves of a few dozen, and a shelf out of view is
// skipped whole. With every block a child of the content element, the engine looked at each of
// tens of thousands of them in every frame (which of them came into view, what lies under the
// pointer, the layout of the content element after one block changed): a typed character took
// seconds to show on a 10 MB note, and the caret's blink alone kept a sixth of a core busy in
// the editing view. A shelf is no block: the editor sees through it, and a block is "top-level"
// whether it stands in the content element or on a shelf.

export const SHELF = 64;

export function isShelved(root) {
  return root.qvShelved === true;
}

// Whether `node` is where blocks stand: the content element or one of its shelves.
export function holdsBlocks(root, node) {
  return node === root || (node?.qvShelf === true && node.parentNode === root);
}

// Whether a block element is still in the content (one the user deleted while editing is not).
export function placed(root, el) {
  const parent = el.parentNode;
  return parent === root || (parent !== null && parent.qvShelf === true && parent.parentNode === root);
}

// The content's top-level nodes as if there were no shelves.
export function topNodes(root) {
  const out = [];
  for (let n = root.firstChild; n; n = n.nextSibling) {
    if (n.qvShelf) for (let c = n.firstChild; c; c = c.nextSibling) out.push(c);
    else out.push(n);
  }
  return out;
}

// The next top-level node after `node`, across shelves.
export function nextTopNode(node) {
  if (node.nextSibling || !node.parentNode?.qvShelf) return node.nextSibling;
  for (let shelf = node.parentNode.nextSibling; shelf; shelf = shelf.nextSibling) {
    if (!shelf.qvShelf || shelf.firstChild) return shelf.qvShelf ? shelf.firstChild : shelf;
  }
  return null;
}

// The top-level node after (or before) `node`, across shelves; from `root`, the first (or last).
export function topAfter(root, node) {
  return topStep(root, node, 'nextSibling', 'firstChild');
}

export function topBefore(root, node) {
  return topStep(root, node, 'previousSibling', 'lastChild');
}

function topStep(root, node, sibling, child) {
  let parent = node === root ? root : node.parentNode;
  let n = node === root ? root[child] : node[sibling];
  for (;;) {
    if (n) {
      if (parent === root && n.qvShelf) {
        if (n[child]) return n[child];
        n = n[sibling];
        continue;
      }
      return n;
    }
    if (parent === root || !parent?.qvShelf) return null;
    n = parent[sibling];
    parent = root;
  }
}

// The first and the last block element, across shelves.
export function firstBlock(root) {
  for (let n = root.firstElementChild; n; n = n.nextElementSibling) {
    if (!n.qvShelf) return n;
    if (n.firstElementChild) return n.firstElementChild;
  }
  return null;
}

export function lastBlock(root) {
  for (let n = root.lastElementChild; n; n = n.previousElementSibling) {
    if (!n.qvShelf) return n;
    if (n.lastElementChild) return n.lastElementChild;
  }
  return null;
}

// The block element after `el`, across shelves.
export function nextBlock(el) {
  for (let n = nextTopNode(el); n; n = nextTopNode(n)) if (n.nodeType === 1) return n;
  return null;
}

// A point between blocks, where the engine puts the caret when it moves into blocks it has not
// laid out (to the start of a shelf out of view, say), as the block to put it in instead: the
// one after the point ({ el, end: false }), else the one before it ({ el, end: true }). Null
// for a point anywhere else.
export function blockNear(root, node, offset) {
  if (!holdsBlocks(root, node)) return null;
  // Line breaks between blocks and shelves (empty ones too) are passed over.
  const passed = (n) => n?.qvShelf || (n?.nodeType === 3 && !n.data.trim());
  const up = (n) => (n.parentNode.qvShelf ? n.parentNode : null);
  let after = node.childNodes[offset] ?? (node === root ? null : node.nextSibling);
  while (passed(after)) after = (after.qvShelf && after.firstChild) || after.nextSibling || up(after)?.nextSibling;
  let before = (offset ? node.childNodes[offset - 1] : null) ?? (node === root ? null : node.previousSibling);
  while (passed(before)) before = (before.qvShelf && before.lastChild) || before.previousSibling || up(before)?.previousSibling;
  if (after?.nodeType === 1) return { el: after, end: false };
  if (before?.nodeType === 1) return { el: before, end: true };
  return null;
}

// A heading or rule starts no shelf when it can help it: margins do not collapse across a
// shelf's edge, and theirs are the ones that would add up to a visibly wider gap.
const OPENS_GAP = /^(?:H[1-6]|HR)$/;

function shelvesOf(root, nodes) {
  const doc = root.ownerDocument;
  const size = root.qvShelfSize;
  const fragment = doc.createDocumentFragment();
  for (let i = 0; i < nodes.length;) {
    let end = Math.min(nodes.length, i + size);
    const limit = Math.min(nodes.length, end + 8);
    while (end < limit && OPENS_GAP.test(nodes[end].nodeName)) end += 1;
    const shelf = doc.createElement('div');
    shelf.className = 'shelf';
    shelf.qvShelf = true;
    // Until a shelf has been drawn once, the engine takes this as its height.
    shelf.style.containIntrinsicSize = `auto ${4 * (end - i)}em`;
    shelf.append(...nodes.slice(i, end));
    fragment.append(shelf);
    i = end;
  }
  return fragment;
}

// Moving the blocks takes the selection out of them: it is put back where it was.
function keepingSelection(root, fn) {
  const sel = root.ownerDocument.defaultView?.getSelection?.();
  const saved = sel?.rangeCount && root.contains(sel.anchorNode) && root.contains(sel.focusNode)
    ? [sel.anchorNode, sel.anchorOffset, sel.focusNode, sel.focusOffset] : null;
  fn();
  if (saved && saved[0].isConnected && saved[2].isConnected) {
    try { sel.setBaseAndExtent(...saved); } catch { /* a node left shorter than the offset */ }
  }
}

export function shelve(root, size = SHELF) {
  if (isShelved(root)) return;
  root.qvShelved = true;
  root.qvShelfSize = size;
  keepingSelection(root, () => root.replaceChildren(shelvesOf(root, [...root.childNodes])));
}

export function unshelve(root) {
  if (!isShelved(root)) return;
  root.qvShelved = false;
  keepingSelection(root, () => root.replaceChildren(...topNodes(root)));
}

// Puts `fragment` (the elements `els`) before `anchor`, a placed block element, or at the end.
export function insertBlocks(root, fragment, els, anchor) {
  if (!isShelved(root)) {
    root.insertBefore(fragment, anchor);
    return;
  }
  if (!els.length) return;
  if (!anchor) {
    root.append(shelvesOf(root, els));
    return;
  }
  const shelf = anchor.parentNode;
  shelf.insertBefore(fragment, anchor);
  // A block the editor put beside the shelves has none to split.
  if (shelf.qvShelf && shelf.childNodes.length > 2 * root.qvShelfSize) shelf.replaceWith(shelvesOf(root, [...shelf.childNodes]));
}

// Shelves that removals left empty go too.
export function dropEmptyShelves(shelves) {
  for (const shelf of shelves) if (shelf?.qvShelf && !shelf.firstChild) shelf.remove();
}
