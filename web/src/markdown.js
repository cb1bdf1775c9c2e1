// Markdown to HTML, one top-level block at a time. Pure: no DOM here, so the
// same code runs in the page, in tests and in benchmarks.

import MarkdownIt from 'markdown-it';
import footnote from 'markdown-it-footnote';
import mark from 'markdown-it-mark';
import { createHighlighter } from './highlighter.js';
import wikilinks from './plugins/wikilinks.js';
import math from './plugins/math.js';
import frontMatter from './plugins/frontmatter.js';
import taskLists from './plugins/tasklists.js';
import links from './plugins/links.js';
import fences from './plugins/fences.js';
import { resolveUrl } from './urls.js';

const highlighter = createHighlighter();

export function highlight(code, lang) {
  return highlighter.highlight(code, lang);
}

export function createMarkdown() {
  const md = new MarkdownIt('default', { html: true, linkify: true, typographer: false });
  // GFM autolinks only what starts with a scheme or "www."; a bare "notes.md"
  // is a file name here, not a link to Moldova.
  md.linkify.set({ fuzzyLink: false, fuzzyEmail: true });
  md.linkify.add('www.', {
    validate(text, pos) {
      const tail = text.slice(pos);
      const m = /^[a-z0-9-]+(\.[a-z0-9-]+)+[^\s<]*/i.exec(tail);
      // Trailing punctuation ends the sentence, not the address.
      return m ? m[0].replace(/[?!.,:*_~'"]+$/, '').length : 0;
    },
    normalize(match) {
      match.url = `http://${match.url}`;
    },
  });
  md.use(frontMatter).use(footnote).use(mark).use(math).use(wikilinks)
    .use(taskLists).use(links).use(fences, { highlight });
  // One element per block: the footnotes section draws its own rule in CSS
  // instead of the plugin's separate <hr>. It is not editable, since the
  // notes are written back from their definitions in the source.
  // Code is no prose: the spell checker leaves it alone. Indented code says so on its code
  // element, as a fence does, so that the two render alike.
  const codeInline = md.renderer.rules.code_inline;
  md.renderer.rules.code_inline = (tokens, idx, ...rest) => {
    tokens[idx].attrSet('spellcheck', 'false');
    return codeInline(tokens, idx, ...rest);
  };
  md.renderer.rules.code_block = (tokens, idx) =>
    `<pre><code spellcheck="false">${md.utils.escapeHtml(tokens[idx].content)}</code></pre>\n`;
  md.renderer.rules.footnote_block_open = () => '<section class="footnotes" contenteditable="false">\n<ol class="footnotes-list">\n';
  // A list and a rule say how they were written, so that what the editor
  // makes of them (a list split in two, say) is written the same way.
  md.core.ruler.push('written_markers', (state) => {
    const { tokens } = state;
    for (let i = 0; i < tokens.length; i += 1) {
      const t = tokens[i];
      if ((t.type === 'bullet_list_open' || t.type === 'ordered_list_open') && tokens[i + 1]?.markup) {
        t.attrSet('data-marker', tokens[i + 1].markup);
      } else if (t.type === 'hr') {
        t.attrSet('data-marker', t.markup);
      }
    }
  });
  // A reference keeps its label: written back, it is the one in the source,
  // not its number. Its number is no text to type into: what was typed there could not be
  // written back.
  const footnoteRef = md.renderer.rules.footnote_ref;
  md.renderer.rules.footnote_ref = (tokens, idx, ...rest) => {
    const html = footnoteRef(tokens, idx, ...rest).replace('<sup class="footnote-ref"', '<sup class="footnote-ref" contenteditable="false"');
    const label = tokens[idx].meta.label;
    return label === undefined ? html
      : html.replace('<sup class="footnote-ref"', `<sup class="footnote-ref" data-label="${md.utils.escapeHtml(label)}"`);
  };
  // A note keeps its label too, for its definition.
  const footnoteOpen = md.renderer.rules.footnote_open;
  md.renderer.rules.footnote_open = (tokens, idx, ...rest) => {
    const html = footnoteOpen(tokens, idx, ...rest);
    const label = tokens[idx].meta.label;
    return label === undefined ? html
      : html.replace('<li ', `<li data-label="${md.utils.escapeHtml(label)}" `);
  };
  // A document parsed a piece at a time numbers its footnotes as it goes, with the labels
  // guessed up front: a definition found later must not take back a number a reference already
  // gave, and the footnotes section is made once, after the last piece.
  const footnoteDef = md.block.ruler.__rules__.find((r) => r.name === 'footnote_def').fn;
  md.block.ruler.at('footnote_def', (state, startLine, endLine, silent) => {
    const refs = state.env.pieces ? state.env.footnotes?.refs : null;
    const before = refs ? { ...refs } : null;
    const ok = footnoteDef(state, startLine, endLine, silent);
    if (ok && before && !silent) {
      for (const [key, id] of Object.entries(before)) if (id >= 0) state.env.footnotes.refs[key] = id;
    }
    return ok;
  });
  const footnoteTail = md.core.ruler.__rules__.find((r) => r.name === 'footnote_tail').fn;
  md.core.ruler.at('footnote_tail', (state) => {
    const pieces = state.env.pieces;
    if (!pieces) return footnoteTail(state);
    // The definitions stay with the document; the section is made from all of them at the end.
    const kept = [];
    let inside = false;
    for (const t of state.tokens) {
      if (t.type === 'footnote_reference_open') {
        inside = true;
        pieces.definitions.push(t);
        pieces.labels.add(t.meta.label);
      } else if (t.type === 'footnote_reference_close') {
        inside = false;
        pieces.definitions.push(t);
      } else if (inside) pieces.definitions.push(t);
      else kept.push(t);
    }
    state.tokens = kept;
    return true;
  });
  // The footnotes section of a document parsed a piece at a time, once every piece is parsed.
  md.footnotesOf = (env) => {
    const state = new md.core.State('', md, env);
    state.tokens = env.pieces.definitions.slice();
    const pieces = env.pieces;
    delete env.pieces;
    try {
      footnoteTail(state);
      // The notes miss what the rules after the tail did to each piece: links resolved against
      // the folder, bare addresses linked.
      const rules = md.core.ruler.__rules__;
      for (const rule of rules.slice(rules.findIndex((r) => r.name === 'footnote_tail') + 1)) {
        if (rule.enabled) rule.fn(state);
      }
    } finally {
      env.pieces = pieces;
    }
    return state.tokens;
  };

  // A document parsed a piece at a time renders its links with the definitions guessed up
  // front; the definitions the parser really finds are kept apart, so that the guess can be
  // checked once every piece is parsed.
  const reference = md.block.ruler.__rules__.find((r) => r.name === 'reference').fn;
  md.block.ruler.at('reference', (state, startLine, endLine, silent) => {
    const found = state.env.foundReferences;
    if (silent || !found) return reference(state, startLine, endLine, silent);
    const shown = state.env.references;
    state.env.references = found;
    try {
      return reference(state, startLine, endLine, silent);
    } finally {
      state.env.references = shown;
    }
  });
  return md;
}

export function makeEnv(dir) {
  return { dir, resolveUrl: (url) => resolveUrl(url, dir) };
}

function inlineText(inline) {
  let text = '';
  for (const t of inline.children ?? []) {
    if (t.type === 'text' || t.type === 'code_inline') text += t.content;
    else if (t.type === 'softbreak' || t.type === 'hardbreak') text += ' ';
    else if (t.type === 'math_inline') text += t.content;
    else if (t.type === 'wikilink' || t.type === 'wikilink_embed') text += t.meta.alias || t.meta.target;
  }
  return text.trim();
}

// What the page needs to know about a block besides its HTML.
function describe(group) {
  const info = {
    kind: group[0].type, rawBlock: group[0].type === 'html_block', raw: false, heading: null, wikilinks: null, mermaid: false, code: false,
  };
  const first = group[0];
  if (first.type === 'heading_open') {
    info.heading = { level: Number(first.tag.slice(1)), text: inlineText(group[1]) };
  }
  for (const t of group) {
    if (t.type === 'html_block') info.raw = true;
    else if (t.type === 'fence') {
      if (t.info.trim().split(/\s+/)[0] === 'mermaid') info.mermaid = true;
      else if (t.info.trim()) info.code = true;
    }
    else if (t.type === 'inline') {
      for (const c of t.children ?? []) {
        if (c.type === 'html_inline') info.raw = true;
        else if (c.type === 'wikilink' || c.type === 'wikilink_embed') {
          (info.wikilinks ??= []).push(c.meta.target);
        }
      }
    }
  }
  return info;
}

// Splits a token stream into top-level blocks: an opening token with all it
// encloses, or a single self-contained token (fence, hr, html block...).
function groups(tokens) {
  const out = [];
  for (let i = 0; i < tokens.length; i += 1) {
    let j = i;
    if (tokens[i].nesting === 1) {
      for (let depth = 0; j < tokens.length; j += 1) {
        depth += tokens[j].nesting;
        if (depth === 0) break;
      }
    }
    out.push(tokens.slice(i, j + 1));
    i = j;
  }
  return out;
}

// Every top-level token group is a block of its own, raw HTML included. An
// HTML block that opens an element ends at a blank line, as CommonMark says,
// and the Markdown after it up to the closing tag stays Markdown blocks with
// their own lines: merging them into the HTML block would make one block of
// the rest of the document whenever the closing tag is missing or follows a
// blank line, and a visual edit there would rewrite all of it as HTML.
function toBlocks(md, tokens, env, lineOffset, lineCount) {
  return groups(tokens).map((group) => {
    const map = group[0].map;
    // Footnotes have no source lines of their own: they trail the document.
    return {
      start: map ? map[0] + lineOffset : lineCount,
      end: map ? map[1] + lineOffset : lineCount,
      html: md.renderer.render(group, md.options, env),
      tail: !map,
      ...describe(group),
    };
  });
}

// The source's lines as the parser counts them ("\r\n", "\r" and "\n" each
// end one), each with its own line break, so that a line copied back keeps
// its bytes and the line numbers of the parser's maps index this array.
export function splitLines(src) {
  return src.match(/[^\r\n]*(?:\r\n|\r|\n)|[^\r\n]+$/g) ?? [];
}

// The blocks of a piece of the document as they render in it: its link
// references and footnote labels known, nothing of the document changed.
export function renderPiece(md, text, docEnv) {
  const refs = docEnv.footnotes?.refs;
  const env = {
    ...docEnv,
    references: { ...docEnv.references },
    footnotes: refs ? { refs: Object.fromEntries(Object.keys(refs).map((k) => [k, -1])) } : undefined,
  };
  const tokens = md.parse(text, env);
  const notes = tokens.findIndex((t) => t.type === 'footnote_block_open');
  return toBlocks(md, notes < 0 ? tokens : tokens.slice(0, notes), env, 0, 0);
}

// Beyond this size a full render leaves code highlighting for later.
export const DEFER_HIGHLIGHT_CHARS = 100000;

// A byte-order mark is no text: seen by the parser it would turn a heading
// or front matter on the first line into a paragraph. It stays in `src`, the
// text as given, and nowhere else; the text written back starts with it.
export function bomOf(src) {
  return src.startsWith('\uFEFF') ? '\uFEFF' : '';
}

export function parseDocument(md, src, dir) {
  const env = makeEnv(dir);
  env.deferHighlight = src.length > DEFER_HIGHLIGHT_CHARS;
  const bom = bomOf(src);
  const body = src.slice(bom.length);
  const lines = splitLines(body);
  const tokens = md.parse(body, env);
  return { src, bom, lines, dir, env, blocks: toBlocks(md, tokens, env, 0, lines.length), full: true };
}

// Footnotes are numbered over the whole document.
const NUMBERED = /\[\^/;
// A link reference definition has this in it, wherever it starts.
const DEFINES = /\]:/;
const FENCE_LINE = /^---\s*$/;
// Beyond this much text re-parsed for one change, the whole document is rendered again: a page
// shows a large one a piece at a time, which holds it still for less long.
const REGION_CHARS = 200000;

function firstBlockEndingAtOrAfter(blocks, line) {
  let lo = 0;
  let hi = blocks.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (blocks[mid].end < line) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

function firstBlockStartingAtOrAfter(blocks, line, count) {
  let lo = 0;
  let hi = count;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (blocks[mid].start < line) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// The block parse alone, without the inline one: where each top-level block of a text starts
// and ends, and what it is.
function outline(md, text, env) {
  const tokens = [];
  md.block.parse(text.replace(/\r\n?/g, '\n').replace(/\0/g, '\uFFFD'), md, env, tokens);
  return tokens.filter((t) => t.level === 0 && t.nesting >= 0 && t.map)
    .map((t) => ({ start: t.map[0], end: t.map[1], type: t.type }));
}

// The link references a piece of the document defines.
function definitions(md, text, midDocument) {
  const env = { references: {}, midDocument };
  md.block.parse(text.replace(/\r\n?/g, '\n'), md, env, []);
  return env.references;
}

// Beyond this many blocks naming a changed definition, the whole document is rendered again.
const MAX_RELINKED = 400;
// A line that may start a link reference definition, and one whose label runs on to the next.
const DEFINITION_START = /^ {0,3}\[((?:[^\]\\]|\\.)+)\]:/;
const OPEN_LABEL = /^ {0,3}\[(?:[^\]\\]|\\.)*$/;
const normalLabel = (label) => label.trim().replace(/\s+/g, ' ').toLowerCase().toUpperCase();

// Whether a line starts with "[" after at most three spaces: a test that spares the lines of a
// long note (hundreds of thousands) the pattern of a definition.
function opensBracket(line) {
  let k = 0;
  while (k < 3 && line.charCodeAt(k) === 32) k += 1;
  return line.charCodeAt(k) === 91;
}

function blockAtLine(spans, line) {
  let lo = 0;
  let hi = spans.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (spans[mid].end <= line) lo = mid + 1;
    else hi = mid;
  }
  return lo < spans.length && spans[lo].start <= line ? lo : -1;
}

// What the `labels` whose definitions a change made, moved or removed stand for now: the first
// definition of each left in the document (`spans` are its blocks: a line that starts a
// definition belongs to none). Returns { references, changed } with the labels whose target is
// not what it was, or null when the lines leave room for doubt (a label running on to the next
// line, a definition inside a list) and only a whole parse can tell.
function redefined(md, lines, spans, labels, known) {
  const references = known ?? {};
  const first = new Map();
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    if (!opensBracket(line)) continue;
    const m = DEFINITION_START.exec(line);
    if (!m) {
      if (OPEN_LABEL.test(line.replace(/[\r\n]+$/, '')) && blockAtLine(spans, i) < 0) return null;
      continue;
    }
    const label = normalLabel(m[1]);
    if (!labels.has(label) || first.has(label)) continue;
    const at = blockAtLine(spans, i);
    if (at >= 0) {
      if (/^(bullet|ordered)_list_open$|^blockquote_open$/.test(spans[at].kind ?? '')) return null;
      continue;
    }
    let end = i + 1;
    while (end < lines.length && lines[end].trim() && blockAtLine(spans, end) < 0) end += 1;
    const found = definitions(md, lines.slice(i, end).join(''), i > 0)[label];
    if (!found) return null;
    first.set(label, found);
  }
  return withFirst(references, labels, first);
}

// The `references` with each of the `labels` standing for its `first` definition found, or for
// none; and the labels whose target that changed.
function withFirst(references, labels, first) {
  const next = { ...references };
  const changed = new Set();
  for (const label of labels) {
    const now = first.get(label);
    if (now) next[label] = now;
    else delete next[label];
    if (!sameTarget(now, references[label])) changed.add(label);
  }
  return { references: next, changed };
}

// The blocks whose text names one of the `labels`, by index into `blocks`. Line by line: the
// text of a large document whole is a string made anew, which took longer than the rest.
function usesOf(lines, blocks, labels) {
  const escape = (w) => w.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const words = [...labels].map((l) => l.split(' ').map(escape));
  const pattern = new RegExp(words.map((w) => w.join('\\s+')).join('|'), 'iu');
  // A label of several words may be broken over two lines.
  const broken = words.some((w) => w.length > 1)
    ? new RegExp(words.filter((w) => w.length > 1).map((w) => w[0]).join('|'), 'iu') : null;
  const found = new Set();
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    if (!pattern.test(line) && !(broken && i + 1 < lines.length && broken.test(line) && pattern.test(line + lines[i + 1]))) continue;
    const at = blockAtLine(blocks, i);
    if (at >= 0 && !blocks[at].tail) found.add(at);
  }
  return [...found];
}

