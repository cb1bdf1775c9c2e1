// Diagrams are drawn by a renderer large enough that it is loaded only for
// documents that have one: a classic script beside the bundle, because
// module scripts do not load from file: URLs.

export function createDiagrams(win, { scriptUrl = 'mermaid.js', quietly = (fn) => fn() } = {}) {
  let loading = null;
  let counter = 0;

  function load() {
    loading ??= new Promise((resolve, reject) => {
      if (win.QuorvelMermaid) { resolve(win.QuorvelMermaid); return; }
      const script = win.document.createElement('script');
      script.src = scriptUrl;
      script.onload = () => (win.QuorvelMermaid ? resolve(win.QuorvelMermaid) : reject(new Error('no renderer')));
      script.onerror = () => reject(new Error('renderer not found'));
      win.document.head.append(script);
    });
    return loading;
  }

  async function draw(mermaid, el, dark) {
    const code = el.querySelector('code')?.textContent ?? '';
    try {
      mermaid.initialize({ startOnLoad: false, securityLevel: 'strict', theme: dark ? 'dark' : 'neutral' });
      const { svg } = await mermaid.render(`qv-diagram-${counter += 1}`, code);
      quietly(() => {
        el.querySelector('.diagram-svg')?.remove();
        const holder = win.document.createElement('div');
        holder.className = 'diagram-svg';
        holder.innerHTML = svg;
        el.append(holder);
        el.classList.add('done');
        el.classList.remove('failed');
      });
    } catch {
      quietly(() => el.classList.add('failed'));
    }
  }

  return {
    // Draws the diagrams among `els` that are not drawn yet.
    async render(els, dark) {
      const pending = els.filter((el) => el.classList?.contains('diagram') && !el.classList.contains('done'));
      if (!pending.length) return;
      let mermaid;
      try {
        mermaid = await load();
      } catch {
        loading = null;
        return;
      }
      // One at a time: the renderer keeps global state while it draws.
      for (const el of pending) await draw(mermaid, el, dark);
    },
  };
}
