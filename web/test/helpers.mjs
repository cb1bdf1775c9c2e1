// A page on a jsdom document, with the messages it posts collected, and the
// reader of our fixture files.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { JSDOM, VirtualConsole } from 'jsdom';
import { createPage } from '../src/page.js';

// Timers under the test's control: nothing waits on the wall clock.
function manualClock(win) {
  let now = 0;
  let nextId = 1;
  const timers = new Map();
  win.setTimeout = (fn, ms = 0) => {
    const id = nextId++;
    timers.set(id, { at: now + ms, fn });
    return id;
  };
  win.clearTimeout = (id) => timers.delete(id);
  // A frame comes with the next tick, unless the test holds frames back to see what waits
  // for one.
  let held = null;
  win.requestAnimationFrame = (fn) => {
    if (held) return held.push(fn);
    return win.setTimeout(() => fn(now), 0);
  };
  return {
    holdFrames() {
      held = [];
    },
    frame() {
      for (const fn of held.splice(0)) fn(now);
    },
    advance(ms) {
      now += ms;
      for (const [id, t] of [...timers].sort((a, b) => a[1].at - b[1].at)) {
        if (t.at <= now && timers.delete(id)) t.fn();
      }
    },
    pending: () => timers.size,
  };
}

export function makePage({ runScripts, sizes, makeWorker } = {}) {
  // jsdom reports a navigation it cannot perform as an error: here that is
  // the page leaving itself, which a test wants to see, not a log line.
  const navigations = [];
  const virtualConsole = new VirtualConsole().sendTo(console, { omitJSDOMErrors: true });
  virtualConsole.on('jsdomError', (e) => (/navigation/i.test(e.message) ? navigations.push(e.message) : console.error(e)));
  const dom = new JSDOM('<!doctype html><html><head></head><body><main id="content"></main></body></html>', {
    url: 'file:///opt/quorvel/web/index.html', pretendToBeVisual: true, runScripts, virtualConsole,
  });
  const win = dom.window;
  win.HTMLElement.prototype.scrollIntoView = function scrollIntoView() { this.ownerDocument.lastScrolled = this; };
  const clock = manualClock(win);
  const root = win.document.getElementById('content');
  const messages = [];
  const waiting = [];
  // The text as the host holds it, kept from what the page is sent and what it posts: the
  // page's edits travel as changes, and a test reads the text they make.
  const host = { text: '' };
  const applyChange = (c) => {
    assert.equal(c.length, host.text.length, 'a change measured against another text');
    host.text = host.text.slice(0, c.start) + c.inserted + host.text.slice(c.start + c.removed);
  };
  const post = (m) => {
    if (m.type === 'edit') {
      applyChange(m);
      m = { type: 'edit', source: host.text };
    }
    messages.push(m);
    for (const w of waiting.filter((x) => x.type === m.type)) {
      waiting.splice(waiting.indexOf(w), 1);
      w.resolve(m);
    }
  };
  // The page's own clock is the wall clock, which these timers do not follow: what waits for a
  // pause in typing does not wait here unless a test asks for it.
  const raw = createPage({ win, root, post, makeWorker, sizes: { typingPause: 0, ...sizes } });
  const page = {
    ...raw,
    render(markdown, ...rest) {
      if (typeof markdown === 'string') host.text = markdown;
      return raw.render(markdown, ...rest);
    },
    update(delta) {
      const ok = raw.update(delta);
      const d = ok && typeof delta === 'string' ? JSON.parse(delta) : delta;
      if (ok) host.text = host.text.slice(0, d.start) + d.inserted + host.text.slice(d.start + d.removed);
      return ok;
    },
    // The text after the page's pending edit, as the host would make it.
    flushEdit() {
      const change = raw.flushEdit();
      if (change) applyChange(change);
      return host.text;
    },
  };
  const of = (type) => messages.filter((m) => m.type === type);
  // The outline as the host holds it: a part replaces its span of the one before, which must
  // be as long as the page says.
  const outline = () => of('outline').reduce((held, m) => {
    if (m.from === undefined) return m.items;
    assert.equal(held.length, m.before, 'a part of the outline made from another one');
    return [...held.slice(0, m.from), ...m.items, ...held.slice(m.from + m.removed)];
  }, []);
  // The first message of a type, posted already or still to come: work the
  // page finishes later (a FileReader) is awaited as the message itself.
  const posted = (type) => new Promise((resolve) => {
    const m = messages.find((x) => x.type === type);
    if (m) resolve(m);
    else waiting.push({ type, resolve });
  });
  // MutationObserver callbacks run as microtasks.
  const settle = () => new Promise((r) => setImmediate(r));
  // jsdom follows a link in a timer task of its own; a zero timer queued
  // after it runs after it (timers of one delay keep their order), so this
  // waits for that task, not for a length of time.
  const tasksRun = () => new Promise((r) => setTimeout(r, 0));
  return { dom, win, doc: win.document, root, page, messages, of, outline, posted, clock, settle, tasksRun, navigations };
}

// Fixture files hold cases as
//   ### name
//   input
//   .
//   expected
// with "." alone on a line between the parts.
export function readFixtures(url) {
  const text = readFileSync(url, 'utf8');
  const cases = [];
  for (const chunk of text.split(/^### /m).slice(1)) {
    const nl = chunk.indexOf('\n');
    const name = chunk.slice(0, nl).trim();
    const parts = chunk.slice(nl + 1).split(/^\.\n/m);
    cases.push({ name, input: parts[0], expected: parts[1]?.replace(/\n+$/, '\n') ?? '' });
  }
  return cases;
}

// A seeded generator, so that a failing run can be run again.
export function random(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6D2B79F5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (n) => Math.floor(next() * n);
  return { next, int, pick: (xs) => xs[int(xs.length)] };
}