// A "$$" opening display math that found no closing line is plain text, until a line ending in
// "$$" comes after it, however far away. Before `line`, the first line that may be such an
// opener still waiting, or -1. No opener before a line ending in "$$" waits: that line closes it.
function waitingMath(lines, line) {
  let found = -1;
  for (let i = line - 1; i >= 0; i -= 1) {
    // "$$ x $$" on a line of its own is whole already.
    if (MATH_OPEN.test(lines[i]) && !lines[i].trim().slice(2).trim().endsWith('$$')) found = i;
    if (MATH_CLOSE.test(lines[i])) break;
  }
  return found;
}

// Where display math opened in vain ends up: at the top level, a paragraph, or a setext heading.
const IN_VAIN = new Set(['paragraph_open', 'heading_open']);

// The first line from `to` on that closes display math opened in vain in [from, to) of a fresh
// parse, or -1.
function closedLater(lines, parts, to) {
  const opener = parts.some((p) => p.start < to && IN_VAIN.has(p.type)
    && lines.slice(p.start, p.end).some((l) => MATH_OPEN.test(l)));
  if (!opener) return -1;
  for (let i = to; i < lines.length; i += 1) if (MATH_CLOSE.test(lines[i])) return i;
  return -1;
}

// Whether front matter opened on the first line is closed before `line`.
function closesBefore(lines, line) {
  for (let i = 1; i < line; i += 1) if (FRONT_MATTER_CLOSE.test(lines[i])) return true;
  return false;
}

