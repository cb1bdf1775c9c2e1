// Code blocks that a long document's first render left plain are highlighted
// afterwards, a few at a time, so that the page stays responsive.

const PER_TICK = 40;

export function createLateHighlighter(win, { highlight, quietly }) {
  const queue = [];
  let scheduled = false;

  function tick() {
    scheduled = false;
    quietly(() => {
      for (const code of queue.splice(0, PER_TICK)) {
        const lang = /(?:^|\s)language-(\S+)/.exec(code.className)?.[1];
        // Skip what was replaced or highlighted in the meantime.
        if (!code.isConnected || !lang || code.firstElementChild) continue;
        const html = highlight(code.textContent, lang);
        if (html) code.innerHTML = html;
      }
    });
    if (queue.length) schedule();
  }

  function schedule() {
    if (scheduled) return;
    scheduled = true;
    win.setTimeout(tick, 0);
  }

  return {
    add(els) {
      for (const el of els) {
        for (const code of el.querySelectorAll('pre > code[class*="language-"]')) {
          if (!code.firstElementChild) queue.push(code);
        }
      }
      if (queue.length) schedule();
    },
  };
}
