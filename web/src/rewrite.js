// An edited block written back with only the characters the user changed.
//
// The page can only write Markdown in its own normalised form, which differs
// from what people write (`_x_` for `*x*`, `*` bullets, padded tables,
// reference links...). So the block is written in that form twice, as its
// source renders (`before`) and as the edited page shows it (`after`), and
// the difference between the two is carried over onto the source, placed by
// aligning the source with `before`. The result counts only if it reads back
// as the edited page; otherwise the caller writes `after` as it is.

import DiffMatchPatch from 'diff-match-patch';

const dmp = new DiffMatchPatch();
// A coarser alignment of a huge block is still a valid one; a slow keystroke
// is not.
dmp.Diff_Timeout = 0.1;
const [DELETE, INSERT] = [DiffMatchPatch.DIFF_DELETE, DiffMatchPatch.DIFF_INSERT];

// The source with every line break as "\n", and each break as it was
// ("\r\n", "\r" or "\n") by offset, to put them back.
function unify(text) {
  const breaks = new Map();
  let out = '';
  let from = 0;
  const re = /\r\n?|\n/g;
  for (let m = re.exec(text); m; m = re.exec(text)) {
    out += text.slice(from, m.index);
    breaks.set(out.length, m[0]);
    out += '\n';
    from = m.index + m[0].length;
  }
  return { text: out + text.slice(from), breaks };
}

// The edits turning `a` into `b`: [start, end, inserted] in `a`'s offsets.
function editsBetween(a, b) {
  const edits = [];
  let at = 0;
  for (const [op, s] of dmp.diff_main(a, b, false)) {
    const last = edits[edits.length - 1];
    const joined = last && last[1] === at;
    if (op === INSERT) {
      if (joined) last[2] += s;
      else edits.push([at, at, s]);
    } else if (op === DELETE) {
      if (joined) last[1] += s.length;
      else edits.push([at, at + s.length, '']);
    }
    if (op !== INSERT) at += s.length;
  }
  return edits;
}

// Where offset `loc` of `before` lies in the source. Where the source has
// text that `before` lacks (trailing spaces, a wider list marker, an
// underscore for an asterisk), the offset is ambiguous: `late` puts it after
// that text, else before it.
function mapOffset(align, loc, late) {
  let a = 0;
  let b = 0;
  for (const [op, s] of align) {
    if (op === INSERT) {
      if (a === loc && !late) return b;
      b += s.length;
    } else if (loc < a + s.length) {
      return op === DELETE ? b : b + (loc - a);
    } else {
      a += s.length;
      if (op !== DELETE) b += s.length;
    }
  }
  return b;
}

// The edits placed in the source: [from, to, inserted], last first. A late
// placement deletes as little as it can, an early one as much.
function place(edits, align, late) {
  const spans = [];
  let limit = Infinity;
  for (let i = edits.length - 1; i >= 0; i -= 1) {
    const [s, e, ins] = edits[i];
    const from = mapOffset(align, s, late);
    const to = s === e ? from : Math.max(from, mapOffset(align, e, !late));
    if (to > limit) return null;
    spans.push([from, to, ins]);
    limit = from;
  }
  return spans;
}

// `original`: the block's source with its own line breaks, without the one
// that ends it. `normal(text)`: a block's source in normalised form. `after`:
// the edited block in normalised form. `eol`: the break for new lines.
// Returns the new source of the block, or null when the edit cannot be
// carried over.
export function rewriteBlock(original, after, normal, eol) {
  const { text: source, breaks } = unify(original);
  const before = normal(source);
  if (before === after) return original;
  after = keepLineBreaks(before, after);
  if (before === after) return original;
  const edits = editsBetween(before, after);
  const align = dmp.diff_main(before, source, true);
  for (const late of [true, false]) {
    const placed = place(edits, align, late);
    if (!placed) continue;
    const alike = placed.map(([from, to, ins]) => [from, to, likeItsLine(source, from, ins)]);
    // Line breaks and indentation the page's form needs but the source does
    // not (a blank line between blocks, a lazy continuation line) are left
    // out where the result still reads the same.
    const lean = alike.filter(([from, to, ins]) => from !== to || ins.trim());
    const tries = [lean, alike, placed].filter((s, i, all) => i === 0 || s.length !== all[i - 1].length ||
      s.some((span, k) => span[2] !== all[i - 1][k][2]));
    for (const spans of tries) {
      let text = source;
      for (const [from, to, ins] of spans) text = text.slice(0, from) + ins + text.slice(to);
      if (normal(text) === after) return restoreBreaks(text, spans.reverse(), breaks, eol);
    }
  }
  return null;
}

