// What the page and the host say to each other, and nowhere else: the messages the page posts,
// and the object the host calls (the global `quorvel`). The host's arguments arrive from a
// script it wrote; they are read and checked here, so that the page's pieces act on values of
// the types they expect.

// An edit as the host reads it (the "edit" message, and flushEdit's answer): `removed`
// characters at `start` of the text of revision `base`, `length` characters long, give way to
// `inserted`.
function editBody({ base, length, start, removed, inserted }) {
  return { base, length, start, removed, inserted };
}

export const message = Object.freeze({
  ready: () => ({ type: 'ready' }),
  rendered: () => ({ type: 'rendered' }),
  drawn: () => ({ type: 'drawn' }),
  edit: (change) => ({ type: 'edit', ...editBody(change) }),
  undo: () => ({ type: 'undo' }),
  redo: () => ({ type: 'redo' }),
  // With `splice` ({ from, removed, before }): the items that replace `removed` of the outline
  // last sent, `before` items long, from `from`.
  outline: (items, splice = null) => ({ type: 'outline', items, ...splice }),
  resolve: (targets) => ({ type: 'resolve', targets }),
  find: ({ count, index }) => ({ type: 'find', count, index }),
  scroll: (fraction) => ({ type: 'scroll', fraction }),
  task: (index, checked) => ({ type: 'task', index, checked }),
  link: (href, written) => ({ type: 'link', href, written }),
  wikilink: (target, heading) => ({ type: 'wikilink', target, heading }),
  contextmenu: (link) => ({ type: 'contextmenu', link }),
  pasteImage: (data) => ({ type: 'pasteImage', data }),
});

// A revision the host names; anything else lets the page count on from the one it holds.
const revisionOf = (value) => (Number.isInteger(value) ? value : null);

// The host writes objects as JSON text or as literals; text that is not JSON is UNREADABLE.
const UNREADABLE = Symbol('unreadable');
function parsed(value) {
  if (typeof value !== 'string') return value;
  try { return JSON.parse(value); } catch { return UNREADABLE; }
}

// `view` shows and edits the text, `formatter` runs the editing commands, `gestures` knows the
// link the context menu was opened on, `history` asks the host to undo or redo.
export function createHost({ view, formatter, gestures, history }) {
  return {
    render(markdown, dir, nextVersion) {
      view.show(String(markdown ?? ''), String(dir ?? ''), revisionOf(nextVersion));
    },
    // A change made from the text the page holds: `base` is the revision it was made from,
    // `length` the length of the text after it. Anything that does not line up is refused, and
    // the host sends the whole text instead.
    update(delta) {
      const d = parsed(delta);
      if (d === UNREADABLE) return false;
      // Typing not yet sent goes first, measured from the text it was typed into; the host then
      // sends the whole text, the typing in it.
      view.sendTyping();
      if (!d || typeof d !== 'object' || !view.holds(d.base)) return false;
      const { start, removed, length } = d;
      const inserted = typeof d.inserted === 'string' ? d.inserted : null;
      const held = view.textLength();
      if (inserted === null || !Number.isInteger(start) || !Number.isInteger(removed) || start < 0 || removed < 0
        || start + removed > held || held - removed + inserted.length !== length) return false;
      view.applyChange({ start, removed, inserted, length }, revisionOf(d.version));
      return true;
    },
    setTheme(payload) {
      view.setTheme(payload);
    },
    setEditable(on, caret = null) {
      view.setEditable(Boolean(on), caret === null ? null : Number(caret));
    },
    caretOffset: () => view.caretOffset(),
    flushEdit() {
      const change = view.commitEdit();
      return change && editBody(change);
    },
    placeCaret: (offset) => view.placeCaret(Number(offset)),
    // The engine drops its marks when its dictionary changes and checks again only when the
    // selection moves: the same selection, set again, is that move.
    recheckSpelling() {
      const selection = globalThis.getSelection?.();
      if (!selection || !selection.rangeCount) return;
      const range = selection.getRangeAt(0).cloneRange();
      selection.removeAllRanges();
      selection.addRange(range);
    },
    cancelEdit() {
      view.cancelEdit();
    },
    outlineAgain: () => view.outlineAgain(),
    serialize: () => view.serialize(),
    // `now`: nobody waits on the page but the caller, so what is left is done at once.
    // `laidOut`: the page is shown or printed, so its images and fonts count too.
    reportDrawn: (now = false, laidOut = true) => { view.reportDrawn(Boolean(now), Boolean(laidOut)); },
    format: (key) => formatter.format(String(key)),
    insertImage: (path) => formatter.insertImage(String(path)),
    pastePlain: (text) => formatter.pastePlain(String(text ?? '')),
    // The Edit menu's Undo and Redo: the typing not yet sent goes first, as with the keys.
    undo: () => history('undo'),
    redo: () => history('redo'),
    find: (q, options) => view.find(q, options),
    findStep: (n) => view.findStep(Number(n)),
    findClear: () => {
      view.findClear();
    },
    scrollToHeading(id) {
      view.scrollToHeading(id);
    },
    scrollToHeadingText(text, instant) {
      view.scrollToHeadingText(String(text), Boolean(instant));
    },
    scrollToFraction: (f) => {
      view.scrollToFraction(f);
    },
    // The host's answer to "resolve": each target's file URL, or null.
    resolved(map) {
      const m = parsed(map);
      view.markResolved(m && typeof m === 'object' ? m : {});
    },
    exportImages: () => view.exportImages(),
    exportFiles: () => view.exportFiles(),
    exportHTML(title, css, { images, base, present } = {}) {
      return view.exportHTML(title, css, images, base, present);
    },
    editContextLink: () => gestures.editContextLink(),
    openContextLink: () => gestures.openContextLink(),
    unlinkContextLink: () => gestures.unlinkContextLink(),
  };
}
