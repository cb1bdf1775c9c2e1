// One standalone HTML file of what the page shows: the stylesheet inlined,
// no scripts, formulas as MathML, diagrams as their SVG, local images inlined.

const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');

// Synchronous on purpose: the host asks for the file in one script call.
// Reading a file: URL as a binary string is the one way to get its bytes
// synchronously; where the engine refuses, the image keeps its URL.
export function readAsDataUrl(win, url) {
  try {
    const xhr = new win.XMLHttpRequest();
    xhr.open('GET', url, false);
    xhr.overrideMimeType('text/plain; charset=x-user-defined');
    xhr.send();
    if ((xhr.status !== 0 && xhr.status !== 200) || !xhr.responseText) return null;
    const raw = xhr.responseText;
    let bin = '';
    for (let i = 0; i < raw.length; i += 1) bin += String.fromCharCode(raw.charCodeAt(i) & 0xff);
    return `data:${mimeOf(url)};base64,${win.btoa(bin)}`;
  } catch {
    return null;
  }
}

function mimeOf(url) {
  const ext = /\.([a-z0-9]+)(?:[?#]|$)/i.exec(url)?.[1]?.toLowerCase();
  return {
    png: 'image/png', jpg: 'image/jpeg', jpeg: 'image/jpeg', gif: 'image/gif', webp: 'image/webp',
    svg: 'image/svg+xml', bmp: 'image/bmp', avif: 'image/avif',
  }[ext] ?? 'application/octet-stream';
}

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
      if (/^on/i.test(name) || name === 'contenteditable' || name === 'data-from' || name === 'data-to') {
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

export function exportHtml(win, root, { title, css, themeAttrs }) {
  const clone = cleanClone(root);
  for (const img of clone.querySelectorAll('img[src^="file:"]')) {
    const data = readAsDataUrl(win, img.getAttribute('src'));
    if (data) img.setAttribute('src', data);
  }
  const style = String(css ?? '').replace(/<\/style/gi, '<\\/style');
  const { theme, style: vars } = themeAttrs;
  return '<!DOCTYPE html>\n' +
    `<html lang="en" data-theme="${esc(theme)}" style="${esc(vars)}">\n<head>\n<meta charset="utf-8">\n` +
    '<meta name="viewport" content="width=device-width, initial-scale=1">\n' +
    `<title>${esc(title ?? '')}</title>\n<style>\n${style}\n</style>\n</head>\n` +
    `<body>\n<main id="content" class="exported">\n${clone.innerHTML}\n</main>\n</body>\n</html>\n`;
}
