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

function cleanClone(root) {
  const clone = root.cloneNode(true);
  for (const shelf of clone.querySelectorAll(':scope > .shelf')) shelf.replaceWith(...shelf.childNodes);
  for (const mark of clone.querySelectorAll('mark.find-hit')) mark.replaceWith(...mark.childNodes);
  for (const katex of clone.querySelectorAll('.katex')) {
    const math = katex.querySelector('math');
    if (math) katex.replaceWith(math);
  }
  for (const src of clone.querySelectorAll('.diagram.done > .diagram-source')) src.remove();
  for (const el of clone.querySelectorAll('*')) {
    for (const { name } of [...el.attributes]) {
      if (/^on/i.test(name) || name === 'contenteditable' || name === 'data-from' || name === 'data-to' || name === 'data-written') {
        el.removeAttribute(name);
      }
    }
  }
  for (const box of clone.querySelectorAll('input')) box.setAttribute('disabled', '');
  for (const a of clone.querySelectorAll('a.wikilink')) {
    if (!a.dataset.href) a.removeAttribute('href');
    else a.setAttribute('href', a.dataset.href);
  }
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
  for (const el of root.querySelectorAll('*')) {
    for (const { name, value } of el.attributes) {
      if (name !== 'srcset' && /^\s*file:/i.test(value)) found.add(value);
    }
  }
  return [...found];
}

// `images` maps an image's file: address to the data: address the host made of
// it; `base` is the exported file's folder as a file: URL; `present`, when
// given, lists the addresses whose file is there: any other is left out, so
// that the file never points at something that is not beside it. Every
// attribute is looked at, not only src and href: a data-href names a file just
// as well.
function localAddresses(clone, { images, base, present }) {
  const there = Array.isArray(present) ? new Set(present) : null;
  for (const el of clone.querySelectorAll('*')) {
    for (const { name, value } of [...el.attributes]) {
      if (name === 'srcset' && /file:/i.test(value)) el.removeAttribute(name);
      if (!/^\s*file:/i.test(value)) continue;
      const inlined = name === 'src' && el.localName === 'img' ? images?.[value] : undefined;
      if (typeof inlined === 'string' && inlined.startsWith('data:')) el.setAttribute(name, inlined);
      else if (there && !there.has(value)) el.removeAttribute(name);
      else el.setAttribute(name, relativeUrl(value.trim(), base));
    }
  }
}

export function exportHtml(win, root, { title, css, themeAttrs, images, base, present }) {
  const clone = cleanClone(root);
  localAddresses(clone, { images, base, present });
  const style = String(css ?? '').replace(/<\/style/gi, '<\\/style');
  const { theme, style: vars } = themeAttrs;
  return '<!DOCTYPE html>\n' +
    `<html lang="en" data-theme="${esc(theme)}" style="${esc(vars)}">\n<head>\n<meta charset="utf-8">\n` +
    '<meta name="viewport" content="width=device-width, initial-scale=1">\n' +
    `<title>${esc(title ?? '')}</title>\n<style>\n${style}\n</style>\n</head>\n` +
    `<body>\n<main id="content" class="exported">\n${clone.innerHTML}\n</main>\n</body>\n</html>\n`;
}
