// Keys and typing on a jsdom page, for the tests and the fidelity benchmark.
// jsdom has no editing engine: keys are dispatched as the engine would, and
// text the page does not take over is inserted at the caret the way the
// engine inserts it (replacing the selection, or an empty block's <br>).
export function typeChar(win, root, ch) {
  const event = new win.InputEvent('beforeinput', { inputType: 'insertText', data: ch, bubbles: true, cancelable: true });
  if (!root.dispatchEvent(event)) return;
  const range = win.getSelection().getRangeAt(0);
  range.deleteContents();
  let { startContainer: node, startOffset: offset } = range;
  if (node.nodeType !== 3) {
    const at = node.childNodes[offset];
    const text = win.document.createTextNode('');
    if (at?.nodeName === 'BR' && !at.nextSibling) at.replaceWith(text);
    else node.insertBefore(text, at ?? null);
    [node, offset] = [text, 0];
  }
  node.insertData(offset, ch);
  win.getSelection().collapse(node, offset + 1);
}

export function press(win, root, spec) {
  const [, mods, key] = /^([CS]-)?(.+)$/.exec(spec);
  const event = new win.KeyboardEvent('keydown', {
    key, ctrlKey: mods === 'C-', shiftKey: mods === 'S-', bubbles: true, cancelable: true,
  });
  const open = root.dispatchEvent(event);
  if (open && key === 'End') {
    const sel = win.getSelection();
    const node = sel.anchorNode.nodeType === 1 ? sel.anchorNode : sel.anchorNode.parentElement;
    const block = node.closest('p, li, h1, h2, h3, h4, h5, h6');
    sel.collapse(block, block.childNodes.length);
  }
  return open;
}

// The caret at "selector@offset": a character offset in that element's
// text, "$" for its end.
export function putCaret(win, root, spec) {
  const [selector, at] = spec.split('@');
  const el = selector ? root.querySelector(selector) : root;
  const walker = win.document.createTreeWalker(el, win.NodeFilter.SHOW_TEXT);
  let left = at === '$' ? Infinity : Number(at);
  let point = [el, 0];
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    point = [n, Math.min(left, n.data.length)];
    if (left <= n.data.length) break;
    left -= n.data.length;
  }
  win.getSelection().collapse(...point);
}

// "{Key}", "{C-b}", "{S-Tab}" are key presses; anything else is typed.
export async function perform(env, spec, input) {
  const { win, root, page, settle } = env;
  putCaret(win, root, spec);
  for (const [, key, ch] of input.matchAll(/\{([^}]+)\}|(.)/gsu)) {
    if (key) press(win, root, key);
    else typeChar(win, root, ch);
  }
  await settle();
  return page.flushEdit();
}

