// The caret as a position that survives the replacement of its block: the
// index of the top-level element and a character offset inside it.

import { topLevelOf } from './patch.js';

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
export function capturePoint(root, els, node, offset) {
  const top = topLevelOf(root, node);
  const index = els.indexOf(top);
  return index < 0 ? null : { index, offset: offsetIn(top, node, offset), el: top };
}

export function captureSelection(win, root, els) {
  const sel = win.getSelection?.();
  if (!sel || !sel.rangeCount || !root.contains(sel.anchorNode)) return null;
  const anchor = capturePoint(root, els, sel.anchorNode, sel.anchorOffset);
  const focus = capturePoint(root, els, sel.focusNode, sel.focusOffset);
  return anchor && focus ? { anchor, focus } : null;
}

// Restores only what was lost: a caret whose element survived is still right.
export function restoreSelection(win, els, saved) {
  if (!saved || (saved.anchor.el.isConnected && saved.focus.el.isConnected)) return;
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
