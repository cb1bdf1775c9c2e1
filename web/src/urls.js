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
