// Code blocks that a long document's first render left plain are highlighted
// afterwards, a few at a time, so that the page stays responsive: each turn
// stops after a few milliseconds, so that a render or a script call from the
// host waits at most that long behind it (a fixed count of 40 blocks a turn
// held a typed character's render back by 100 ms and more on a 1 MB note).

const BUDGET_MS = 6;

// Code sent to a helper thread at a time: small enough that its colours come back while the
// page is still building the rest, large enough that the messages cost nothing.
const BATCH_CHARS = 32 * 1024;

const languageOf = (code) => /(?:^|\s)language-(\S+)/.exec(code.className)?.[1];

// `wait()`: how long to hold off, in milliseconds, so that typing goes first.
// `makeWorker()`, when given, starts a helper thread that colours code (highlightworker.js):
// used only when everything is wanted at once (an export), where the colouring then runs
// beside the building of the rest instead of after it.
export function createLateHighlighter(win, { highlight, quietly, wait = () => 0, makeWorker = null }) {
  let queue = [];
  let head = 0;
  let scheduled = false;
  let waiting = [];
  // The helper thread while one is at work: what it was sent and not yet answered, by id.
  let helper = null;

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
        const lang = languageOf(code);
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
      settle();
    }
  }

  function settle() {
    if (head < queue.length || helper) return;
    const done = waiting;
    waiting = [];
    done.forEach((resolve) => resolve());
  }

  // Hands the queued code to the helper, in batches it answers one at a time.
  function send() {
    let batch = [];
    let chars = 0;
    const flush = () => {
      if (batch.length) helper.worker.postMessage(batch);
      batch = [];
      chars = 0;
    };
    while (head < queue.length) {
      const code = queue[head++];
      const lang = languageOf(code);
      if (!code.isConnected || !lang || code.firstElementChild) continue;
      const text = code.textContent;
      const id = helper.next++;
      helper.sent.set(id, { code, text });
      batch.push([id, text, lang]);
      chars += text.length;
      if (chars >= BATCH_CHARS) flush();
    }
    flush();
    queue = [];
    head = 0;
  }

  function answered({ data }) {
    if (!helper) return;
    if (data === 'ready') helper.ready();
    if (!Array.isArray(data)) return;
    quietly(() => {
      for (const [id, html] of data) {
        const job = helper.sent.get(id);
        if (!job) continue;
        helper.sent.delete(id);
        // What was edited or coloured since it was sent keeps what it has now.
        const { code, text } = job;
        if (html && code.isConnected && !code.firstElementChild && code.textContent === text) code.innerHTML = html;
      }
    });
    if (helper.closing && !helper.sent.size) stop(false);
  }

  // Ends the helper; what it did not answer, when it failed, is coloured here.
  function stop(failed) {
    const ending = helper;
    helper = null;
    ending.ready();
    ending.worker.terminate();
    if (failed) {
      queue = queue.slice(head).concat([...ending.sent.values()].map((job) => job.code));
      head = 0;
      tick(Infinity);
    }
    settle();
  }

  function startHelper(coming) {
    if (helper || !makeWorker || (head >= queue.length && !coming)) return Promise.resolve();
    let worker;
    try {
      worker = makeWorker();
    } catch {
      return Promise.resolve();
    }
    if (!worker) return Promise.resolve();
    let ready;
    const running = new Promise((resolve) => { ready = resolve; });
    helper = { worker, sent: new Map(), next: 0, ready, closing: false };
    worker.addEventListener('message', answered);
    // A helper that cannot start (its script refused, a page opened where workers are not
    // allowed) fails here, and the page colours everything itself.
    worker.addEventListener('error', () => helper?.worker === worker && stop(true));
    send();
    return running;
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
      if (helper) send();
      else if (head < queue.length) schedule();
    },
    // Everything is wanted soon (a document is about to be written out): the code queued now
    // and added until the helper is done goes to a helper thread, when there is one to start.
    // `coming`: more code may be added (the rest of a note still to be built), so a helper is
    // worth starting with nothing queued yet. Settles once the helper runs (or could not start).
    hurry(coming = false) {
      return startHelper(coming);
    },
    // Highlights what is left at once: nobody is typing, a document is being written out.
    // A helper gets nothing more, and ends once it has answered.
    finish() {
      if (helper) {
        helper.closing = true;
        if (!helper.sent.size) stop(false);
      } else if (head < queue.length) {
        tick(Infinity);
      }
    },
    // Settles once every queued block is highlighted.
    idle() {
      if (head >= queue.length && !helper) return Promise.resolve();
      return new Promise((resolve) => waiting.push(resolve));
    },
  };
}
