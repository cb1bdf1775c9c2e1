// Raw HTML in a document is untrusted: it may have been written by anyone.

import createDOMPurify from 'dompurify';

// Forms and their controls could post or spoof input; style elements could
// restyle or hide the page; the rest can load or run code. Image maps are
// invisible links that never worked here anyway (the map's name is prefixed
// below, so no usemap finds it): dropped rather than policed.
const FORBID_TAGS = [
  'style', 'form', 'button', 'textarea', 'select', 'option', 'link', 'meta', 'base',
  'iframe', 'frame', 'frameset', 'object', 'embed', 'applet', 'portal', 'script', 'noscript', 'template',
  'map', 'area',
];
const FORBID_ATTR = ['formaction', 'action', 'srcdoc', 'ping', 'autofocus', 'usemap'];
// The attributes our own rendering puts into a block that also holds raw HTML
// (and so passes through here as a whole).
const OWN_ATTR = ['data-wikilink', 'data-heading', 'data-written', 'data-task-line', 'data-label', 'contenteditable'];

// A document's element placed over the page (position: fixed or sticky, or
// absolute and lifted by a z-index) would take a click meant for anything
// else and follow its own link. Only the positions that stay in the flow are
// kept, and no z-index. Escapes and comments are how a declaration hides from
// a simple reading, and no plain inline style needs them: such a style goes
// whole. A style with nothing to remove is left exactly as written.
const FLOW_POSITIONS = new Set(['static', 'relative']);

function flowOnlyStyle(style) {
  if (/[\\]|\/\*/.test(style)) return null;
  const declarations = style.split(';');
  const kept = declarations.filter((declaration) => {
    const colon = declaration.indexOf(':');
    if (colon < 0) return true;
    const property = declaration.slice(0, colon).trim().toLowerCase();
    const value = declaration.slice(colon + 1).replace(/!\s*important/i, '').trim().toLowerCase();
    if (property === 'z-index') return false;
    return property !== 'position' || FLOW_POSITIONS.has(value);
  });
  return kept.length === declarations.length ? style : kept.join(';');
}

// One comment, and after it nothing but line breaks: no markup in it, nothing that could end it
// early or that the sanitiser takes out ("--", ">", "<"), nothing the parser would change.
const INERT_COMMENT = /^<!--(?:[^<>\r\0-]|-(?!-))*-->\n*$/;

export function createSanitizer(win) {
  // Made when a note first has raw HTML: most have none, and making it took some 5 to 15 ms of
  // every page's start.
  let made = null;
  const purify = () => {
    if (made) return made;
    made = createDOMPurify(win);
    made.addHook('afterSanitizeAttributes', (node) => {
      // Task checkboxes are the only live controls a rendered document holds.
      if (node.nodeName === 'INPUT' && node.getAttribute('type') !== 'checkbox') {
        node.setAttribute('disabled', '');
      }
      // A document may make its markup read-only, never editable: an editable
      // island would take typing in the read mode, or inside raw HTML, that the
      // page cannot write back as the user meant.
      if (node.hasAttribute('contenteditable') && node.getAttribute('contenteditable') !== 'false') {
        node.removeAttribute('contenteditable');
      }
      const style = node.getAttribute('style');
      if (style !== null) {
        const kept = flowOnlyStyle(style);
        if (kept === null || !kept.trim()) node.removeAttribute('style');
        else if (kept !== style) node.setAttribute('style', kept);
      }
    });
    return made;
  };
  const config = {
    FORBID_TAGS,
    FORBID_ATTR,
    ADD_ATTR: OWN_ATTR,
    ALLOW_DATA_ATTR: false,
    // Ids from a document are prefixed so they cannot shadow the page's own
    // elements or globals (DOM clobbering).
    SANITIZE_NAMED_PROPS: true,
  };
  const thorough = (html) => purify().sanitize(html, config);
  // A piece that is one comment of plain text (documentation keeps its metadata in comments,
  // eight hundred of them in a 0.9 MB note) comes back from the sanitiser empty, as comments
  // do; each was a pass of its own, a tenth of an export's time.
  const one = (html) => (INERT_COMMENT.test(html) ? '' : thorough(html));
  one.thorough = thorough;
  // Many pieces in one pass: each pass parses its input as a document of its own, and a long
  // note with raw HTML in thousands of blocks spent seconds on that alone. Each piece goes in a
  // wrapper marked with a token no document can know; when the wrappers do not come back one
  // for one, in order, holding all there is (a piece left an element open that swallowed the
  // next), every piece goes through on its own.
  const batch = { ...config, ADD_ATTR: [...OWN_ATTR, 'data-qv-piece'], RETURN_DOM_FRAGMENT: true };
  // Text without markup comes back as it is, and what opens with an element of a document's
  // head is parsed there: such pieces go alone, as they would.
  const alone = (html) => !html.includes('<') || INERT_COMMENT.test(html) || /^\s*<(?:script|style|meta|link|title|base|basefont|bgsound|noscript|template)\b/i.test(html);
  // A pass that does not come back whole is split in two, so that one unruly piece costs a few
  // more passes, not one for every piece.
  const together = (pieces) => {
    if (pieces.length < 2) return pieces.map(one);
    const token = `${Math.random().toString(36).slice(2)}${Date.now().toString(36)}`;
    const marked = pieces.map((html, k) => `<div data-qv-piece="${token}-${k}">${html}</div>`).join('');
    const kids = [...purify().sanitize(marked, batch).childNodes];
    const whole = kids.length === pieces.length && kids.every((el, k) => el.nodeType === 1
      && el.localName === 'div' && el.attributes.length === 1 && el.getAttribute('data-qv-piece') === `${token}-${k}`);
    if (whole) {
      // The mark is allowed for the wrappers alone: a document's own goes, as it would alone.
      return kids.map((el) => {
        for (const own of el.querySelectorAll('[data-qv-piece]')) own.removeAttribute('data-qv-piece');
        return el.innerHTML;
      });
    }
    const half = pieces.length >> 1;
    return together(pieces.slice(0, half)).concat(together(pieces.slice(half)));
  };
  one.many = (pieces) => {
    const out = pieces.map((html) => (alone(html) ? one(html) : null));
    const rest = pieces.map((html, i) => i).filter((i) => out[i] === null);
    together(rest.map((i) => pieces[i])).forEach((clean, k) => { out[rest[k]] = clean; });
    return out;
  };
  return one;
}
