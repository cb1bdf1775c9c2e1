#include "notetext.h"

#include "notelinks.h"

#include <algorithm>
#include <optional>

namespace quorvel::vault {

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber();
}

// "# Title #" → "Title"; none when the line is no ATX heading.
std::optional<QStringView> atxHeading(QStringView line)
{
    qsizetype i = 0;
    while (i < line.size() && i < 3 && line[i] == u' ')
        ++i;
    qsizetype level = 0;
    while (i + level < line.size() && line[i + level] == u'#')
        ++level;
    if (level == 0 || level > 6)
        return std::nullopt;
    i += level;
    if (i < line.size() && line[i] != u' ' && line[i] != u'\t')
        return std::nullopt;
    QStringView rest = line.mid(i).trimmed();
    // A closing run of "#" preceded by a space is no part of the text.
    qsizetype end = rest.size();
    while (end > 0 && rest[end - 1] == u'#')
        --end;
    if (end == 0 || rest[end - 1] == u' ')
        rest = rest.left(end).trimmed();
    return rest;
}

bool isThematicBreak(QStringView line)
{
    const QStringView t = line.trimmed();
    if (t.size() < 3)
        return false;
    const QChar mark = t[0];
    if (mark != u'-' && mark != u'*' && mark != u'_')
        return false;
    qsizetype marks = 0;
    for (QChar c : t) {
        if (c == mark)
            ++marks;
        else if (c != u' ' && c != u'\t')
            return false;
    }
    return marks >= 3;
}

// A table's line under its header: pipes, dashes and colons only.
bool isTableDelimiter(QStringView line)
{
    const QStringView t = line.trimmed();
    if (!t.contains(u'|') || !t.contains(u'-'))
        return false;
    return std::all_of(t.begin(), t.end(), [](QChar c) {
        return c == u'|' || c == u'-' || c == u':' || c == u' ' || c == u'\t';
    });
}

// "[label]: destination" on a line of its own shows nothing.
bool isReferenceDefinition(QStringView line)
{
    const QStringView t = line.trimmed();
    if (!t.startsWith(u'[') || t.startsWith(u"[^"))
        return false;
    const qsizetype close = t.indexOf(u"]:");
    return close > 1 && !t.left(close).contains(u']');
}

// Block quote markers, list bullets and numbers, task boxes.
QStringView withoutBlockMarkers(QStringView line)
{
    QStringView t = line.trimmed();
    while (t.startsWith(u'>'))
        t = t.mid(1).trimmed();
    if (t.size() >= 2 && (t[0] == u'-' || t[0] == u'*' || t[0] == u'+') && t[1] == u' ')
        t = t.mid(2).trimmed();
    else {
        qsizetype digits = 0;
        while (digits < t.size() && digits < 9 && t[digits].isDigit())
            ++digits;
        if (digits > 0 && digits + 1 < t.size() && (t[digits] == u'.' || t[digits] == u')')
            && t[digits + 1] == u' ')
            t = t.mid(digits + 2).trimmed();
    }
    if (t.size() >= 3 && t[0] == u'[' && t[2] == u']'
        && (t[1] == u' ' || t[1] == u'x' || t[1] == u'X'))
        t = t.mid(3).trimmed();
    // A footnote's text, without the label that ties it to its reference.
    if (t.startsWith(u"[^")) {
        const qsizetype close = t.indexOf(u"]:");
        if (close > 2 && !t.left(close).contains(u' '))
            t = t.mid(close + 2).trimmed();
    }
    return t;
}

// The index of the bracket closing the one at `open`, counting nested pairs; -1 when none.
qsizetype closingBracket(QStringView text, qsizetype open, QChar left, QChar right)
{
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            ++i;
            continue;
        }
        if (text[i] == left)
            ++depth;
        else if (text[i] == right && --depth == 0)
            return i;
    }
    return -1;
}

void appendInline(QStringView text, QString &out);

// A wikilink's visible words: its alias, else its name with a heading after a space.
QString wikilinkLabel(QStringView inner)
{
    const qsizetype bar = inner.indexOf(u'|');
    if (bar >= 0)
        return inner.mid(bar + 1).trimmed().toString();
    QString name = inner.trimmed().toString();
    name.replace(u'#', u' ');
    return name.trimmed();
}

