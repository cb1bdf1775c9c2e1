// GFM task list items: "- [ ] todo" and "- [x] done" become checkboxes

import { TASK_LINE } from '../tasks.js';

const MARKER = /^\[([ xX])\](?=\s|$)/;

function findListOpen(tokens, from, level) {
  for (let i = from; i >= 0; i -= 1) {
    const t = tokens[i];
    if (t.level === level && (t.type === 'bullet_list_open' || t.type === 'ordered_list_open')) return t;
  }
  return null;
}

function taskRule(state) {
  const { tokens } = state;
  let blockStart = 0;
  let lines = null;
  for (let i = 2; i < tokens.length; i += 1) {
    if (tokens[i - 2].level === 0 && tokens[i - 2].map) blockStart = tokens[i - 2].map[0];
    const inline = tokens[i];
    if (inline.type !== 'inline' || tokens[i - 1].type !== 'paragraph_open' ||
        tokens[i - 2].type !== 'list_item_open') continue;
    const m = MARKER.exec(inline.content);
    const first = inline.children[0];
    if (!m || !first || first.type !== 'text' || !first.content.startsWith(m[0])) continue;

    const item = tokens[i - 2];
    lines ??= state.src.split('\n');
    // The checkbox remembers its line relative to its top-level block, so a
    // block that merely moves down the file keeps its rendered HTML.
    const checkbox = new state.Token('task_checkbox', 'input', 0);
    checkbox.meta = {
      checked: m[1] !== ' ',
      line: item.map[0] - blockStart,
      // A checkbox whose line the host cannot find (one inside a block quote,
      // say) would tick another line of the file, so it is not clickable.
      enabled: TASK_LINE.test(lines[item.map[0]] ?? ''),
    };
    first.content = first.content.slice(m[0].length).replace(/^[ \t]/, '');
    inline.children.unshift(checkbox);
    item.attrJoin('class', 'task-list-item');
    const list = findListOpen(tokens, i - 3, item.level - 1);
    if (list && !(list.attrGet('class') ?? '').includes('contains-task-list')) list.attrJoin('class', 'contains-task-list');
  }
}

export default function taskLists(md) {
  md.core.ruler.push('task_lists', taskRule);
  md.renderer.rules.task_checkbox = (tokens, idx) => {
    const { checked, line, enabled } = tokens[idx].meta;
    // Not editable itself, so that it stays clickable inside edited content.
    return `<input type="checkbox" class="task-checkbox" contenteditable="false" data-task-line="${line}"` +
      `${checked ? ' checked' : ''}${enabled ? '' : ' disabled'}>`;
  };
}
