// The formatting commands of the visual editor. Inline keys wrap or unwrap
// the selection: through the engine's editing commands where they give the
// elements Markdown writes, so that one undo takes the change back, else on
// DOM ranges (as in tests). Block keys turn the selected blocks into another
// kind, on DOM ranges so they behave the same in every engine.

import { topLevelOf, paragraphAtCaret } from './patch.js';
import { firstBlock, lastBlock, nextBlock } from './shelves.js';
import { offsetIn, pointAt } from './selection.js';

const INLINE = { bold: 'STRONG', italic: 'EM', code: 'CODE', mark: 'MARK', strike: 'S' };
const ALIASES = { STRONG: ['STRONG', 'B'], EM: ['EM', 'I'], S: ['S', 'DEL', 'STRIKE'], CODE: ['CODE'], MARK: ['MARK'] };
const HEADINGS = { h1: 'H1', h2: 'H2', h3: 'H3', h4: 'H4', h5: 'H5', h6: 'H6', paragraph: 'P' };
const TEXT_BLOCKS = new Set(['P', 'DIV', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6']);
const BLOCKS = new Set([...TEXT_BLOCKS, 'UL', 'OL', 'PRE', 'BLOCKQUOTE', 'TABLE', 'HR']);
const COMMANDS = { STRONG: 'bold', EM: 'italic', S: 'strikeThrough' };
const FORMATS = new Set(Object.values(ALIASES).flat());

export function createFormatter({ win, root, touch, resolve }) {
  const doc = win.document;
  let lastRange = null;

  doc.addEventListener('selectionchange', () => {
    const sel = win.getSelection();
    if (sel.rangeCount && root.contains(sel.anchorNode)) lastRange = sel.getRangeAt(0).cloneRange();
  });

  function currentRange() {
    const sel = win.getSelection();
    if (sel.rangeCount && root.contains(sel.anchorNode)) return sel.getRangeAt(0);
    if (lastRange && root.contains(lastRange.startContainer)) return lastRange;
    // No caret in the content: the end of the last block.
    const range = doc.createRange();
    const last = lastBlock(root) ?? root;
    range.selectNodeContents(last);
    range.collapse(false);
    return range;
  }

  function select(range) {
    const sel = win.getSelection();
    sel.removeAllRanges();
    sel.addRange(range);
    lastRange = range.cloneRange();
  }

  function enclosing(node, tags) {
    for (let n = node; n && n !== root; n = n.parentNode) if (tags.includes(n.nodeName)) return n;
    return null;
  }

  // The text at the end or start of a node beside the caret (inside a bold word, say).
  const lastText = (n) => (n?.nodeType === 3 ? n : n?.nodeType === 1 && FORMATS.has(n.nodeName) ? lastText(n.lastChild) : null);
  const firstText = (n) => (n?.nodeType === 3 ? n : n?.nodeType === 1 && FORMATS.has(n.nodeName) ? firstText(n.firstChild) : null);

  // A collapsed caret formats the word it is in.
  function expandToWord(range) {
    if (!range.collapsed) return range;
    let node = range.startContainer;
    let s = range.startOffset;
    // A caret between nodes (the end of a block, say) is in the text beside it.
    if (node.nodeType === 1) {
      const before = lastText(node.childNodes[s - 1]);
      const after = firstText(node.childNodes[s]);
      if (before) [node, s] = [before, before.data.length];
      else if (after) [node, s] = [after, 0];
      else return range;
    }
    const text = node.data;
    let e = s;
    while (s > 0 && /[\p{L}\p{N}_]/u.test(text[s - 1])) s -= 1;
    while (e < text.length && /[\p{L}\p{N}_]/u.test(text[e])) e += 1;
    const word = doc.createRange();
    word.setStart(node, s);
    word.setEnd(node, e);
    return word;
  }

  function run(command, value = null) {
    try {
      return typeof doc.execCommand === 'function' && doc.execCommand(command, false, value);
    } catch {
      return false;
    }
  }

  // The engine's command, where it adds or removes the very element: it
  // styles text that only looks bold (a heading, a header cell) with CSS,
  // which Markdown cannot write, and puts code in place with its own styles.
  function inlineByEngine(tag, range, existing) {
    if (typeof doc.execCommand !== 'function' || !root.contains(range.startContainer)) return false;
    const word = expandToWord(range);
    if (tag === 'CODE') {
      if (existing || word.collapsed || word.cloneContents().querySelector('*')) return false;
      select(word);
      const text = word.toString().replace(/[&<>]/g, (c) => `&#${c.charCodeAt(0)};`);
      const before = root.querySelectorAll('code').length;
      if (!run('insertHTML', `<code>${text}</code>`)) return false;
      if (root.querySelectorAll('code').length > before) return true;
      // Some engines put the text in a span styled like code instead.
      run('undo');
      return false;
    }
    const command = COMMANDS[tag];
    if (!command) return false;
    select(word);
    run('styleWithCSS', false);
    let state;
    try { state = doc.queryCommandState(command); } catch { return false; }
    return state === Boolean(existing) && run(command);
  }

  // A command that took the word at a collapsed caret puts the caret back where it was: left
  // on the word's selection, the next key typed would replace the word. At the word's end,
  // what is typed next goes after the formatting, not into it.
  function caretToKeep(range) {
    if (!range.collapsed || expandToWord(range).collapsed) return null;
    const top = topLevelOf(root, range.startContainer);
    if (!top) return null;
    const word = expandToWord(range);
    const tail = doc.createRange();
    tail.setStart(range.startContainer, range.startOffset);
    tail.setEnd(word.endContainer, word.endOffset);
    const atEnd = !tail.toString();
    return { top, offset: offsetIn(top, range.startContainer, range.startOffset), atEnd };
  }

  function keepCaret(back) {
    if (!back?.top.isConnected) return;
    const [node, offset] = pointAt(back.top, back.offset);
    const r = doc.createRange();
    r.setStart(node, offset);
    r.collapse(true);
    select(r);
    let el = node.nodeType === 3 ? node.parentElement : node;
    if (!back.atEnd || !FORMATS.has(el.nodeName)) return;
    while (el.parentElement !== back.top && FORMATS.has(el.parentElement.nodeName) && el === el.parentElement.lastChild) {
      el = el.parentElement;
    }
    api.typeAfter?.(el);
  }

  function wrapInline(tag, placeholder, decorate) {
    const back = caretToKeep(currentRange());
    wrapInlineAt(tag, placeholder, decorate);
    keepCaret(back);
  }

  function wrapInlineAt(tag, placeholder, decorate) {
    let range = currentRange();
    const existing = enclosing(range.commonAncestorContainer, ALIASES[tag] ?? [tag]);
    if (inlineByEngine(tag, range, existing)) {
      touch(existing ?? range.commonAncestorContainer);
      return;
    }
    range = currentRange();
    if (existing) {
      const parent = existing.parentNode;
      existing.replaceWith(...existing.childNodes);
      parent.normalize();
      touch(parent);
      return;
    }
    range = expandToWord(range);
    const el = doc.createElement(tag);
    decorate?.(el);
    if (range.collapsed) el.textContent = placeholder;
    else el.append(range.extractContents());
    range.insertNode(el);
    const after = doc.createRange();
    after.selectNodeContents(el);
    select(after);
    touch(el);
  }

  function selectedBlocks() {
    // An empty note, or text typed into it, has no block yet for the command to act on.
    if (root.contains(win.getSelection().anchorNode) || !root.firstChild) {
      paragraphAtCaret(win, root, (n) => BLOCKS.has(n.nodeName));
    }
    const range = currentRange();
    const first = topLevelOf(root, range.startContainer) ?? firstBlock(root);
    const last = topLevelOf(root, range.endContainer) ?? first;
    const out = [];
    for (let el = first; el; el = nextBlock(el)) {
      out.push(el);
      if (el === last) break;
    }
    return out.filter(Boolean);
  }

  function retag(el, tag) {
    const fresh = doc.createElement(tag);
    fresh.append(...el.childNodes);
    el.replaceWith(fresh);
    return fresh;
  }

  function caretAtEnd(el) {
    const range = doc.createRange();
    range.selectNodeContents(el);
    // Before the line break that holds an empty block open, where typing replaces it.
    if (!el.textContent && el.lastChild?.nodeName === 'BR') range.setEndBefore(el.lastChild);
    range.collapse(false);
    select(range);
  }

  // The inline content of a block, list items split into one each.
  function pieces(el) {
    if (el.nodeName === 'UL' || el.nodeName === 'OL') {
      return [...el.children].map((li) => {
        li.querySelector(':scope > input[type=checkbox]')?.remove();
        const p = li.querySelector(':scope > p');
        return p ? [...p.childNodes] : [...li.childNodes].filter((n) => n.nodeName !== 'UL' && n.nodeName !== 'OL');
      });
    }
    if (el.nodeName === 'BLOCKQUOTE') return [...el.children].flatMap(pieces);
    return [[...el.childNodes]];
  }

  function setBlocks(tag) {
    const blocks = selectedBlocks();
    let last = null;
    for (const el of blocks) {
      if (TEXT_BLOCKS.has(el.nodeName)) {
        last = el.nodeName === tag ? (tag === 'P' ? el : retag(el, 'P')) : retag(el, tag);
        continue;
      }
      const made = pieces(el).map((nodes) => {
        const b = doc.createElement(tag);
        b.append(...nodes);
        return b;
      });
      el.replaceWith(...made);
      last = made[made.length - 1] ?? last;
    }
    if (last) caretAtEnd(last);
  }

  function quote() {
    const blocks = selectedBlocks();
    if (!blocks.length) return;
    if (blocks.length === 1 && blocks[0].nodeName === 'BLOCKQUOTE') {
      const q = blocks[0];
      q.replaceWith(...q.childNodes);
      return;
    }
    const q = doc.createElement('blockquote');
    blocks[0].before(q);
    q.append(...blocks);
    caretAtEnd(q);
  }

  function makeList(tag, task) {
    const blocks = selectedBlocks();
    if (!blocks.length) return;
    if (blocks.length === 1 && blocks[0].nodeName === tag &&
        task === Boolean(blocks[0].querySelector(':scope > li > input[type=checkbox]'))) {
      // The same command again turns the list back into paragraphs.
      setBlocks('P');
      return;
    }
    const list = doc.createElement(tag);
    for (const nodes of blocks.flatMap(pieces)) {
      const li = doc.createElement('li');
      if (task) {
        const box = doc.createElement('input');
        box.type = 'checkbox';
        box.className = 'task-checkbox';
        li.append(box);
        li.className = 'task-list-item';
      }
      li.append(...nodes);
      list.append(li);
    }
    blocks[0].before(list);
    blocks.forEach((b) => b.remove());
    if (list.lastElementChild) caretAtEnd(list.lastElementChild);
  }

  function insertNode(node) {
    const range = currentRange();
    const top = topLevelOf(root, range.startContainer);
    if (!top) {
      const p = doc.createElement('p');
      p.append(node);
      root.append(p);
    } else {
      range.deleteContents();
      range.insertNode(node);
    }
    const after = doc.createRange();
    after.setStartAfter(node);
    after.collapse(true);
    select(after);
    touch(node);
  }

  function link() {
    const url = win.prompt('Link address', 'https://');
    if (url === null || !url.trim()) return;
    const href = url.trim();
    const range = expandToWord(currentRange());
    const a = doc.createElement('a');
    setLink(a, href);
    if (range.collapsed) a.textContent = href;
    else a.append(range.extractContents());
    range.insertNode(a);
    touch(a);
  }

  // A Markdown span typed on the page, made on the DOM: the engine's commands style what they
  // make to look like its surroundings, and put code and highlights in styled spans.
  function wrapRange(command, range, href) {
    const tag = command === 'link' ? 'A' : INLINE[command];
    if (!tag) return null;
    const el = doc.createElement(tag);
    if (href !== undefined) setLink(el, href);
    el.append(range.extractContents());
    range.insertNode(el);
    el.parentNode.normalize();
    const after = doc.createRange();
    after.setStartAfter(el);
    after.collapse(true);
    select(after);
    touch(el);
    return el;
  }

  function setLink(a, written) {
    const href = resolve(written);
    a.setAttribute('href', href);
    if (href !== written) a.setAttribute('data-written', written);
    else a.removeAttribute('data-written');
    // A new address is no longer the reference's, nor the text's own.
    for (const name of ['data-ref', 'data-ref-form', 'data-auto']) a.removeAttribute(name);
  }

  const api = {
    // Set by the typing rules: what is typed at the end of `el` goes after it.
    typeAfter: null,
    format(key) {
      if (INLINE[key]) wrapInline(INLINE[key], key === 'code' ? 'code' : 'text');
      else if (HEADINGS[key]) setBlocks(HEADINGS[key]);
      else if (key === 'quote') quote();
      else if (key === 'ul') makeList('UL', false);
      else if (key === 'ol') makeList('OL', false);
      else if (key === 'task') makeList('UL', true);
      else if (key === 'link') link();
    },
    insertImage(path) {
      const img = doc.createElement('img');
      const src = resolve(path);
      img.setAttribute('src', src);
      img.setAttribute('alt', '');
      if (src !== path) img.setAttribute('data-written', path);
      insertNode(img);
    },
    // Text as if it were typed: nothing in it is read as Markdown or HTML, and its line breaks
    // start paragraphs as Return does.
    pastePlain(text) {
      api.insertText(text.replace(/\r\n?/g, '\n'));
    },
    insertText(text) {
      // The engine's own insertion keeps the undo history; DOMs without
      // editing commands get the text node directly.
      let done = false;
      try { done = doc.execCommand('insertText', false, text); } catch { done = false; }
      if (!done) insertNode(doc.createTextNode(text));
    },
    insertHtml(html) {
      const t = doc.createElement('template');
      t.innerHTML = html;
      const range = currentRange();
      const top = topLevelOf(root, range.startContainer);
      const nodes = [...t.content.childNodes].filter((n) => n.nodeType === 1 || n.data.trim());
      if (!nodes.length) return;
      if (top) top.after(...nodes);
      else root.append(...nodes);
      if (nodes[nodes.length - 1].nodeType === 1) caretAtEnd(nodes[nodes.length - 1]);
    },
    wrapRange,
    setLinkTarget(a, written) {
      setLink(a, written);
      touch(a);
    },
    touch,
  };
  return api;
}
