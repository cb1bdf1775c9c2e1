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
      if (t.type === 'link_open') rewrite(t, 'href', env);
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

export default function links(md) {
  md.validateLink = validateLink;
  md.core.ruler.after('linkify', 'resolve_links', linkRule);
}
