// The keys that shape blocks in the visual editor. Markdown's block syntax
// typed at the start of a paragraph becomes the block it stands for; Enter,
// Backspace and Tab work lists and tables the way word processors do. Left to
// itself the engine would keep "## " as text (written back escaped), make
// list items without their checkbox and move the focus out of the page.
//
// Headings and quotes go through the engine's block command where it makes
// the renderer's element, so one undo takes them back. Lists, items and
// tables are made on the DOM directly: the engine's list commands nest the
// list in the paragraph or merge it with its neighbour, and the serialiser
// needs exactly the elements the renderer makes. Those changes are not in
// the engine's undo history; the typed prefix is removed through the engine
// so that an undo never takes away other characters in its place.

import { topLevelOf, paragraphAtCaret } from './patch.js';
import { holdsBlocks, lastBlock, firstBlock, placed, isShelved, blockNear, topAfter, topBefore } from './shelves.js';
import { plainText } from './serialize.js';
import { installInputRules } from './inputrules.js';

const HEADING = /^H[1-6]$/;
const LIST = new Set(['UL', 'OL']);
const OWN_BLOCKS = new Set(['P', 'UL', 'OL', 'PRE', 'BLOCKQUOTE', 'TABLE', 'HR', 'DIV',
  'H1', 'H2', 'H3', 'H4', 'H5', 'H6']);