// Re-renders only the blocks around the lines that changed. Returns a new
// document whose blocks reuse the unchanged block objects (and their HTML
// strings), with `changed` = [first, removedCount, addedCount].
// With `known` lines, `src` may be null: the text is then made from the lines only when
// something asks for it. Making a string of ten million characters whole again after every
// typed character took longer than everything else the page does for it.
//
// At the start of a top-level block the parser has nothing open, and what it makes from there
// depends on the lines that follow alone. So the parse starts at the block before the change and
// runs on, over a region grown until the fresh parse starts a block, past the changed lines, on
// a line where the old document started one too: from there on, the old blocks are the new
// ones. Only a fresh block followed by another one is final (the last may run on past the
// region: an opened fence, an HTML block, a list), and a fence or comment opened by the change
// costs what it really swallows.
export function updateDocument(md, prev, given, dir, whole = parseDocument, known = null) {
  let src = given;
  const text = () => (src ??= prev.bom + known.lines.join(''));
  const bom = known ? prev.bom : bomOf(src);
  if (!prev || prev.dir !== dir || prev.bom !== bom) return whole(md, text(), dir);
  const old = prev.lines;
  let lines;
  let head;
  let tail;
  if (known) {
    ({ lines, head } = known);
    tail = old.length - known.oldEnd;
  } else {
    lines = splitLines(src.slice(bom.length));
    head = 0;
    const minLen = Math.min(old.length, lines.length);
    while (head < minLen && old[head] === lines[head]) head += 1;
    tail = 0;
    while (tail < minLen - head && old[old.length - 1 - tail] === lines[lines.length - 1 - tail]) tail += 1;
  }
  const oldEnd = old.length - tail;
  const newEnd = lines.length - tail;
  if (head === old.length && head === lines.length) return { ...prev, src: text(), changed: [0, 0, 0] };

  const blocks = prev.blocks;
  const body = blocks.length && blocks[blocks.length - 1].tail ? blocks.length - 1 : blocks.length;
  if (body < 3) return whole(md, text(), dir);
  const count = lines.length;
  const delta = count - old.length;

  // The block before the change's may take it in (a paragraph its new underline, a list an
  // indented line). Two things reach further back: front matter, from the first line to a
  // closing line that may be the changed one, and display math opened in vain, which a new
  // line ending in "$$" closes.
  let first = Math.min(body - 1, Math.max(0, firstBlockEndingAtOrAfter(blocks, head) - 1));
  if (first > 0 && FENCE_LINE.test(lines[0]) && !closesBefore(lines, head)) first = 0;
  if (first > 0 && lines.slice(head, newEnd).some((l) => MATH_CLOSE.test(l))) {
    const opener = waitingMath(lines, blocks[first].start);
    if (opener >= 0) first = Math.max(0, firstBlockStartingAtOrAfter(blocks, opener + 1, body) - 1);
  }
  const from = first === 0 ? 0 : blocks[first].start;

  const next = firstBlockStartingAtOrAfter(blocks, oldEnd, body);
  let to = Math.min(count, (next < body ? blocks[next].start : old.length) + delta + 1);
  // Front matter is one only once its closing line is seen.
  if (from === 0 && FENCE_LINE.test(lines[0] ?? '')) {
    const close = closingLine(lines, 1, FRONT_MATTER_CLOSE);
    if (close < count) to = Math.max(to, close + 1);
  }
  let syncFrom = newEnd;
  let sync = -1;
  let reused = body;
  let parts;
  while (sync < 0) {
    const region = lines.slice(from, to).join('');
    // Reached at once by a closing line far below, or by very long lines.
    if (region.length > 2 * REGION_CHARS) return whole(md, text(), dir);
    parts = outline(md, region, { midDocument: from > 0 });
    for (const p of parts) {
      p.start += from;
      p.end += from;
    }
    if (to >= count) {
      sync = count;
      reused = body;
    } else {
      for (const p of parts) {
        // Only the first line may start front matter: a block moved off it is parsed again.
        if (p.start < syncFrom || p.start - delta <= 0) continue;
        const at = firstBlockStartingAtOrAfter(blocks, p.start - delta, body);
        if (at < body && blocks[at].start === p.start - delta) {
          sync = p.start;
          reused = at;
          break;
        }
      }
    }
    if (sync >= 0 && sync < count) {
      // Display math opened in vain before the place found, and closed after it.
      const close = closedLater(lines, parts, sync);
      if (close >= 0) {
        syncFrom = close + 1;
        to = Math.min(count, Math.max(to, close + 2));
        sync = -1;
        continue;
      }
    }
    if (sync < 0) {
      if (region.length > REGION_CHARS) return whole(md, text(), dir);
      to = Math.min(count, Math.max(to + 1, from + 2 * (to - from)));
    }
  }

  // The blocks before the change that the fresh parse made as they were stay as they were:
  // their footnotes keep the numbers the whole document gave them.
  let kept = 0;
  while (kept < parts.length && first + kept < reused && parts[kept].end <= head
    && parts[kept].start === blocks[first + kept].start && parts[kept].end === blocks[first + kept].end) kept += 1;
  let at = kept ? parts[kept - 1].end : from;
  if (kept < parts.length && first + kept < reused && parts[kept].start <= head && parts[kept].start === blocks[first + kept].start) {
    at = parts[kept].start;
  }
  const regionNew = lines.slice(at, sync).join('');
  const regionOld = old.slice(at, sync - delta).join('');
  // Footnotes are numbered, and gathered at the end, over the whole document.
  if (NUMBERED.test(regionNew) || NUMBERED.test(regionOld)) return whole(md, text(), dir);
  const shift = (b) => (delta === 0 ? b : { ...b, start: b.start + delta, end: b.end + delta });
  const tailBlocks = blocks.slice(reused).map((b) => (b.tail ? { ...b, start: count, end: count } : shift(b)));
  // A link anywhere may use a definition made or changed here: the definitions the document
  // now has are found, and the blocks that name a label whose target changed are rendered again.
  let { references } = prev.env;
  let uses = null;
  if (DEFINES.test(regionNew) || DEFINES.test(regionOld)) {
    const before = definitions(md, regionOld, at > 0);
    const after = definitions(md, regionNew, at > 0);
    if (!sameReferences(before, after)) {
      const labels = new Set([...Object.keys(before), ...Object.keys(after)]
        .filter((k) => !sameTarget(before[k], after[k])));
      const spans = blocks.slice(0, first).concat(parts.filter((p) => p.start < sync), tailBlocks.filter((b) => !b.tail));
      const found = redefined(md, lines, spans, labels, references);
      if (!found) return whole(md, text(), dir);
      ({ references } = found);
      uses = found.changed;
    }
  }
  const env = { dir, resolveUrl: prev.env.resolveUrl, references, midDocument: at > 0 };
  const fresh = toBlocks(md, md.parse(regionNew, env), env, at, count);
  first += kept;
  const made = blocks.slice(0, first).concat(fresh, tailBlocks);
  let also = [];
  if (uses?.size) {
    also = usesOf(lines, made, uses).filter((i) => i < first || i >= first + fresh.length);
    if (also.length > MAX_RELINKED) return whole(md, text(), dir);
    for (const i of also) {
      const b = made[i];
      const body = lines.slice(b.start, b.end).join('');
      if (NUMBERED.test(body)) return whole(md, text(), dir);
      const own = { dir, resolveUrl: prev.env.resolveUrl, references, midDocument: b.start > 0 };
      const again = toBlocks(md, md.parse(body, own), own, b.start, count);
      if (again.length !== 1 || again[0].start !== b.start || again[0].end !== b.end) return whole(md, text(), dir);
      [made[i]] = again;
    }
  }
  const doc = {
    bom, lines, dir, env: references === prev.env.references ? prev.env : { ...prev.env, references },
    blocks: made,
    changed: [first, reused - first, fresh.length],
    also,
    full: false,
    hint: known?.hint,
  };
  if (src !== null) doc.src = src;
  else lazySrc(doc, text);
  return doc;
}

