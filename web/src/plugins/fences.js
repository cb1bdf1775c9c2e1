// Fenced code: highlighted by language, and "mermaid" fences as diagrams

export default function fences(md, { highlight }) {
  const defaultFence = md.renderer.rules.fence;
  const esc = md.utils.escapeHtml;
  md.options.highlight = highlight;
  md.renderer.rules.fence = (tokens, idx, options, env, self) => {
    const token = tokens[idx];
    const lang = token.info.trim().split(/\s+/)[0];
    if (lang !== 'mermaid') {
      // Code is no prose: the spell checker leaves it alone.
      token.attrSet('spellcheck', 'false');
      // A long document shows first and is highlighted a moment later: the
      // highlighter is a third of the time a full render takes.
      return defaultFence(tokens, idx, env.deferHighlight ? { ...options, highlight: null } : options, env, self);
    }
    // The source stays in the block: the diagram is drawn beside it once the
    // lazily loaded renderer is there, and Markdown is written back from it.
    return '<div class="diagram" contenteditable="false"><pre class="diagram-source">' +
      `<code class="language-mermaid">${esc(token.content)}</code></pre></div>\n`;
  };
}
