// Shared by the benchmarks: a page on a jsdom window, and a canonical form of
// HTML for comparing what we render with what a reference says.
import { JSDOM } from 'jsdom';
import { createPage } from '../src/page.js';

export function makeWindow() {
  const dom = new JSDOM('<!doctype html><html><head></head><body></body></html>', {
    url: 'file:///opt/quorvel/web/index.html', pretendToBeVisual: true,
  });
  dom.window.HTMLElement.prototype.scrollIntoView = () => {};
  return dom.window;
}

export function freshPage(win) {
  const root = win.document.createElement('main');
  win.document.body.replaceChildren(root);
  const messages = [];
  const page = createPage({ win, root, post: (m) => messages.push(m) });
  return { page, root, messages };
}

const BLOCK = new Set(['address', 'article', 'aside', 'blockquote', 'body', 'dd', 'details', 'div', 'dl',
  'dt', 'fieldset', 'figure', 'footer', 'form', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6', 'header', 'hr',
  'li', 'main', 'nav', 'ol', 'p', 'pre', 'section', 'table', 'tbody', 'td', 'th', 'thead', 'tr', 'ul']);

// Attributes and wrappers that only the page adds (source ranges, heading
// anchors, highlighting spans, the wrapper of raw HTML blocks) do not count.
function ownAttribute(el, name) {
  return name.startsWith('data-') || name === 'contenteditable' ||
    (name === 'id' && /^h[1-6]$/.test(el.localName));
}

function ownClasses(value) {
  return value.split(/\s+/).filter((c) => c && !c.startsWith('hljs')).join(' ');
}

function canon(node, inPre, out) {
  let text = '';
  const flushText = () => {
    if (text) out.push(inPre ? text : text.replace(/\s+/g, ' '));
    text = '';
  };
  for (const child of node.childNodes) {
    if (child.nodeType === 3) {
      text += child.data;
      continue;
    }
    if (child.nodeType === 1) flushText();
    if (child.nodeType === 1) {
      const tag = child.localName;
      if ((tag === 'div' && (child.classList.contains('raw-html') || child.classList.contains('shelf'))) ||
          (tag === 'span' && /^hljs/.test(child.getAttribute('class') ?? ''))) {
        canon(child, inPre, out);
        continue;
      }
      const attrs = [...child.attributes]
        .filter((a) => !ownAttribute(child, a.name))
        .map((a) => [a.name, a.name === 'class' ? ownClasses(a.value) : a.value])
        .filter(([n, v]) => !(n === 'class' && !v))
        .sort((a, b) => (a[0] < b[0] ? -1 : 1))
        .map(([n, v]) => ` ${n}="${v}"`).join('');
      const block = BLOCK.has(tag);
      if (block) out.push('\n');
      out.push(`<${tag}${attrs}>`);
      if (block) out.push('\n');
      canon(child, inPre || tag === 'pre', out);
      if (block) out.push('\n');
      out.push(`</${tag}>`);
      if (block) out.push('\n');
    }
  }
  flushText();
}

export function canonical(node) {
  const out = [];
  canon(node, false, out);
  return out.join('').replace(/ *\n[\n ]*/g, '\n').trim();
}

export function canonicalHtml(win, html) {
  const t = win.document.createElement('template');
  t.innerHTML = html;
  return canonical(t.content);
}
