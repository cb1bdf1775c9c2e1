// Code highlighting with the grammars of grammars.js, each made when a code block first names
// it (or one of its aliases). Making all 36 at the first block cost some 20 ms of every page's
// first render, most often for the one language a note uses.

import hljsCore from 'highlight.js/lib/core';
import { grammars, grammarAliases } from './grammars.js';

const byName = new Map(grammars);

// The languages a grammar hands parts of its code to (the CSS and script inside HTML): they are
// made with it, so that the code highlights as it would with every grammar there.
function subLanguagesOf(definition) {
  const found = new Set();
  const seen = new Set();
  const walk = (mode) => {
    if (!mode || typeof mode !== 'object' || seen.has(mode)) return;
    seen.add(mode);
    if (mode.subLanguage) [].concat(mode.subLanguage).forEach((name) => found.add(name));
    for (const value of Object.values(mode)) walk(value);
  };
  walk(definition);
  return found;
}

export function createHighlighter() {
  const hljs = hljsCore.newInstance();
  const made = new Set();

  function make(name) {
    const grammar = byName.get(name);
    if (!grammar || made.has(name)) return;
    made.add(name);
    hljs.registerLanguage(name, grammar);
    for (const sub of subLanguagesOf(hljs.getLanguage(name))) make(sub);
  }

  function language(lang) {
    const name = String(lang).toLowerCase();
    make(grammarAliases[name] ?? name);
    return hljs.getLanguage(name);
  }

  return {
    highlight(code, lang) {
      if (!lang || !language(lang)) return '';
      try {
        return hljs.highlight(code, { language: lang, ignoreIllegals: true }).value;
      } catch {
        return '';
      }
    },
    // The grammars made so far.
    made: () => [...made],
  };
}
