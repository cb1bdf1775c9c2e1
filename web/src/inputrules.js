// Markdown's inline syntax typed in the visual editor. When the character that
// closes a span is typed, the span becomes the formatting it stands for, so
// the file gets the Markdown the writer typed rather than escaped text. A
// backslash right before the opening delimiter keeps it text.
//
// Each rule is the span it recognises at the end of the text before the caret
// (the typed character included) and the formatter's command that makes it;
// `text` and `href` name the groups that hold the span's text and address.

const span = (open, close = open) => {
  const o = open.replace(/[*`~=[\]()]/g, '\\$&');
  const c = close.replace(/[*`~=[\]()]/g, '\\$&');
  const ch = o.slice(-2);
  // Not after a backslash or another delimiter character; the text neither
  // starts nor ends with a space, as Markdown's own flanking rule wants.
  return new RegExp(`(?<![\\\\${ch}])${o}(?<text>[^\\s${ch}](?:[^${ch}]*[^\\s\\\\${ch}])?)${c}$`);
};

export const INLINE_RULES = [
  { name: 'bold', pattern: span('**'), command: 'bold' },
  { name: 'italic', pattern: span('*'), command: 'italic' },
  { name: 'code', pattern: /(?<![\\`])`(?<text>[^`]*[^`\s\\][^`]*)`$/, command: 'code' },
  { name: 'strike', pattern: span('~~'), command: 'strike' },
  { name: 'mark', pattern: span('=='), command: 'mark' },
  { name: 'link', pattern: /(?<![\\!\]])\[(?<text>[^[\]\s](?:[^[\]]*[^[\]\s\\])?)\]\((?<href>[^()\s]+)\)$/, command: 'link' },
];

const MAX_SPAN = 2000;
const CLOSERS = new Set(INLINE_RULES.map((r) => r.pattern.source.at(-2)));

// The rule a typed character completes in a text node, with the offsets of
// the whole span and of its text in that node.
export function matchInline(text, offset, ch) {
  if (!CLOSERS.has(ch)) return null;
  // A span is a few words: a keystroke in a paragraph of a megabyte looks at its end only.
  const from = Math.max(0, offset - MAX_SPAN);
  const before = text.slice(from, offset) + ch;
  for (const rule of INLINE_RULES) {
    const m = rule.pattern.exec(before);
    if (!m) continue;
    // Inside a code span still open, stars and brackets are its text.
    if (rule.command !== 'code' && (before.slice(0, m.index).match(/`/g)?.length ?? 0) % 2) continue;
    const textAt = from + m.index + m[0].indexOf(m.groups.text, rule.command === 'link' ? 1 : 0);
    return {
      rule, start: from + m.index, end: offset, text: m.groups.text, textAt, href: m.groups.href ?? null,
    };
  }
  return null;
}

export function installInputRules({ win, root, editable, formatter, sealed }) {
  const doc = win.document;
  // The span a rule made last: the engine would type what follows it into it.
  let made = null;

  function apply(node, m) {
    const range = doc.createRange();
    range.setStart(node, m.start);
    range.setEnd(node, m.end);
    // The delimiters go; the character being typed never reaches the text.
    range.deleteContents();
    const text = doc.createTextNode(m.text);
    range.insertNode(text);
    range.selectNode(text);
    made = formatter.wrapRange(m.rule.command, range, m.href ?? undefined);
  }

  // At the end of the span just made, is the caret where typing would extend it: inside it at
  // its end, or right after it with nothing in between?
  function atEndOf(el, r) {
    if (!el?.isConnected || !r.collapsed || !el.parentNode.contains(r.startContainer)) return false;
    const end = doc.createRange();
    end.selectNodeContents(el);
    end.collapse(false);
    const between = doc.createRange();
    if (r.compareBoundaryPoints(win.Range.START_TO_START, end) >= 0) {
      between.setStart(end.startContainer, end.startOffset);
      between.setEnd(r.startContainer, r.startOffset);
    } else {
      if (!el.contains(r.startContainer)) return false;
      between.setStart(r.startContainer, r.startOffset);
      between.setEnd(end.startContainer, end.startOffset);
    }
    return between.toString() === '';
  }

  // What is typed right after the span goes after it, as the writer sees the caret. Spaces
  // stay no-break spaces until a letter follows them: a plain space at the end of a line does
  // not show, and the engine would type the next letter into the span again.
  function typeAfter(el, ch) {
    let next = el.nextSibling;
    if (next?.nodeType !== 3) {
      next = doc.createTextNode('');
      el.after(next);
    }
    const sel = win.getSelection();
    const at = sel.anchorNode === next ? sel.anchorOffset : 0;
    const spaces = next.data.slice(0, at);
    const typed = ch === ' ' ? '\u00a0' : ch;
    next.replaceData(0, at, ch === ' ' ? spaces + typed : spaces.replace(/\u00a0/g, ' ') + typed);
    sel.collapse(next, at + 1);
    formatter.touch(next);
    return ch === ' ';
  }

  // Is the caret in the spaces typed after the span, at their end?
  function inSpacesAfter(el, r) {
    const next = el?.isConnected && el.nextSibling;
    return next?.nodeType === 3 && r.collapsed && r.startContainer === next &&
      /^\u00a0*$/.test(next.data.slice(0, r.startOffset)) && r.startOffset > 0;
  }

  // The formatting keys leave the caret at the end of a word they formatted: the same.
  formatter.typeAfter = (el) => { made = el; };

  root.addEventListener('beforeinput', (event) => {
    if (!editable() || event.defaultPrevented || event.isComposing || event.inputType !== 'insertText') return;
    const ch = event.data;
    const sel = win.getSelection();
    if (!ch || !sel.rangeCount) return;
    const r = sel.getRangeAt(0);
    if (made && (atEndOf(made, r) || inSpacesAfter(made, r))) {
      event.preventDefault();
      if (!typeAfter(made, ch)) made = null;
      return;
    }
    made = null;
    if (ch.length !== 1 || !r.collapsed) return;
    const { startContainer: node, startOffset: offset } = r;
    if (node.nodeType !== 3 || !root.contains(node) || sealed(node)) return;
    if (node.parentElement.closest('code, a')) return;
    const m = matchInline(node.data, offset, ch);
    if (!m) return;
    event.preventDefault();
    apply(node, m);
  });
}
