#include "lineendings.h"

namespace quorvel::core {

namespace {

bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029);
}

// Offset in `text` after the first `count` characters of its widget form.
qsizetype forwardOffset(QStringView text, qsizetype count)
{
    qsizetype i = 0;
    for (qsizetype seen = 0; seen < count && i < text.size(); ++seen) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            i += 2;
        else
            i += 1;
    }
    return i;
}

// Offset in `text` before the last `count` characters of its widget form.
qsizetype backwardOffset(QStringView text, qsizetype count)
{
    qsizetype j = text.size();
    for (qsizetype seen = 0; seen < count && j > 0; ++seen) {
        if (text[j - 1] == u'\n' && j >= 2 && text[j - 2] == u'\r')
            j -= 2;
        else
            j -= 1;
    }
    return j;
}

} // namespace

QString toEditorText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!isBreak(c)) {
            out.append(c);
            continue;
        }
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        out.append(u'\n');
    }
    return out;
}

QString dominantLineBreak(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n')
            return QStringLiteral("\n");
        if (text[i] == u'\r')
            return i + 1 < text.size() && text[i + 1] == u'\n' ? QStringLiteral("\r\n")
                                                              : QStringLiteral("\r");
    }
    return QStringLiteral("\n");
}

TextChange textChange(QStringView before, QStringView after)
{
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix
           && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    return {prefix, before.size() - suffix, after.mid(prefix, after.size() - prefix - suffix)};
}

QString mergeEditorEdit(const QString &text, QStringView before, QStringView after)
{
    const TextChange change = textChange(before, after);
    const qsizetype start = forwardOffset(text, change.start);
    const qsizetype end = std::max(start, backwardOffset(text, before.size() - change.end));
    QString inserted = change.inserted.toString();
    const QString lineBreak = dominantLineBreak(text);
    if (lineBreak != u"\n")
        inserted.replace(u'\n', lineBreak);
    // Two breaks meeting as "\r" and "\n" would read as one "\r\n", a line fewer than the
    // widget shows: the "\r" becomes "\r\n", a break of the file's own kinds.
    const QStringView rest = QStringView(text).mid(end);
    const auto join = [](QString &left, QStringView right) {
        if (left.endsWith(u'\r') && right.startsWith(u'\n'))
            left.append(u'\n');
    };
    QString merged = text.left(start);
    if (!inserted.isEmpty()) {
        join(merged, inserted);
        merged += inserted;
    }
    join(merged, rest);
    return merged + rest;
}

} // namespace quorvel::core