const struct
{
    const char16_t *entity;
    char16_t character;
} kEntities[] = {{u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'},
                 {u"&nbsp;", u' '}, {u"&#39;", u'\''}, {u"&apos;", u'\''}};

// A character none of the rules below looks at.
bool isPlain(QChar c)
{
    switch (c.unicode()) {
    case u'\\':
    case u'`':
    case u'!':
    case u'[':
    case u'<':
    case u'&':
    case u'*':
    case u'~':
    case u'=':
    case u'_':
    case u'|':
        return false;
    default:
        return c.unicode() >= 0x20 || c == u'\t';
    }
}

void appendInline(QStringView text, QString &out)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text[i];
        // Most of a note is plain text: copied a run at a time, not looked at a character at a
        // time by every rule.
        if (isPlain(c)) {
            qsizetype end = i + 1;
            while (end < n && isPlain(text[end]))
                ++end;
            out += text.mid(i, end - i);
            i = end;
            continue;
        }
        if (c == u'\\' && i + 1 < n && text[i + 1].isPunct()) {
            out += text[i + 1];
            i += 2;
            continue;
        }
        // Code spans keep their text as written.
        if (c == u'`') {
            qsizetype run = 0;
            while (i + run < n && text[i + run] == u'`')
                ++run;
            const QString fence(run, u'`');
            const qsizetype close = text.indexOf(fence, i + run);
            if (close > 0) {
                out += text.mid(i + run, close - i - run).trimmed();
                i = close + run;
            } else {
                i += run;
            }
            continue;
        }
        if ((c == u'!' && text.mid(i).startsWith(u"![[")) || text.mid(i).startsWith(u"[[")) {
            const qsizetype open = c == u'!' ? i + 1 : i;
            const qsizetype close = text.indexOf(u"]]", open + 2);
            if (close > 0) {
                out += wikilinkLabel(text.mid(open + 2, close - open - 2));
                i = close + 2;
                continue;
            }
        }
        if (c == u'[' || (c == u'!' && i + 1 < n && text[i + 1] == u'[')) {
            const qsizetype open = c == u'!' ? i + 1 : i;
            const qsizetype close = closingBracket(text, open, u'[', u']');
            if (close > 0) {
                const QStringView label = text.mid(open + 1, close - open - 1);
                qsizetype after = close + 1;
                if (after < n && text[after] == u'(') {
                    const qsizetype end = closingBracket(text, after, u'(', u')');
                    if (end > 0)
                        after = end + 1;
                } else if (after < n && text[after] == u'[') {
                    const qsizetype end = text.indexOf(u']', after);
                    if (end > 0)
                        after = end + 1;
                }
                // A footnote reference is no word of the text.
                if (!label.startsWith(u'^'))
                    appendInline(label, out);
                i = after;
                continue;
            }
        }
        if (c == u'<') {
            // An autolink shows its address; a tag shows nothing.
            const qsizetype close = text.indexOf(u'>', i);
            if (close > i + 1) {
                const QStringView inner = text.mid(i + 1, close - i - 1);
                if (inner.contains(u"://") || (inner.contains(u'@') && !inner.contains(u' '))) {
                    out += inner;
                    i = close + 1;
                    continue;
                }
                const QChar first = inner[0];
                if (first.isLetter() || first == u'/' || first == u'!' || first == u'?') {
                    out += u' ';
                    i = close + 1;
                    continue;
                }
            }
        }
        if (c == u'&') {
            bool matched = false;
            for (const auto &entity : kEntities) {
                const QStringView name(entity.entity);
                if (text.mid(i).startsWith(name)) {
                    out += QChar(entity.character);
                    i += name.size();
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        if (c == u'*' || ((c == u'~' || c == u'=') && i + 1 < n && text[i + 1] == c)) {
            while (i < n && text[i] == c)
                ++i;
            continue;
        }
        if (c == u'_') {
            // Emphasis at a word's edge; snake_case keeps its underscores.
            qsizetype run = 0;
            while (i + run < n && text[i + run] == u'_')
                ++run;
            const bool before = i > 0 && isWordChar(text[i - 1]);
            const bool after = i + run < n && isWordChar(text[i + run]);
            if (!(before && after))
                i += run;
            else {
                out += text.mid(i, run);
                i += run;
            }
            continue;
        }
        // A table's cells stand apart; a wikilink's "|" was taken with the wikilink.
        if (c == u'|') {
            out += u' ';
            ++i;
            continue;
        }
        // Control characters would end up in snippets and mean nothing to a reader.
        if (c.unicode() < 0x20 && c != u'\t')
            out += u' ';
        else
            out += c;
        ++i;
    }
}

} // namespace

QString readerLine(QStringView line)
{
    if (const auto heading = atxHeading(line)) {
        QString out;
        appendInline(*heading, out);
        return out.trimmed();
    }
    if (isThematicBreak(line) || isReferenceDefinition(line) || isTableDelimiter(line))
        return QString();
    QString out;
    appendInline(withoutBlockMarkers(line), out);
    return out.trimmed();
}

namespace {

// "===" or "---" (up to three spaces before, spaces after) under a paragraph's line.
std::optional<QChar> setextUnderline(QStringView line)
{
    qsizetype indent = 0;
    while (indent < line.size() && line[indent] == u' ')
        ++indent;
    const QStringView t = line.mid(indent);
    if (indent > 3 || t.isEmpty() || (t[0] != u'=' && t[0] != u'-'))
        return std::nullopt;
    qsizetype run = 0;
    while (run < t.size() && t[run] == t[0])
        ++run;
    if (!t.mid(run).trimmed().isEmpty())
        return std::nullopt;
    return t[0];
}

// A line that may be a heading's text when a setext underline follows: no other block's.
bool isParagraphLine(QStringView line, QStringView words)
{
    if (words.isEmpty() || line.startsWith(u"    ") || line.startsWith(u'\t'))
        return false;
    const QStringView t = line.trimmed();
    if (t.startsWith(u'>') || t.startsWith(u'<') || t.startsWith(u'|'))
        return false;
    if (t.size() >= 2 && (t[0] == u'-' || t[0] == u'*' || t[0] == u'+') && t[1] == u' ')
        return false;
    qsizetype digits = 0;
    while (digits < t.size() && t[digits].isDigit())
        ++digits;
    return !(digits > 0 && digits < t.size() && (t[digits] == u'.' || t[digits] == u')'));
}

} // namespace

void SectionReader::feed(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = text.size();
        QStringView part = text.mid(at, end - at);
        if (part.endsWith(u'\r'))
            part.chop(1);
        line(part);
        at = end + 1;
    }
}

