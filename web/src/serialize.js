// DOM to Markdown. Pure functions of the elements they are given: they read
// the rendered (or edited) content and write normalised Markdown that renders
// back to the same HTML.

import { topNodes } from './shelves.js';

const BLOCK_TAGS = new Set([
  'P', 'DIV', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'UL', 'OL', 'BLOCKQUOTE', 'PRE', 'TABLE', 'HR',
  'SECTION', 'DL', 'FIGURE', 'DETAILS', 'ARTICLE', 'ASIDE', 'HEADER', 'FOOTER', 'NAV', 'MAIN',
  'ADDRESS', 'FIELDSET', 'CENTER', 'LI',
]);
const RAW_BLOCK_TAGS = new Set(['DL', 'FIGURE', 'DETAILS', 'ARTICLE', 'ASIDE', 'HEADER', 'FOOTER',
  'NAV', 'MAIN', 'ADDRESS', 'FIELDSET', 'CENTER']);
// Strikethrough renders as <s>; a <del> (raw HTML in a document) stays one.
const DELIMS = { STRONG: '**', B: '**', EM: '*', I: '*', S: '~~', STRIKE: '~~', MARK: '==' };
const CANONICAL = { B: 'strong', I: 'em', STRIKE: 's' };
const PUNCT = /[!-/:-@[-`{-~\p{P}\p{S}]/u;
const SPACE = /\s/;

export function isBlockElement(node) {
  return node.nodeType === 1 && BLOCK_TAGS.has(node.nodeName);
}

// ---- text ----

function escapeText(text, ctx) {
  let out = '';
  for (let i = 0; i < text.length; i += 1) {
    const ch = text[i];
    const prev = text[i - 1] ?? '';
    const next = text[i + 1] ?? '';
    switch (ch) {
      case '\\': case '`': case '*': case '[': case ']': case '<': case '$':
        out += `\\${ch}`;
        break;
      case '_':
        // Inside a word an underscore cannot start or end emphasis.
        out += /[\p{L}\p{N}]/u.test(prev) && /[\p{L}\p{N}]/u.test(next) ? ch : '\\_';
        break;
      case '~': case '=':
        out += prev === ch || next === ch || i === 0 || i === text.length - 1 ? `\\${ch}` : ch;
        break;
      case '&':
        out += /^&(#x?[0-9a-f]+|[a-z][a-z0-9]*);/i.test(text.slice(i, i + 40)) ? '\\&' : ch;
        break;
      case '|':
        out += ctx.inTable ? '\\|' : ch;
        break;
      // The engine shows a space typed at a line's end or beside another as a no-break space;
      // the writer typed a space. A no-break space the file had is the same on both sides of
      // the rewrite of a block, so it stays.
      case '\u00a0':
        out += ctx.typed ? ' ' : ch;
        break;
      default:
        out += ch;
    }
  }
  return out;
}

