// Find in the rendered page: every match highlighted, one of them current.

import { topNodes } from './shelves.js';

const SKIP = new Set(['SCRIPT', 'STYLE', 'svg', 'annotation', 'INPUT']);

function skipped(node, root) {
  for (let n = node.parentNode; n && n !== root; n = n.parentNode) {
    if (SKIP.has(n.nodeName) || n.classList?.contains('katex-mathml')) return true;
  }
  return false;
}

// Text of one block with the text nodes it came from, so that a match may
// run across formatting ("foo **bar**" finds "foo bar").
function textMap(doc, el, root) {
  const walker = doc.createTreeWalker(el, 4);
  const nodes = [];
  let text = '';
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (!n.data || skipped(n, root)) continue;
    nodes.push([n, text.length]);
    text += n.data;
  }
  return { text, nodes };
}

// Split text nodes rather than ranges: every range made stays live until it is collected, and
// each one made the next change to the page slower, which on a long note with tens of thousands
// of matches took minutes.
function wrap(doc, node, start, end) {
  const hit = start > 0 ? node.splitText(start) : node;
  if (end - start < hit.data.length) hit.splitText(end - start);
  const mark = doc.createElement('mark');
  mark.className = 'find-hit';
  hit.parentNode.insertBefore(mark, hit);
  mark.appendChild(hit);
  return mark;
}

// A word character as the host's find counts one, so that both agree on "whole word".
const WORD = '[\\p{L}\\p{M}\\p{N}_]';
const SYNTAX = /[\\^$.*+?()[\]{}|/]/g;

function pattern(source, wholeWord, word) {
  return wholeWord ? `(?<!${word})(?:${source})(?!${word})` : source;
}

// How a query is looked for: a plain needle, or a pattern when an option asks for one. A pattern
// the engine cannot read gives an error and finds nothing.
function makeSearch(q, { matchCase = false, wholeWord = false, regex = false } = {}) {
  const query = String(q ?? '');
  if (!query) return { query };
  if (!regex && !wholeWord) {
    return { query, needle: matchCase ? query : query.toLocaleLowerCase(), matchCase };
  }
  const source = regex ? query : query.replace(SYNTAX, '\\$&');
  const flags = `gm${matchCase ? '' : 'i'}`;
  try {
    return { query, re: new RegExp(pattern(source, wholeWord, WORD), `${flags}u`) };
  } catch {
    // A pattern written for the host's engine may escape what JavaScript's Unicode mode
    // refuses ("\-"); without that mode only "whole word" narrows to ASCII letters.
    try {
      return { query, re: new RegExp(pattern(source, wholeWord, '\\w'), flags) };
    } catch (e) {
      return { query, error: String(e.message ?? e) };
    }
  }
}

// Where `search` matches in `text`, as [start, end] pairs; never an empty match.
function matchesIn(text, search) {
  const found = [];
  if (search.re) {
    const { re } = search;
    re.lastIndex = 0;
    for (let m = re.exec(text); m; m = re.exec(text)) {
      if (m[0].length) found.push([m.index, m.index + m[0].length]);
      else re.lastIndex += 1;
    }
    return found;
  }
  const hay = search.matchCase ? text : text.toLocaleLowerCase();
  // Lower-casing can change lengths in rare scripts; offsets are only trusted when it did not.
  if (hay.length !== text.length) return found;
  const { needle } = search;
  for (let at = hay.indexOf(needle); at >= 0; at = hay.indexOf(needle, at + needle.length)) {
    found.push([at, at + needle.length]);
  }
  return found;
}

export function createFinder(root) {
  const doc = root.ownerDocument;
  let hits = [];
  let current = -1;
  let query = '';
  let options = {};

  const result = () => ({ count: hits.length, index: hits.length ? current + 1 : 0 });

  function select(i, scroll) {
    hits[current]?.forEach((m) => m.classList.remove('current'));
    current = i;
    hits[current]?.forEach((m) => m.classList.add('current'));
    if (scroll) hits[current]?.[0].scrollIntoView?.({ block: 'center', behavior: 'instant' });
  }

  function clear() {
    const parents = new Set();
    for (const mark of root.querySelectorAll('mark.find-hit')) {
      parents.add(mark.parentNode);
      mark.replaceWith(...mark.childNodes);
    }
    for (const parent of parents) parent.normalize();
    hits = [];
    current = -1;
  }

  function highlight(q) {
    const search = makeSearch(q, options);
    const found = [];
    if (search.error) return;
    for (const el of topNodes(root)) {
      if (el.nodeType !== 1) continue;
      const { text, nodes } = textMap(doc, el, root);
      const matches = matchesIn(text, search);
      const marks = matches.map(() => []);
      // From the last match backwards, so that splitting text nodes never
      // moves an offset still to be used.
      for (let m = matches.length - 1; m >= 0; m -= 1) {
        const [start, end] = matches[m];
        for (let k = nodes.length - 1; k >= 0; k -= 1) {
          const [node, offset] = nodes[k];
          const s = Math.max(start, offset) - offset;
          const e = Math.min(end, offset + node.data.length) - offset;
          if (s < e) marks[m].unshift(wrap(doc, node, s, e));
        }
      }
      found.push(...marks);
    }
    hits = found;
  }

  return {
    get query() { return query; },
    // `opts`: matchCase, wholeWord, regex; kept for the searches after a change.
    find(q, opts = {}, scroll = true) {
      clear();
      query = String(q ?? '');
      options = opts && typeof opts === 'object' ? opts : {};
      if (query) highlight(query);
      if (hits.length) select(0, scroll);
      return result();
    },
    // After the content changed: the same query, keeping the current match
    // by number as far as it still exists.
    refresh() {
      const keep = current;
      clear();
      if (!query) return result();
      highlight(query);
      if (hits.length) select(Math.min(Math.max(keep, 0), hits.length - 1), false);
      return result();
    },
    step(n) {
      if (hits.length) select((current + (n < 0 ? -1 : 1) + hits.length) % hits.length, true);
      return result();
    },
    clear() {
      clear();
      query = '';
      return result();
    },
    // The end of the current match, inside its highlight.
    currentEnd() {
      const mark = hits[current]?.at(-1);
      return mark ? [mark, mark.childNodes.length] : null;
    },
  };
}
