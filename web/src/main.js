// The page's entry: wires the bridge to the page and publishes `quorvel`.
import { createBridge } from './bridge.js';
import { createPage } from './page.js';

const bridge = createBridge(window);
const start = () => {
  window.quorvel = createPage({ win: window, root: document.getElementById('content'), post: bridge.post });
  bridge.documentLoaded();
};
bridge.connect();
// The script stands after the page's content element: the page can start without waiting for
// the rest of the document to be parsed.
if (document.getElementById('content') || document.readyState !== 'loading') start();
else document.addEventListener('DOMContentLoaded', start, { once: true });
