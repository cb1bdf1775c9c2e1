// A caret carried between the text and the page. A block's rendered text is its source less the
// marks, addresses and escapes around it, in the same order: each rendered character is looked
// for in the source after the one before it, which steps over what rendering took out. A space is
// looked for only past marks (after "**bold**", or a list's "-"): one the page adds (between the
// items of a list) stands for nothing in the source.

const SPACE = /\s/;
const WORD = /[\p{L}\p{N}]/u;

// Where `ch` is in `source` from `at` on; null for a space the source does not have there.
function find(source, ch, at) {
  if (!SPACE.test(ch)) return source.indexOf(ch, at);
  for (let i = at; i < source.length && !WORD.test(source[i]); i += 1) {
    if (SPACE.test(source[i])) return i;
  }
  return null;
}

// Where, in `source`, the caret stands that has `count` characters of `rendered` before it.
export function renderedToSource(source, rendered, count) {
  let at = 0;
  for (let i = 0; i < Math.min(count, rendered.length); i += 1) {
    const found = find(source, rendered[i], at);
    if (found === null) continue;
    if (found < 0) break;
    at = found + 1;
  }
  return Math.min(at, source.length);
}

// How many characters of `rendered` stand before offset `offset` of `source`.
export function sourceToRendered(source, rendered, offset) {
  let at = 0;
  let i = 0;
  for (; i < rendered.length; i += 1) {
    const found = find(source, rendered[i], at);
    if (found === null ? at >= offset : found < 0 || found >= offset) break;
    if (found !== null) at = found + 1;
  }
  return i;
}
