// [[Note]], [[Note#Heading]], [[Note|alias]] and the embed form ![[image.png]]

const IMAGE_EXT = /\.(png|jpe?g|gif|webp|svg|bmp|avif)$/i;

// Splits the inside of the brackets into the parts the host resolves; the
// heading is everything after the first "#", so "C#" needs an alias to survive.
export function parseWikilink(inner) {
  let target = inner;
  let alias = '';
  const bar = inner.indexOf('|');
  if (bar >= 0) {
    target = inner.slice(0, bar);
    alias = inner.slice(bar + 1).trim();
  }
  let heading = '';
  const hash = target.indexOf('#');
  if (hash >= 0) {
    heading = target.slice(hash + 1).trim();
    target = target.slice(0, hash);
  }
  return { target: target.trim(), heading, alias };
}

export function wikilinkLabel({ target, heading, alias }) {
  if (alias) return alias;
  if (!heading) return target;
  return target ? `${target} › ${heading}` : heading;
}

export function isImageTarget(target) {
  return IMAGE_EXT.test(target);
}

function wikilinkRule(state, silent) {
  const { src, pos, posMax } = state;
  let start = pos;
  const embed = src.charCodeAt(pos) === 0x21; /* ! */
  if (embed) start += 1;
  if (src.charCodeAt(start) !== 0x5b || src.charCodeAt(start + 1) !== 0x5b) return false;
  const close = src.indexOf(']]', start + 2);
  if (close < 0 || close > posMax) return false;
  const inner = src.slice(start + 2, close);
  // Brackets and line breaks inside mean this is not a wikilink but text.
  if (!inner.trim() || /[\[\]\n]/.test(inner)) return false;
  const link = parseWikilink(inner);
  if (!link.target && !link.heading) return false;
  if (!silent) {
    const token = state.push(embed ? 'wikilink_embed' : 'wikilink', '', 0);
    token.meta = link;
    token.markup = embed ? '![[' : '[[';
    token.content = inner;
  }
  state.pos = close + 2;
  return true;
}

export default function wikilinks(md) {
  md.inline.ruler.before('link', 'wikilink', wikilinkRule);
  // The embed must win over "![" of an ordinary image.
  md.inline.ruler.before('image', 'wikilink_embed', wikilinkRule);

  const esc = md.utils.escapeHtml;
  md.renderer.rules.wikilink = (tokens, idx) => {
    const link = tokens[idx].meta;
    const heading = link.heading ? ` data-heading="${esc(link.heading)}"` : '';
    // A note's name is no prose to correct; a label is.
    const spelling = link.alias ? '' : ' spellcheck="false"';
    return `<a class="wikilink" href="#" data-wikilink="${esc(link.target)}"${heading}${spelling}>` +
      `${esc(wikilinkLabel(link))}</a>`;
  };
  md.renderer.rules.wikilink_embed = (tokens, idx, options, env) => {
    const link = tokens[idx].meta;
    if (isImageTarget(link.target)) {
      const src = env.resolveUrl ? env.resolveUrl(encodeURI(link.target)) : encodeURI(link.target);
      const alt = link.alias || link.target;
      return `<img class="wikilink-embed" src="${esc(src)}" alt="${esc(alt)}" data-wikilink="${esc(link.target)}">`;
    }
    // Notes are not transcluded; the embed shows as a link to the note.
    const heading = link.heading ? ` data-heading="${esc(link.heading)}"` : '';
    return `<a class="wikilink embed" href="#" data-wikilink="${esc(link.target)}"${heading}>` +
      `${esc(wikilinkLabel(link))}</a>`;
  };
}
