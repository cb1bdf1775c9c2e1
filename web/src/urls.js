// Resolving what a document writes as a link or image path into what the page
// loads or the host opens.

const SCHEME = /^[a-z][a-z0-9+.-]*:/i;

export function isAbsoluteUrl(url) {
  return SCHEME.test(url) || url.startsWith('//');
}

// `dir` is the document folder as a file URL; relative paths resolve against
// it. Without a folder (an untitled document) they stay as written.
export function resolveUrl(url, dir) {
  if (!dir || !url || url.startsWith('#') || isAbsoluteUrl(url)) return url;
  try {
    return new URL(url, dir.endsWith('/') ? dir : `${dir}/`).href;
  } catch {
    return url;
  }
}

export function isWebUrl(url) {
  return /^(https?|mailto|ftp):/i.test(url);
}

// `target` (a file: URL) as seen from the folder `base` (a file: URL ending in "/"): an
// exported file keeps working beside what it links to, and does not show where the user keeps
// their files. Anything else is returned as it is.
export function relativeUrl(target, base) {
  if (!/^file:/i.test(target) || !/^file:/i.test(base ?? '')) return target;
  let to;
  let from;
  try {
    to = new URL(target);
    from = new URL(base.endsWith('/') ? base : `${base}/`);
  } catch {
    return target;
  }
  const toParts = to.pathname.split('/').slice(1);
  const fromParts = from.pathname.split('/').slice(1, -1);
  let same = 0;
  while (same < fromParts.length && same < toParts.length - 1 && fromParts[same] === toParts[same]) same += 1;
  const up = '../'.repeat(fromParts.length - same);
  return `${up}${toParts.slice(same).join('/')}${to.search}${to.hash}` || './';
}
