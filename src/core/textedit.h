#pragma once

#include <QMetaType>
#include <QString>
#include <QStringView>

#include <optional>

namespace quorvel::core {

// Who made a change to a document's text. A view skips the changes it made itself and takes
// everyone else's.
enum class EditOrigin {
    Program,      // a command of the window's (a task ticked, a block formatted from the model)
    SourceEditor, // typed into the source view
    Page,         // typed into the editing view
    Disk,         // the file changed on disk and was read again
    History,      // undo and redo
};

// The one kind of change there is: `removed` characters at `start` give way to `inserted`.
// Offsets count UTF-16 code units of the document's text, line breaks as they are in the file.
struct TextEdit
{
    qsizetype start = 0;
    qsizetype removed = 0;
    QString inserted;

    qsizetype end() const { return start + removed; }
    // Where the inserted text ends once the edit is made.
    qsizetype insertedEnd() const { return start + inserted.size(); }
    bool isEmpty() const { return removed == 0 && inserted.isEmpty(); }
    friend bool operator==(const TextEdit &, const TextEdit &) = default;

    // The smallest edit that turns `before` into `after`: their common start and end stay out.
    // A surrogate pair is never cut in two, so that the edit survives a trip through JSON.
    static TextEdit between(QStringView before, QStringView after);

    // This edit, made from the same text as `earlier`, moved to apply after it. Nothing when
    // both change the same characters (or insert at the same place), which only a person can
    // settle.
    std::optional<TextEdit> rebasedOver(qsizetype earlierStart, qsizetype earlierRemoved,
                                        qsizetype earlierInserted) const;
    std::optional<TextEdit> rebasedOver(const TextEdit &earlier) const
    {
        return rebasedOver(earlier.start, earlier.removed, earlier.inserted.size());
    }
};

} // namespace quorvel::core

Q_DECLARE_METATYPE(quorvel::core::TextEdit)
