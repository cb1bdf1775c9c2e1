#pragma once

#include <QString>
#include <QStringView>

namespace quorvel::core {

// Qt's text widgets turn every line break ("\r\n", "\r", U+2028, U+2029) into "\n". These keep
// the file's own line breaks through an edit in such a widget: only the part the user changed is
// rewritten, with the file's line break for new lines.

// How `after` differs from `before`, as one span: `before`'s [start, end) replaced by
// `inserted` (a view into `after`). The common prefix and suffix are left out.
struct TextChange
{
    qsizetype start = 0;
    qsizetype end = 0;
    QStringView inserted;
};
TextChange textChange(QStringView before, QStringView after);

// The text as a Qt text widget shows it.
QString toEditorText(QStringView text);

// The document after an edit in the widget: `before` is what the widget showed, `after` what it
// shows now. Everything outside the changed span keeps its bytes.
QString mergeEditorEdit(const QString &text, QStringView before, QStringView after);

// The line break new lines get: the file's first one, else "\n".
QString dominantLineBreak(QStringView text);

} // namespace quorvel::core
