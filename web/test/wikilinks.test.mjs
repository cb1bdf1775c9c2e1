import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';
import { parseWikilink } from '../src/plugins/wikilinks.js';

describe('wikilinks', () => {
  const parts = [
    ['target-only', 'Note', { target: 'Note', heading: '', alias: '' }],
    ['heading', 'Note#Part two', { target: 'Note', heading: 'Part two', alias: '' }],
    ['alias', 'Note|shown', { target: 'Note', heading: '', alias: 'shown' }],
    ['heading-and-alias', 'Note#H|shown', { target: 'Note', heading: 'H', alias: 'shown' }],
    ['heading-of-this-note', '#Local', { target: '', heading: 'Local', alias: '' }],
    ['spaces-trimmed', ' Note # H ', { target: 'Note', heading: 'H', alias: '' }],
  ];
  for (const [name, inner, want] of parts) it(`parses ${name}`, () => assert.deepEqual(parseWikilink(inner), want));

  it('reports each target once and marks those that resolve to nothing', () => {
    const { page, root, of } = makePage();
    page.render('[[Here]] [[Gone]] [[Here#x]] ![[pic.png]]\n', 'file:///v/');
    assert.deepEqual(of('resolve')[0].targets, ['Here', 'Gone', 'pic.png']);
    page.resolved({ Here: 'file:///v/Here.md', Gone: null, 'pic.png': 'file:///v/att/pic.png' });
    const links = [...root.querySelectorAll('a.wikilink')];
    assert.deepEqual(links.map((a) => a.classList.contains('unresolved')), [false, true, false]);
    assert.equal(root.querySelector('img').getAttribute('src'), 'file:///v/att/pic.png');
  });

  it('asks only about new blocks after a change, and keeps every answer for blocks to come', () => {
    const { page, root, of } = makePage();
    const head = '[[Gone]]\n\n[[Here]]\n\none\n\ntwo\n\n';
    page.render(`${head}para\n`, '');
    page.resolved({ Gone: null, Here: 'file:///v/Here.md' });
    page.render(`${head}para [[New]]\n`, '');
    assert.deepEqual(of('resolve').at(-1).targets, ['New']);
    page.resolved({ New: 'file:///v/New.md' });
    page.render(`${head}para [[New]]\n\n[[Gone]] [[Here]] again\n`, '');
    assert.equal(root.querySelectorAll('a.unresolved').length, 2);
    assert.equal(root.querySelectorAll('a[data-href="file:///v/Here.md"]').length, 2);
  });

  it('posts target and heading on a click, and never navigates', () => {
    const { page, root, of, win } = makePage();
    page.render('[[Plan#Budget|money]] and [[Other]]\n', '');
    const [a, b] = root.querySelectorAll('a.wikilink');
    const event = new win.MouseEvent('click', { bubbles: true, cancelable: true });
    a.dispatchEvent(event);
    b.click();
    assert.ok(event.defaultPrevented);
    assert.deepEqual(of('wikilink'), [
      { type: 'wikilink', target: 'Plan', heading: 'Budget' },
      { type: 'wikilink', target: 'Other', heading: '' },
    ]);
  });
});

describe('links and context menu', () => {
  it('posts the absolute href and the link as written', () => {
    const { page, root, of } = makePage();
    page.render('[doc](../other/doc.md#part) [site](https://example.com)\n', 'file:///home/u/notes/');
    root.querySelectorAll('a').forEach((a) => a.click());
    assert.deepEqual(of('link'), [
      { type: 'link', href: 'file:///home/u/other/doc.md#part', written: '../other/doc.md#part' },
      { type: 'link', href: 'https://example.com', written: 'https://example.com' },
    ]);
  });

  it('tells the kind of link under a right click and acts on it later', () => {
    const { page, root, of, win } = makePage();
    page.render('[site](https://example.com) [file](a.md) [[Note]] plain\n', 'file:///n/');
    const [web, file, wiki] = root.querySelectorAll('a');
    const right = (el) => el.dispatchEvent(new win.MouseEvent('contextmenu', { bubbles: true }));
    right(web);
    right(file);
    right(wiki);
    right(root.querySelector('p'));
    assert.deepEqual(of('contextmenu').map((m) => m.link), ['web', 'file', 'wikilink', '']);
    right(file);
    page.openContextLink();
    assert.deepEqual(of('link').at(-1), { type: 'link', href: 'file:///n/a.md', written: 'a.md' });
  });

  it('removes and edits the remembered link while editing', () => {
    const { page, root, win } = makePage();
    page.render('Go [there](a.md) now and [here](b.md).\n', 'file:///n/');
    page.setEditable(true);
    const [there, here] = root.querySelectorAll('a');
    there.dispatchEvent(new win.MouseEvent('contextmenu', { bubbles: true }));
    page.unlinkContextLink();
    here.dispatchEvent(new win.MouseEvent('contextmenu', { bubbles: true }));
    win.prompt = () => 'c.md';
    page.editContextLink();
    assert.equal(page.flushEdit(), 'Go there now and [here](c.md).\n');
  });
});
