// The text as the page shows it: rendered from what the host sends, edited in place, and the
// typing turned back into edits of that text; finding, scrolling and exporting over it. Built
// on a window and its content element so that tests can run it on a jsdom document.

import {
  createMarkdown, parseDocument, updateDocument, beginDocument, changeLines, differingSpan, bomOf, highlight, renderPiece, docWith, lazySrc,
} from './markdown.js';
import { createLateHighlighter } from './highlightlater.js';
import { createSanitizer } from './sanitize.js';
import { patchBlocks, blockOf, setRange, dropStrays } from './patch.js';
import { shelve, unshelve, SHELF, topNodes, firstBlock, placed, topAfter, topBefore } from './shelves.js';
import { isBlockElement, serialize as serializeDom, serializeBlock, serializeNodes } from './serialize.js';
import { makeOutline, updateOutline } from './headings.js';
import { captureScroll, restoreScroll, scrollToElement, findHeading, scrollToFraction } from './scroll.js';
import { captureSelection, capturePoint, restoreSelection, placeSelection } from './selection.js';
import { renderedToSource, sourceToRendered } from './caret.js';
import { createEditor } from './editor.js';
import { compose, composeInPlace, composeNodes, indexOf as blockIndex, listMarker } from './compose.js';
import { rewriteBlock } from './rewrite.js';
import { createFinder } from './find.js';
import { applyTheme, isDark, themeStyle } from './theme.js';
import { exportHtml, localFiles, localImages } from './exporthtml.js';
import { createDiagrams } from './diagrams.js';
import { resolveUrl } from './urls.js';
import { taskIndexOfLine } from './tasks.js';
import { message } from './protocol.js';

const HUGE_BLOCKS = 2000;
// How far from a change a write-back looks for the unchanged blocks around it; -1: it does not.
const AROUND = 400;
// How long after a key the work a long note left for later waits.
const TYPING_PAUSE_MS = 150;
// A large document's first render shows this much at once (more than a screen holds), then
// builds the rest in slices of a few milliseconds.
const FIRST_SCREEN_CHARS = 24000;
const SLICE_MS = 8;
// How long the rest of a large note waits for the frame that shows its first screen, at most:
// a page out of sight gets no frames.
const FIRST_FRAME_WAIT_MS = 100;

// The start of a link reference definition (a footnote's is no link's).
const DEFINITION = /^ {0,3}\[(?!\^)(?:[^\]\\]|\\.)+\]:/;

