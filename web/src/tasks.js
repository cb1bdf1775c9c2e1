// Task numbering shared by the checkboxes and the host: checkbox N is the
// N-th line of the whole source that looks like a task item, whatever block
// (a fenced code block included) the line sits in, because the host counts
// lines with the same pattern when it ticks the box in the file.

export const TASK_LINE = /^(\s*(?:[-*+]|\d+[.)])\s+)\[( |x|X)\]/;

// The index of the task on `line`, or -1 when that line is no task line.
export function taskIndexOfLine(lines, line) {
  if (line < 0 || line >= lines.length || !TASK_LINE.test(lines[line])) return -1;
  let index = 0;
  for (let i = 0; i < line; i += 1) {
    // A cheap test first: most lines of a long document hold no "[".
    if (lines[i].includes('[') && TASK_LINE.test(lines[i])) index += 1;
  }
  return index;
}
