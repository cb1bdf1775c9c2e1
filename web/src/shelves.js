// Very long documents in a page nobody edits: the blocks stand on shelves of a few dozen, and a
// shelf out of view is skipped whole. With every block a child of the content element, the
// engine looked at each of tens of thousands of them in every frame (which of them came into
// view, what lies under the pointer, the layout of the content element after one block
// changed): a typed character took seconds to show on a 10 MB note. The editor works on bare
// blocks, so editing takes them off their shelves first.

export const SHELF = 64;

export function isShelved(root) {
  return root.qvShelved === true;
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

export function shelve(root, size = SHELF) {
  if (isShelved(root)) return;
  root.qvShelved = true;
  root.qvShelfSize = size;
  root.replaceChildren(shelvesOf(root, [...root.childNodes]));
}

export function unshelve(root) {
  if (!isShelved(root)) return;
  root.qvShelved = false;
  root.replaceChildren(...topNodes(root));
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
  if (shelf.childNodes.length > 2 * root.qvShelfSize) shelf.replaceWith(shelvesOf(root, [...shelf.childNodes]));
}

// Shelves that removals left empty go too.
export function dropEmptyShelves(shelves) {
  for (const shelf of shelves) if (shelf?.qvShelf && !shelf.firstChild) shelf.remove();
}
