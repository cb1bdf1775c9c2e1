// Writing an edited page back as Markdown while leaving alone every line the
// user did not touch: clean blocks are copied from the source byte for byte,
// and only elements that changed (or are new) are serialised from the DOM.
// Source lines carry their own line breaks (see splitLines); lines written
// anew get the file's line break, the first one it has.

import { blockOf } from './patch.js';
import { placed as standing, topNodes } from './shelves.js';
import { splitLines } from './markdown.js';
import { isBlockElement, serializeBlock, serializeNodes } from './serialize.js';

const BREAK = /\r\n|\r|\n/;
const blank = (line) => !line.trim();
const breakOf = (line) => /(?:\r\n|\r|\n)$/.exec(line)?.[0] ?? '';

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
// lines shrink to the last one, and the file does not start with one.
function mergeGaps(gaps, from, to) {
  if (to - from === 1) return gaps[from];
  const all = gaps.slice(from, to).flat();
  if (all.every(blank)) return from === 0 ? gaps[0] : gaps[to - 1];
  return all.filter((line, i) => !blank(line) || i === 0 || !blank(all[i - 1]));
}

// An edited block in its old place: its new text, then the blank lines the
// block owned (lists own theirs). Its last line keeps the break it had, none
// at all when it ended the file. Only the characters the user changed are
// written anew where `rewrite` can carry them over onto the source; else the
// whole block in the page's own form.
function rewritten(state, block, node, eol, rewrite) {
  const own = state.lines.slice(block.start, block.end);
  let k = own.length;
  while (k > 0 && blank(own[k - 1])) k -= 1;
  const lastBreak = k > 0 ? breakOf(own[k - 1]) : eol;
  const after = serializeBlock(node, { marker: listMarker(node, own[0]), typed: true });
  if (!after) return [];
  const original = own.slice(0, k).join('').slice(0, -lastBreak.length || undefined);
  const text = rewrite?.(original, after, eol) ?? after.split('\n').join(eol);
  const lines = splitLines(text);
  if (/(?:\r\n|\r|\n)$/.test(text) || !lines.length) lines.push('');
  lines[lines.length - 1] += lastBreak;
  return lines.concat(own.slice(k));
}

// The bullet or delimiter a list was written with: written anew with ours,
// it could merge with a list next to it that the user did not touch.
export function listMarker(el, firstLine) {
  if (el.nodeName !== 'UL' && el.nodeName !== 'OL') return null;
  const m = /^ {0,3}(?:([-*+])|\d{1,9}([.)]))[ \t]/.exec(firstLine ?? '');
  return (el.nodeName === 'UL' ? m?.[1] : m?.[2]) ?? null;
}

// A file keeps ending as it ended: with a line break or without one.
function fixBreaks(out, state, eol) {
  for (let k = 0; k < out.length - 1; k += 1) if (!breakOf(out[k])) out[k] += eol;
  fixEnd(out, state, eol);
}

function fixEnd(out, state, eol) {
  const last = state.lines[state.lines.length - 1];
  if (last === undefined || breakOf(last)) {
    if (out.length && !breakOf(out[out.length - 1])) out[out.length - 1] += eol;
    return;
  }
  while (out.length) {
    const line = out[out.length - 1];
    const text = line.slice(0, line.length - breakOf(line).length);
    if (text) {
      out[out.length - 1] = text;
      return;
    }
    out.pop();
  }
}

// `rewrite(original, after, eol)` carries an edit over onto a block's source
// (see rewrite.js). Returns { source, layout, lines } where layout gives each
// top-level node its new line range and lines are the source's lines with
// their breaks.
export function compose(root, state, isDirty, rewrite) {
  const { lines, layout } = composeNodes(topNodes(root), state, isDirty, rewrite, -1, state.blocks.length);
  return { source: lines.join(''), layout, lines };
}

