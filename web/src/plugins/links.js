// Relative link and image paths resolve against the document folder; the path
// as written stays on the element for the host and for writing Markdown back

function rewrite(token, attr, env) {
  const written = token.attrGet(attr);
  if (written === null) return;
  const resolved = env.resolveUrl(written);
  if (resolved !== written) {
    token.attrSet(attr, resolved);
    token.attrSet('data-written', written);
  }
}

function linkRule(state) {
  const { env } = state;
  if (!env.resolveUrl) return;
  for (const block of state.tokens) {
    if (block.type !== 'inline' || !block.children) continue;
    for (const t of block.children) {
      if (t.type === 'link_open') {
        rewrite(t, 'href', env);
        if (t.markup === 'linkify' || t.markup === 'autolink') t.attrSet('data-auto', t.markup);
      }
      else if (t.type === 'image') rewrite(t, 'src', env);
    }
  }
}

// Like markdown-it's own check, but file: links are fine: notes link to local
// files all the time, and the host decides what opening them means.
const BAD_PROTO = /^(vbscript|javascript|data):/;
const GOOD_DATA = /^data:image\/(gif|png|jpeg|webp);/;

export function validateLink(url) {
  const str = url.trim().toLowerCase();
  return BAD_PROTO.test(str) ? GOOD_DATA.test(str) : true;
}

// A link or image made from a reference definition remembers its label and
// how it was written ([text][label], [text][] or [text]), so that it is
// written back the same way and not as an inline link.
function remembersReference(rule, bang) {
  return (state, silent) => {
    const start = state.pos;
    const count = state.tokens.length;
    if (!rule(state, silent)) return false;
    // Text before the link is pushed first.
    const token = state.tokens.slice(count).find((t) => t.type === 'link_open' || t.type === 'image');
    if (silent || !token) return true;
    const end = state.pos;
    const labelEnd = state.md.helpers.parseLinkLabel(state, start + bang, true);
    state.pos = end;
    if (labelEnd < 0) return true;
    const text = state.src.slice(start + bang + 1, labelEnd);
    const tail = state.src.slice(labelEnd + 1, end);
    const mark = (label, form) => {
      token.attrSet('data-ref', label);
      token.attrSet('data-ref-form', form);
    };
    if (tail === '') mark(text, 'shortcut');
    else if (tail === '[]') mark(text, 'collapsed');
    else if (tail[0] === '[' && tail.endsWith(']')) mark(tail.slice(1, -1), 'full');
    return true;
  };
}

export default function links(md) {
  md.validateLink = validateLink;
  for (const [name, bang] of [['link', 0], ['image', 1]]) {
    const rule = md.inline.ruler.__rules__.find((r) => r.name === name).fn;
    md.inline.ruler.at(name, remembersReference(rule, bang));
  }
  md.core.ruler.after('linkify', 'resolve_links', linkRule);
}