// A document's whole text, joined from its lines only when asked for, once for the document and
// every copy `docWith` makes of it.
export function lazySrc(doc, make) {
  let value = null;
  Object.defineProperty(doc, 'src', { enumerable: true, configurable: true, get: () => (value ??= make()) });
}

// Past this size a whole render shows the first screen's blocks at once and parses the rest a
// piece at a time, so that the page never holds still for long.
export const PROGRESSIVE_CHARS = 200000;
export const PIECE_CHARS = 16384;

// The labels of the footnote definitions, guessed from the lines that look like one.
function guessFootnotes(body) {
  const labels = new Set();
  for (const m of body.matchAll(/^ {0,3}\[\^([^\]\s]+)\]:/gm)) labels.add(m[1]);
  return labels;
}

function saveNotes(env) {
  const { footnotes, pieces } = env;
  return {
    refs: { ...footnotes.refs },
    list: footnotes.list?.map((item) => ({ ...item })),
    definitions: pieces.definitions.length,
    labels: new Set(pieces.labels),
  };
}

function restoreNotes(env, saved) {
  env.footnotes.refs = { ...saved.refs };
  if (saved.list) env.footnotes.list = saved.list.map((item) => ({ ...item }));
  else delete env.footnotes.list;
  env.pieces.definitions.length = saved.definitions;
  env.pieces.labels = new Set(saved.labels);
}

