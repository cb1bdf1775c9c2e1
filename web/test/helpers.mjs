// A page on a jsdom document, with the messages it posts collected.
import { JSDOM } from 'jsdom';
import { createPage } from '../src/page.js';

export function makePage({ runScripts } = {}) {
  const dom = new JSDOM('<!doctype html><html><head></head><body><main id="content"></main></body></html>', {
    url: 'file:///opt/quorvel/web/index.html', pretendToBeVisual: true, runScripts,
  });
  const win = dom.window;
  win.HTMLElement.prototype.scrollIntoView ??= function scrollIntoView() {};
  const root = win.document.getElementById('content');
  const messages = [];
  const page = createPage({ win, root, post: (m) => messages.push(m) });
  const of = (type) => messages.filter((m) => m.type === type);
  return { dom, win, doc: win.document, root, page, messages, of };
}
