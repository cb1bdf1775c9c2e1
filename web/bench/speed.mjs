// Render speed on a 1 MB document: a full render, and the incremental update
// after one typed character.
import { performance } from 'node:perf_hooks';
import { buildCorpus } from './corpus.mjs';
import { makeWindow, freshPage } from './harness.mjs';
import { createMarkdown, parseDocument, updateDocument } from '../src/markdown.js';

function median(xs) {
  const s = [...xs].sort((a, b) => a - b);
  return s[s.length >> 1];
}

export function runSpeed({ runs = 5 } = {}) {
  const { doc, files, bytes } = buildCorpus();
  const win = makeWindow();
  const md = createMarkdown();

  // Markdown to block HTML alone (what the browser page does before the DOM).
  parseDocument(md, doc, 'file:///docs/');
  const parseTimes = [];
  for (let i = 0; i < runs; i += 1) {
    const t0 = performance.now();
    parseDocument(md, doc, 'file:///docs/');
    parseTimes.push(performance.now() - t0);
  }

  // The whole page in jsdom, DOM included.
  const fullTimes = [];
  for (let i = 0; i < runs; i += 1) {
    const { page } = freshPage(win);
    const t0 = performance.now();
    page.render(doc, 'file:///docs/');
    fullTimes.push(performance.now() - t0);
  }

  // One character typed in the middle of a paragraph, again and again.
  const { page } = freshPage(win);
  page.render(doc, 'file:///docs/');
  const lines = doc.split('\n');
  let target = lines.length >> 1;
  while (!/^[A-Za-z][^|<`$[]*[a-z] [a-z][^|<`$[]*$/.test(lines[target])) target += 1;
  const incTimes = [];
  const updateTimes = [];
  let text = doc;
  let state = parseDocument(md, doc, 'file:///docs/');
  for (let i = 0; i < runs * 4; i += 1) {
    lines[target] += 'x';
    text = lines.join('\n');
    const t0 = performance.now();
    page.render(text, 'file:///docs/');
    incTimes.push(performance.now() - t0);
    const t1 = performance.now();
    state = updateDocument(md, state, text, 'file:///docs/');
    updateTimes.push(performance.now() - t1);
  }
  return {
    bytes, files, blocks: state.blocks.length,
    parseMs: median(parseTimes), fullMs: median(fullTimes),
    incrementalMs: median(incTimes), incrementalUpdateMs: median(updateTimes),
  };
}