const sameSet = (a, b) => a.size === b.size && [...a].every((x) => b.has(x));

const blank = (line) => !line.trim();

// A line the guess takes to start a run of definitions (after a blank line).
const GUESSED_START = /^ {0,3}\[(?!\^)(?:[^\]\\\n]|\\.)+\]:/;

// The link reference definitions of a document, guessed from the lines that look like one
// (starting a paragraph) without parsing the rest; the parse checks the guess afterwards.

function guessReferences(md, body) {
  const runs = [];
  // The engine's own search over the text, not a test per line: a 10 MB note has 300 000.
  const starts = new RegExp(GUESSED_START.source, 'gm');
  const blankLine = /\n[ \t]*(?:\r?\n|\r|$)/g;
  for (let m = starts.exec(body); m; m = starts.exec(body)) {
    const before = body.slice(Math.max(0, m.index - 200), m.index);
    if (m.index > 0 && !/(?:^|[\r\n])[ \t]*(?:\r?\n|\r)$/.test(before)) continue;
    blankLine.lastIndex = m.index;
    const end = blankLine.exec(body)?.index ?? body.length;
    runs.push(body.slice(m.index, end));
    starts.lastIndex = Math.max(starts.lastIndex, end);
  }
  const env = { references: {} };
  if (runs.length) {
    const state = new md.block.State(runs.join('\n\n'), md, env, []);
    md.block.tokenize(state, 0, state.lineMax);
  }
  return env.references;
}

