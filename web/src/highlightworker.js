// The helper thread that colours code for the page (see highlightlater.js): the same grammars
// and settings as the page's own, so that its colours are the page's. Each message is a batch
// of [id, text, language]; the answer gives each id its markup.

import { createHighlighter } from './highlighter.js';

const highlighter = createHighlighter();

// Said once the script has loaded: the page builds on until then, since a helper thread starts
// only while the page's own thread is free.
globalThis.postMessage('ready');

globalThis.onmessage = ({ data }) => {
  globalThis.postMessage(data.map(([id, text, lang]) => [id, highlighter.highlight(text, lang)]));
};
