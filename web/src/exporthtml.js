// One standalone HTML file of what the page shows: the stylesheet inlined,
// no scripts, formulas as MathML, diagrams as their SVG, local images inlined.
//
// The page never reads a file for the export itself: a document could name any
// file the user can read (a key, /etc/hostname, a FIFO) and have its bytes
// copied into a file that is then shared. The host checks each image the page
// shows and hands back the ones that may be inlined; every other local address
// is written relative to the exported file.

import { relativeUrl } from './urls.js';

const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');

// Attributes only the live page has use for.
const PAGE_ONLY = new Set(['contenteditable', 'data-from', 'data-to', 'data-written']);
const LOCAL = /^\s*file:/i;

// Every attribute of every element under `root`, read by name: reading them as objects cost
// twice as much on the 30,000 elements of a 0.9 MB note, most of them a coloured token with a
// class alone.
function eachAttribute(root, visit) {
  const walker = root.ownerDocument.createTreeWalker(root, 1 /* elements */);
  for (let el = walker.nextNode(); el; el = walker.nextNode()) {
    if (!el.hasAttributes()) continue;
    for (const name of el.getAttributeNames()) visit(el, name, el.getAttribute(name));
  }
}

// A copy of the page as it reads: without what only the live page needs, and with its local
// addresses made fit for a file that is shared (see `localAddress`). One walk over the copy's
// attributes does both.
function cleanClone(root, addresses) {
  const clone = root.cloneNode(true);
  for (const shelf of clone.querySelectorAll(':scope > .shelf')) shelf.replaceWith(...shelf.childNodes);
  for (const mark of clone.querySelectorAll('mark.find-hit')) mark.replaceWith(...mark.childNodes);
  for (const katex of clone.querySelectorAll('.katex')) {
    const math = katex.querySelector('math');
    if (math) katex.replaceWith(math);
  }
  for (const src of clone.querySelectorAll('.diagram.done > .diagram-source')) src.remove();
  for (const box of clone.querySelectorAll('input')) box.setAttribute('disabled', '');
  for (const a of clone.querySelectorAll('a.wikilink')) {
    if (!a.dataset.href) a.removeAttribute('href');
    else a.setAttribute('href', a.dataset.href);
  }
  const local = localAddress(addresses);
  eachAttribute(clone, (el, name, value) => {
    // A srcset of local files would need each one checked; the src beside it is enough.
    if (/^on/i.test(name) || PAGE_ONLY.has(name) || (name === 'srcset' && /file:/i.test(value))) el.removeAttribute(name);
    else if (LOCAL.test(value)) local(el, name, value);
  });
  return clone;
}

// The local images the page shows, for the host to look at before an export.
export function localImages(root) {
  return [...new Set([...root.querySelectorAll('img[src^="file:"]')].map((img) => img.getAttribute('src')))];
}

// Every local address the page holds, in any attribute, for the host to say
// which of them lead to a file that is there.
export function localFiles(root) {
  const found = new Set();
  eachAttribute(root, (el, name, value) => {
    if (name !== 'srcset' && LOCAL.test(value)) found.add(value);
  });
  return [...found];
}

// `images` maps an image's file: address to the data: address the host made of
// it; `base` is the exported file's folder as a file: URL; `present`, when
// given, lists the addresses whose file is there: any other is left out, so
// that the file never points at something that is not beside it. Every
// attribute is looked at, not only src and href: a data-href names a file just
// as well.
function localAddress({ images, base, present }) {
  const there = Array.isArray(present) ? new Set(present) : null;
  return (el, name, value) => {
    const inlined = name === 'src' && el.localName === 'img' ? images?.[value] : undefined;
    if (typeof inlined === 'string' && inlined.startsWith('data:')) el.setAttribute(name, inlined);
    else if (there && !there.has(value)) el.removeAttribute(name);
    else el.setAttribute(name, relativeUrl(value.trim(), base));
  };
}

export function exportHtml(win, root, { title, css, themeAttrs, images, base, present }) {
  const clone = cleanClone(root, { images, base, present });
  const style = String(css ?? '').replace(/<\/style/gi, '<\\/style');
  const { theme, style: vars } = themeAttrs;
  return '<!DOCTYPE html>\n' +
    `<html lang="en" data-theme="${esc(theme)}" style="${esc(vars)}">\n<head>\n<meta charset="utf-8">\n` +
    '<meta name="viewport" content="width=device-width, initial-scale=1">\n' +
    `<title>${esc(title ?? '')}</title>\n<style>\n${style}\n</style>\n</head>\n` +
    `<body>\n<main id="content" class="exported">\n${clone.innerHTML}\n</main>\n</body>\n</html>\n`;
}