// The guess at the definitions again, for the labels the lines a change `touched` define or
// defined: the first run of lines that starts with a definition after a blank line and defines
// one wins, as in the guess. Returns { references, changed }: the guess as it now stands and the
// labels whose target is not what it was.
function guessAgain(md, lines, touched, references) {
  const labels = new Set();
  for (const line of touched) {
    const m = DEFINITION_START.exec(line);
    if (m) labels.add(normalLabel(m[1]));
  }
  const first = new Map();
  for (let i = 0; i < lines.length && first.size < labels.size; i += 1) {
    if (!opensBracket(lines[i])) continue;
    const m = DEFINITION_START.exec(lines[i]);
    const label = m && normalLabel(m[1]);
    if (!m || !labels.has(label) || first.has(label)) continue;
    let start = i;
    while (start > 0 && !blank(lines[start - 1])) start -= 1;
    if (!GUESSED_START.test(lines[start])) continue;
    let end = i + 1;
    while (end < lines.length && !blank(lines[end])) end += 1;
    const found = definitions(md, lines.slice(start, end).join(''), start > 0)[label];
    if (found) first.set(label, found);
  }
  return withFirst(references, labels, first);
}

const sameTarget = (a, b) => (!a && !b) || Boolean(a && b && a.href === b.href && a.title === b.title);