// The nodes that stand where the blocks between `before` and `after` stood, written as the
// lines that take the place of lines [from, to) of the source: those of the block `before`
// (-1: from the start) through those of the block `after` (the number of blocks: to the end).
// `nodes` holds the elements of both when there are such blocks, which must be clean; nothing
// outside them changed. Returns { lines, layout, from, to } with layout in the new lines.
export function composeNodes(nodes, state, isDirty, rewrite, before, after) {
  const { blocks } = state;
  const eol = eolOf(state.lines);
  const toEnd = after >= blocks.length;
  const from = before < 0 ? 0 : blocks[before].start;
  const to = toEnd ? state.lines.length : blocks[after].end;
  // The lines between one block and the next, as the blocks before them end.
  const gaps = [];
  let prevEnd = before < 0 ? 0 : blocks[before].end;
  for (let k = before + 1; k <= Math.min(after, blocks.length - 1); k += 1) {
    gaps[k] = state.lines.slice(prevEnd, Math.max(prevEnd, blocks[k].start));
    prevEnd = Math.max(prevEnd, blocks[k].end);
  }
  if (toEnd) gaps[blocks.length] = state.lines.slice(prevEnd);
  const out = [];
  const layout = [];
  let next = before < 0 ? 0 : before; // first original block whose gap is not written yet
  let needBlank = false;
  const ensureBlank = () => {
    if (out.length && !blank(out[out.length - 1])) out.push(eol);
  };
  const pushLines = (lines) => {
    if (!lines.length) return;
    if (needBlank && !blank(lines[0])) ensureBlank();
    needBlank = false;
    out.push(...lines);
  };

  // The gaps of blocks that are gone, from the one after the last block written. The blank
  // lines that block owned (a list owns those after it) stood between it and the block that
  // followed; the gaps bring their own, else a paragraph joined to the list before it left a
  // blank line more behind. At the end of the file nothing follows to stand apart from.
  const gapAfterGone = (from, to) => {
    const lines = mergeGaps(gaps, from, to);
    if (to - from > 1 && (lines.length ? blank(lines[0]) : to > blocks.length)) {
      while (out.length && blank(out[out.length - 1])) out.pop();
    }
    return lines;
  };

  let run = [];
  let prevList = null;
  const writeNew = (nodes, el) => {
    const isList = el && (el.nodeName === 'UL' || el.nodeName === 'OL');
    const alternate = isList && prevList?.tag === el.nodeName && !prevList.alternate;
    const md = el ? serializeBlock(el, { alternate, typed: true }) : serializeNodes(nodes, { typed: true });
    if (!md) return;
    prevList = isList ? { tag: el.nodeName, alternate } : null;
    ensureBlank();
    const start = out.length;
    out.push(...md.split(BREAK).map((l) => l + eol));
    for (const n of nodes) layout.push([n, start, out.length]);
    needBlank = true;
  };
  const flushRun = () => {
    if (run.length) writeNew(run, null);
    run = [];
  };

  for (const node of nodes) {
    if (node.nodeType === 3 && !node.data.trim()) continue;
    if (node.nodeType !== 1 || (!isBlockElement(node) && !blockOf(node))) {
      if (node.nodeType === 1 || node.nodeType === 3) run.push(node);
      continue;
    }
    flushRun();
    const block = blockOf(node);
    const i = block ? indexOf(blocks, block) : -1;
    if (i < 0 || i < next) {
      writeNew([node], node);
      continue;
    }
    // An edited block stays where it was, between the lines that were around
    // it: only its own lines are written anew.
    const lines = isDirty(node) ? rewritten(state, block, node, eol, rewrite) : state.lines.slice(block.start, block.end);
    if (!lines.length) continue;
    // The block the nodes follow starts them, with the lines before it left where they are.
    if (i !== before) pushLines(gapAfterGone(next, i + 1));
    // New blocks before this one may need a blank line to end them.
    if (needBlank) ensureBlank();
    needBlank = false;
    const start = out.length;
    out.push(...lines);
    layout.push([node, start, out.length]);
    next = i + 1;
    prevList = null;
  }
  flushRun();
  if (toEnd) {
    const rest = gapAfterGone(next, blocks.length + 1);
    if (needBlank && rest.length && !blank(rest[0])) ensureBlank();
    out.push(...rest);
  }
  // Only the last line of the file goes without a break.
  if (to === state.lines.length) fixBreaks(out, state, eol);
  else for (let k = 0; k < out.length; k += 1) if (!breakOf(out[k])) out[k] += eol;
  for (const entry of layout) {
    entry[1] = Math.min(entry[1], out.length);
    entry[2] = Math.min(entry[2], out.length);
  }
  return { lines: out, layout, from, to };
}

