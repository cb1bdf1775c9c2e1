#include "documenttext.h"

#include "filereader.h"

#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>

#include <algorithm>

#include <cerrno>
#include <cstring>

namespace quorvel::core {

namespace {

QString quotedName(const QString &path)
{
    return u"\u201C" + QFileInfo(path).fileName() + u"\u201D";
}

QString corruptFileError(const QString &path)
{
    return DocumentText::tr("The file %1 couldn\u2019t be opened because it isn\u2019t in the correct "
                          "format.")
        .arg(quotedName(path));
}

QString notTextError(const QString &path)
{
    return DocumentText::tr("The file %1 couldn\u2019t be opened because it isn\u2019t a text file.")
        .arg(quotedName(path));
}

QString readError(const QString &path, const QString &reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return DocumentText::tr("The file %1 couldn\u2019t be opened because there is no such file.")
            .arg(quotedName(path));
    if (!info.isReadable() || reason == QString::fromLocal8Bit(std::strerror(EACCES)))
        return DocumentText::tr("The file %1 couldn\u2019t be opened because you don\u2019t have "
                              "permission to view it.")
            .arg(quotedName(path));
    return DocumentText::tr("The file %1 couldn\u2019t be opened: %2")
        .arg(quotedName(path), reason);
}

} // namespace

// Edits ------------------------------------------------------------------------------------

TextEdit TextEdit::between(QStringView before, QStringView after)
{
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix
           && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    if (prefix > 0 && after[prefix - 1].isHighSurrogate())
        --prefix;
    if (suffix > 0 && after[after.size() - suffix].isLowSurrogate())
        --suffix;
    return {prefix, before.size() - prefix - suffix,
            after.mid(prefix, after.size() - prefix - suffix).toString()};
}

std::optional<TextEdit> TextEdit::rebasedOver(qsizetype earlierStart, qsizetype earlierRemoved,
                                              qsizetype earlierInserted) const
{
    TextEdit moved = *this;
    const qsizetype shift = earlierInserted - earlierRemoved;
    // Two insertions at one place: this one goes after, so that neither is lost.
    if (removed == 0 && earlierRemoved == 0 && start == earlierStart) {
        moved.start += shift;
        return moved;
    }
    if (end() <= earlierStart)
        return moved;
    if (start >= earlierStart + earlierRemoved) {
        moved.start += shift;
        return moved;
    }
    return std::nullopt;
}

// The text ---------------------------------------------------------------------------------

namespace {

// How many edits a view may fall behind and still be told only what changed.
constexpr std::size_t kLoggedEdits = 512;
// History keeps at most this many steps and characters; the oldest go first.
constexpr std::size_t kUndoSteps = 1000;
constexpr qsizetype kUndoCharacters = 16 * 1024 * 1024;

bool isTyping(EditOrigin origin)
{
    return origin == EditOrigin::SourceEditor || origin == EditOrigin::Page;
}

bool hasLineBreak(QStringView text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

DocumentText::DocumentText(const QString &text, TextEncoding encoding, QObject *parent)
    : QObject(parent)
    , m_text(text)
    , m_encoding(encoding)
{
}

Result<std::unique_ptr<DocumentText>> DocumentText::open(const QString &path)
{
    using Opened = Result<std::unique_ptr<DocumentText>>;
    const QFileInfo info(path);
    if (info.isDir())
        return Opened::failure(
            QStringLiteral("%1 is a folder, not a file: open a Markdown file inside it.")
                .arg(quotedName(path)));
    if (info.exists() && !info.isFile())
        return Opened::failure(corruptFileError(path));
    // Read without waiting: what was checked above may have been swapped for a FIFO since,
    // which a plain open would wait on with the window frozen.
    const Result<QByteArray> bytes = FileReader::read(path, FileReader::kDocumentLimit);
    if (!bytes && !QFileInfo(path).isFile() && QFileInfo::exists(path))
        return Opened::failure(corruptFileError(path));
    if (!bytes)
        return Opened::failure(readError(path, bytes.error()));
    auto decoded = TextEncoding::decode(bytes.value());
    if (!decoded)
        return Opened::failure(notTextError(path));
    return std::make_unique<DocumentText>(decoded->text, decoded->encoding);
}

bool DocumentText::apply(const TextEdit &edit, Origin origin)
{
    Change change;
    if (!applyEdit(edit, origin, &change))
        return false;
    if (!m_replaying)
        record(change, origin);
    Q_EMIT edited(edit, origin);
    return true;
}

bool DocumentText::applyAll(const QList<TextEdit> &edits, Origin origin)
{
    qsizetype from = 0;
    for (const TextEdit &edit : edits) {
        if (edit.start < from || edit.removed < 0 || edit.end() > m_text.size())
            return false;
        from = edit.end();
    }
    Step step{{}, origin, 0};
    for (auto it = edits.crbegin(); it != edits.crend(); ++it) {
        Change change;
        if (!applyEdit(*it, origin, &change))
            continue;
        step.size += change.removed.size() + change.inserted.size();
        step.changes.push_back(std::move(change));
        Q_EMIT edited(*it, origin);
    }
    if (step.changes.empty())
        return false;
    if (!m_replaying)
        recordStep(std::move(step));
    return true;
}

bool DocumentText::applyEdit(const TextEdit &edit, Origin origin, Change *change)
{
    if (edit.start < 0 || edit.removed < 0 || edit.start > m_text.size()
        || edit.removed > m_text.size() - edit.start)
        return false;
    const QStringView removed = QStringView(m_text).mid(edit.start, edit.removed);
    if (removed == edit.inserted)
        return false;
    change->start = edit.start;
    change->removed = removed.toString();
    change->inserted = edit.inserted;
    // In place: as long as no view holds a copy of the text, a keystroke in a large note costs
    // the size of the change.
    m_text.replace(edit.start, edit.removed, edit.inserted);
    ++m_revision;
    m_log.push_back({m_revision, edit.start, edit.removed, edit.inserted.size(), m_text.size(),
                     origin});
    if (m_log.size() > kLoggedEdits)
        m_log.pop_front();
    return true;
}

bool DocumentText::replaceAll(const QString &text, Origin origin)
{
    if (text.size() == m_text.size() && text == m_text)
        return false;
    return apply(TextEdit::between(m_text, text), origin);
}

std::optional<TextEdit> DocumentText::changeSince(quint64 revision) const
{
    if (revision == m_revision)
        return TextEdit{};
    if (revision > m_revision || m_log.empty() || m_log.front().revision > revision + 1)
        return std::nullopt;
    qsizetype prefix = m_text.size();
    qsizetype suffix = m_text.size();
    qsizetype sizeBefore = -1;
    for (const Logged &logged : m_log) {
        if (logged.revision <= revision)
            continue;
        if (sizeBefore < 0)
            sizeBefore = logged.sizeAfter - logged.inserted + logged.removed;
        prefix = std::min(prefix, logged.start);
        suffix = std::min(suffix, logged.sizeAfter - logged.start - logged.inserted);
    }
    if (prefix > 0 && m_text.at(prefix - 1).isHighSurrogate())
        --prefix;
    if (suffix > 0 && m_text.at(m_text.size() - suffix).isLowSurrogate())
        --suffix;
    return TextEdit{prefix, sizeBefore - prefix - suffix,
                    m_text.mid(prefix, m_text.size() - prefix - suffix)};
}

std::optional<TextEdit> DocumentText::rebase(const TextEdit &edit, quint64 revision) const
{
    if (revision > m_revision || (revision < m_revision
                                  && (m_log.empty() || m_log.front().revision > revision + 1)))
        return std::nullopt;
    std::optional<TextEdit> moved = edit;
    for (const Logged &logged : m_log) {
        if (logged.revision <= revision)
            continue;
        moved = moved->rebasedOver(logged.start, logged.removed, logged.inserted);
        if (!moved)
            return std::nullopt;
    }
    return moved;
}

bool DocumentText::editedSinceBy(quint64 revision, Origin origin) const
{
    return std::any_of(m_log.begin(), m_log.end(), [&](const Logged &logged) {
        return logged.revision > revision && logged.origin == origin;
    });
}

void DocumentText::setEncoding(TextEncoding encoding)
{
    if (encoding == m_encoding)
        return;
    m_encoding = encoding;
    Q_EMIT encodingChanged(encoding);
}

std::optional<QByteArray> DocumentText::fileData() const
{
    return m_encoding.encode(m_text);
}

// History ----------------------------------------------------------------------------------

bool DocumentText::mergesWithLast(const Change &change, Origin origin) const
{
    if (!m_stepOpen || m_undo.empty() || m_undo.back().origin != origin || !isTyping(origin)
        || !m_lastEdit.isValid() || m_lastEdit.elapsed() > kTypingPause)
        return false;
    const Change &last = m_undo.back().changes.back();
    if (change.removed.isEmpty() && last.removed.isEmpty())
        return change.start == last.start + last.inserted.size() && !hasLineBreak(change.inserted);
    if (change.inserted.isEmpty() && last.inserted.isEmpty())
        return change.start + change.removed.size() == last.start || change.start == last.start;
    return false;
}

void DocumentText::record(const Change &change, Origin origin)
{
    m_redo.clear();
    if (mergesWithLast(change, origin)) {
        Step &step = m_undo.back();
        Change &last = step.changes.back();
        if (change.removed.isEmpty())
            last.inserted += change.inserted;
        else if (change.start == last.start)
            last.removed += change.removed;
        else {
            last.start = change.start;
            last.removed.prepend(change.removed);
        }
        step.size += change.removed.size() + change.inserted.size();
    } else {
        const qsizetype size = change.removed.size() + change.inserted.size();
        m_undo.push_back({{change}, origin, size});
    }
    m_historySize += change.removed.size() + change.inserted.size();
    // Typing goes on into the same step; anything else ends one.
    m_stepOpen = isTyping(origin);
    m_lastEdit.start();
    trimHistory();
    Q_EMIT historyChanged();
}

void DocumentText::recordStep(Step step)
{
    m_redo.clear();
    m_historySize += step.size;
    m_undo.push_back(std::move(step));
    m_stepOpen = false;
    m_lastEdit.start();
    trimHistory();
    Q_EMIT historyChanged();
}

void DocumentText::trimHistory()
{
    while (m_undo.size() > 1
           && (m_undo.size() > kUndoSteps || m_historySize > kUndoCharacters)) {
        m_historySize -= m_undo.front().size;
        m_undo.erase(m_undo.begin());
    }
    // One change too large to keep is not kept at all.
    if (m_historySize > 2 * kUndoCharacters) {
        m_undo.clear();
        m_historySize = 0;
    }
}

std::optional<qsizetype> DocumentText::undo()
{
    return replay(m_undo, m_redo, true);
}

std::optional<qsizetype> DocumentText::redo()
{
    return replay(m_redo, m_undo, false);
}

std::optional<qsizetype> DocumentText::replay(std::vector<Step> &from, std::vector<Step> &to,
                                              bool backwards)
{
    if (from.empty())
        return std::nullopt;
    Step step = std::move(from.back());
    from.pop_back();
    m_stepOpen = false;
    std::optional<qsizetype> caret;
    const qsizetype count = qsizetype(step.changes.size());
    const auto replayed = [&] {
        for (qsizetype n = 0; n < count; ++n) {
            const Change &c = step.changes[std::size_t(backwards ? count - 1 - n : n)];
            const QString &gone = backwards ? c.inserted : c.removed;
            const QString &back = backwards ? c.removed : c.inserted;
            // History describes this text; should it ever not, it is dropped rather than
            // allowed to write into the wrong place.
            if (QStringView(m_text).mid(c.start, gone.size()) != gone)
                return false;
            const TextEdit edit{c.start, gone.size(), back};
            Change made;
            if (applyEdit(edit, Origin::History, &made))
                Q_EMIT edited(edit, Origin::History);
            caret = c.start + back.size();
        }
        return true;
    };
    const QScopedValueRollback replaying(m_replaying, true);
    if (!replayed()) {
        m_undo.clear();
        m_redo.clear();
        m_historySize = 0;
        Q_EMIT historyChanged();
        return std::nullopt;
    }
    to.push_back(std::move(step));
    Q_EMIT historyChanged();
    return caret;
}

} // namespace quorvel::core
