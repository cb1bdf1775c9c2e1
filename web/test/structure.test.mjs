import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';

import { perform, press, putCaret } from './keys.mjs';

function editing(md) {
  const env = makePage();
  env.page.render(md, '');
  env.page.setEditable(true);
  return env;
}

const TABLE = '| a | b |\n| --- | --- |\n| c | d |\n';

// [name, document, caret, keys and text, the file afterwards]
const CASES = [
  ['heading', 'Intro\n\nHello\n', 'p:nth-of-type(2)@0', '## ', 'Intro\n\n## Hello\n'],
  ['heading-level-changed', '# Hello\n', 'h1@0', '### ', '### Hello\n'],
  ['hash-inside-text-stays-text', 'ab\n', 'p@1', '# x', 'a# xb\n'],
  ['bullet-keeps-its-marker', 'Hello\n', 'p@0', '* ', '* Hello\n'],
  ['ordered-keeps-number-and-delimiter', 'Hello\n', 'p@0', '3) ', '3) Hello\n'],
  ['quote', 'Hello\n', 'p@0', '> ', '> Hello\n'],
  ['task-typed-in-a-new-item', 'Hello\n', 'p@0', '- [ ] ', '- [ ] Hello\n'],
  ['list-continues-on-enter', 'first\n', 'p@0', '- {End}{Enter}second', '- first\n- second\n'],
  ['enter-splits-an-item', '1. ab\n', 'li@1', '{Enter}', '1. a\n2. b\n'],
  ['task-continues-unchecked', '- [x] a\n', 'li@$', '{Enter}b', '- [x] a\n- [ ] b\n'],
  ['empty-item-ends-the-list', '- a\n\nafter\n', 'li@$', '{Enter}{Enter}p', '- a\n\np\n\nafter\n'],
  ['empty-nested-item-outdents', '- a\n  - b\n', 'li li@$', '{Enter}{Enter}c', '- a\n  - b\n- c\n'],
  ['fence-with-language', '``js\n', 'p@0', '`{End}{Enter}let a', '```js\nlet a\n```\n'],
  ['rule-then-paragraph', '--\n', 'p@$', '-{Enter}after', '***\n\nafter\n'],
  ['backspace-unmakes-heading', '## Title\n', 'h2@0', '{Backspace}', 'Title\n'],
  ['backspace-splits-the-list', '- a\n- b\n- c\n', 'li:nth-child(2)@0', '{Backspace}', '- a\n\nb\n\n- c\n'],
  ['backspace-unchecks-a-task-first', '- [ ] a\n', 'li@0', '{Backspace}', '- a\n'],
  // Joined by the page, not the engine: no span of styles, nothing it cannot edit dropped.
  ['backspace-joins-paragraphs', 'One.\n\nTwo, noted.[^n]\n\n[^n]: N.\n', 'p:nth-of-type(2)@0', '{Backspace}x', 'One.xTwo, noted.[^n]\n\n[^n]: N.\n'],
  ['backspace-joins-a-paragraph-to-a-heading', '# Head\n\nText\n', 'p@0', '{Backspace}', '# HeadText\n'],
  ['delete-joins-the-next-paragraph', 'One *it*.\n\nTwo.\n', 'p@$', '{Delete}', 'One *it*.Two.\n'],
  // The item goes, its text joins; the items after it keep their numbers and boxes.
  ['delete-joins-the-only-item', 'One.\n\n- a\n', 'p@$', '{Delete}x', 'One.xa\n'],
  ['delete-joins-the-first-item', 'One.\n\n3. a *it*[^n]\n4. c\n\n[^n]: N.\n', 'p@$', '{Delete}', 'One.a *it*[^n]\n\n4. c\n\n[^n]: N.\n'],
  ['delete-joins-a-task-item', 'One.\n\n- [ ] a\n- [x] b\n', 'p@$', '{Delete}', 'One.a\n\n- [x] b\n'],
  ['delete-lifts-the-items-sub-items', 'One.\n\n- a\n  - sub\n- c\n', 'p@$', '{Delete}', 'One.a\n\n- sub\n- c\n'],
  ['delete-joins-the-first-quoted-paragraph', 'One.\n\n> q *it*[^n]\n>\n> more\n\n[^n]: N.\n', 'p@$', '{Delete}', 'One.q *it*[^n]\n\n> more\n\n[^n]: N.\n'],
  ['backspace-joins-the-last-item', '- a\n- b\n\nTwo *x*.[^n]\n\n[^n]: N.\n', 'p@0', '{Backspace}x', '- a\n- bxTwo *x*.[^n]\n\n[^n]: N.\n'],
  ['backspace-joins-the-deepest-task-item', '- [ ] a\n  - [x] b\n\nTwo.\n', 'p@0', '{Backspace}', '- [ ] a\n  - [x] bTwo.\n'],
  ['backspace-joins-a-loose-items-last-paragraph', '1. a\n\n   b\n\nTwo.\n', 'ol + p@0', '{Backspace}', '1. a\n\n   bTwo.\n'],
  ['tab-indents', '- a\n- b\n', 'li:nth-child(2)@0', '{Tab}', '- a\n  - b\n'],
  ['shift-tab-outdents-with-followers', '- a\n  - b\n  - c\n', 'li li@0', '{S-Tab}', '- a\n- b\n  - c\n'],
  ['tab-to-next-cell', TABLE, 'th@0', '{Tab}x', TABLE.replace('b |', 'x |')],
  ['shift-tab-to-previous-cell', TABLE, 'td:nth-child(1)@0', '{S-Tab}y', TABLE.replace('b |', 'y |')],
  ['tab-in-last-cell-adds-a-row', TABLE, 'td:nth-child(2)@$', '{Tab}e', `${TABLE}| e |   |\n`],
  ['tab-in-a-paragraph-changes-nothing', 'Hello\n', 'p@0', '{Tab}x', 'xHello\n'],
  ['ctrl-b', 'Hello world\n', 'p@8', '{C-b}', 'Hello **world**\n'],
  ['ctrl-i', 'Hello world\n', 'p@8', '{C-i}', 'Hello *world*\n'],
  ['ctrl-u-is-no-format', 'Hello world\n', 'p@8', '{C-u}', 'Hello world\n'],
  // The word at the caret is formatted, and the next key types at the caret, not over the word.
  ['ctrl-b-mid-word-then-typing', 'Hello world\n', 'p@8', '{C-b}X', 'Hello **woXrld**\n'],
  ['ctrl-b-at-word-end-then-typing', 'Hello world\n', 'p@$', '{C-b} X', 'Hello **world** X\n'],
  ['heading-in-an-empty-note', '', '@0', '## Title', '## Title\n'],
  ['list-in-an-empty-note', '', '@0', '- a{Enter}b', '- a\n- b\n'],
  ['fence-in-an-empty-note', '', '@0', '```{Enter}x', '```\nx\n```\n'],
  ['bold-in-an-empty-note', '', '@0', '**b** c', '**b** c\n'],
  // What follows a span typed whole is no longer in it.
  ['bold-typed', 'Hi\n', 'p@$', ' **b** c', 'Hi **b** c\n'],
  ['italic-typed', 'Hi\n', 'p@$', ' *i*  c', 'Hi *i*  c\n'],
  ['code-typed', 'Hi\n', 'p@$', ' `a*b*`', 'Hi `a*b*`\n'],
  ['strike-typed', 'Hi\n', 'p@$', ' ~~s~~', 'Hi ~~s~~\n'],
  ['mark-typed', 'Hi\n', 'p@$', ' ==m==', 'Hi ==m==\n'],
  ['link-typed', 'Hi\n', 'p@$', ' [t](a.md) c', 'Hi [t](a.md) c\n'],
  ['backslash-keeps-it-text', 'Hi\n', 'p@$', ' \\*i*', 'Hi \\\\\\*i\\*\n'],
  ['spaced-stars-stay-text', 'Hi\n', 'p@$', ' a * b *', 'Hi a \\* b \\*\n'],
  ['enter-in-code-adds-a-line', '```\ncode\n```\n', 'code@4', '{Enter}more', '```\ncode\nmore\n```\n'],
  ['empty-code-line-leaves', '```\ncode\n```\n', 'code@4', '{Enter}{Enter}after', '```\ncode\n```\n\nafter\n'],
  ['closing-fence-leaves', '```\ncode\n```\n', 'code@4', '{Enter}```{Enter}# after', '```\ncode\n```\n\n# after\n'],
];

