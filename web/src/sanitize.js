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

export function createSanitizer(win) {
  const purify = createDOMPurify(win);
  purify.addHook('afterSanitizeAttributes', (node) => {
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
  const config = {
    FORBID_TAGS,
    FORBID_ATTR,
    ADD_ATTR: OWN_ATTR,
    ALLOW_DATA_ATTR: false,
    // Ids from a document are prefixed so they cannot shadow the page's own
    // elements or globals (DOM clobbering).
    SANITIZE_NAMED_PROPS: true,
  };
  return (html) => purify.sanitize(html, config);
}