// A line break inside a paragraph shows as a space, and the engine, typing beside one, makes
// it a space: the line the user typed at would swallow the next one. A break that became a
// space at the edge of what was typed stays a break; the two read the same. Each break, with
// the indentation or quote markers of the line it starts, is one character while the two
// texts are compared, so that the comparison cannot take its indentation for the space.
const BREAK_MARK = '\uE000';
const SPACE = /^[ \u00a0]$/;
function keepLineBreaks(before, after) {
  if (!before.includes('\n') || before.includes(BREAK_MARK) || after.includes(BREAK_MARK)) return after;
  const code = (text) => {
    const marks = [];
    const coded = text.replace(/\n[ \t>]*/g, (m) => {
      marks.push(m);
      return BREAK_MARK;
    });
    let k = 0;
    // The text of the next `s.length` characters, breaks as they were.
    const take = (s) => s.replace(/\uE000/g, () => marks[k++]);
    return { coded, take };
  };
  const old = code(before);
  const now = code(after);
  let out = '';
  let removed = '';
  let inserted = '';
  const flush = () => {
    const gone = old.take(removed);
    const head = removed.startsWith(BREAK_MARK) ? /^\n[ \t>]*/.exec(gone)[0] : null;
    const tail = removed.endsWith(BREAK_MARK) ? /\n[ \t>]*$/.exec(gone)[0] : null;
    let text = now.take(inserted);
    const atEnd = tail && SPACE.test(text.slice(-1));
    if (atEnd) text = text.slice(0, -1) + tail;
    // A lone break is kept once, at the end when both ends were a space.
    if (head && SPACE.test(text[0]) && (removed.length > 1 || !atEnd)) text = head + text.slice(1);
    out += text;
    removed = '';
    inserted = '';
  };
  for (const [op, s] of dmp.diff_main(old.coded, now.coded, false)) {
    if (op === DELETE) removed += s;
    else if (op === INSERT) inserted += s;
    else {
      flush();
      old.take(s);
      out += now.take(s);
    }
  }
  flush();
  return out;
}

const ITEM = /^([ \t>]*)([-*+]|\d{1,9}[.)])( +)(?=\S)/;

// New list items (Enter at the end of one) take the spacing after the marker
// that the item they were typed in has: "*   next" under "*   this".
function likeItsLine(source, at, ins) {
  if (!ins.includes('\n')) return ins;
  const line = source.slice(source.lastIndexOf('\n', at - 1) + 1);
  const own = ITEM.exec(line);
  if (!own) return ins;
  const column = own[1].length + own[2].length + own[3].length;
  return ins.replace(/\n([^\n]*)/g, (whole, next) => {
    const m = ITEM.exec(next);
    // The page writes a top-level item without the few spaces some put before it.
    const indent = m && !m[1] && /^ {1,3}$/.test(own[1]) ? own[1] : m?.[1];
    if (!m || indent !== own[1] || /\d/.test(m[2]) !== /\d/.test(own[2])) return whole;
    const pad = ' '.repeat(Math.max(1, column - indent.length - m[2].length));
    return `\n${indent}${m[2]}${pad}${next.slice(m[0].length)}`;
  });
}

// Every line break the source had stays as it was; new ones are the file's.
function restoreBreaks(text, spans, breaks, eol) {
  if (eol === '\n' && [...breaks.values()].every((br) => br === '\n')) return text;
  const kept = new Map();
  let delta = 0;
  let k = 0;
  for (const [at, br] of breaks) {
    while (k < spans.length && spans[k][1] <= at) {
      delta += spans[k][2].length - (spans[k][1] - spans[k][0]);
      k += 1;
    }
    const span = spans[k];
    if (!(span && span[0] <= at && at < span[1])) kept.set(at + delta, br);
  }
  let out = '';
  let from = 0;
  for (let i = text.indexOf('\n'); i >= 0; i = text.indexOf('\n', i + 1)) {
    out += text.slice(from, i) + (kept.get(i) ?? eol);
    from = i + 1;
  }
  return out + text.slice(from);
}