describe('structure typed on the page', () => {
  for (const [name, md, caret, input, want] of CASES) {
    it(name, async () => {
      assert.equal(await perform(editing(md), caret, input), want);
    });
  }

  it('leaves the keys it does not shape to the engine', () => {
    const { win, root } = editing('Para\n\n- item\n\n```\ncode\n```\n');
    for (const [caret, key] of [['p@2', 'Enter'], ['li@2', 'Backspace'], ['li@$', 'S-Enter']]) {
      putCaret(win, root, caret);
      assert.equal(press(win, root, key), true, `${key} at ${caret}`);
    }
  });

  // The new item holds its line with a line break beside the checkbox and an empty text.
  it('joins a paragraph to the empty task made by Enter, without its line break', async () => {
    const env = editing('- [ ] a\n\nTwo.\n');
    putCaret(env.win, env.root, 'li@$');
    press(env.win, env.root, 'Enter');
    assert.equal(await perform(env, 'ul + p@0', '{Backspace}x'), '- [ ] a\n- [ ] xTwo.\n');
  });

  it('makes task items shaped like the rendered ones', async () => {
    const made = editing('a\n');
    await perform(made, 'p@0', '- [ ] ');
    const rendered = editing('- [ ] a\n');
    const shape = (root) => {
      const box = root.querySelector('li > input');
      return [box.parentNode.className, box.className, box.type, box.getAttribute('contenteditable'), box.checked];
    };
    assert.deepEqual(shape(made.root), shape(rendered.root));
  });
});
