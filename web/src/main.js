// The page's entry: wires the bridge to the page and publishes `quorvel`.
import { createBridge } from './bridge.js';
import { createPage } from './page.js';

const bridge = createBridge(window);
const start = () => {
  window.quorvel = createPage({ win: window, root: document.getElementById('content'), post: bridge.post });
  bridge.documentLoaded();
};
bridge.connect();
if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start, { once: true });
else start();
