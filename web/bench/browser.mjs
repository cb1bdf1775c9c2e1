// The built page in a real browser engine (the machine's Chromium, headless), timed where the
// user waits: from the call into the page to the second animation frame after it, layout and
// paint included, in a page that has already lived through many renders.
//
//   node bench/browser.mjs [--sizes 1,10] [--quick]      (--sizes 0: only the renders alternating two notes)
//
// Chromium comes from `scripts/setup --bench` (or CHROMIUM=/path/to/chrome).
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import CDP from 'chrome-remote-interface';
import { buildCorpus } from './corpus.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const NODE_DOCS = '/usr/share/doc/nodejs/api';

// Real documentation: the machine's Node.js API docs when installed, else what the packages in
// node_modules ship. Repeated up to the size asked for.
export function documentation(bytes) {
  let parts = [];
  if (existsSync(NODE_DOCS)) {
    parts = readdirSync(NODE_DOCS).filter((n) => n.endsWith('.md')).sort()
      .map((n) => readFileSync(join(NODE_DOCS, n), 'utf8'));
  }
  let base = parts.join('\n');
  if (base.length < 100000) base = buildCorpus(bytes).doc;
  let doc = base;
  while (doc.length < bytes) doc += `\n${base}`;
  return doc.slice(0, doc.lastIndexOf('\n', bytes) + 1);
}

export function findChromium() {
  const candidates = [process.env.CHROMIUM, '/usr/bin/chromium', '/usr/bin/chromium-browser',
    '/usr/bin/google-chrome'].filter(Boolean);
  return candidates.find((c) => existsSync(c));
}

export async function launch(exe) {
  const profile = mkdtempSync(join(tmpdir(), 'qv-bench-'));
  const child = spawn(exe, [
    '--headless=new', '--no-sandbox', '--disable-gpu', '--remote-debugging-port=0',
    `--user-data-dir=${profile}`, '--allow-file-access-from-files', '--enable-precise-memory-info',
    '--js-flags=--expose-gc', '--window-size=900,1000', 'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe'] });
  const port = await new Promise((resolve, reject) => {
    let err = '';
    child.stderr.on('data', (d) => {
      err += d;
      const m = /DevTools listening on ws:\/\/[^:]+:(\d+)\//.exec(err);
      if (m) resolve(Number(m[1]));
    });
    child.on('exit', () => reject(new Error(`chromium exited: ${err.slice(-400)}`)));
  });
  return { child, port, profile };
}

export async function buildPage() {
  const dir = mkdtempSync(join(tmpdir(), 'qv-page-'));
  await new Promise((resolve, reject) => {
    const b = spawn(process.execPath, [join(here, '..', 'build.mjs'), '--outdir', dir], { stdio: 'inherit' });
    b.on('exit', (code) => (code === 0 ? resolve() : reject(new Error('page build failed'))));
  });
  return dir;
}

// Runs in the page: helpers that time a call up to the second frame after it.
const PAGE_HELPERS = `
  window.qvFrames = () => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
  window.qvTime = async (fn) => { const t0 = performance.now(); fn(); await qvFrames(); return performance.now() - t0; };
  // The page's own work alone: the call made at the start of a frame, up to the end of that
  // frame's style, layout and paint (a message posted then runs after them), without the wait
  // for the screen's next refresh that the second frame adds.
  window.qvWork = (fn) => new Promise((resolve) => requestAnimationFrame(() => {
    const t0 = performance.now();
    const ch = new MessageChannel();
    ch.port1.onmessage = () => resolve(performance.now() - t0);
    fn();
    requestAnimationFrame(() => {});
    ch.port2.postMessage(0);
  }));
  window.qvHeap = () => { gc(); gc(); return performance.memory.usedJSHeapSize; };
  window.qvDocs = {};
  true;
`;

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const mean = (xs) => xs.reduce((a, b) => a + b, 0) / xs.length;
const f = (x) => `${Math.round(x)} ms`;

