// Code blocks that a long document's first render left plain are highlighted
// afterwards, a few at a time, so that the page stays responsive: each turn
// stops after a few milliseconds, so that a render or a script call from the
// host waits at most that long behind it (a fixed count of 40 blocks a turn
// held a typed character's render back by 100 ms and more on a 1 MB note).

const BUDGET_MS = 6;

// `wait()`: how long to hold off, in milliseconds, so that typing goes first.
export function createLateHighlighter(win, { highlight, quietly, wait = () => 0 }) {
  let queue = [];
  let head = 0;
  let scheduled = false;
  let waiting = [];

  const now = () => win.performance?.now() ?? Date.now();

  function tick(budget = BUDGET_MS) {
    scheduled = false;
    const later = budget === BUDGET_MS ? wait() : 0;
    if (later > 0) {
      scheduled = true;
      win.setTimeout(tick, later);
      return;
    }
    const end = now() + budget;
    quietly(() => {
      while (head < queue.length && now() < end) {
        const code = queue[head++];
        const lang = /(?:^|\s)language-(\S+)/.exec(code.className)?.[1];
        // Skip what was replaced or highlighted in the meantime.
        if (!code.isConnected || !lang || code.firstElementChild) continue;
        const html = highlight(code.textContent, lang);
        if (html) code.innerHTML = html;
      }
    });
    if (head < queue.length) schedule();
    else {
      queue = [];
      head = 0;
      const done = waiting;
      waiting = [];
      done.forEach((resolve) => resolve());
    }
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
      if (head < queue.length) schedule();
    },
    // Highlights what is left at once: nobody is typing, a document is being written out.
    finish() {
      if (head < queue.length) tick(Infinity);
    },
    // Settles once every queued block is highlighted.
    idle() {
      if (head >= queue.length) return Promise.resolve();
      return new Promise((resolve) => waiting.push(resolve));
    },
  };
}