function sameReferences(a, b) {
  const keys = Object.keys(a);
  if (keys.length !== Object.keys(b).length) return false;
  return keys.every((k) => b[k] && b[k].href === a[k].href && b[k].title === a[k].title);
}

// The end of a piece: about `chars` characters from `from`, at a blank line, and never inside
// front matter or display math, the two blocks that look past blank lines for their end (a
// piece cut there would show them as paragraphs).
function pieceEnd(lines, from, chars) {
  let i = from;
  for (let n = 0; i < lines.length && n < chars; i += 1) n += lines[i].length;
  if (from === 0 && FENCE_LINE.test(lines[0] ?? '')) i = Math.max(i, closingLine(lines, 1, FRONT_MATTER_CLOSE) + 1);
  for (let checked = from; ;) {
    while (i < lines.length && !blank(lines[i])) i += 1;
    const open = openMath(lines, checked, i);
    if (open < 0) return i;
    const close = closingLine(lines, i, MATH_CLOSE);
    if (close >= lines.length) return i;
    checked = close + 1;
    i = close + 1;
  }
}

const FRONT_MATTER_CLOSE = /^(---|\.\.\.)\s*$/;
const MATH_OPEN = /^ {0,3}\$\$/;
const MATH_CLOSE = /\$\$\s*$/;

function closingLine(lines, from, pattern) {
  let i = from;
  while (i < lines.length && !pattern.test(lines[i])) i += 1;
  return i;
}

// The line of a display math block still open at `to`, or -1. Math inside code counts too:
// a piece then only grows, which is always safe.
function openMath(lines, from, to) {
  let open = -1;
  for (let i = from; i < to; i += 1) {
    if (open >= 0) {
      if (MATH_CLOSE.test(lines[i])) open = -1;
    } else if (MATH_OPEN.test(lines[i])) {
      const after = lines[i].trim().slice(2).trim();
      if (!after.endsWith('$$')) open = i;
    }
  }
  return open;
}

// A whole document, parsed now when small, else a piece at a time. `rest.next()` parses the
// next piece and returns its blocks; every block but a piece's last is final (a block after it
// has started), so the last one is parsed again with the next piece.
export function beginDocument(md, src, dir, { from = PROGRESSIVE_CHARS, pieceChars = PIECE_CHARS } = {}) {
  const bom = bomOf(src);
  const body = src.slice(bom.length);
  if (body.length < from) return { doc: parseDocument(md, src, dir), rest: null };
  let lines = splitLines(body);
  const env = makeEnv(dir);
  env.deferHighlight = body.length > DEFER_HIGHLIGHT_CHARS;
  env.references = guessReferences(md, body);
  env.foundReferences = {};
  const notes = guessFootnotes(body);
  if (notes.size) {
    env.footnotes = { refs: Object.fromEntries([...notes].map((label) => [`:${label}`, -1])) };
    env.pieces = { definitions: [], labels: new Set() };
  }
  // Built a piece at a time, so laid out as its blocks come into view.
  env.pieced = true;
  const doc = { src, bom, lines, dir, env, blocks: [], full: true };
  let at = 0;
  const rest = {
    done: false,
    get line() { return at; },
    // The text changed above the line the rest starts at: the rest goes on from `line` of the
    // new lines.
    follow(nextLines, line) {
      lines = nextLines;
      at = line;
    },
    next() {
      let size = pieceChars;
      const notesBefore = env.pieces ? saveNotes(env) : null;
      for (;;) {
        const end = pieceEnd(lines, at, size);
        env.midDocument = at > 0;
        if (notesBefore) restoreNotes(env, notesBefore);
        const blocks = toBlocks(md, md.parse(lines.slice(at, end).join(''), env), env, at, lines.length);
        // Footnotes after all, in a form the quick look missed: only a whole parse numbers them.
        if (env.footnotes && !env.pieces) {
          rest.done = true;
          rest.failed = true;
          return [];
        }
        if (end >= lines.length) {
          at = lines.length;
          rest.done = true;
          delete env.midDocument;
          if (env.pieces && env.footnotes.list?.length) {
            blocks.push(...toBlocks(md, md.footnotesOf(env), env, lines.length, lines.length));
          }
          return blocks;
        }
        if (blocks.length > 1) {
          const next = blocks.pop().start;
          // The footnotes counted in the block left for the next piece would count twice: the
          // piece is parsed again without it, from the footnotes as they were.
          if (notesBefore) {
            restoreNotes(env, notesBefore);
            const again = toBlocks(md, md.parse(lines.slice(at, next).join(''), env), env, at, lines.length);
            at = next;
            return again;
          }
          at = next;
          return blocks;
        }
        // One block runs on past the piece (a long fence, a long list): a larger piece.
        size *= 2;
      }
    },
    // A change to lines not built yet touched the link definitions (`touched`: the lines it
    // replaced and those it made): the guess is made again for the labels they name. False when
    // a block built so far names a label whose target changed: it would have to be rendered
    // again, and the document is built from the top instead.
    redefine(nextLines, touched, built) {
      const found = guessAgain(md, nextLines, touched, env.references);
      if (!found.changed.size) return true;
      const end = built.length ? built[built.length - 1].end : 0;
      if (usesOf(nextLines.slice(0, end), built, found.changed).length) return false;
      env.references = found.references;
      return true;
    },
    failed: false,
    // Whether the blocks are those of a whole parse: the links were rendered with the
    // definitions the document really has, and there were no footnotes.
    exact: () => !rest.failed && sameReferences(env.references, env.foundReferences)
      && (!env.pieces || sameSet(notes, env.pieces.labels)),
  };
  return { doc, rest };
}

