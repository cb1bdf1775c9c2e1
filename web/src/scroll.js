// Keeping the reader's place while blocks above it change, and the scroll
// requests of the host.

import { slugify } from './headings.js';

function firstVisible(els, viewTop) {
  let lo = 0;
  let hi = els.length;
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (els[mid].getBoundingClientRect().bottom <= viewTop) lo = mid + 1;
    else hi = mid;
  }
  return lo < els.length ? lo : -1;
}

export function captureScroll(win, els) {
  if (!win.scrollY) return null;
  const index = firstVisible(els, 0);
  return index < 0 ? null : { index, top: els[index].getBoundingClientRect().top };
}

export function restoreScroll(win, els, anchor) {
  const el = anchor && els[anchor.index];
  if (!el) return;
  const delta = el.getBoundingClientRect().top - anchor.top;
  if (delta) win.scrollBy(0, delta);
}

function behavior(instant) {
  return instant ? 'instant' : 'smooth';
}

export function scrollToElement(el, instant) {
  el?.scrollIntoView({ behavior: behavior(instant), block: 'start' });
}

export function findHeading(root, text) {
  const want = text.trim();
  const headings = [...root.querySelectorAll('h1, h2, h3, h4, h5, h6')];
  return headings.find((h) => h.textContent.trim() === want) ??
    headings.find((h) => h.textContent.trim().toLowerCase() === want.toLowerCase()) ??
    headings.find((h) => h.id === want || h.id === slugify(want)) ?? null;
}

// Reports the reader's own scrolling as a fraction of the page, at most once a frame; a
// scroll the host asked for is not reported back, so that two views following each other never
// chase one another.
export function reportScrolling(win, scrolled) {
  let pending = false;
  win.addEventListener('scroll', () => {
    // Where the host put the page is not news to it; anywhere else is, even when the reader's
    // scroll and the host's arrive as one event.
    if (win.qvHostScrollTop !== undefined && Math.abs(win.scrollY - win.qvHostScrollTop) < 2) return;
    win.qvHostScrollTop = undefined;
    if (pending) return;
    pending = true;
    (win.requestAnimationFrame ?? ((fn) => win.setTimeout(fn, 16)))(() => {
      pending = false;
      const max = win.document.documentElement.scrollHeight - win.innerHeight;
      scrolled(max > 0 ? Math.min(1, win.scrollY / max) : 0);
    });
  }, { passive: true });
}

export function scrollToFraction(win, fraction) {
  const f = Math.min(1, Math.max(0, Number(fraction) || 0));
  const max = win.document.documentElement.scrollHeight - win.innerHeight;
  const top = Math.round(Math.max(0, max) * f);
  if (top === Math.round(win.scrollY)) return;
  win.qvHostScrollTop = top;
  win.scrollTo({ top, behavior: 'instant' });
}