// What a line that holds a link definition, or a footnote's, has in it (the whole document shares them).
const DEFINES = /\]:/;
const NOTE = /\[\^/;

// How long a document being written out waits at most for the helper thread to start.
const HELPER_START_MS = 250;

// The page's own helper for code colouring, beside it; none where the window has no workers.
function defaultWorker(win) {
  return win.Worker ? () => new win.Worker('highlight.js') : null;
}

export function createView({
  win, root, post, diagramScript = 'mermaid.js', makeWorker = defaultWorker(win), sizes: given = {},
}) {
  const sizes = { progressive: undefined, piece: undefined, firstScreen: FIRST_SCREEN_CHARS, huge: HUGE_BLOCKS, shelf: SHELF, around: AROUND, typingPause: TYPING_PAUSE_MS, ...given };
  const doc = win.document;
  const md = createMarkdown();
  const sanitize = createSanitizer(win);
  let state = null;
  let els = [];
  let resolved = Object.create(null);
  let theme = applyTheme(doc, {});
  // Which text the page holds, as the host counts its revisions: a change applies only to the
  // text it was made from, in both directions. An edit made here is the host's next revision.
  let version = 0;
  // The length of the text the page holds, which a change must fit.
  let textLength = 0;
  // The outline as last sent; null when the host is to get it whole.
  let outlineSent = null;

  const editor = createEditor({ win, root, onChange: () => postEdit(), onInput: () => typed() });
  const finder = createFinder(root);
  const diagrams = createDiagrams(win, { scriptUrl: diagramScript, quietly: editor.quietly });
  // Typing goes first: the work a long note leaves for later (the rest of it built, its code
  // highlighted) waits until the keys pause. Done in the frame of a key, it made that key's
  // frame three times as long on a 1 MB note.
  let typedAt = -Infinity;
  const typed = () => { typedAt = now(); };
  const afterTyping = () => Math.max(0, typedAt + sizes.typingPause - now());
  const lateHighlighter = createLateHighlighter(win, { highlight, quietly: editor.quietly, wait: afterTyping, makeWorker });

  // Raw HTML is sanitised before it is wrapped: the sanitiser balances the
  // markup, so a stray closing tag cannot end the wrapper early. The wrapper
  // keeps every block one element, which the patcher and editor rely on. It
  // is not editable: what the page shows is the sanitised, balanced markup,
  // and writing that back would change the bytes around what was typed (an
  // opening <details> would gain its closing tag here, ids their prefix).
  const wrapRaw = (block, clean) => (block.rawBlock ? `<div class="raw-html" contenteditable="false">${clean}</div>` : clean);
  const safeHtml = (block) => {
    if (!block.raw && !block.rawBlock) return block.html;
    block.safe ??= wrapRaw(block, sanitize(block.html));
    return block.safe;
  };
  // The raw HTML of many blocks about to be shown, sanitised in one pass.
  const sanitizeAhead = (blocks) => {
    const raw = blocks.filter((b) => (b.raw || b.rawBlock) && b.safe === undefined);
    if (raw.length < 2) return;
    sanitize.many(raw.map((b) => b.html)).forEach((clean, i) => { raw[i].safe = wrapRaw(raw[i], clean); });
  };

  function markWikilinks(scope) {
    for (const el of scope.querySelectorAll('[data-wikilink]')) {
      const target = el.getAttribute('data-wikilink');
      if (!(target in resolved)) continue;
      const url = resolved[target];
      el.classList.toggle('unresolved', url === null);
      if (el.nodeName === 'IMG' && url) el.setAttribute('src', url);
      else if (url) el.setAttribute('data-href', url);
    }
  }

  // Past a few thousand blocks the browser's first layout and paint of the whole page took
  // seconds; blocks out of view are then laid out only when they come near it, on shelves that
  // are skipped whole.
  function arrange() {
    const huge = els.length > sizes.huge || Boolean(state?.env.pieced);
    root.classList.toggle('huge', huge);
    editor.quietly(() => (huge ? shelve(root, sizes.shelf) : unshelve(root)));
  }

  function afterPatch(created) {
    const withLinks = created.filter((el) => blockOf(el)?.wikilinks);
    if (withLinks.length) withLinks.forEach(markWikilinks);
    if (state.env.deferHighlight) lateHighlighter.add(created.filter((el) => blockOf(el)?.code));
    if (created.some((el) => blockOf(el)?.mermaid)) {
      const drawn = diagrams.render([...root.querySelectorAll('.diagram')], isDark(win, theme.theme));
      drawing = Promise.all([drawing, drawn.catch(() => {})]);
    }
  }

  // Everything a render starts and finishes later: diagrams, late code highlighting, images,
  // web fonts. A PDF or an export taken before all of it is done shows a half-drawn document.
  let drawing = Promise.resolve();

  function imagesLoaded() {
    const pending = [...root.querySelectorAll('img')].filter((img) => !img.complete);
    return Promise.all(pending.map((img) => new Promise((resolve) => {
      img.addEventListener('load', resolve, { once: true });
      img.addEventListener('error', resolve, { once: true });
    })));
  }

  async function reportDrawn(now, laidOut) {
    if (now) {
      // The code already queued goes to a helper thread, so that it is coloured while the rest
      // is built; the rest's code follows it there as it is made. The helper starts only while
      // this thread is free: the rest goes on a slice at a time until it runs.
      const running = lateHighlighter.hurry(Boolean(rest) && Boolean(state?.env.deferHighlight));
      if (rest) await Promise.race([running, new Promise((resolve) => win.setTimeout(resolve, HELPER_START_MS))]);
      complete();
      lateHighlighter.finish();
    }
    // A diagram drawn late can hold an image, and a late render can start new work: look again
    // until a pass finds nothing new.
    for (let pass = 0; pass < 5; pass += 1) {
      const before = drawing;
      // Images and fonts matter only to a page that is laid out (on screen, on paper); the
      // fonts of a page that never was take a quarter of a second to settle.
      const looks = laidOut ? [imagesLoaded(), doc.fonts?.ready] : [];
      await Promise.all([before, lateHighlighter.idle(), ...looks]);
      if (drawing === before) break;
    }
    post(message.drawn());
  }

  // The outline of the blocks shown, carried over each change from the blocks before it.
  let outline = null;

  // The outline changes only when a heading does; typing in a paragraph of a long note then
  // sends nothing. `changed` ([first, removed, added]) is the change from `previous`.
  function reportOutline(changed) {
    outline = changed && outline?.of === previous
      ? updateOutline(outline, state.blocks, els, changed)
      : makeOutline(state.blocks, els);
    const { items } = outline;
    const before = outlineSent;
    outlineSent = items;
    if (!before) {
      post(message.outline(items));
      return;
    }
    // Only the headings that differ travel: the thousands of a long note, sent and taken apart
    // whole after each heading edit, held both the page and the window for a tenth of a second.
    const same = (a, b) => a === b || (a.level === b.level && a.text === b.text && a.id === b.id);
    const n = Math.min(before.length, items.length);
    let head = 0;
    while (head < n && same(before[head], items[head])) head += 1;
    let tail = 0;
    while (tail < n - head && same(before[before.length - 1 - tail], items[items.length - 1 - tail])) tail += 1;
    if (head === n && before.length === items.length) return;
    post(message.outline(items.slice(head, items.length - tail),
      { from: head, removed: before.length - head - tail, before: before.length }));
  }

  // The host holds another outline than the one last sent: the next goes whole.
  function outlineAgain() {
    outlineSent = null;
    if (state) reportOutline(null);
  }
  let previous = [];

  // After a change, only the new blocks' links are news to the host.
  function reportDocument(changed) {
    reportOutline(changed);
    const blocks = changed ? state.blocks.slice(changed[0], changed[0] + changed[2]) : state.blocks;
    const targets = [...new Set(blocks.flatMap((b) => b.wikilinks ?? []))].filter(Boolean);
    if (targets.length) post(message.resolve(targets));
  }

  // The rest of a large document still to be parsed and shown, while it is.
  let rest = null;
  let restTimer = null;
  let restDone = null;

  // `src` is null when `known` holds the lines of the text and its length; `nextVersion` is
  // null when the host named no revision.
  function render(src, folder, nextVersion, known = null) {
    version = nextVersion ?? version + 1;
    textLength = src === null ? known.length : src.length;
    const scroll = captureScroll(win, els);
    const caret = editor.editable ? captureSelection(win, root, els) : null;
    // A document still being built is shown again from the start, unless the change leaves the
    // blocks built so far or the rest alone: they are not all there to compare with.
    const partial = rest !== null;
    // A whole text for the one the page holds (a reload, an outside change, a view switched) is
    // mostly the same text: only the span that differs is parsed again, as for a typed change.
    if (src !== null && state && state.dir === folder && bomOf(src) === state.bom) {
      const { start, removed, inserted } = differingSpan(state.src, src);
      known = { ...changeLines(state, start, removed, inserted), length: src.length };
    }
    const pending = rest;
    const first = !state;
    stopRest();
    const whole = (m, text, d) => {
      const begun = beginDocument(m, text, d, { from: sizes.progressive, pieceChars: sizes.piece });
      rest = begun.rest;
      if (rest) {
        while (!rest.done && (begun.doc.blocks.length === 0 || rest.line < lineAt(begun.doc, sizes.firstScreen))) {
          begun.doc.blocks = begun.doc.blocks.concat(rest.next());
        }
      }
      return begun.doc;
    };
    let next = partial ? alongside(pending, known, folder) ?? beyond(pending, known, folder) : null;
    if (next) rest = pending;
    else {
      next = partial ? whole(md, src ?? state.bom + known.lines.join(''), folder)
        : updateDocument(md, state, src, folder, whole, known);
    }
    // The text as given is the one to compare the next whole text with; joined again from the
    // lines, ten megabytes cost a reload during the build some 40 ms.
    if (src !== null) Object.defineProperty(next, 'src', { value: src, enumerable: true, writable: true, configurable: true });
    // Only what will be made anew: after a whole render, a block as it was keeps its element.
    if (!next.full) sanitizeAhead(next.blocks.slice(next.changed[0], next.changed[0] + next.changed[2]));
    else {
      const shown = new Set((state?.blocks ?? []).map((b) => b.html));
      sanitizeAhead(next.blocks.filter((b) => !shown.has(b.html)));
    }
    editor.quietly(() => {
      if (!state) root.replaceChildren();
      // Until its note arrives the page is not an empty note: it said so on every start.
      root.classList.add('shown');
      const result = patchBlocks(root, {
        oldBlocks: state?.blocks ?? [], oldEls: els, blocks: next.blocks, changed: next.full ? null : next.changed,
      }, safeHtml, (el) => !editor.isDirty(el));
      els = result.els;
      const created = result.created;
      // Blocks elsewhere that name a definition the change made or moved.
      for (const i of next.also ?? []) {
        const olds = [];
        olds[i] = blockOf(els[i]);
        const one = patchBlocks(root, { oldBlocks: olds, oldEls: els, blocks: next.blocks, changed: [i, 1, 1], alone: true }, safeHtml, (el) => !editor.isDirty(el));
        els = one.els;
        created.push(...one.created);
      }
      previous = state?.blocks ?? [];
      state = next;
      arrange();
      afterPatch(created);
      // Highlights in replaced blocks are gone; the host's count must follow.
      if (finder.query && !rest) post(message.find(finder.refresh()));
    });
    restoreScroll(win, els, scroll);
    restoreSelection(win, els, caret);
    if (rest) continueRest(first);
    else {
      const headingRelinked = (next.also ?? []).some((i) => next.blocks[i].heading);
      reportDocument(next.full || headingRelinked ? null : next.changed);
      // A document whose building this render cut short is no longer awaited.
      restDone?.resolve();
      restDone = null;
    }
    // The blocks of the text before are needed only to tell what changed: holding them kept a
    // large note alive after a small one replaced it.
    previous = [];
    post(message.rendered());
  }

  // A change above the part of a large document still to be built, made to the blocks built so
  // far while the rest goes on being built below it: finishing the rest first held the page
  // still for seconds. Null when the change may reach into the rest (or changes what the whole
  // document shares: definitions, footnotes).
  function alongside(pending, known, folder) {
    if (!known || !pending || pending.failed || folder !== state.dir || known.oldEnd + 2 >= pending.line) return null;
    if (touchesDefinitions(known)) return null;
    const stub = { start: pending.line, end: state.lines.length, html: null, stub: true };
    const next = updateDocument(md, docWith(state, { blocks: state.blocks.concat(stub) }), null, folder, () => null, known);
    if (!next || next.full) return null;
    const [first, removed] = next.changed;
    // The parse had to look into what is not built yet.
    if (first + removed > state.blocks.length) return null;
    const last = next.blocks[next.blocks.length - 1];
    if (!last?.stub) return null;
    next.blocks = next.blocks.slice(0, -1);
    pending.follow(known.lines, last.start);
    return next;
  }

  // A change below the line the rest is built from (typing in the source view of a large note
  // just opened): the blocks built so far stand, and the rest goes on with the new lines. Built
  // again from the top, every key cost a tenth of a second on 10 MB, and the rest never got
  // built while the writer kept typing.
  function beyond(pending, known, folder) {
    if (!known || !pending || pending.failed || folder !== state.dir || known.head <= pending.line) return null;
    const touched = touchedLines(known);
    if (touched.some((l) => NOTE.test(l))) return null;
    if (touched.some((l) => DEFINES.test(l)) && !pending.redefine(known.lines, touched, state.blocks)) return null;
    const { lines } = known;
    const { bom } = state;
    const next = docWith(state, { lines, changed: [state.blocks.length, 0, 0], also: [], full: false, hint: known.hint });
    lazySrc(next, () => bom + lines.join(''));
    pending.follow(lines, pending.line);
    return next;
  }

  // The lines a change replaced and those it made.
  function touchedLines(known) {
    return state.lines.slice(known.head, known.oldEnd).concat(known.lines.slice(known.head, known.oldEnd + known.lines.length - state.lines.length));
  }

  // Whether the lines a change replaced or made hold a link or footnote definition, which the
  // whole document shares.
  function touchesDefinitions(known) {
    return touchedLines(known).some((l) => DEFINES.test(l) || NOTE.test(l));
  }

  // The line where the first `chars` characters of a document end.
  function lineAt(document, chars) {
    let n = 0;
    let i = 0;
    while (i < document.lines.length && n < chars) n += document.lines[i++].length;
    return i;
  }

  function stopRest() {
    clearRestTimer();
    rest = null;
  }

  function continueRest(afterFrame = false) {
    if (!restDone) {
      let resolve;
      const done = new Promise((r) => { resolve = r; });
      restDone = { done, resolve };
      drawing = Promise.all([drawing, done]);
    }
    const slice = () => {
      const later = afterTyping();
      restTimer = later > 0 ? win.setTimeout(slice, later) : null;
      if (!later) buildRest(SLICE_MS);
    };
    if (!afterFrame || typeof win.requestAnimationFrame !== 'function') {
      restTimer = win.setTimeout(slice, 0);
      return;
    }
    // A note's first screen is painted before the rest is built: slices of the rest, each a
    // task of its own, kept the frame that shows it waiting for a quarter of a second. The
    // wait stands in the timer's place; stopping the rest drops it.
    const wait = { fallback: null };
    restTimer = wait;
    const go = () => {
      win.clearTimeout(wait.fallback);
      if (restTimer === wait) restTimer = win.setTimeout(slice, 0);
    };
    win.requestAnimationFrame(go);
    wait.fallback = win.setTimeout(go, FIRST_FRAME_WAIT_MS);
  }

  function clearRestTimer() {
    if (restTimer !== null) win.clearTimeout(typeof restTimer === 'object' ? restTimer.fallback : restTimer);
    restTimer = null;
  }

  function now() {
    return win.performance?.now() ?? Date.now();
  }

  // Parses and shows pieces of the rest for `budget` milliseconds.
  function buildRest(budget) {
    const end = now() + budget;
    editor.quietly(() => {
      while (rest && !rest.done && now() < end) {
        const blocks = rest.next();
        sanitizeAhead(blocks);
        const from = state.blocks.length;
        const all = state.blocks.concat(blocks);
        const result = patchBlocks(root, { oldBlocks: state.blocks, oldEls: els, blocks: all, changed: [from, 0, blocks.length] }, safeHtml);
        els = result.els;
        state = docWith(state, { blocks: all });
        afterPatch(result.created);
      }
      arrange();
    });
    if (rest && !rest.done) {
      continueRest();
      return;
    }
    finishRest();
  }

  function finishRest() {
    const finished = rest;
    rest = null;
    // The quick guess at the link definitions was wrong, or footnotes turned up: the whole
    // parse decides, and only the blocks it renders differently change.
    if (finished && !finished.exact()) {
      const next = parseDocument(md, state.src, state.dir);
      editor.quietly(() => {
        const result = patchBlocks(root, { oldBlocks: state.blocks, oldEls: els, blocks: next.blocks, changed: null }, safeHtml);
        els = result.els;
        state = next;
        afterPatch(result.created);
      });
    }
    outlineSent = null;
    reportDocument(null);
    if (finder.query) post(message.find(finder.refresh()));
    restDone?.resolve();
    restDone = null;
  }

  // Whatever needs the whole document (find, export, editing, a change to apply) has it built
  // at once.
  function complete() {
    if (!rest) return;
    clearRestTimer();
    buildRest(Infinity);
  }

  // A change that fits the text the page holds, `length` characters long once made.
  function applyChange({ start, removed, inserted, length }, nextVersion) {
    typed();
    // The byte-order mark is part of the text as given: a change at the very start may add or
    // remove it, and then the lines are found again from the whole text.
    if (start === 0 && (state.bom || inserted.startsWith('\uFEFF'))) {
      const src = state.src;
      render(src.slice(0, start) + inserted + src.slice(start + removed), state.dir, nextVersion);
    } else {
      render(null, state.dir, nextVersion, { ...changeLines(state, start, removed, inserted), length });
    }
  }

  // The user's edits as one change of the text, made current in the page's own model so that
  // later changes are measured from it; null when nothing changed. Only the span that differs
  // travels, whatever the size of the note.
  function commitEdit() {
    complete();
    if (!state) return null;
    const length = textLength;
    const beforeBlocks = state.blocks;
    edited = null;
    const span = commitPageEdit();
    if (!span) return null;
    const change = { base: version, length, ...span };
    version += 1;
    textLength = length - span.removed + span.inserted.length;
    // The outline follows the blocks edited; after an edit that moved blocks, those whose heading
    // is not the one they had.
    previous = beforeBlocks;
    reportOutline(edited ? [edited[0], edited[1], edited[1]] : headingsChanged(beforeBlocks, state.blocks));
    previous = [];
    return change;
  }

  // [first, removed, added]: the blocks between the first and the last whose heading changed.
  function headingsChanged(before, after) {
    const n = Math.min(before.length, after.length);
    let head = 0;
    while (head < n && before[head].heading === after[head].heading) head += 1;
    let tail = 0;
    while (tail < n - head && before[before.length - 1 - tail].heading === after[after.length - 1 - tail].heading) tail += 1;
    return [head, before.length - head - tail, after.length - head - tail];
  }

  // The blocks an edit in place changed, [first, count]; null after one that moved blocks.
  let edited = null;

  // The page's edits made the page's own text; the span of it that changed, or null.
  function commitPageEdit() {
    editor.takeRecords();
    editor.cancelTimer();
    if (!state || !editor.hasChanges()) return null;
    const inPlace = editor.quietly(() => composeInPlace(root, state, editor.changed(), rewrite, { overwrite: true }));
    if (inPlace) return commitInPlace(inPlace);
    const around = commitAround();
    if (around !== undefined) return around;
    const before = state.src;
    const beforeLines = state.lines;
    const { source: body, layout, lines } = editor.quietly(() => {
      wrapStrayInline();
      return compose(root, state, editor.isDirty, rewrite);
    });
    const source = state.bom + body;
    const blocks = [];
    const nextEls = [];
    for (const [node, start, end] of layout) {
      const old = blockOf(node);
      const block = old && !editor.isDirty(node)
        ? { ...old, start, end }
        : { start, end, html: null, raw: false, heading: headingOf(node), wikilinks: null };
      if (node.nodeType === 1) {
        setRange(node, block);
        blocks.push(block);
        nextEls.push(node);
      }
    }
    const tail = state.blocks[state.blocks.length - 1];
    if (tail?.tail) {
      const el = els[els.length - 1];
      if (el?.isConnected && !nextEls.includes(el)) {
        // The element must hold the block it stands for: one left with the block before was
        // taken for new at the next write-back, and the note's footnotes written twice.
        const moved = { ...tail, start: lines.length, end: lines.length };
        setRange(el, moved);
        blocks.push(moved);
        nextEls.push(el);
      }
    }
    editor.clear();
    state = docWith(state, { src: source, lines, blocks, full: false });
    els = nextEls;
    return source === before ? null : spanBetween(before, source, beforeLines, lines, state.bom.length);
  }

  // The edited blocks get their new lines; those after them move with them. Only the lines
  // between `first` and the ends differ, so only they are joined to find the span: the whole
  // text is joined when something asks for it.
  function commitInPlace({ lines, edits, first, oldEnd, newEnd, was }) {
    const beforeLines = state.lines;
    // Lines written over where they were move no block: the blocks are replaced where they are.
    const blocks = was === undefined ? state.blocks.slice() : state.blocks;
    // In the order of the blocks.
    edited = edits.length ? [edits[0][0], edits[edits.length - 1][0] - edits[0][0] + 1] : null;
    let shift = 0;
    for (let i = 0, k = 0; i < blocks.length && (k < edits.length || shift); i += 1) {
      const edit = edits[k];
      if (edit?.[0] === i) {
        const [, node, start, end] = edit;
        shift = end - state.blocks[i].end;
        blocks[i] = { start, end, html: null, raw: false, heading: headingOf(node), wikilinks: null };
        k += 1;
      } else if (shift) {
        blocks[i] = { ...blocks[i], start: blocks[i].start + shift, end: blocks[i].end + shift };
      } else {
        continue;
      }
      setRange(els[i], blocks[i]);
    }
    editor.clear();
    state = withLines(lines, blocks);
    return lineChange(beforeLines, first, oldEnd, lines.slice(first, newEnd), was);
  }

  // The document with new lines and blocks; its text joined only when asked for.
  function withLines(lines, blocks) {
    const { bom } = state;
    const next = docWith(state, { lines, blocks, full: false });
    lazySrc(next, () => bom + lines.join(''));
    return next;
  }

  // The change that put `now` in place of lines [first, oldEnd) of `beforeLines`, or null.
  // `was`, when given, is what those lines held (they were written over since).
  function lineChange(beforeLines, first, oldEnd, now, was = beforeLines.slice(first, oldEnd).join('')) {
    let start = state.bom.length;
    for (let i = 0; i < first; i += 1) start += beforeLines[i].length;
    const made = now.join('');
    if (was === made) return null;
    const span = spanBetween(was, made);
    return { ...span, start: start + span.start };
  }

  // The page's edits written back as the lines of the blocks between the unchanged ones around
  // them: a line break typed into a long note wrote back every block of it, half a second on
  // 10 MB. Undefined when the changes cannot be told apart so (a shelf taken out, a change far
  // from any unchanged block); the whole page is written then.
  function commitAround() {
    const AROUND = sizes.around;
    if (AROUND < 0) return undefined;
    const { blocks } = state;
    const removed = new Set(editor.removed());
    const indexOfNode = (node) => {
      const block = blockOf(node);
      const i = block && !block.tail ? blockIndex(blocks, block) : -1;
      return i >= 0 && els[i] === node ? i : -1;
    };
    const clean = (node) => node.nodeType === 1 && !editor.isDirty(node) && !removed.has(node)
      && placed(root, node) && indexOfNode(node) >= 0;
    let before = Infinity;
    let after = -1;
    const mark = (lo, hi) => {
      before = Math.min(before, lo);
      after = Math.max(after, hi);
    };
    // A node the page gained lies between the unchanged blocks on either side of it.
    const around = (node) => {
      let p = topBefore(root, node);
      for (let k = 0; p && !clean(p); k += 1, p = topBefore(root, p)) if (k > AROUND) return false;
      let q = topAfter(root, node);
      for (let k = 0; q && !clean(q); k += 1, q = topAfter(root, q)) if (k > AROUND) return false;
      mark(p ? indexOfNode(p) : -1, q ? indexOfNode(q) : blocks.length);
      return true;
    };
    for (const node of removed) {
      if (node.qvShelf) return undefined;
      const block = blockOf(node);
      const i = block && !block.tail ? blockIndex(blocks, block) : -1;
      if (i >= 0) mark(i - 1, i + 1);
    }
    for (const node of editor.changed()) {
      if (node === root) continue;
      if (node.qvShelf) return undefined;
      if (!placed(root, node)) continue;
      const i = removed.has(node) ? -1 : indexOfNode(node);
      if (i >= 0) mark(i - 1, i + 1);
      else if (!around(node)) return undefined;
    }
    if (before === Infinity) return undefined;
    before = Math.max(before, -1);
    after = Math.min(after, blocks.length);
    for (let k = 0; before >= 0 && !clean(els[before]); k += 1, before -= 1) if (k > AROUND) return undefined;
    for (let k = 0; after < blocks.length && !clean(els[after]); k += 1, after += 1) if (k > AROUND) return undefined;
    if (after === blocks.length && blocks[blocks.length - 1]?.tail) return undefined;
    const between = () => {
      const nodes = [];
      const end = after < blocks.length ? els[after] : null;
      let last = before;
      for (let n = before < 0 ? topAfter(root, root) : els[before]; n; n = topAfter(root, n)) {
        nodes.push(n);
        // What stands between them is in order, and none of it is an unchanged block from
        // elsewhere: else the changes were not all seen.
        if (clean(n)) {
          const i = indexOfNode(n);
          if (i < last || i > after) return null;
          last = i;
        }
        if (n === end) return nodes;
        if (nodes.length > 8 * AROUND) return null;
      }
      return end ? null : nodes;
    };
    const first = between();
    if (!first) return undefined;
    editor.quietly(() => wrapStrayInline(first.filter((n) => n !== els[before] && n !== els[after])));
    const nodes = between();
    if (!nodes) return undefined;
    const beforeLines = state.lines;
    const { lines: mid, layout, from, to } = editor.quietly(() => composeNodes(nodes, state, editor.isDirty, rewrite, before, after));
    const shift = mid.length - (to - from);
    const lo = Math.max(before, 0);
    const hi = Math.min(after, blocks.length - 1) + 1;
    const midBlocks = [];
    const midEls = [];
    for (const [node, start, end] of layout) {
      if (node.nodeType !== 1) continue;
      const old = blockOf(node);
      const range = { start: start + from, end: end + from };
      const block = old && !editor.isDirty(node) && !removed.has(node)
        ? { ...old, ...range }
        : { ...range, html: null, raw: false, heading: headingOf(node), wikilinks: null };
      setRange(node, block);
      midBlocks.push(block);
      midEls.push(node);
    }
    const laterEls = els.slice(hi);
    const later = shift
      ? blocks.slice(hi).map((b, k) => {
        const moved = { ...b, start: b.start + shift, end: b.end + shift };
        setRange(laterEls[k], moved);
        return moved;
      })
      : blocks.slice(hi);
    editor.clear();
    els = els.slice(0, lo).concat(midEls, laterEls);
    state = withLines(beforeLines.slice(0, from).concat(mid, beforeLines.slice(to)), blocks.slice(0, lo).concat(midBlocks, later));
    return lineChange(beforeLines, from, to, mid);
  }

  // A block's source as the page would write it: rendered as the page shows
  // it, then serialised. Two texts with the same form show the same.
  function normalForm(text) {
    const t = doc.createElement('template');
    t.innerHTML = renderPiece(md, text, state.env)
      .map((b) => (b.rawBlock ? `<div class="raw-html">${sanitize(b.html)}</div>` : b.raw ? sanitize(b.html) : b.html))
      .join('');
    const nodes = [...t.content.childNodes].filter((n) => n.nodeType === 1);
    if (nodes.length !== 1) return serializeNodes(nodes, { typed: true });
    return serializeBlock(nodes[0], { marker: listMarker(nodes[0], text), typed: true });
  }

  const rewrite = (original, after, eol) => rewriteBlock(original, after, normalForm, eol);

  // Text typed outside any block (into an empty page, say) becomes a
  // paragraph, so that every top-level node is a block element.
  function wrapStrayInline(nodes = topNodes(root)) {
    const sel = win.getSelection();
    const saved = sel.rangeCount ? [sel.anchorNode, sel.anchorOffset, sel.focusNode, sel.focusOffset] : null;
    let run = [];
    let moved = false;
    const flush = () => {
      if (run.some((n) => n.nodeType === 1 || n.data.trim())) {
        const p = doc.createElement('p');
        run[0].before(p);
        p.append(...run);
        moved = true;
      }
      run = [];
    };
    for (const node of nodes) {
      if (node.nodeType === 1 && (isBlockElement(node) || blockOf(node))) flush();
      else if (node.nodeType === 1 || node.nodeType === 3) run.push(node);
    }
    flush();
    if (moved && saved && saved[0]?.isConnected) sel.setBaseAndExtent(...saved);
  }

  // The document as normalised Markdown, except what the page cannot show
  // as written: an untouched block holding raw HTML (comments, attributes
  // the sanitiser dropped, an element left open) comes back from the source.
  function serialize() {
    complete();
    if (!state) return '';
    editor.takeRecords();
    const current = new Set(state.blocks);
    const written = (el) => {
      const block = blockOf(el);
      // The footnotes come from definitions all over the text, not from lines of their own.
      if (!block || block.tail || !(block.raw || block.rawBlock) || !current.has(block) || editor.isDirty(el)) return null;
      const lines = state.lines.slice(block.start, block.end).map((l) => l.replace(/\r?\n$|\r$/, ''));
      while (lines.length && !lines[lines.length - 1].trim()) lines.pop();
      return lines.join('\n');
    };
    return state.bom + editor.quietly(() => serializeDom(root, written, definitionsBefore()));
  }

  // Link reference definitions render as nothing, so no block holds them: they are taken from
  // the lines between blocks, where they were written, for the block that follows them. The
  // links that use them may come back as written (a block kept from the source).
  function definitionsBefore() {
    const out = new Map();
    const byBlock = new Map(els.map((el) => [blockOf(el), el]));
    let from = 0;
    const take = (to, key) => {
      // Runs of non-blank lines; a definition is one that starts like one.
      const chunks = [[]];
      for (const line of state.lines.slice(from, to)) {
        const text = line.replace(/\r?\n$|\r$/, '');
        if (text.trim()) chunks[chunks.length - 1].push(text);
        else if (chunks[chunks.length - 1].length) chunks.push([]);
      }
      const defs = chunks.filter((c) => c.length && DEFINITION.test(c[0])).map((c) => c.join('\n'));
      if (defs.length) out.set(key, defs.join('\n\n'));
    };
    for (const block of state.blocks) {
      if (block.tail || block.start < from) continue;
      const el = byBlock.get(block);
      if (el) take(block.start, el);
      from = Math.max(from, block.end);
    }
    take(state.lines.length, 'end');
    return out;
  }

  function postEdit() {
    const change = commitEdit();
    if (change) post(message.edit(change));
  }

  // The caret at an offset of the text, in the block that holds it, as near the character as
  // the block's rendering allows.
  function placeCaret(offset) {
    if (!state || !editor.editable) return;
    complete();
    const i = caretAt(offset);
    if (i >= 0) scrollToElement(els[i], true);
  }

  // Puts the caret at an offset of the text: the index of its block, or -1 when there is none.
  function caretAt(offset) {
    let line = 0;
    let at = state.bom.length;
    while (line < state.lines.length - 1 && at + state.lines[line].length <= offset) at += state.lines[line++].length;
    const index = state.blocks.findIndex((b) => !b.tail && b.start <= line && line < b.end);
    const i = index < 0 ? els.length - 1 : index;
    if (i < 0) return -1;
    const block = state.blocks[i];
    let from = state.bom.length;
    for (let k = 0; k < block.start; k += 1) from += state.lines[k].length;
    const source = state.lines.slice(block.start, block.end).join('');
    root.focus({ preventScroll: true });
    const point = { index: i, offset: sourceToRendered(source, els[i].textContent, offset - from) };
    return placeSelection(win, els, { anchor: point, focus: point }) ? i : -1;
  }

  // Where the caret is, as an offset of the text; null when it is in no block.
  function caretOffset() {
    if (!state) return null;
    const sel = win.getSelection();
    if (!sel.rangeCount || !root.contains(sel.focusNode)) return null;
    const point = capturePoint(root, els, sel.focusNode, sel.focusOffset);
    const block = point && state.blocks[point.index];
    if (!block || block.tail) return null;
    let from = state.bom.length;
    for (let k = 0; k < block.start; k += 1) from += state.lines[k].length;
    const source = state.lines.slice(block.start, block.end).join('');
    return from + renderedToSource(source, els[point.index].textContent, point.offset);
  }

  // Where the caret was when the editing view was left, as a block and an offset that outlive a
  // render in between.
  let leftAt = null;

  // The editing view takes typing at once: the page has the focus, and the caret is where it
  // was (a selection made while reading stays), or else at the start.
  function enterEditing(caret) {
    const sel = win.getSelection();
    const kept = sel.rangeCount && root.contains(sel.anchorNode)
      ? [sel.anchorNode, sel.anchorOffset, sel.focusNode, sel.focusOffset] : null;
    root.focus({ preventScroll: true });
    // Coming from the source, typing goes on where its caret was, brought into view.
    const at = caret === null ? -1 : caretAt(caret);
    if (at >= 0) {
      els[at].scrollIntoView({ block: 'nearest' });
    } else if (kept) {
      sel.setBaseAndExtent(...kept);
    } else if (!placeSelection(win, els, leftAt)) {
      const start = { index: 0, offset: 0 };
      placeSelection(win, els, { anchor: start, focus: start });
    }
    leftAt = null;
  }

  // A block edited in place keeps the checkboxes it was drawn with, and the engine copies one
  // into an item made with Enter: their lines are those of the block before the edit. So the
  // block's text as it now stands says which line each of its checkboxes is, in their order;
  // when the two disagree, no line is ticked rather than another one.
  function taskIndexOf(checkbox) {
    const el = els.find((e) => e.contains(checkbox));
    const block = blockOf(el);
    if (!block) return -1;
    const boxes = [...el.querySelectorAll('input.task-checkbox')];
    const text = state.lines.slice(block.start, block.end).join('');
    const lines = [];
    for (const b of renderPiece(md, text, state.env)) {
      if (b.raw || b.rawBlock) continue;
      for (const m of b.html.matchAll(/<input type="checkbox" class="task-checkbox"[^>]*? data-task-line="(\d+)"/g)) {
        lines.push(Number(m[1]));
      }
    }
    const k = boxes.indexOf(checkbox);
    if (k < 0 || lines.length !== boxes.length) return -1;
    return taskIndexOfLine(state.lines, block.start + lines[k]);
  }

  return {
    // A whole text replaces what is shown; typing not yet sent goes to the host first, which
    // keeps it (a reload has cancelled it before).
    show(markdown, dir, nextVersion) {
      if (editor.editable && editor.hasChanges()) postEdit();
      render(markdown, dir, nextVersion);
    },
    sendTyping() {
      if (editor.hasChanges()) postEdit();
    },
    // Whether a change made from revision `base` can be applied: the page holds that text, with
    // nothing typed into it since.
    holds: (base) => Boolean(state) && base === version && !editor.hasChanges(),
    textLength: () => textLength,
    outlineAgain,
    complete,
    applyChange,
    postEdit,
    setTheme(payload) {
      theme = applyTheme(doc, payload);
    },
    editable: () => editor.editable,
    touch: (node) => editor.touch(node),
    folder: () => state?.dir ?? '',
    // `caret`: an offset of the text where typing goes on when the page takes it.
    setEditable(on, caret = null) {
      if (on) complete();
      if (!on && editor.editable) {
        leftAt = captureSelection(win, root, els);
        postEdit();
      }
      const entering = on && !editor.editable;
      editor.setEditable(on);
      arrange();
      if (entering) enterEditing(caret);
    },
    commitEdit,
    placeCaret,
    caretOffset,
    cancelEdit() {
      complete();
      const hadChanges = editor.hasChanges();
      const stale = editor.clear();
      if (!hadChanges || !state) return;
      // Put back what the source says: blocks whose edit is dropped, blocks
      // the user deleted, and nothing the user added.
      const next = parseDocument(md, state.src, state.dir);
      editor.quietly(() => {
        const result = patchBlocks(root, {
          oldBlocks: state.blocks, oldEls: els, blocks: next.blocks, changed: null,
        }, safeHtml, (el) => !stale.includes(el));
        els = result.els;
        state = next;
        dropStrays(root, els);
        afterPatch(result.created);
      });
    },
    serialize,
    reportDrawn,
    find: (q, options) => {
      complete();
      return editor.quietly(() => finder.find(q, options));
    },
    findStep: (n) => editor.quietly(() => finder.step(n)),
    // While editing, closing find leaves the caret after the match it showed last, where the
    // writer was looking.
    findClear: () => {
      editor.quietly(() => {
        const end = editor.editable ? finder.currentEnd() : null;
        const at = end && capturePoint(root, els, ...end);
        finder.clear();
        if (!at) return;
        root.focus({ preventScroll: true });
        placeSelection(win, els, { anchor: at, focus: at });
      });
    },
    scrollToHeading(id) {
      complete();
      scrollToElement(els.find((el) => el.id === id) ?? doc.getElementById(String(id)), false);
    },
    scrollToHeadingText(text, instant) {
      complete();
      scrollToElement(findHeading(root, text), instant);
    },
    scrollToFraction: (f) => {
      complete();
      scrollToFraction(win, f);
    },
    markResolved(answer) {
      // The host answers what it was asked, for the whole document or for new blocks; those were
      // already marked from earlier answers, so the page is walked only when an answer changed.
      const same = Object.keys(answer).every((k) => k in resolved && resolved[k] === answer[k]);
      resolved = Object.assign(Object.create(null), resolved, answer);
      if (!same) markWikilinks(root);
    },
    exportImages() {
      complete();
      return localImages(root);
    },
    exportFiles() {
      complete();
      return localFiles(root);
    },
    exportHTML(title, css, images, base, present) {
      complete();
      const vars = Object.entries(themeStyle(theme)).map(([k, v]) => `${k}: ${v}`).join('; ');
      return editor.quietly(() => exportHtml(win, root, { title, css, images, base, present, themeAttrs: { theme: theme.theme, style: vars } }));
    },
    taskIndexOf,
    markdownToHtml: (text) => sanitize(md.render(text, { resolveUrl: (u) => resolveUrl(u, state?.dir ?? '') })),
  };
}

// The change that turns `before` into `after`, as the span that differs: whole lines that
// compare equal are skipped first (most of them are the same strings), then characters. A
// surrogate pair is never cut in two.
export function spanBetween(before, after, beforeLines, afterLines, bom = 0) {
  let start = 0;
  let endBefore = before.length;
  let endAfter = after.length;
  if (beforeLines && afterLines) {
    const n = Math.min(beforeLines.length, afterLines.length);
    let head = 0;
    while (head < n && beforeLines[head] === afterLines[head]) head += 1;
    let tail = 0;
    while (tail < n - head && beforeLines[beforeLines.length - 1 - tail] === afterLines[afterLines.length - 1 - tail]) tail += 1;
    for (let i = 0; i < head; i += 1) start += beforeLines[i].length;
    if (start > 0) start += bom;
    let tailLength = 0;
    for (let i = 0; i < tail; i += 1) tailLength += beforeLines[beforeLines.length - 1 - i].length;
    endBefore -= tailLength;
    endAfter -= tailLength;
    if (before.slice(0, start) !== after.slice(0, start) || endBefore < start || endAfter < start) {
      start = 0;
      endBefore = before.length;
      endAfter = after.length;
    }
  }
  while (start < endBefore && start < endAfter && before.charCodeAt(start) === after.charCodeAt(start)) start += 1;
  while (endBefore > start && endAfter > start && before.charCodeAt(endBefore - 1) === after.charCodeAt(endAfter - 1)) {
    endBefore -= 1;
    endAfter -= 1;
  }
  const high = (c) => c >= 0xd800 && c <= 0xdbff;
  const low = (c) => c >= 0xdc00 && c <= 0xdfff;
  if (start > 0 && high(after.charCodeAt(start - 1))) start -= 1;
  if (endAfter < after.length && low(after.charCodeAt(endAfter))) {
    endBefore += 1;
    endAfter += 1;
  }
  return { start, removed: endBefore - start, inserted: after.slice(start, endAfter) };
}

function headingOf(node) {
  if (!/^H[1-6]$/.test(node.nodeName)) return null;
  return { level: Number(node.nodeName[1]), text: node.textContent.trim() };
}