// Lines that start a block of each kind, as the documentation has them.
const BLOCK_STARTS = [
  ['a heading', /^#{1,6} /],
  ['a list item', /^[-*] \S/],
  ['a fence', /^```\w/],
  ['an HTML comment', /^<!--/],
  ['a link definition', /^\[[^\]^]+\]: \S/],
  ['a table row', /^\| /],
];

// A line in the middle of the document that is plain prose, where typing happens.
function typingLine(doc) {
  const lines = doc.split('\n');
  let i = lines.length >> 1;
  while (!/^[A-Za-z][^|<`$[*_]*[a-z] [a-z][^|<`$[*_]*$/.test(lines[i])) i += 1;
  return { offset: lines.slice(0, i).join('\n').length + 1 + lines[i].length, line: i };
}

async function main() {
  const args = process.argv.slice(2);
  const sizes = (args.includes('--sizes') ? args[args.indexOf('--sizes') + 1] : '1,10').split(',').map(Number).filter((mb) => mb > 0);
  const quick = args.includes('--quick');
  const exe = findChromium();
  if (!exe) {
    console.error('bench: no Chromium here; run scripts/setup --bench, or set CHROMIUM=/path/to/chrome');
    process.exit(2);
  }
  const pageDir = await buildPage();
  const { child, port, profile } = await launch(exe);
  let client;
  try {
    client = await CDP({ port });
    const { Page, Runtime, Performance, Emulation } = client;
    await Page.enable();
    await Performance.enable();
    // A page in the background has no caret to blink.
    await Emulation.setFocusEmulationEnabled({ enabled: true });
    await Page.navigate({ url: pathToFileURL(join(pageDir, 'index.html')).href });
    await Page.loadEventFired();
    const evaluate = async (expression) => {
      const r = await Runtime.evaluate({ expression, awaitPromise: true, returnByValue: true });
      if (r.exceptionDetails) throw new Error(r.exceptionDetails.exception?.description ?? r.exceptionDetails.text);
      return r.result.value;
    };
    const setDoc = async (name, text) => {
      await Runtime.callFunctionOn({
        functionDeclaration: 'function (name, text) { window.qvDocs[name] = text; }',
        executionContextId: undefined,
        objectId: (await Runtime.evaluate({ expression: 'window' })).result.objectId,
        arguments: [{ value: name }, { value: text }],
      });
    };
    await evaluate(PAGE_HELPERS);
    const small = readFileSync(join(here, '..', '..', 'examples', 'vault', 'Welcome.md'), 'utf8');
    await setDoc('small', small);
    const hasUpdate = await evaluate('typeof quorvel.update === "function"');
    // Two frames with nothing to draw: no figure below can be smaller.
    const floor = await evaluate('(async () => { const t = []; for (let i = 0; i < 10; i += 1) t.push(await qvTime(() => {})); return t; })()');
    console.log(`two frames of a page with nothing to draw (the floor of every figure): median ${f(median(floor))}`);

    for (const mb of sizes) {
      const doc = documentation(mb * 1024 * 1024);
      await setDoc('large', doc);
      const { offset } = typingLine(doc);
      console.log(`${mb} MB of documentation (${(doc.length / 1048576).toFixed(2)} M characters), Chromium ${await evaluate('navigator.userAgent.match(/Chrome\\/([\\d.]+)/)[1]')}`);

      // Full renders of the same text, one after another in one page.
      const fulls = [];
      for (let i = 0; i < (quick ? 2 : 4); i += 1) {
        await evaluate('quorvel.render("", "file:///docs/"); qvFrames()');
        fulls.push(await evaluate('qvTime(() => quorvel.render(qvDocs.large, "file:///docs/"))'));
      }
      const call = await evaluate(`(async () => { quorvel.render("", "file:///docs/"); await qvFrames();
        const t0 = performance.now(); quorvel.render(qvDocs.large, "file:///docs/"); return performance.now() - t0; })()`);
      console.log(`  full render to the second frame:     ${fulls.map(f).join(', ')} (target 250 ms, no growth)`);
      console.log(`  of which the render call itself:     ${f(call)}`);

      // One typed character in a paragraph in the middle, again and again.
      await evaluate('quorvel.render(qvDocs.large, "file:///docs/", 0); qvFrames()');
      const typed = await evaluate(`(async () => {
        let text = qvDocs.large; const times = []; let at = ${offset};
        for (let i = 0; i < ${quick ? 10 : 30}; i += 1) {
          const next = text.slice(0, at) + 'x' + text.slice(at);
          const useDelta = ${hasUpdate};
          const change = () => {
            if (!useDelta) quorvel.render(next, "file:///docs/");
            else if (!quorvel.update({ base: i, start: at, removed: 0, inserted: 'x', length: next.length, version: i + 1 })) throw new Error('the page refused a change');
          };
          times.push(await (i % 2 ? qvWork(change) : qvTime(change)));
          text = next; at += 1;
        }
        return times;
      })()`);
      const frames = typed.filter((_, i) => i % 2 === 0);
      const work = typed.filter((_, i) => i % 2 === 1);
      console.log(`  one typed character to the second frame: median ${f(median(frames))}, worst ${f(Math.max(...frames))}${hasUpdate ? ' (as a delta)' : ''}`);
      console.log(`  its own work up to its painted frame:    median ${f(median(work))}, worst ${f(Math.max(...work))} (target 20 ms)`);

      // A keystroke at the start of a block of each kind, and the backspace that takes it back:
      // the bad case of an incremental parse, which may have to look far for where to resume.
      const lines = doc.split('\n');
      for (const [kind, pattern] of BLOCK_STARTS) {
        let i = lines.length >> 1;
        while (i < lines.length && !pattern.test(lines[i])) i += 1;
        if (i >= lines.length) continue;
        const at = lines.slice(0, i).join('\n').length + (i ? 1 : 0);
        await evaluate('quorvel.render(qvDocs.large, "file:///docs/", 0); qvFrames()');
        const times = await evaluate(`(async () => { const times = []; let length = qvDocs.large.length;
          for (let i = 0; i < ${quick ? 4 : 8}; i += 1) {
            const typed = i % 2 === 0;
            length += typed ? 1 : -1;
            const d = { base: i, version: i + 1, start: ${at}, removed: typed ? 0 : 1, inserted: typed ? 'x' : '', length };
            times.push(await qvTime(() => { if (!quorvel.update(d)) throw new Error('the page refused a change'); }));
          }
          return times; })()`);
        console.log(`  a key at the start of ${`${kind},`.padEnd(22)} median ${f(median(times))}, worst ${f(Math.max(...times))} (target 16 ms)`);
      }

      // A line break near the top: every block below moves down a line.
      const breaks = await evaluate(`(async () => { quorvel.render(qvDocs.large, "file:///docs/", 0); await qvFrames();
        const at = qvDocs.large.indexOf('\\n', 2000) + 1; const times = []; let length = qvDocs.large.length;
        for (let i = 0; i < ${quick ? 4 : 8}; i += 1) {
          const typed = i % 2 === 0;
          length += typed ? 1 : -1;
          const d = { base: i, version: i + 1, start: at, removed: typed ? 0 : 1, inserted: typed ? '\\n' : '', length };
          times.push(await qvTime(() => { if (!quorvel.update(d)) throw new Error('the page refused a change'); }));
        }
        return times; })()`);
      console.log(`  a line break near the top, and its backspace: median ${f(median(breaks))}, worst ${f(Math.max(...breaks))} (target 16 ms)`);

      // The whole text sent again with one character different (a reload, an outside change).
      const sentWhole = await evaluate(`(async () => { quorvel.render(qvDocs.large, "file:///docs/"); await qvFrames();
        // As the host's text arrives: one flat string, not two slices joined on first use.
        const other = JSON.parse(JSON.stringify(qvDocs.large.slice(0, ${offset}) + 'y' + qvDocs.large.slice(${offset})));
        const times = [];
        for (let i = 0; i < ${quick ? 4 : 8}; i += 1) times.push(await qvTime(() => quorvel.render(i % 2 ? qvDocs.large : other, "file:///docs/")));
        return times; })()`);
      console.log(`  the whole text again, one character different: median ${f(median(sentWhole))}, worst ${f(Math.max(...sentWhole))}`);

      // A small note right after a large one, round after round.
      const rounds = await evaluate(`(async () => { const out = [];
        for (let i = 0; i < ${quick ? 4 : 12}; i += 1) {
          await qvTime(() => quorvel.render(qvDocs.large, "file:///docs/"));
          out.push(await qvTime(() => quorvel.render(qvDocs.small, "file:///docs/")));
        } return out; })()`);
      console.log(`  small note after a large one, per round: ${rounds.map(f).join(', ')} (target flat)`);

      // The editing view: a character typed by the engine into a paragraph halfway down, to the
      // second frame, keys a tenth of a second apart (the page writes the typing back 0.3 s
      // after the last key, inside some of them); then the page left alone with the caret in it.
      await evaluate('quorvel.render(qvDocs.large, "file:///docs/", 0); quorvel.setEditable(true); qvFrames()');
      const keyed = await evaluate(`(async () => {
        const content = document.getElementById('content');
        const ps = [...content.querySelectorAll(':scope p')];
        const p = ps.slice(ps.length >> 1).find((el) => el.firstChild?.nodeType === 3 && el.firstChild.length > 10);
        content.focus();
        getSelection().collapse(p.firstChild, Math.min(10, p.firstChild.length));
        p.scrollIntoView({ block: 'center' });
        await new Promise((r) => setTimeout(r, 500));
        const times = [];
        for (let i = 0; i < ${quick ? 10 : 30}; i += 1) {
          times.push(await qvTime(() => document.execCommand('insertText', false, 'x')));
          await new Promise((r) => setTimeout(r, 100));
        }
        quorvel.flushEdit();
        // A line break typed near the top, written back: the blocks below it move down.
        const top = ps.slice(3).find((el) => el.firstChild?.nodeType === 3 && el.firstChild.length > 10);
        top.scrollIntoView({ block: 'center' });
        const splits = [];
        for (let i = 0; i < ${quick ? 4 : 8}; i += 1) {
          getSelection().collapse(top.firstChild, 5);
          document.execCommand('insertParagraph');
          const t0 = performance.now();
          quorvel.flushEdit();
          splits.push(performance.now() - t0);
          await qvFrames();
        }
        // The write-back by itself, as after a pause in typing: one key, then the edit taken.
        const flushes = [];
        for (let i = 0; i < ${quick ? 5 : 15}; i += 1) {
          document.execCommand('insertText', false, 'y');
          const t0 = performance.now();
          quorvel.flushEdit();
          flushes.push(performance.now() - t0);
          await qvFrames();
        }
        return { times, flushes, splits }; })()`);
      console.log(`  a key typed in the editing view to the second frame: median ${f(median(keyed.times))}, worst ${f(Math.max(...keyed.times))}`);
      console.log(`  the write-back of that typing after a pause:   median ${f(median(keyed.flushes))}, worst ${f(Math.max(...keyed.flushes))} (target 16 ms)`);
      console.log(`  the write-back of a line break near the top:   median ${f(median(keyed.splits))}, worst ${f(Math.max(...keyed.splits))} (target 16 ms)`);
      const busy = async () => (await Performance.getMetrics()).metrics.find((m) => m.name === 'TaskDuration').value;
      const busyOver = async (seconds) => {
        const t0 = await busy();
        await new Promise((r) => setTimeout(r, seconds * 1000));
        return ((await busy()) - t0) * 1000 / seconds;
      };
      for (const editing of [false, true]) {
        // Whatever the render or the switch left to do (code highlighted late, the engine's
        // spelling check of the whole text, which comes in bursts) is done first: three quiet
        // seconds in a row.
        await evaluate(`quorvel.setEditable(${editing})`);
        for (let i = 0, quiet = 0; i < 90 && quiet < 3; i += 1) quiet = await busyOver(1) > 50 ? 0 : quiet + 1;
        const seconds = [];
        for (let i = 0; i < 10; i += 1) seconds.push(await busyOver(1));
        const watched = await evaluate('[...document.getElementById("content").children].filter((el) => getComputedStyle(el).contentVisibility === "auto").length');
        console.log(`  idle, ${editing ? 'editing' : 'reading'} view: the page's thread busy ${median(seconds).toFixed(1)} ms a second (median of ten; mean ${mean(seconds).toFixed(1)}), ${watched} elements under content-visibility: auto`);
      }
    }

    // Many renders of alternating documents in one page: no growth in time or heap, in the
    // reading view and in the editing view (a reload or an outside change while editing).
    const many = quick ? 200 : 1000;
    const alt = documentation(20 * 1024);
    await setDoc('alt', alt);
    for (const editing of [false, true]) {
      const churn = await evaluate(`(async () => {
        quorvel.setEditable(${editing});
        quorvel.render("", "file:///docs/"); await qvFrames();
        const heap0 = qvHeap(); const times = [];
        for (let i = 0; i < ${many}; i += 1) {
          times.push(await qvTime(() => quorvel.render(i % 2 ? qvDocs.small : qvDocs.alt, "file:///docs/")));
        }
        quorvel.render("", "file:///docs/"); await qvFrames();
        await new Promise((r) => setTimeout(r, 200));
        return { times, heap0, heap1: qvHeap() };
      })()`);
      const tenth = Math.floor(many / 10);
      const first = mean(churn.times.slice(0, tenth));
      const last = mean(churn.times.slice(-tenth));
      console.log(`${many} renders alternating a 20 KB and a 1 KB note in one page, ${editing ? 'editing' : 'reading'} view`);
      console.log(`  first ${tenth}: ${first.toFixed(1)} ms, last ${tenth}: ${last.toFixed(1)} ms (target: last no slower)`);
      console.log(`  heap after a collection: ${(churn.heap0 / 1048576).toFixed(1)} MB before, ${(churn.heap1 / 1048576).toFixed(1)} MB after (target within 10 %)`);
    }
  } finally {
    await client?.close();
    child.kill('SIGKILL');
    await new Promise((r) => (child.exitCode !== null ? r() : child.once('exit', r)));
    rmSync(profile, { recursive: true, force: true, maxRetries: 3 });
    rmSync(pageDir, { recursive: true, force: true });
  }
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  main().catch((e) => { console.error(e); process.exit(1); });
}
