// The page: its pieces made and joined, and handed to the protocol, which makes of them the
// object the host calls (the global `quorvel`). Built on a window and its content element so
// that tests can run it on a jsdom document.

import { reportScrolling } from './scroll.js';
import { createView } from './view.js';
import { createFormatter } from './format.js';
import { installStructure } from './structure.js';
import { installGestures } from './gestures.js';
import { resolveUrl } from './urls.js';
import { createHost, message } from './protocol.js';

const HISTORY_KEYS = { z: 'undo', Z: 'redo', y: 'redo', Y: 'redo' };

export function createPage({ win, root, post, diagramScript, makeWorker, sizes }) {
  reportScrolling(win, (fraction) => post(message.scroll(fraction)));
  const view = createView({ win, root, post, diagramScript, makeWorker, sizes });

  const formatter = createFormatter({
    win, root, touch: (node) => view.touch(node), resolve: (path) => resolveUrl(path, view.folder()),
  });
  // A command is a step of its own in the document's history: the typing before it is sent
  // first, the command's change right after it.
  for (const name of ['format', 'insertImage', 'pastePlain']) {
    const command = formatter[name];
    formatter[name] = (...args) => {
      view.postEdit();
      const result = command(...args);
      view.postEdit();
      return result;
    };
  }

  installStructure({ win, root, editable: () => view.editable(), formatter });

  // Undo and redo are the document's, shared with the source view: the host takes back the
  // last change wherever it was made and sends the result.
  function history(kind) {
    view.postEdit();
    post(kind === 'redo' ? message.redo() : message.undo());
  }
  root.addEventListener('keydown', (event) => {
    if (!view.editable() || !(event.ctrlKey || event.metaKey) || event.altKey) return;
    let kind = HISTORY_KEYS[event.key];
    if (kind === 'undo' && event.shiftKey) kind = 'redo';
    if (!kind) return;
    event.preventDefault();
    history(kind);
  });
  root.addEventListener('beforeinput', (event) => {
    if (!view.editable()) return;
    if (event.inputType === 'historyUndo' || event.inputType === 'historyRedo') {
      event.preventDefault();
      history(event.inputType === 'historyUndo' ? 'undo' : 'redo');
    }
  });

  const gestures = installGestures({
    win, root, post,
    editable: () => view.editable(),
    taskIndex: (checkbox) => view.taskIndexOf(checkbox),
    beforeTask: () => view.postEdit(),
    markdownToHtml: (text) => view.markdownToHtml(text),
    formatter,
  });

  return createHost({ view, formatter, gestures, history });
}
