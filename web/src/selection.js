// The caret as a position that survives the replacement of its block: the
// index of the top-level element and a character offset inside it.

import { topLevelOf } from './patch.js';
import { blockNear, holdsBlocks } from './shelves.js';

export function offsetIn(el, node, offset) {
  const doc = el.ownerDocument;
  const range = doc.createRange();
  range.setStart(el, 0);
  range.setEnd(node, offset);
  return range.toString().length;
}

export function pointAt(el, offset) {
  const doc = el.ownerDocument;
  const walker = doc.createTreeWalker(el, 4 /* text */);
  let left = offset;
  let last = null;
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (left <= n.data.length) return [n, left];
    left -= n.data.length;
    last = n;
  }
  return last ? [last, last.data.length] : [el, 0];
}

// A point of the content as its block's index and a character offset in it.
// A point between blocks (where the engine leaves the caret when its block is replaced, or on a
// page that was empty) is taken as the edge of the nearest block, and marked `between`.
export function capturePoint(root, els, node, offset) {
  const top = topLevelOf(root, node);
  const index = els.indexOf(top);
  if (index >= 0) return { index, offset: offsetIn(top, node, offset), el: top };
  // On an empty page, the start of whatever comes.
  if (!els.length && holdsBlocks(root, node)) return { index: 0, offset: 0, el: null, between: true };
  const near = blockNear(root, node, offset);
  const at = near ? els.indexOf(near.el) : -1;
  if (at < 0) return null;
  return { index: at, offset: near.end ? near.el.textContent.length : 0, el: near.el, between: true };
}

export function captureSelection(win, root, els) {
  const sel = win.getSelection?.();
  if (!sel || !sel.rangeCount || !root.contains(sel.anchorNode)) return null;
  const anchor = capturePoint(root, els, sel.anchorNode, sel.anchorOffset);
  const focus = capturePoint(root, els, sel.focusNode, sel.focusOffset);
  return anchor && focus ? { anchor, focus } : null;
}

// Restores only what was lost: a caret whose element survived is still right. One left between
// blocks goes into a block: the engine's own caret there cost it a second or more for every
// frame after a whole render of a 20 KB note, and more with each render.
export function restoreSelection(win, els, saved) {
  if (!saved) return;
  const between = saved.anchor.between || saved.focus.between;
  if (!between && saved.anchor.el.isConnected && saved.focus.el.isConnected) return;
  placeSelection(win, els, saved);
}

// Puts a captured selection back by block index and offset; false when there is none.
export function placeSelection(win, els, saved) {
  if (!saved) return false;
  const resolve = ({ index, offset }) => {
    const el = els[Math.min(index, els.length - 1)];
    return el ? pointAt(el, offset) : null;
  };
  const a = resolve(saved.anchor);
  const f = resolve(saved.focus);
  if (!a || !f) return false;
  win.getSelection().setBaseAndExtent(a[0], a[1], f[0], f[1]);
  return true;
}
