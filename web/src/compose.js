// Writing an edited page back as Markdown while leaving alone every line the
// user did not touch: clean blocks are copied from the source byte for byte,
// and only elements that changed (or are new) are serialised from the DOM.

import { blockOf } from './patch.js';
import { isBlockElement, serializeBlock, serializeNodes } from './serialize.js';

const blank = (line) => !line.trim();

// The lines of the source that belong to no block (blank lines, link
// reference and footnote definitions), gathered per gap between blocks.
function gapsOf(state) {
  const gaps = [];
  let prevEnd = 0;
  for (const b of state.blocks) {
    gaps.push(state.lines.slice(prevEnd, Math.max(prevEnd, b.start)));
    prevEnd = Math.max(prevEnd, b.end);
  }
  gaps.push(state.lines.slice(prevEnd));
  return gaps;
}

// Joins the gaps of blocks that are gone: definitions survive, runs of blank
// lines shrink to the last one.
function mergeGaps(gaps, from, to) {
  if (to - from === 1) return gaps[from];
  const all = gaps.slice(from, to).flat();
  if (all.every(blank)) return gaps[to - 1];
  return all.filter((line, i) => !blank(line) || i === 0 || !blank(all[i - 1]));
}

// Returns { source, layout } where layout gives each top-level node its new
// line range.
export function compose(root, state, isDirty) {
  const index = new Map(state.blocks.map((b, i) => [b, i]));
  const gaps = gapsOf(state);
  const out = [];
  const layout = [];
  let next = 0; // first original block whose gap is not written yet
  let needBlank = false;
  const ensureBlank = () => {
    if (out.length && !blank(out[out.length - 1])) out.push('');
  };
  const pushLines = (lines) => {
    if (!lines.length) return;
    if (needBlank && !blank(lines[0])) ensureBlank();
    needBlank = false;
    out.push(...lines);
  };

  let run = [];
  let prevList = null;
  const writeNew = (nodes, el) => {
    const isList = el && (el.nodeName === 'UL' || el.nodeName === 'OL');
    const alternate = isList && prevList?.tag === el.nodeName && !prevList.alternate;
    const md = el ? serializeBlock(el, { alternate }) : serializeNodes(nodes);
    if (!md) return;
    prevList = isList ? { tag: el.nodeName, alternate } : null;
    ensureBlank();
    const start = out.length;
    out.push(...md.split('\n'));
    for (const n of nodes) layout.push([n, start, out.length]);
    needBlank = true;
  };
  const flushRun = () => {
    if (run.length) writeNew(run, null);
    run = [];
  };

  for (const node of root.childNodes) {
    if (node.nodeType === 3 && !node.data.trim()) continue;
    if (node.nodeType !== 1 || (!isBlockElement(node) && !blockOf(node))) {
      if (node.nodeType === 1 || node.nodeType === 3) run.push(node);
      continue;
    }
    flushRun();
    const block = blockOf(node);
    const i = block ? index.get(block) : undefined;
    if (i === undefined || i < next || isDirty(node)) {
      writeNew([node], node);
      continue;
    }
    pushLines(mergeGaps(gaps, next, i + 1));
    // A rewritten block may have taken the blank line that ended its old
    // range (lists own theirs), so the separation is checked again.
    if (needBlank) ensureBlank();
    needBlank = false;
    const start = out.length;
    out.push(...state.lines.slice(block.start, block.end));
    layout.push([node, start, out.length]);
    next = i + 1;
    prevList = null;
  }
  flushRun();
  const rest = mergeGaps(gaps, next, gaps.length);
  if (needBlank && rest.length && !blank(rest[0])) ensureBlank();
  if (needBlank && !rest.length) out.push('');
  out.push(...rest);
  return { source: out.join('\n'), layout, lines: out };
}
