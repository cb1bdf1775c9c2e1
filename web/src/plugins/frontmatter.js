// YAML front matter: a "---" fence on the first line, closed by "---" or "..."

const FENCE = /^---\s*$/;
const CLOSE = /^(---|\.\.\.)\s*$/;

function frontMatterRule(state, startLine, endLine, silent) {
  // A piece of the document parsed on its own starts at its line 0 too, and has none.
  if (startLine !== 0 || state.env?.midDocument || state.blkIndent !== 0 || state.parentType !== 'root') return false;
  const line = (n) => state.src.slice(state.bMarks[n], state.eMarks[n]);
  if (!FENCE.test(line(0))) return false;
  let close = 1;
  while (close < endLine && !CLOSE.test(line(close))) close += 1;
  if (close >= endLine) return false;
  // Two rules around a setext heading are no front matter: it must read as
  // YAML, at least one "key:" or list line.
  let yaml = false;
  for (let n = 1; n < close && !yaml; n += 1) yaml = /^\s*([\w"' .-]+:(\s|$)|- )/.test(line(n));
  if (!yaml) return false;
  if (silent) return true;
  const token = state.push('front_matter', 'div', 0);
  token.block = true;
  token.map = [0, close + 1];
  token.content = state.getLines(1, close, 0, false).replace(/\n$/, '');
  token.markup = line(close).trim();
  state.line = close + 1;
  return true;
}

// Only top-level "key: value" pairs are shown as a table; anything nested is
// shown as the value's raw text, which is what a reader wants to glance at.
export function frontMatterEntries(yaml) {
  const entries = [];
  for (const raw of yaml.split('\n')) {
    const m = /^([A-Za-z0-9_][\w .-]*):(?:\s+(.*))?$/.exec(raw);
    if (m) entries.push([m[1], (m[2] ?? '').trim()]);
    else if (entries.length && raw.trim()) {
      const last = entries[entries.length - 1];
      last[1] = (last[1] ? `${last[1]} ` : '') + raw.trim().replace(/^- /, '');
    }
  }
  return entries;
}

export default function frontMatter(md) {
  md.block.ruler.before('table', 'front_matter', frontMatterRule);
  const esc = md.utils.escapeHtml;
  md.renderer.rules.front_matter = (tokens, idx) => {
    const { content, markup } = tokens[idx];
    const rows = frontMatterEntries(content)
      .map(([k, v]) => `<dt>${esc(k)}</dt><dd>${esc(v.replace(/^["']|["']$/g, ''))}</dd>`)
      .join('');
    const body = rows ? `<dl>${rows}</dl>` : `<pre>${esc(content)}</pre>`;
    return `<div class="frontmatter" contenteditable="false" data-yaml="${esc(content)}"` +
      ` data-close="${esc(markup)}">${body}</div>\n`;
  };
}
