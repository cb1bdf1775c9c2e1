// Visual editing: the content element is edited in place; changes are
// tracked per top-level element and posted as the whole document, debounced.

import { topLevelOf } from './patch.js';
import { holdsBlocks, placed } from './shelves.js';

export const EDIT_DELAY_MS = 300;

export function createEditor({ win, root, onChange, onInput = () => {} }) {
  const dirty = new Set();
  // Top-level nodes taken out, so that a write-back can tell where the page changed.
  const removed = new Set();
  let editable = false;
  let timer = null;
  let paused = 0;

  const markNode = (node) => {
    if (node === root) return;
    const top = topLevelOf(root, node);
    if (top) dirty.add(top);
    else if (holdsBlocks(root, node.parentNode) && !node.qvShelf) dirty.add(node);
  };

  // What the engine changed: nodes added to or taken from where blocks stand, or text inside one.
  const note = (records) => {
    for (const r of records) {
      if (holdsBlocks(root, r.target)) {
        r.addedNodes.forEach((n) => dirty.add(n));
        r.removedNodes.forEach((n) => removed.add(n));
        if (r.removedNodes.length) dirty.add(root);
      } else {
        markNode(r.target);
      }
    }
  };

  const observer = new win.MutationObserver((records) => {
    if (paused) return;
    onInput();
    note(records);
    schedule();
  });

  function schedule() {
    if (!dirty.size) return;
    if (timer !== null) win.clearTimeout(timer);
    timer = win.setTimeout(() => {
      timer = null;
      onChange();
    }, EDIT_DELAY_MS);
  }

  return {
    get editable() { return editable; },
    setEditable(on) {
      editable = Boolean(on);
      root.contentEditable = editable ? 'true' : 'false';
      if (editable) {
        observer.observe(root, { childList: true, characterData: true, subtree: true });
        try { win.document.execCommand('defaultParagraphSeparator', false, 'p'); } catch { /* not in every engine */ }
      } else {
        this.takeRecords();
        observer.disconnect();
      }
    },
    isDirty: (el) => dirty.has(el),
    changed: () => [...dirty],
    removed: () => [...removed],
    hasChanges: () => dirty.size > 0,
    // Changes made by the page itself (rendering, find highlights, diagrams)
    // are no edits.
    quietly(fn) {
      paused += 1;
      try {
        return fn();
      } finally {
        observer.takeRecords();
        paused -= 1;
      }
    },
    takeRecords() {
      const records = observer.takeRecords();
      if (!paused) note(records);
    },
    // Marks an element changed by a command of ours (formatting).
    touch(node) {
      markNode(node);
      schedule();
    },
    // Forgets pending changes; returns the elements that held them.
    clear() {
      if (timer !== null) win.clearTimeout(timer);
      timer = null;
      const els = [...dirty].filter((n) => n !== root && placed(root, n));
      dirty.clear();
      removed.clear();
      return els;
    },
    cancelTimer() {
      if (timer !== null) win.clearTimeout(timer);
      timer = null;
    },
  };
}
