// A large document of real documentation: the Markdown files that packages
// in node_modules ship (READMEs, changelogs, docs), concatenated in a fixed
// order up to the size asked for.
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

export const modules = join(dirname(fileURLToPath(import.meta.url)), '..', 'node_modules');

export function markdownFiles(dir, depth, out) {
  let entries;
  try { entries = readdirSync(dir).sort(); } catch { return; }
  for (const name of entries) {
    const path = join(dir, name);
    let st;
    try { st = statSync(path); } catch { continue; }
    if (st.isDirectory()) {
      if (depth < 3 && name !== '.bin') markdownFiles(path, depth + 1, out);
    } else if (/\.(md|markdown)$/i.test(name) && st.size > 2000) {
      out.push(path);
    }
  }
}

export function buildCorpus(bytes = 1024 * 1024) {
  const files = [];
  markdownFiles(modules, 0, files);
  const parts = [];
  let size = 0;
  for (const file of files) {
    const text = readFileSync(file, 'utf8');
    parts.push(text.endsWith('\n') ? text : `${text}\n`);
    size += Buffer.byteLength(text);
    if (size >= bytes) break;
  }
  const doc = parts.join('\n');
  return { doc, files: parts.length, bytes: Buffer.byteLength(doc) };
}