const FENCE = /^(`{3,}|~{3,})[ \t]*([^`\s]*)$/;
const RULE = /^(?:-{3,}|\*{3,}|_{3,})$/;
const CLOSING_FENCE = /^(`{3,}|~{3,})[ \t]*$/;
const FORMAT_KEYS = { b: 'bold', i: 'italic' };

export function installStructure({ win, root, editable, formatter }) {
  const doc = win.document;

  const closest = (node, test) => {
    for (let n = node; n && n !== root; n = n.parentNode) if (n.nodeType === 1 && test(n)) return n;
    return null;
  };
  // Code, tables and the page's own widgets keep the engine's keys (or ours for tables).
  const sealed = (node) => closest(node, (n) => n.nodeName === 'PRE' || n.nodeName === 'TABLE' ||
    n.getAttribute('contenteditable') === 'false');

  function caret() {
    const sel = win.getSelection();
    if (!sel.rangeCount || !root.contains(sel.anchorNode)) return null;
    return sel.getRangeAt(0);
  }

  function place(node, offset) {
    win.getSelection().collapse(node, offset);
  }

  // The text from the start of `el` to the caret, as typed (the engine types
  // a space at the end of a line as a no-break space).
  function textBefore(el, range) {
    const r = doc.createRange();
    r.setStart(el, 0);
    r.setEnd(range.startContainer, range.startOffset);
    return r.toString().replace(/\u00a0/g, ' ');
  }

  function atStart(el, range) {
    const r = doc.createRange();
    r.setStart(el, 0);
    r.setEnd(range.startContainer, range.startOffset);
    return !r.toString() && !r.cloneContents().querySelector('img');
  }

  const checkboxOf = (li) => li.querySelector(':scope > input[type=checkbox], :scope > p:first-child > input[type=checkbox]');

  function newCheckbox() {
    const box = doc.createElement('input');
    box.type = 'checkbox';
    box.className = 'task-checkbox';
    box.setAttribute('contenteditable', 'false');
    return box;
  }

  // An empty block has no height to hold the caret without a line break.
  function fill(el) {
    if (!el.textContent.trim() && !el.querySelector('img, br')) el.append(doc.createElement('br'));
    return el;
  }

  // Where typing into an item or block goes: its first line, past the checkbox.
  function caretAtStart(el) {
    let target = el;
    if (el.nodeName === 'LI' && el.firstElementChild?.nodeName === 'P' && !el.firstChild.nodeValue?.trim()) {
      target = el.firstElementChild;
    }
    let offset = 0;
    while (target.childNodes[offset]?.nodeName === 'INPUT') offset += 1;
    place(target, offset);
  }

  // A block that changes kind keeps its place in the file: the new element
  // takes over the old one's lines.
  function replaceBlock(old, fresh) {
    old.replaceWith(fresh);
    return takeOver(old, fresh);
  }

  function takeOver(old, fresh) {
    if (old.qvBlock && !old.isConnected && placed(root, fresh) && !fresh.qvBlock) {
      fresh.qvBlock = old.qvBlock;
    }
    return fresh;
  }

  function retag(el, tag) {
    const fresh = doc.createElement(tag);
    fresh.append(...el.childNodes);
    return replaceBlock(el, fresh);
  }

  // A new list beside the given one, of its kind and marker.
  function listLike(list, start) {
    const fresh = doc.createElement(list.nodeName);
    for (const name of ['data-marker', 'class']) {
      if (list.hasAttribute(name)) fresh.setAttribute(name, list.getAttribute(name));
    }
    if (list.nodeName === 'OL' && start !== 1) fresh.setAttribute('start', String(start));
    return fresh;
  }

  const startOf = (list) => Number(list.getAttribute('start') ?? 1) || 0;

  // A block is made around text typed into an empty page, so that what is typed there is
  // Markdown as it is anywhere else.
  const strayBlock = (range) => (holdsBlocks(root, range.startContainer.parentNode)
    ? paragraphAtCaret(win, root, (n) => OWN_BLOCKS.has(n.nodeName)) : null);

  // ---- typed prefixes ----

  // Through the engine where it can: the characters typed are in its undo
  // history, and taking them away behind its back would make a later undo
  // take away other characters in their place.
  function removeTyped(block, range) {
    const r = doc.createRange();
    r.setStart(block, 0);
    r.setEnd(range.startContainer, range.startOffset);
    const sel = win.getSelection();
    sel.removeAllRanges();
    sel.addRange(r);
    if (!run('delete')) r.deleteContents();
  }

  function makeTask(li) {
    li.classList.add('task-list-item');
    li.parentNode.classList.add('contains-task-list');
    const first = li.firstElementChild?.nodeName === 'P' ? li.firstElementChild : li;
    first.prepend(newCheckbox());
    caretAtStart(li);
  }

  function run(command, value = null) {
    try {
      return typeof doc.execCommand === 'function' && doc.execCommand(command, false, value);
    } catch {
      return false;
    }
  }

  // The engine's own block command, so that one undo takes the conversion
  // back; kept only when it made what the renderer makes (`tag` around the
  // caret), else undone. Returns that element.
  function byEngine(block, command, value, tag) {
    const top = topLevelOf(root, block);
    if (!run(command, value)) return null;
    const range = caret();
    const el = range && closest(range.startContainer, (n) => n.nodeName === tag);
    if (!el) {
      run('undo');
      return null;
    }
    if (top) takeOver(top, topLevelOf(root, el));
    return el;
  }

  function toHeading(block, [, marks]) {
    const tag = `H${marks.length}`;
    if (block.nodeName === tag) return;
    if (!byEngine(block, 'formatBlock', tag.toLowerCase(), tag)) caretAtStart(fill(retag(block, tag)));
  }

  function toQuote(block) {
    if (byEngine(block, 'formatBlock', 'blockquote', 'BLOCKQUOTE')) return;
    const quote = doc.createElement('blockquote');
    replaceBlock(block, quote);
    quote.append(fill(block));
    caretAtStart(block);
  }

  // The marker typed is the one the file gets. Not the engine's list
  // commands: they put the list inside the paragraph or join it to the
  // list next to it.
  function toList(block, tag, marker, start = 1) {
    const list = doc.createElement(tag);
    list.setAttribute('data-marker', marker);
    if (start !== 1) list.setAttribute('start', String(start));
    const li = doc.createElement('li');
    li.append(...block.childNodes);
    list.append(fill(li));
    replaceBlock(block, list);
    caretAtStart(li);
  }

  function toTask(block, [, mark]) {
    const li = itemOf(block);
    makeTask(li);
    if (mark !== ' ') checkboxOf(li).setAttribute('checked', '');
  }

  // The first line of a list item, whether the item holds paragraphs or not.
  const itemOf = (block) => (block.nodeName === 'LI' ? block
    : block.parentNode.nodeName === 'LI' && block === block.parentNode.firstElementChild ? block.parentNode : null);

  // Markdown typed at the start of a block and followed by a space: the block it makes.
  // `on` says in which blocks the rule applies.
  const PREFIX_RULES = [
    { name: 'heading', pattern: /^(#{1,6})$/, on: (b) => b.nodeName === 'P' || HEADING.test(b.nodeName), make: toHeading },
    { name: 'quote', pattern: /^>$/, on: (b) => b.nodeName === 'P', make: toQuote },
    { name: 'bullet', pattern: /^([-*+])$/, on: (b) => b.nodeName === 'P', make: (b, m) => toList(b, 'ul', m[1]) },
    {
      name: 'ordered', pattern: /^(\d{1,9})([.)])$/, on: (b) => b.nodeName === 'P',
      make: (b, m) => toList(b, 'ol', m[2], Number(m[1])),
    },
    { name: 'task', pattern: /^\[([ xX])\]$/, on: (b) => itemOf(b) && !checkboxOf(itemOf(b)), make: toTask },
  ];

  function onSpace(event) {
    const range = caret();
    if (!range?.collapsed || sealed(range.startContainer)) return;
    const block = closest(range.startContainer, (n) => n.nodeName === 'P' || n.nodeName === 'LI' || HEADING.test(n.nodeName))
      ?? strayBlock(range);
    if (!block) return;
    const prefix = textBefore(block, range);
    for (const rule of PREFIX_RULES) {
      const m = rule.pattern.exec(prefix);
      if (!m || !rule.on(block)) continue;
      event.preventDefault();
      removeTyped(block, range);
      rule.make(block, m);
      return;
    }
  }

  // ---- Enter ----

  // The item's own content: what comes before its nested lists.
  function itemIsEmpty(li) {
    const own = [...li.childNodes].filter((n) => !LIST.has(n.nodeName));
    return own.every((n) => !n.textContent.trim() && !(n.nodeType === 1 && (n.nodeName === 'IMG' || n.querySelector('img'))));
  }

  function splitItem(li, range) {
    const rest = doc.createRange();
    rest.setStart(range.startContainer, range.startOffset);
    rest.setEnd(li, li.childNodes.length);
    const box = checkboxOf(li);
    if (box && rest.intersectsNode(box)) rest.setStartAfter(box);
    const fresh = doc.createElement('li');
    if (li.className) fresh.className = li.className;
    fresh.append(rest.extractContents());
    // A split at the end of a link or emphasis leaves an empty copy of it.
    for (const el of [...fresh.querySelectorAll('a, strong, em, b, i, s, del, code, mark, span')]) {
      if (!el.textContent && !el.querySelector('img, br, input')) el.remove();
    }
    const firstP = fresh.firstChild?.nodeName === 'P' ? fresh.firstChild : null;
    if (box) (firstP ?? fresh).prepend(newCheckbox());
    // An item split at the end of its text takes its nested lists along;
    // its own line needs a break to hold the caret, or what is typed next
    // goes into the first nested item.
    if (itemIsEmpty(fresh)) {
      const holder = firstP ?? fresh;
      if (!holder.querySelector(':scope > br')) {
        holder.insertBefore(doc.createElement('br'), firstP ? null : [...fresh.childNodes].find((n) => LIST.has(n.nodeName)) ?? null);
      }
    } else {
      fill(firstP ?? fresh);
    }
    const leftP = li.firstElementChild?.nodeName === 'P' ? li.firstElementChild : li;
    if (itemIsEmpty(li)) fill(leftP);
    li.after(fresh);
    caretAtStart(fresh);
  }

  // Enter in a code block adds a line to it; on an empty last line, or one that closes the
  // fence, it leaves the block for a paragraph after it.
  // Puts the caret `offset` characters into the text of `el`; false when it has fewer.
  function textAt(el, offset) {
    const walker = doc.createTreeWalker(el, win.NodeFilter.SHOW_TEXT);
    let left = offset;
    for (let n = walker.nextNode(); n; n = walker.nextNode()) {
      if (left <= n.data.length) {
        place(n, left);
        return true;
      }
      left -= n.data.length;
    }
    return false;
  }

  function onEnterInCode(event, pre, caretRange) {
    let range = caretRange;
    event.preventDefault();
    const code = pre.querySelector('code') ?? pre;
    const part = (from, to) => {
      const r = doc.createRange();
      r.setStart(...from);
      r.setEnd(...to);
      return plainText(r.cloneContents());
    };
    let before = part([code, 0], [range.startContainer, range.startOffset]);
    let after = part([range.endContainer, range.endOffset], [code, code.childNodes.length]);
    // A code block's text ends with a line break that shows no line: past it is its last line.
    if (range.collapsed && !after && before.endsWith('\n') && textAt(code, before.length - 1)) {
      before = before.slice(0, -1);
      after = '\n';
      range = caret();
    }
    const line = before.slice(before.lastIndexOf('\n') + 1);
    if (range.collapsed && /^\n?$/.test(after) && (!line.trim() || CLOSING_FENCE.test(line))) {
      const kept = before.slice(0, Math.max(before.lastIndexOf('\n'), 0));
      code.replaceChildren(kept ? doc.createTextNode(kept) : doc.createElement('br'));
      const next = fill(doc.createElement('p'));
      pre.after(next);
      place(next, 0);
      return;
    }
    if (!run('insertLineBreak')) {
      range.deleteContents();
      const text = doc.createTextNode(after ? '\n' : '\n\n');
      range.insertNode(text);
      place(text, 1);
    }
  }

  // Enter on an empty line of a quote leaves the quote; on any other line it starts a new
  // paragraph in it (the engine would start a second quote).
  function onEnterInQuote(event, quote, range) {
    if ([...quote.childNodes].some((n) => n.nodeType === 3 ? n.data.trim() : !OWN_BLOCKS.has(n.nodeName) && n.nodeName !== 'BR')) {
      // Inline content straight in the quote (as the engine's block command makes it) gets a
      // paragraph, which the engine then splits as it does any other.
      const p = doc.createElement('p');
      const [node, offset] = [range.startContainer, range.startOffset];
      p.append(...quote.childNodes);
      quote.append(p);
      place(node === quote ? p : node, offset);
    }
    const p = closest(caret().startContainer, (n) => n.nodeName === 'P' && n.parentNode === quote);
    if (!p) return;
    if (p.textContent.replace(/\u00a0/g, ' ').trim() || p.querySelector('img')) return;
    event.preventDefault();
    const rest = [];
    for (let n = p.nextSibling; n; n = n.nextSibling) rest.push(n);
    if (rest.some((n) => n.nodeType === 1 || n.data.trim())) {
      const tail = doc.createElement('blockquote');
      tail.append(...rest);
      quote.after(tail);
    }
    quote.after(p);
    if (!quote.textContent.trim() && !quote.querySelector('img')) replaceBlock(quote, p);
    fill(p);
    place(p, 0);
  }

  function onEnter(event) {
    const range = caret();
    if (!range) return;
    const pre = closest(range.startContainer, (n) => n.nodeName === 'PRE');
    if (pre && !closest(pre, (n) => n.getAttribute('contenteditable') === 'false')) {
      onEnterInCode(event, pre, range);
      return;
    }
    if (closest(range.startContainer, (n) => n.getAttribute('contenteditable') === 'false')) return;
    const quote = closest(range.startContainer, (n) => n.nodeName === 'BLOCKQUOTE');
    if (quote && !closest(range.startContainer, (n) => n.nodeName === 'LI')) {
      onEnterInQuote(event, quote, range);
      return;
    }
    const p = closest(range.startContainer, (n) => n.nodeName === 'P') ?? strayBlock(range);
    const line = p?.textContent.replace(/\u00a0/g, ' ').trim();
    if (p && range.collapsed && !sealed(p) && textBefore(p, range).trim() === line) {
      let m;
      if ((m = FENCE.exec(line))) {
        event.preventDefault();
        const pre = doc.createElement('pre');
        const code = doc.createElement('code');
        if (m[2]) code.className = `language-${m[2]}`;
        code.append(doc.createElement('br'));
        pre.append(code);
        replaceBlock(p, pre);
        place(code, 0);
        return;
      }
      if (RULE.test(line)) {
        event.preventDefault();
        const hr = doc.createElement('hr');
        hr.setAttribute('data-marker', line);
        const next = fill(doc.createElement('p'));
        replaceBlock(p, hr);
        hr.after(next);
        place(next, 0);
        return;
      }
    }
    const li = closest(range.startContainer, (n) => n.nodeName === 'LI');
    if (!li || sealed(range.startContainer)) return;
    event.preventDefault();
    if (!range.collapsed) range.deleteContents();
    if (!itemIsEmpty(li)) splitItem(li, range);
    else if (li.parentNode.parentNode?.nodeName === 'LI') outdent(li);
    else itemToParagraph(li);
  }

  // ---- lists ----

  // The item leaves its list as paragraphs (the list split around it when it
  // was in the middle), at the place it had.
  function itemToParagraph(li) {
    const list = li.parentNode;
    checkboxOf(li)?.remove();
    const nodes = [];
    let p = null;
    for (const child of [...li.childNodes]) {
      if (child.nodeType === 1 && OWN_BLOCKS.has(child.nodeName)) {
        nodes.push(child);
        p = null;
      } else {
        if (!p) nodes.push((p = doc.createElement('p')));
        p.append(child);
      }
    }
    if (nodes[0]?.nodeName !== 'P') nodes.unshift(doc.createElement('p'));
    fill(nodes[0]);
    const before = [];
    for (let n = li.previousElementSibling; n; n = n.previousElementSibling) before.unshift(n);
    const after = [];
    for (let n = li.nextElementSibling; n; n = n.nextElementSibling) after.push(n);
    li.remove();
    if (!before.length && !after.length) {
      replaceBlock(list, nodes[0]);
      nodes[0].after(...nodes.slice(1));
    } else if (!before.length) {
      if (list.nodeName === 'OL') list.setAttribute('start', String(startOf(list) + 1));
      list.before(...nodes);
    } else if (!after.length) {
      list.after(...nodes);
    } else {
      const tail = listLike(list, startOf(list) + before.length + 1);
      tail.append(...after);
      list.after(...nodes, tail);
    }
    caretAtStart(nodes[0]);
  }

  // Selection points survive moving the nodes they are in only if put back.
  function keepingSelection(fn) {
    const sel = win.getSelection();
    const saved = sel.rangeCount ? [sel.anchorNode, sel.anchorOffset, sel.focusNode, sel.focusOffset] : null;
    fn();
    if (saved && root.contains(saved[0]) && root.contains(saved[2])) sel.setBaseAndExtent(...saved);
  }

  function indent(li) {
    const prev = li.previousElementSibling;
    if (!prev) return;
    const list = li.parentNode;
    keepingSelection(() => {
      let sub = prev.lastElementChild;
      if (sub?.nodeName !== list.nodeName) {
        sub = listLike(list, 1);
        prev.append(sub);
      }
      // Its own sub-items come along, one level deeper.
      sub.append(li);
    });
  }

  // Up one level: after the item it was nested in, taking the items that
  // followed it along as its own sub-items. An item of a top-level list
  // becomes a paragraph.
  function outdent(li) {
    const list = li.parentNode;
    const parentItem = list.parentNode;
    if (parentItem?.nodeName !== 'LI') {
      itemToParagraph(li);
      return;
    }
    keepingSelection(() => {
      const after = [];
      for (let n = li.nextElementSibling; n; n = n.nextElementSibling) after.push(n);
      if (after.length) {
        let sub = li.lastElementChild;
        if (sub?.nodeName !== list.nodeName) {
          sub = listLike(list, 1);
          li.append(sub);
        }
        sub.append(...after);
      }
      parentItem.after(li);
      if (!list.children.length) list.remove();
    });
  }

  function atEnd(el, range) {
    const r = doc.createRange();
    r.setStart(range.endContainer, range.endOffset);
    r.setEnd(el, el.childNodes.length);
    return !r.toString() && !r.cloneContents().querySelector('img');
  }

  // The block standing among the blocks next to `el` (skipping blank text).
  function blockBeside(el, step) {
    let n = step(root, el);
    while (n && n.nodeType === 3 && !n.data.trim()) n = step(root, n);
    return n?.nodeType === 1 && !sealed(n) ? n : null;
  }

  const isTextBlock = (el) => el.nodeName === 'P' || HEADING.test(el.nodeName);
  const blank = (n) => n.nodeType === 3 && !n.data.trim();

  // The first line of an item or quote: the inline content it starts with, else its first
  // paragraph. `nodes` are what joins the block before; `rest` what stays of the container.
  // Null when it starts with a block of another kind (code, a quote in a quote).
  function firstLine(box) {
    const lead = [];
    let n = box.firstChild;
    for (; n && !(n.nodeType === 1 && OWN_BLOCKS.has(n.nodeName)); n = n.nextSibling) lead.push(n);
    const rest = (from) => {
      const out = [];
      for (let m = from; m; m = m.nextSibling) out.push(m);
      return out;
    };
    const isBox = (m) => m.nodeName === 'INPUT' && m.type === 'checkbox';
    const noText = lead.every((m) => blank(m) || isBox(m));
    if (noText && n?.nodeName === 'P') {
      return { nodes: [...n.childNodes].filter((m) => !isBox(m)), rest: rest(n.nextSibling), emptied: n };
    }
    if (noText && n) return null;
    return { nodes: lead.filter((m) => !isBox(m)), rest: rest(n) };
  }

  // The line a paragraph after `list` joins: the end of its last item, however deeply nested.
  // Null when that item ends in a block of another kind.
  function lastLine(list) {
    let li = list.lastElementChild;
    while (li && LIST.has(li.lastElementChild?.nodeName)) li = li.lastElementChild.lastElementChild;
    if (li?.nodeName !== 'LI') return null;
    const last = li.lastElementChild;
    if (last && OWN_BLOCKS.has(last.nodeName)) return last.nodeName === 'P' ? last : null;
    return li;
  }

  // The first item of `list` joins `into`, its checkbox gone with it; what else it held (its
  // sub-items, more paragraphs) stays where it stood: sub-items of the list's own kind take its
  // place in the list, other blocks stand between `into` and the list. The items after it keep
  // their numbers.
  function takeFirstItem(list, into) {
    const li = list.firstElementChild;
    const line = li?.nodeName === 'LI' ? firstLine(li) : null;
    if (!line) return null;
    const blocks = [];
    let p = null;
    for (const n of line.rest) {
      if (n.nodeType === 1 && OWN_BLOCKS.has(n.nodeName)) {
        blocks.push(n);
        p = null;
      } else if (p || !blank(n)) {
        if (!p) blocks.push((p = doc.createElement('p')));
        p.append(n);
      }
    }
    // The rendered item's line break before its nested list is no text of the line.
    const end = line.nodes.at(-1);
    if (end?.nodeType === 3 && blocks.length) end.data = end.data.replace(/\n\s*$/, '');
    li.remove();
    const lifted = blocks.at(-1)?.nodeName === list.nodeName ? blocks.pop() : null;
    if (lifted) list.prepend(...lifted.children);
    else if (list.nodeName === 'OL') list.setAttribute('start', String(startOf(list) + 1));
    into.after(...blocks);
    if (!list.children.length) list.remove();
    return line.nodes;
  }

  // The first paragraph of a quote, or the inline text it starts with, joins `into`.
  function takeFirstOfQuote(quote) {
    const line = firstLine(quote);
    if (!line) return null;
    line.emptied?.remove();
    if ([...quote.childNodes].every((n) => blank(n) || n.nodeName === 'BR')) quote.remove();
    return line.nodes;
  }

  // Backspace at the start of a paragraph, or Delete at the end of one, joins it with the
  // paragraph or heading beside it; Delete also with the first item or quoted paragraph after it,
  // Backspace with the last item before it. Left to the engine, the moved text came wrapped in a
  // span of styles written to the file as HTML, and lost what it could not edit (a footnote's
  // mark); a task item went with its text, and an item's sub-items were left in an item of their
  // own without text.
  function join(event, forward) {
    const range = caret();
    if (!range?.collapsed || sealed(range.startContainer)) return false;
    const here = closest(range.startContainer, isTextBlock);
    if (!here || !holdsBlocks(root, here.parentNode)) return false;
    if (forward ? !atEnd(here, range) : !atStart(here, range)) return false;
    const other = blockBeside(here, forward ? topAfter : topBefore);
    if (!other) return false;
    // `take` takes the nodes that join `into` out of where they are; null when it cannot.
    const whole = (el) => () => {
      const nodes = [...el.childNodes];
      el.remove();
      return nodes;
    };
    let into = here;
    let take;
    if (isTextBlock(other)) {
      if (forward) take = whole(other);
      else [into, take] = [other, whole(here)];
    } else if (forward && LIST.has(other.nodeName)) {
      take = () => takeFirstItem(other, here);
    } else if (forward && other.nodeName === 'BLOCKQUOTE') {
      take = () => takeFirstOfQuote(other);
    } else if (!forward && LIST.has(other.nodeName) && here.nodeName === 'P') {
      [into, take] = [lastLine(other), whole(here)];
    }
    const nodes = into && take?.();
    if (!nodes) return false;
    event.preventDefault();
    // An empty block's line break only holds its height (beside a task's checkbox too).
    const holder = (list) => {
      const own = list.filter((n) => n.nodeName !== 'INPUT' && !blank(n));
      return own.length === 1 && own[0].nodeName === 'BR' ? own[0] : null;
    };
    holder([...into.childNodes])?.remove();
    const at = into.childNodes.length;
    if (!holder(nodes)) into.append(...nodes);
    place(fill(into), at);
    return true;
  }

  function onDelete(event) {
    join(event, true);
  }

  function onBackspace(event) {
    const range = caret();
    if (!range?.collapsed || sealed(range.startContainer)) return;
    const block = closest(range.startContainer, (n) => n.nodeName === 'LI' || HEADING.test(n.nodeName));
    if (!block || !atStart(block, range)) {
      join(event, false);
      return;
    }
    event.preventDefault();
    if (block.nodeName !== 'LI') {
      caretAtStart(fill(retag(block, 'P')));
      return;
    }
    const box = checkboxOf(block);
    if (box) {
      // A task goes back to a plain item first, as it came.
      box.remove();
      block.classList.remove('task-list-item');
      if (!block.className) block.removeAttribute('class');
      caretAtStart(fill(block.firstElementChild?.nodeName === 'P' ? block.firstElementChild : block));
      return;
    }
    outdent(block);
  }

  // ---- tables ----

  function addRow(table) {
    const head = table.rows[0];
    const tr = doc.createElement('tr');
    for (const cell of head.cells) {
      const td = doc.createElement('td');
      const style = cell.getAttribute('style');
      if (style) td.setAttribute('style', style);
      tr.append(td);
    }
    let body = table.tBodies[0];
    if (!body) {
      body = doc.createElement('tbody');
      table.append(body);
    }
    body.append(tr);
    return tr.cells[0];
  }

  function moveCell(cell, back) {
    const table = cell.closest('table');
    const cells = [...table.rows].flatMap((tr) => [...tr.cells]);
    let target = cells[cells.indexOf(cell) + (back ? -1 : 1)];
    if (!target) {
      if (back) return;
      target = addRow(table);
    }
    const r = doc.createRange();
    r.selectNodeContents(target);
    const sel = win.getSelection();
    sel.removeAllRanges();
    sel.addRange(r);
  }

  function onTab(event) {
    // Nothing in the page is left for Tab to reach: it would take the focus,
    // and with it the next typed text, away from the page.
    event.preventDefault();
    const range = caret();
    if (!range) return;
    const node = range.startContainer;
    const cell = closest(node, (n) => n.nodeName === 'TD' || n.nodeName === 'TH');
    if (cell) {
      moveCell(cell, event.shiftKey);
      return;
    }
    if (closest(node, (n) => n.nodeName === 'PRE')) {
      if (!event.shiftKey) formatter.insertText('\t');
      return;
    }
    const li = closest(node, (n) => n.nodeName === 'LI');
    if (!li || sealed(node)) return;
    if (event.shiftKey) outdent(li);
    else indent(li);
  }

  // ---- a click below the last block ----

  // The empty space under a short note belongs to no block, and the engine puts no caret there.
  function onMouseDown(event) {
    if (!editable() || event.button !== 0 || root.contains(event.target) && event.target !== root) return;
    const last = lastBlock(root);
    if (!last || event.clientY <= last.getBoundingClientRect().bottom || sealed(last) && last.nodeName !== 'PRE') return;
    event.preventDefault();
    root.focus({ preventScroll: true });
    const r = doc.createRange();
    r.selectNodeContents(last.nodeName === 'PRE' ? (last.querySelector('code') ?? last) : last);
    r.collapse(false);
    const sel = win.getSelection();
    sel.removeAllRanges();
    sel.addRange(r);
  }

  // ---- blocks the engine has not laid out ----

  // The engine moves the caret to the edge of a shelf out of view rather than into its blocks,
  // where typing would make a paragraph of its own: the caret goes into the nearest block.
  function onSelectionChange() {
    const sel = win.getSelection();
    if (!editable() || !isShelved(root) || !sel.rangeCount || !sel.isCollapsed) return;
    const near = blockNear(root, sel.anchorNode, sel.anchorOffset);
    if (!near) return;
    const r = doc.createRange();
    r.selectNodeContents(near.el.nodeName === 'PRE' ? (near.el.querySelector('code') ?? near.el) : near.el);
    r.collapse(!near.end);
    sel.removeAllRanges();
    sel.addRange(r);
  }

  // For the same reason the start and the end of the text are found here.
  function onDocumentEdge(event) {
    const end = event.key === 'End';
    const el = end ? lastBlock(root) : firstBlock(root);
    if (!el) return;
    event.preventDefault();
    const r = doc.createRange();
    r.selectNodeContents(end && el.nodeName === 'PRE' ? (el.querySelector('code') ?? el) : el);
    r.collapse(!end);
    const sel = win.getSelection();
    if (event.shiftKey && sel.rangeCount) sel.extend(r.startContainer, r.startOffset);
    else sel.collapse(r.startContainer, r.startOffset);
    el.scrollIntoView({ block: end ? 'end' : 'start' });
  }

  // ---- wiring ----

  const active = (event) => editable() && !event.defaultPrevented && !event.isComposing &&
    root.contains(event.target);

  root.addEventListener('beforeinput', (event) => {
    if (!active(event)) return;
    if (event.inputType === 'insertText' && (event.data === ' ' || event.data === '\u00a0')) onSpace(event);
  });

  doc.addEventListener('mousedown', onMouseDown);
  doc.addEventListener('selectionchange', onSelectionChange);
  installInputRules({ win, root, editable, formatter, sealed });

  root.addEventListener('keydown', (event) => {
    if (!active(event)) return;
    const mod = event.ctrlKey || event.metaKey;
    if (mod && !event.altKey && (event.key === 'Home' || event.key === 'End') && isShelved(root)) {
      onDocumentEdge(event);
      return;
    }
    if (mod && !event.altKey && !event.shiftKey) {
      const key = event.key.toLowerCase();
      if (FORMAT_KEYS[key]) {
        event.preventDefault();
        formatter.format(FORMAT_KEYS[key]);
      } else if (key === 'u') {
        // Markdown has no underline.
        event.preventDefault();
      }
      return;
    }
    if (mod || event.altKey) return;
    if (event.key === 'Tab') onTab(event);
    else if (event.shiftKey) return;
    else if (event.key === 'Enter') onEnter(event);
    else if (event.key === 'Backspace') onBackspace(event);
    else if (event.key === 'Delete') onDelete(event);
  });
}
