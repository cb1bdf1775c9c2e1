import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { makePage } from './helpers.mjs';
import { TASK_LINE, taskIndexOfLine } from '../src/tasks.js';

// Task-looking lines inside a fenced block take numbers too, so the first
// real checkbox after the fence is task 2, not task 0.
const DOC = [
  '# Tasks',
  '',
  '```md',
  '- [ ] in a fence',
  '* [x] also in the fence',
  '```',
  '',
  '- [ ] first real',
  '  1. [X] nested numbered',
  '',
  '> - [ ] quoted, not a task line',
  '',
  '12) [ ] twelve',
  '',
].join('\n');

describe('task numbering', () => {
  const lines = [
    ['dash-space', '- [ ] a', true],
    ['star-indented-upper-x', '  * [X] c', true],
    ['paren-number', '1) [ ] d', true],
    ['dot-number', '12. [ ] e', true],
    ['empty-item', '- [ ]', true],
    ['no-space-after-bullet', '-[ ] f', false],
    ['empty-brackets', '- [] g', false],
    ['quoted', '> - [ ] h', false],
  ];
  for (const [name, line, matches] of lines) {
    it(`pattern: ${name}`, () => assert.equal(TASK_LINE.test(line), matches));
  }

  it('counts every matching line before the item, fenced ones included', () => {
    const src = DOC.split('\n');
    assert.equal(taskIndexOfLine(src, 3), 0);
    assert.equal(taskIndexOfLine(src, 7), 2);
    assert.equal(taskIndexOfLine(src, 8), 3);
    assert.equal(taskIndexOfLine(src, 12), 4);
    assert.equal(taskIndexOfLine(src, 10), -1);
  });

  it('posts the number of the clicked checkbox with its new state', () => {
    const { page, root, of } = makePage();
    page.render(DOC, '');
    const boxes = [...root.querySelectorAll('input.task-checkbox')];
    assert.equal(boxes.length, 4);
    const posted = [];
    for (const box of boxes) {
      if (box.disabled) continue;
      box.click();
      posted.push(of('task').at(-1));
    }
    assert.deepEqual(posted, [
      { type: 'task', index: 2, checked: true },
      { type: 'task', index: 3, checked: false },
      { type: 'task', index: 4, checked: true },
    ]);
  });

  it('keeps numbers right after an edit above moves the blocks down', () => {
    const { page, root, of } = makePage();
    page.render(DOC, '');
    page.render(DOC.replace('# Tasks', '# Tasks\n\n- [ ] new first\n\nMore text.'), '');
    const last = [...root.querySelectorAll('input.task-checkbox')].at(-1);
    last.click();
    assert.deepEqual(of('task').at(-1), { type: 'task', index: 5, checked: true });
  });

  it('does not let a checkbox in a block quote tick another line', () => {
    const { page, root, of } = makePage();
    page.render(DOC, '');
    const quoted = root.querySelector('blockquote input');
    assert.ok(quoted.disabled);
    quoted.dispatchEvent(new root.ownerDocument.defaultView.MouseEvent('click', { bubbles: true }));
    assert.equal(of('task').length, 0);
  });

  // Enter in a task item: the engine copies the item, checkbox and all, and the page writes the
  // list back without drawing it again, so its checkboxes are those it was first drawn with.
  for (const [name, clicked, index] of [
    ['the-new-item', 'new', 1],
    ['an-item-below-it', 'c', 3],
    ['an-item-above-it', 'a', 0],
  ]) {
    it(`ticks the task clicked in a list edited in place: ${name}`, async () => {
      const { page, root, of, settle } = makePage();
      page.render('Tasks\n\n- [ ] a\n- [ ] b\n- [ ] c\n', '');
      page.setEditable(true);
      const first = root.querySelector('li');
      const copy = first.cloneNode(true);
      copy.lastChild.data = 'new';
      first.after(copy);
      await settle();
      assert.equal(page.flushEdit(), 'Tasks\n\n- [ ] a\n- [ ] new\n- [ ] b\n- [ ] c\n');
      const item = [...root.querySelectorAll('li')].find((li) => li.textContent.trim() === clicked);
      item.querySelector('input').click();
      assert.deepEqual(of('task').at(-1), { type: 'task', index, checked: true });
    });
  }
});