// A document with some fields changed. Not `{ ...doc }`: that reads a text made whole only when
// asked for (ten megabytes joined at every key while a large note was still being built).
export function docWith(doc, fields) {
  const copy = Object.defineProperties({}, Object.getOwnPropertyDescriptors(doc));
  for (const [key, value] of Object.entries(fields)) {
    Object.defineProperty(copy, key, { value, enumerable: true, writable: true, configurable: true });
  }
  return copy;
}

// Where two texts differ: { start, removed, inserted }, the shortest span that turns `before`
// into `after`, found a chunk at a time (a comparison of two slices runs at memory speed, one of
// characters in a loop does not: a reloaded note of ten megabytes took a tenth of a second).
export function differingSpan(before, after) {
  const n = Math.min(before.length, after.length);
  const CHUNK = 4096;
  let start = 0;
  while (start + CHUNK <= n && before.slice(start, start + CHUNK) === after.slice(start, start + CHUNK)) start += CHUNK;
  while (start < n && before.charCodeAt(start) === after.charCodeAt(start)) start += 1;
  let a = before.length;
  let b = after.length;
  while (a - CHUNK >= start && b - CHUNK >= start && before.slice(a - CHUNK, a) === after.slice(b - CHUNK, b)) {
    a -= CHUNK;
    b -= CHUNK;
  }
  while (a > start && b > start && before.charCodeAt(a - 1) === after.charCodeAt(b - 1)) {
    a -= 1;
    b -= 1;
  }
  return { start, removed: a - start, inserted: after.slice(start, b) };
}

// The lines of a document after a change of its text (`start`, `removed` characters, then
// `inserted`), found from the lines it touches rather than by splitting the whole text again:
// { lines, head, oldEnd } with lines [head, oldEnd) of the old ones replaced. The line after
// the change is taken along, in case the change removed the line break before it.
// Typing goes on where it was: the walk to the line starts from the line of the last change when
// the document knows it, not from the top of a text of hundreds of thousands of lines.
export function changeLines(doc, start, removed, inserted) {
  const old = doc.lines;
  let offset = doc.bom.length;
  let head = 0;
  if (doc.hint?.lines === old) ({ line: head, offset } = doc.hint);
  while (head > 0 && offset > start) offset -= old[--head].length;
  while (head < old.length && offset + old[head].length <= start && head < old.length - 1) offset += old[head++].length;
  // A line break typed after a lone carriage return joins it into one break.
  if (head > 0 && old[head - 1].endsWith('\r')) offset -= old[--head].length;
  const lineStart = offset;
  let end = head;
  let endOffset = offset;
  while (end < old.length && endOffset + old[end].length < start + removed) endOffset += old[end++].length;
  const oldEnd = Math.min(old.length, end + 2);
  const piece = old.slice(head, oldEnd).join('');
  const from = start - lineStart;
  const fresh = splitLines(piece.slice(0, from) + inserted + piece.slice(from + removed));
  const lines = old.slice(0, head).concat(fresh, old.slice(oldEnd));
  return { lines, head, oldEnd, hint: { lines, line: head, offset: lineStart } };
}
