// $inline$ and $$display$$ math, typeset with KaTeX

import katex from 'katex';

// Typesetting dominates the cost of re-rendering a block with formulas, and
// the same formulas come back on every keystroke, so results are memoised.
const cache = new Map();
const CACHE_LIMIT = 2000;

export function typeset(tex, displayMode) {
  const key = (displayMode ? 'D' : 'I') + tex;
  let html = cache.get(key);
  if (html === undefined) {
    // trust stays off: \href, \url and \htmlClass from a document must not
    // produce live links or markup.
    html = katex.renderToString(tex, {
      displayMode, throwOnError: false, output: 'htmlAndMathml', trust: false, strict: 'ignore',
    });
    if (cache.size >= CACHE_LIMIT) cache.clear();
    cache.set(key, html);
  }
  return html;
}

function isWhitespace(code) {
  return code === 0x20 || code === 0x09 || code === 0x0a;
}

function mathInline(state, silent) {
  const { src, pos, posMax } = state;
  if (src.charCodeAt(pos) !== 0x24 /* $ */) return false;
  if (src.charCodeAt(pos + 1) === 0x24) return false; // $$ belongs to display math
  // Like pandoc: no space after the opener, none before the closer, and no
  // digit right after it, so "$5 and $6" stays prose.
  if (pos + 1 >= posMax || isWhitespace(src.charCodeAt(pos + 1))) return false;
  let end = pos + 1;
  for (;;) {
    end = src.indexOf('$', end);
    if (end < 0 || end >= posMax) return false;
    if (src.charCodeAt(end - 1) === 0x5c /* \ */) { end += 1; continue; }
    break;
  }
  if (isWhitespace(src.charCodeAt(end - 1))) return false;
  const after = src.charCodeAt(end + 1);
  if (after >= 0x30 && after <= 0x39) return false;
  if (!silent) {
    const token = state.push('math_inline', 'span', 0);
    token.content = src.slice(pos + 1, end);
    token.markup = '$';
  }
  state.pos = end + 1;
  return true;
}

function mathBlock(state, startLine, endLine, silent) {
  let pos = state.bMarks[startLine] + state.tShift[startLine];
  let max = state.eMarks[startLine];
  if (state.sCount[startLine] - state.blkIndent >= 4) return false;
  if (pos + 2 > max || state.src.slice(pos, pos + 2) !== '$$') return false;
  if (silent) return true;

  const firstLine = state.src.slice(pos + 2, max);
  let content;
  let nextLine = startLine;
  if (firstLine.trim().endsWith('$$')) {
    content = firstLine.trim().slice(0, -2);
  } else {
    const lines = [firstLine];
    let closed = false;
    while (++nextLine < endLine) {
      pos = state.bMarks[nextLine] + state.tShift[nextLine];
      max = state.eMarks[nextLine];
      if (pos < max && state.sCount[nextLine] < state.blkIndent) break;
      const line = state.src.slice(pos, max);
      if (line.trimEnd().endsWith('$$')) {
        lines.push(line.trimEnd().slice(0, -2));
        closed = true;
        break;
      }
      lines.push(state.src.slice(state.bMarks[nextLine], max));
    }
    if (!closed) return false;
    content = lines.join('\n');
  }
  state.line = nextLine + 1;
  const token = state.push('math_block', 'div', 0);
  token.block = true;
  token.content = content.trim();
  token.map = [startLine, state.line];
  token.markup = '$$';
  return true;
}

// A formula shows its typeset form, not its TeX: typing into it could never be written back, so
// it takes no typing (its source is edited in the source view).
export default function math(md) {
  md.inline.ruler.before('escape', 'math_inline', mathInline);
  md.block.ruler.before('fence', 'math_block', mathBlock, {
    alt: ['paragraph', 'reference', 'blockquote', 'list'],
  });
  md.renderer.rules.math_inline = (tokens, idx) =>
    `<span class="math" contenteditable="false">${typeset(tokens[idx].content, false)}</span>`;
  md.renderer.rules.math_block = (tokens, idx) =>
    `<div class="math-block" contenteditable="false">${typeset(tokens[idx].content, true)}</div>\n`;
}
