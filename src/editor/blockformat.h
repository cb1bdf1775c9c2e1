#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quorvel::editor {

// What a block command of the Format menu makes of the lines it acts on.
enum class BlockKind { Paragraph, Heading, Quote, Bullet, Numbered, Task };

struct BlockFormat
{
    BlockKind kind = BlockKind::Paragraph;
    int level = 0; // 1–6 for a heading
};

// One line's change: `length` characters at `column` become `inserted`.
struct LineEdit
{
    int line = 0;
    int column = 0;
    int length = 0;
    QString inserted;
    bool operator==(const LineEdit &) const = default;
};

// The edits that give every line the format, at the line's start and nowhere else: a marker of
// the same family (a heading level, a list marker) is replaced, never doubled, and when every
// line already has the format it is taken away. Blank lines are left alone unless all are blank.
// Only markers change, so the rest of each line stays byte for byte.
QList<LineEdit> blockFormatEdits(const QStringList &lines, BlockFormat format);

} // namespace quorvel::editor