// The index of `block` in the blocks, which are in the order of their lines.
export function indexOf(blocks, block) {
  let lo = 0;
  let hi = blocks.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (blocks[mid].start < block.start) lo = mid + 1;
    else hi = mid;
  }
  for (let i = lo; i < blocks.length && blocks[i].start === block.start; i += 1) if (blocks[i] === block) return i;
  return -1;
}

// Typing as it mostly is: blocks edited in place, none added, removed or
// moved. Their lines are replaced and the rest of the source is left as it
// is, without walking the whole page or joining its text: on a note of ten
// megabytes either held every pause in typing for tens of milliseconds. Null
// when that is not the case. Returns { lines, edits, first, oldEnd, newEnd }:
// edits [index, node, start, end] in the new lines, and the lines outside
// [first, oldEnd) of the old and [first, newEnd) of the new are the same.
// `overwrite`: the state's own lines may be written over (the caller replaces the state with the
// result and keeps nothing of the one before); `was` is then the text the changed lines held.
export function composeInPlace(root, state, changed, rewrite, { overwrite = false } = {}) {
  const edits = [];
  for (const node of changed) {
    if (node.nodeType !== 1 || !standing(root, node)) return null;
    const block = blockOf(node);
    const i = block ? indexOf(state.blocks, block) : -1;
    if (i < 0 || block.tail) return null;
    edits.push([i, node, block]);
  }
  if (!edits.length) return null;
  edits.sort((a, b) => a[0] - b[0]);
  const eol = eolOf(state.lines);
  const writes = [];
  let at = 0;
  let from = 0;
  const placed = [];
  for (const [i, node, block] of edits) {
    const written = rewritten(state, block, node, eol, rewrite);
    if (!written.length) return null;
    at += block.start - from;
    placed.push([i, node, at, at + written.length]);
    at += written.length;
    writes.push(written);
    from = block.end;
  }
  // Typing inside a long note keeps every block's number of lines, and the note's lines are
  // then written over where they are: a copy of them at every pause was megabytes for the
  // collector on 10 MB, and the page's thread waited for it. The text they held is returned.
  const sameCounts = edits.every(([, , block], k) => writes[k].length === block.end - block.start);
  const inPlace = overwrite && sameCounts && from < state.lines.length;
  const was = inPlace ? state.lines.slice(edits[0][2].start, from).join('') : undefined;
  const lines = sameCounts ? overwritten(inPlace ? state.lines : state.lines.slice(), edits, writes) : joined(state.lines, edits, writes);
  // Only the last line of the file goes without a break; the lines kept have theirs.
  for (const [, , start, end] of placed) {
    for (let k = start; k < Math.min(end, lines.length - 1); k += 1) if (!breakOf(lines[k])) lines[k] += eol;
  }
  const last = placed[placed.length - 1];
  if (last[3] === lines.length) {
    fixEnd(lines, state, eol);
    for (const edit of placed) edit[3] = Math.min(edit[3], lines.length);
  }
  // A file that ends without a break may have lost it from a line before the edit.
  const first = Math.max(0, Math.min(edits[0][2].start, lines.length - 1));
  return { lines, edits: placed, first, oldEnd: from, newEnd: Math.max(first, last[3]), was };
}

// `out` with each edited block's lines written over its own, when each keeps its number of lines.
function overwritten(out, edits, writes) {
  edits.forEach(([, , block], k) => writes[k].forEach((line, j) => { out[block.start + j] = line; }));
  return out;
}

// `lines` with each edited block's lines in place of its own.
function joined(lines, edits, writes) {
  const pieces = [];
  let from = 0;
  edits.forEach(([, , block], k) => {
    pieces.push(lines.slice(from, block.start), writes[k]);
    from = block.end;
  });
  pieces.push(lines.slice(from));
  return [].concat(...pieces);
}

// The file's line break: the first one it has.
export function eolOf(lines) {
  return breakOf(lines[0] ?? '') || '\n';
}
