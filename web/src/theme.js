// The reading themes and the reader's typography.

export const THEMES = [
  'light-sans', 'light-serif', 'cream', 'dark', 'system', 'sepia', 'ink', 'solarized-light',
  'mist', 'linen', 'sage',
];

function number(value, fallback, min, max) {
  const n = typeof value === 'number' ? value : Number.NaN;
  return Number.isFinite(n) ? Math.min(max, Math.max(min, n)) : fallback;
}

export function parseThemePayload(payload) {
  let p = payload;
  if (typeof p === 'string') {
    try { p = JSON.parse(p); } catch { p = {}; }
  }
  p = p && typeof p === 'object' ? p : {};
  return {
    theme: THEMES.includes(p.theme) ? p.theme : 'light-sans',
    fontFamily: typeof p.fontFamily === 'string' ? p.fontFamily.trim() : '',
    fontSize: number(p.fontSize, 17, 6, 72),
    lineHeight: number(p.lineHeight, 1.6, 1, 3),
    width: number(p.width, 1180, 320, 4000),
  };
}

// A family name goes into CSS; anything that could close the declaration is
// dropped rather than escaped.
function cssFamily(name) {
  return `"${name.replace(/["\\;{}<>]/g, '')}"`;
}

export function themeStyle(t) {
  const vars = {
    '--font-size': `${t.fontSize}px`,
    '--line-height': String(t.lineHeight),
    '--content-width': `${t.width}px`,
  };
  if (t.fontFamily) vars['--user-font'] = cssFamily(t.fontFamily);
  return vars;
}

export function applyTheme(doc, payload) {
  const t = parseThemePayload(payload);
  const html = doc.documentElement;
  html.setAttribute('data-theme', t.theme);
  html.style.removeProperty('--user-font');
  for (const [k, v] of Object.entries(themeStyle(t))) html.style.setProperty(k, v);
  return t;
}

export function isDark(win, theme) {
  if (theme === 'dark') return true;
  return theme === 'system' && Boolean(win.matchMedia?.('(prefers-color-scheme: dark)').matches);
}