// A line of paragraph text must not start something else.
function escapeLineStart(line) {
  let m;
  if (/^(#{1,6}|[-+])([ \t]|$)/.test(line) || /^>/.test(line)) return `\\${line}`;
  if (/^(=+|-+)[ \t]*$/.test(line)) return `\\${line}`;
  if ((m = /^(\d{1,9})([.)])([ \t]|$)/.exec(line))) return `${m[1]}\\${line.slice(m[1].length)}`;
  return line;
}

// Text as it shows, with line breaks for <br>: the contents of code blocks.
export function plainText(node) {
  if (node.nodeType === 3) return node.data;
  if (node.nodeName === 'BR') return '\n';
  let out = '';
  for (const child of node.childNodes) out += plainText(child);
  return out;
}

function attrs(el, skip = []) {
  let out = '';
  for (const { name, value } of el.attributes) {
    if (skip.includes(name)) continue;
    out += value === '' ? ` ${name}` : ` ${name}="${value.replace(/&/g, '&amp;').replace(/"/g, '&quot;')}"`;
  }
  return out;
}

function texOf(el) {
  const ann = el.querySelector('annotation[encoding="application/x-tex"]');
  return ann ? ann.textContent : plainText(el);
}

// ---- inline ----

function firstChar(node) {
  while (node) {
    const text = node.textContent;
    if (text) return text[0];
    node = node.nextSibling;
  }
  return ' ';
}

function codeSpan(text) {
  const runs = text.match(/`+/g) ?? [];
  const n = runs.reduce((m, r) => Math.max(m, r.length), 0) + 1;
  const fence = '`'.repeat(n);
  const pad = /^`|`$/.test(text) || (/^ .*[^ ].* $/s.test(text)) ? ' ' : '';
  return fence + pad + text + pad + fence;
}

function destination(url) {
  let depth = 0;
  let balanced = true;
  for (const ch of url) {
    if (ch === '(') depth += 1;
    else if (ch === ')' && --depth < 0) balanced = false;
  }
  if (!url || /[\s<>]/.test(url) || !balanced || depth !== 0) {
    return `<${url.replace(/[<>\\]/g, '\\$&').replace(/\n/g, '%0A')}>`;
  }
  return url.replace(/\\(?=[!-/:-@[-`{-~])/g, '\\\\').replace(/&(?=#?[a-z0-9]+;)/gi, '\\&');
}

function title(el) {
  const t = el.getAttribute('title');
  return t === null ? '' : ` "${t.replace(/["\\]/g, '\\$&')}"`;
}

function wikilink(el, embed) {
  const target = el.getAttribute('data-wikilink') ?? '';
  const heading = el.getAttribute('data-heading');
  let inner = target + (heading ? `#${heading}` : '');
  const label = embed ? el.getAttribute('alt') : el.textContent;
  const plain = heading ? (target ? `${target} › ${heading}` : heading) : target;
  if (label && label !== plain) inner += `|${label}`;
  return `${embed || el.classList.contains('embed') ? '!' : ''}[[${inner}]]`;
}

const OWN_ATTRS = ['data-written', 'data-ref', 'data-ref-form', 'data-auto'];

// A link or image from a reference definition, in the form it was written.
function reference(el, inner) {
  const ref = el.getAttribute('data-ref');
  const form = el.getAttribute('data-ref-form');
  if (form !== 'full' && inner === ref) return form === 'collapsed' ? `[${inner}][]` : `[${inner}]`;
  return `[${inner}][${ref}]`;
}

function link(el, ctx) {
  if (el.hasAttribute('data-wikilink')) return wikilink(el, false);
  if (el.classList.contains('footnote-backref')) return '';
  const names = [...el.attributes].map((a) => a.name);
  const plain = names.every((n) => n === 'href' || n === 'title' || OWN_ATTRS.includes(n));
  const inner = inlineChildren(el, ctx);
  if (!plain || !el.hasAttribute('href')) return `<a${attrs(el, OWN_ATTRS)}>${inner}</a>`;
  if (el.hasAttribute('data-ref') && !ctx.noReferences) return reference(el, inner);
  const href = el.getAttribute('data-written') ?? el.getAttribute('href');
  const text = el.textContent;
  const uri = /^[a-z][a-z0-9+.-]{1,31}:[^\s<>]*$/i;
  const auto = el.getAttribute('data-auto');
  // A bare address stays bare and an <address> stays one, even once its
  // text is edited: the address is what the reader sees.
  if (auto && el.children.length === 0) {
    if (auto === 'linkify' && /^[^\s<>*_`\\[\]~=$&|!]+$/.test(text)) return text;
    if (uri.test(text) || /^[^\s<>@\\]+@[^\s<>@\\]+$/.test(text)) return `<${text}>`;
  }
  if (!el.hasAttribute('title') && el.children.length === 0 && uri.test(href)) {
    if (text === href) return `<${href}>`;
    if (`mailto:${text}` === href && /^[^\s<>@]+@[^\s<>@]+$/.test(text)) return `<${text}>`;
  }
  return `[${inner}](${destination(href)}${title(el)})`;
}

function image(el, ctx) {
  if (el.hasAttribute('data-wikilink')) return wikilink(el, true);
  const names = [...el.attributes].map((a) => a.name);
  if (!el.hasAttribute('alt') || !names.every((n) => ['src', 'alt', 'title'].includes(n) || OWN_ATTRS.includes(n))) {
    return `<img${attrs(el, OWN_ATTRS)}>`;
  }
  if (el.hasAttribute('data-ref') && !ctx.noReferences) return `!${reference(el, escapeText(el.getAttribute('alt') ?? '', ctx))}`;
  const src = el.getAttribute('data-written') ?? el.getAttribute('src') ?? '';
  return `![${escapeText(el.getAttribute('alt') ?? '', ctx)}](${destination(src)}${title(el)})`;
}

// Emphasis and its kin, written with delimiters when they would parse back
// as the same element, else as inline HTML.
function delimited(el, ctx, before) {
  const delim = DELIMS[el.nodeName];
  const inner = inlineChildren(el, { ...ctx, emDepth: (ctx.emDepth ?? 0) + (delim === '*' ? 1 : 0) });
  if (!inner.trim()) return inner;
  const lead = /^\s*/.exec(inner)[0];
  const trail = /\s*$/.exec(inner)[0];
  const body = inner.slice(lead.length, inner.length - trail.length);
  const prev = (before + lead).slice(-1) || ' ';
  const next = trail ? trail[0] : firstChar(el.nextSibling);
  const first = body[0];
  const last = body[body.length - 1];
  const opens = (d) => !SPACE.test(first) && (!PUNCT.test(first) || SPACE.test(prev) || PUNCT.test(prev)) &&
    !(d[0] === '_' && /[\p{L}\p{N}]/u.test(prev));
  const closes = (d) => !SPACE.test(last) && (!PUNCT.test(last) || SPACE.test(next) || PUNCT.test(next)) &&
    !(d[0] === '_' && /[\p{L}\p{N}]/u.test(next));
  const clash = (d) => prev === d[0] || next === d[0] || first === d[0] || last === d[0];
  // Asterisks first, underscores where asterisks would run into a nested
  // element's own: either is Markdown, never HTML.
  // Italic filling all of a bold takes underscores: **_word_**.
  const parent = el.parentNode;
  const fills = (parent?.nodeName === 'STRONG' || parent?.nodeName === 'B') &&
    [...parent.childNodes].every((n) => n === el || (n.nodeType === 3 && !n.data.trim()));
  const star = delim === '*' && (ctx.emDepth % 2 === 1 || fills) ? '_' : delim;
  const choices = delim === '**' ? ['**', '__'] : delim === '*' ? [star, star === '*' ? '_' : '*'] : [delim];
  const d = choices.find((c) => opens(c) && closes(c) && !clash(c));
  if (d) return lead + d + body + d + trail;
  const tag = CANONICAL[el.nodeName] ?? el.nodeName.toLowerCase();
  return `${lead}<${tag}>${body}</${tag}>${trail}`;
}

// The engine keeps the look of text it moves (a heading joined to a
// paragraph) in spans with nothing but a style of computed values (colours
// as rgb()) or of the page's own variables as it found them (the caret's
// colour, var(--accent)); they are no one's markup. A span someone wrote stays.
const ENGINE_STYLE = /^\s*(font|line|letter|word|text|white|color|background-color|caret-color)[a-z-]*\s*:\s*([^;]*)$/;
function engineStyled(el) {
  if (el.attributes.length !== 1 || !el.hasAttribute('style')) return false;
  return el.getAttribute('style').split(';').filter((d) => d.trim()).every((d) => {
    const m = ENGINE_STYLE.exec(d);
    return m && (!/color/.test(m[1]) || /^(rgba?\(|var\(--)/.test(m[2].trim()));
  });
}

function inlineNode(node, ctx, before) {
  if (node.nodeType === 3) {
    let text = node.data;
    if (node.previousSibling?.nodeName === 'BR' && text.startsWith('\n')) text = text.slice(1);
    const escaped = escapeText(text, ctx);
    // "!" right before a link would make it an image.
    return escaped.endsWith('!') && node.nextSibling?.nodeName === 'A' ? `${escaped.slice(0, -1)}\\!` : escaped;
  }
  if (node.nodeType !== 1) return '';
  const el = node;
  switch (el.nodeName) {
    case 'STRONG': case 'B': case 'EM': case 'I': case 'S': case 'STRIKE':
      return delimited(el, ctx, before);
    case 'MARK':
      return el.classList.contains('find-hit') ? inlineChildren(el, ctx) : delimited(el, ctx, before);
    // An empty one (the engine leaves them behind) is nothing.
    case 'CODE': return el.textContent ? codeSpan(el.textContent) : '';
    case 'A': return link(el, ctx);
    case 'IMG': return image(el, ctx);
    case 'BR': return ctx.inTable ? '<br>' : '\\\n';
    case 'INPUT': return '';
    case 'SPAN':
      if (el.classList.contains('math') || el.classList.contains('katex')) return `$${texOf(el)}$`;
      if (el.attributes.length === 0 || el.classList.contains('find-hit') || engineStyled(el)) return inlineChildren(el, ctx);
      return `<span${attrs(el)}>${inlineChildren(el, ctx)}</span>`;
    case 'SUP':
      if (el.classList.contains('footnote-ref')) {
        if (el.hasAttribute('data-label')) return `[^${el.getAttribute('data-label')}]`;
        const m = /#fn(\d+)/.exec(el.querySelector('a')?.getAttribute('href') ?? '');
        return m ? `[^${m[1]}]` : '';
      }
      break;
    case 'FONT':
      return inlineChildren(el, ctx);
    default:
      if (isBlockElement(el)) {
        // An editor may nest a block in running text; it reads as a new line.
        const inner = inlineChildren(el, ctx);
        return before && !before.endsWith('\n') ? `\\\n${inner}` : inner;
      }
  }
  const tag = el.nodeName.toLowerCase();
  return `<${tag}${attrs(el)}>${inlineChildren(el, ctx)}</${tag}>`;
}

function inlineChildren(el, ctx) {
  return inlineNodes(el.childNodes, ctx);
}

function inlineNodes(nodes, ctx) {
  let out = '';
  for (const node of nodes) out += inlineNode(node, ctx, out);
  return out;
}

// ---- blocks ----

function paragraphText(inline) {
  const lines = inline.split('\n').map((l) => l.replace(/^[ \t]+/, '').replace(/(?<!\\)[ \t]+$/, ''));
  while (lines.length && !lines[0]) lines.shift();
  while (lines.length && !lines[lines.length - 1]) lines.pop();
  // A trailing backslash (a hard break at the very end) means nothing there.
  if (lines.length) lines[lines.length - 1] = lines[lines.length - 1].replace(/\\$/, '');
  return lines.filter((l, i) => l || i === 0).map(escapeLineStart).join('\n');
}

function heading(el, ctx) {
  const level = Number(el.nodeName[1]);
  const text = paragraphText(inlineChildren(el, ctx));
  if (text.includes('\n') && level <= 2) return `${text}\n${level === 1 ? '===' : '---'}`;
  let line = text.replace(/\n/g, ' ').replace(/^\\(?=#)/, '');
  if (/(^|[ \t])#+$/.test(line)) line = `${line.slice(0, -1)}\\#`;
  return '#'.repeat(level) + (line ? ` ${line}` : '');
}

function fence(code, info) {
  const ch = info.includes('`') ? '~' : '`';
  const runs = code.match(ch === '`' ? /`{3,}/g : /~{3,}/g) ?? [];
  const n = runs.reduce((m, r) => Math.max(m, r.length + 1), 3);
  const f = ch.repeat(n);
  const body = code.endsWith('\n') ? code.slice(0, -1) : code;
  return code === '' ? `${f}${info}\n${f}` : `${f}${info}\n${body}\n${f}`;
}

function codeBlock(pre) {
  const code = pre.querySelector('code') ?? pre;
  const lang = /(?:^|\s)language-(\S+)/.exec(code.getAttribute('class') ?? '');
  return fence(plainText(code), lang ? lang[1] : '');
}

function prefixLines(text, first, rest) {
  return text.split('\n').map((l, i) => (i === 0 ? first + l : l ? rest + l : '')).join('\n');
}

function list(el, ctx) {
  const ordered = el.nodeName === 'OL';
  const start = Number(el.getAttribute('start') ?? 1) || 0;
  const items = [...el.children].filter((c) => c.nodeName === 'LI');
  const loose = items.some((li) => [...li.children].some((c) => c.nodeName === 'P'));
  const alt = ctx.alternate;
  // `ctx.marker` keeps the bullet or the number's delimiter a list was
  // written with; a list made on the page carries the one typed.
  const typed = el.getAttribute('data-marker');
  const own = (ordered ? /^[.)]$/ : /^[-*+]$/).test(typed ?? '') ? typed : null;
  const mark = ctx.marker ?? own ?? (ordered ? (alt ? ')' : '.') : (alt ? '*' : '-'));
  return items.map((li, i) => {
    const marker = ordered ? `${start + i}${mark}` : mark;
    let content = blockNodes([...li.childNodes], { ...ctx, alternate: false, marker: null }, loose ? '\n\n' : '\n');
    const box = li.querySelector(':scope > input[type=checkbox], :scope > p:first-child > input[type=checkbox]');
    if (box) content = `[${box.checked || box.hasAttribute('checked') ? 'x' : ' '}] ${content}`;
    if (!content) return marker;
    // Content that would read as an indented code block right after the
    // marker needs no special care: blocks never start with spaces here.
    return prefixLines(content, `${marker} `, ' '.repeat(marker.length + 1));
  }).join(loose ? '\n\n' : '\n');
}

function table(el, ctx) {
  const rows = [...el.querySelectorAll(':scope > thead > tr, :scope > tbody > tr, :scope > tr')];
  const head = el.querySelector(':scope > thead > tr');
  if (!head || rows[0] !== head) return `<table${attrs(el)}>${el.innerHTML}</table>`;
  const cells = (tr) => [...tr.children].map((c) => inlineChildren(c, { ...ctx, inTable: true })
    .replace(/\n/g, ' ').trim() || ' ');
  const align = [...head.children].map((c) => {
    const a = /text-align:\s*(left|center|right)/.exec(c.getAttribute('style') ?? '')?.[1] ?? c.getAttribute('align');
    return a === 'center' ? ':---:' : a === 'right' ? '---:' : a === 'left' ? ':---' : '---';
  });
  const line = (cs) => `| ${cs.join(' | ')} |`;
  return [line(cells(head)), line(align), ...rows.slice(1).map((tr) => line(cells(tr)))].join('\n');
}

function footnotes(el, ctx) {
  return [...el.querySelectorAll('li.footnote-item')].map((li) => {
    const n = li.getAttribute('data-label') ?? /^fn(\d+)$/.exec(li.id)?.[1] ?? '';
    const content = blockNodes([...li.childNodes], ctx, '\n\n');
    return prefixLines(content, `[^${n}]: `, '    ');
  }).join('\n\n');
}

function rawHtml(el) {
  // An HTML block ends at a blank line, so none may stay inside.
  return el.innerHTML.replace(/\n[ \t]*(?=\n)/g, '').replace(/^\n+|\n+$/g, '');
}

export function serializeBlock(el, ctx = {}) {
  switch (el.nodeName) {
    case 'P': return paragraphText(inlineChildren(el, ctx));
    case 'H1': case 'H2': case 'H3': case 'H4': case 'H5': case 'H6': return heading(el, ctx);
    case 'BLOCKQUOTE': {
      const inner = blockNodes([...el.childNodes], ctx, '\n\n');
      // Every line is marked, blank ones too, or the quote would end there.
      return inner.split('\n').map((l) => (l ? `> ${l}` : '>')).join('\n');
    }
    case 'UL': case 'OL': return list(el, ctx);
    case 'PRE': return codeBlock(el);
    case 'TABLE': return table(el, ctx);
    case 'HR': {
      // "---" first in a file could open front matter.
      const m = el.getAttribute('data-marker') ?? '';
      return /^([-*_])\1\1+$/.test(m) && (m[0] !== '-' || el.previousElementSibling) ? m : '***';
    }
    case 'SECTION':
      if (el.classList.contains('footnotes')) return footnotes(el, ctx);
      break;
    case 'DIV':
      if (el.classList.contains('frontmatter')) {
        return `---\n${el.getAttribute('data-yaml') ?? ''}\n${el.getAttribute('data-close') || '---'}`;
      }
      if (el.classList.contains('math-block')) return `$$\n${texOf(el)}\n$$`;
      if (el.classList.contains('diagram')) return fence(plainText(el.querySelector('code') ?? el), 'mermaid');
      if (el.classList.contains('raw-html')) return rawHtml(el);
      // A div that is not ours and holds no text came from raw HTML.
      if (!el.textContent.trim() && !el.querySelector('img, input')) return el.outerHTML;
      break;
    default:
      if (RAW_BLOCK_TAGS.has(el.nodeName)) return el.outerHTML;
  }
  return blockNodes([...el.childNodes], ctx, '\n\n');
}

// Serialises a run of sibling nodes: block elements each on their own,
// loose inline nodes in between gathered into paragraphs.
function blockNodes(nodes, ctx, separator) {
  const out = [];
  let run = [];
  let prevList = null;
  const flush = () => {
    if (!run.length) return;
    const text = paragraphText(inlineNodes(run, ctx));
    run = [];
    if (!text) return;
    out.push(text);
    prevList = null;
  };
  for (const node of nodes) {
    const before = ctx.before?.get(node);
    if (before) {
      flush();
      out.push(before);
    }
    const own = ctx.written?.(node) ?? null;
    if (own === null && !isBlockElement(node)) { run.push(node); continue; }
    flush();
    const isList = node.nodeName === 'UL' || node.nodeName === 'OL';
    // Two lists of the same kind in a row would merge into one unless their
    // markers differ.
    const alternate = own === null
      ? isList && prevList?.tag === node.nodeName && !prevList.alternate
      : !/^\s*(-|\d+\.)/.test(own);
    const md = own ?? serializeBlock(node, { ...ctx, written: null, alternate });
    if (!md) continue;
    out.push(md);
    prevList = isList ? { tag: node.nodeName, alternate } : null;
  }
  flush();
  return out.join(separator);
}

export function serializeNodes(nodes, ctx = {}) {
  return blockNodes(nodes, ctx, '\n\n');
}

// `written(node)` may give a top-level node's Markdown as the source has it,
// to be used as is.
// The definitions of reference links are no part of the page, so links are
// written inline here.
// `before` maps a top-level node to source text that goes before it, and its "end" key to what
// goes after the last.
export function serialize(root, written = () => null, before = new Map()) {
  const md = blockNodes(topNodes(root), { written, noReferences: true, before }, '\n\n');
  const end = before.get('end');
  const all = end ? [md, end].filter(Boolean).join('\n\n') : md;
  return all ? `${all}\n` : '';
}
