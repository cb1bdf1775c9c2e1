// What the reader's mouse and clipboard do in the page: links never navigate
// the page but go to the host, checkboxes tick tasks, pasted images go to the
// host to be stored beside the document.

import { isWebUrl } from './urls.js';
import { message } from './protocol.js';

const XLINK = 'http://www.w3.org/1999/xlink';

const hrefOf = (a) => a.getAttribute('href') ?? a.getAttributeNS(XLINK, 'href');

// The link a click lands in. SVG links, image-map areas and MathML elements
// with an href navigate too, so every element that carries an address counts:
// none of them may be left to the engine, which would load the address into
// the preview itself.
export function linkAt(root, node) {
  for (let n = node?.nodeType === 1 ? node : node?.parentElement; n && n !== root; n = n.parentElement) {
    if (n.localName === 'a' || n.localName === 'area' || n.hasAttribute('href') || n.hasAttributeNS(XLINK, 'href')) {
      return n;
    }
  }
  return null;
}

export function linkKind(a) {
  if (!a) return '';
  if (a.hasAttribute('data-wikilink')) return 'wikilink';
  const href = hrefOf(a) ?? '';
  if (isWebUrl(href)) return 'web';
  if (href.startsWith('#')) return 'anchor';
  return href.startsWith('file:') ? 'file' : 'other';
}

export function linkMessage(a) {
  if (a.hasAttribute('data-wikilink')) {
    return message.wikilink(a.getAttribute('data-wikilink'), a.getAttribute('data-heading') ?? '');
  }
  const href = hrefOf(a) ?? '';
  return message.link(href, a.getAttribute('data-written') ?? href);
}

function readBase64(win, file) {
  return new Promise((resolve, reject) => {
    const reader = new win.FileReader();
    reader.onload = () => resolve(String(reader.result).replace(/^data:[^,]*,/, ''));
    reader.onerror = () => reject(reader.error);
    reader.readAsDataURL(file);
  });
}

export function installGestures({ win, root, post, editable, taskIndex, beforeTask, markdownToHtml, formatter }) {
  const doc = win.document;
  let contextLink = null;

  function follow(a) {
    const href = hrefOf(a) ?? '';
    if (!a.hasAttribute('data-wikilink') && href.startsWith('#')) {
      // A footnote or a heading of this very note: the page scrolls itself.
      const id = decodeURIComponent(href.slice(1));
      (doc.getElementById(id) ?? doc.getElementById(`user-content-${id}`))?.scrollIntoView({ block: 'start' });
      return;
    }
    post(linkMessage(a));
  }

  root.addEventListener('click', (event) => {
    const target = event.target;
    if (target.nodeName === 'INPUT' && target.type === 'checkbox') {
      if (target.disabled) return;
      beforeTask();
      const index = taskIndex(target);
      if (index < 0) { event.preventDefault(); return; }
      post(message.task(index, target.checked));
      return;
    }
    const a = linkAt(root, target);
    if (!a) return;
    event.preventDefault();
    if (hrefOf(a) === null && !a.hasAttribute('data-wikilink')) return;
    // While editing, a plain click places the caret; Ctrl or Cmd follows.
    if (editable() && !(event.ctrlKey || event.metaKey)) return;
    follow(a);
  });
  // A middle click would open the link in a new window of the engine's own.
  root.addEventListener('auxclick', (event) => {
    if (linkAt(root, event.target)) event.preventDefault();
  });

  root.addEventListener('contextmenu', (event) => {
    contextLink = linkAt(root, event.target);
    post(message.contextmenu(linkKind(contextLink)));
  });

  root.addEventListener('paste', (event) => {
    if (!editable()) return;
    const data = event.clipboardData;
    const image = [...(data?.items ?? [])].find((item) => item.kind === 'file' && item.type.startsWith('image/'));
    event.preventDefault();
    if (image) {
      readBase64(win, image.getAsFile()).then((b64) => post(message.pasteImage(b64)), () => {});
      return;
    }
    const text = data?.getData('text/plain') ?? '';
    if (!text) return;
    // Pasted text is read as Markdown: a single line stays inline text, more
    // becomes the blocks it describes.
    if (!text.includes('\n')) formatter.insertText(text);
    else formatter.insertHtml(markdownToHtml(text));
  });

  return {
    openContextLink() {
      if (contextLink?.isConnected) follow(contextLink);
    },
    editContextLink() {
      const a = contextLink;
      if (!a?.isConnected || !editable()) return;
      if (a.hasAttribute('data-wikilink')) {
        const answer = win.prompt('Note', a.getAttribute('data-wikilink'));
        if (answer === null || !answer.trim()) return;
        a.setAttribute('data-wikilink', answer.trim());
        formatter.touch(a);
        return;
      }
      const current = a.getAttribute('data-written') ?? a.getAttribute('href') ?? '';
      const answer = win.prompt('Link address', current);
      if (answer === null) return;
      formatter.setLinkTarget(a, answer.trim());
    },
    unlinkContextLink() {
      const a = contextLink;
      if (!a?.isConnected || !editable()) return;
      const parent = a.parentNode;
      a.replaceWith(...a.childNodes);
      parent.normalize();
      formatter.touch(parent);
      contextLink = null;
    },
  };
}