void SectionReader::finish()
{
    flushParagraph();
    if (m_currentHasText || m_anySection || m_done.isEmpty())
        m_done.append(std::exchange(m_current, {}));
    m_currentHasText = false;
}

void SectionReader::startSection(QString heading, int line)
{
    // The part above the first heading is kept only when it says something.
    if (m_currentHasText || m_anySection)
        m_done.append(std::exchange(m_current, {}));
    m_current = {std::move(heading), line, QString()};
    m_currentHasText = false;
    m_anySection = true;
}

void SectionReader::append(const QString &words)
{
    if (m_current.text.size() + words.size() > kLongest && !m_current.text.isEmpty()) {
        // A long part goes on under the same heading in another piece.
        m_done.append(m_current);
        m_current.text.clear();
    }
    m_current.text += words;
    m_current.text += u'\n';
    m_currentHasText = true;
}

void SectionReader::flushParagraph()
{
    if (m_paragraphLine < 0)
        return;
    append(std::exchange(m_paragraph, {}));
    m_paragraphLine = -1;
}

void SectionReader::line(QStringView line)
{
    const int number = m_lineNumber++;
    if (number == 0 && line == u"---") {
        m_frontMatter = true;
        return;
    }
    if (m_frontMatter) {
        if (line == u"---" || line == u"...")
            m_frontMatter = false;
        else
            append(line.trimmed().toString());
        return;
    }
    if (const auto found = fenceOf(line)) {
        const qsizetype run = found->length;
        if (m_fence.isNull()) {
            flushParagraph();
            m_fence = found->mark;
            m_fenceRun = run;
            return;
        }
        if (found->mark == m_fence && run >= m_fenceRun && line.trimmed().size() == run) {
            m_fence = QChar();
            return;
        }
    }
    if (!m_fence.isNull()) {
        QString code = line.toString();
        for (QChar &c : code)
            if (c.unicode() < 0x20 && c != u'\t')
                c = u' ';
        append(code);
        return;
    }
    if (m_paragraphLine >= 0 && setextUnderline(line)) {
        const int at = m_paragraphLine;
        m_paragraphLine = -1;
        startSection(std::exchange(m_paragraph, {}).simplified(), at);
        return;
    }
    if (const auto heading = atxHeading(line)) {
        flushParagraph();
        QString words;
        appendInline(*heading, words);
        startSection(words.trimmed(), number);
        return;
    }
    const QString words = readerLine(line);
    if (!isParagraphLine(line, words)) {
        flushParagraph();
        if (!words.isEmpty())
            append(words);
        return;
    }
    // A paragraph too long to be a heading's text is no heading.
    if (m_paragraph.size() > 4096)
        flushParagraph();
    if (m_paragraphLine < 0)
        m_paragraphLine = number;
    else
        m_paragraph += u'\n';
    m_paragraph += words;
}

QList<NoteSection> readerSections(const QString &markdown)
{
    SectionReader reader;
    reader.feed(markdown);
    reader.finish();
    return reader.take();
}

} // namespace quorvel::vault
