#include "textsearch.h"

#include <QCoreApplication>

namespace quorvel::core {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A word character as the page's find counts one, so that both agree on "whole word".
constexpr QStringView kNotAfterWord = u"(?<![\\p{L}\\p{M}\\p{N}_])(?:";
constexpr QStringView kNotBeforeWord = u")(?![\\p{L}\\p{M}\\p{N}_])";
// Lines end in "\r\n" as well as "\n": ^ and $ must not see a "\r" as part of a line.
constexpr QStringView kLineEnds = u"(*ANYCRLF)";

} // namespace

TextSearch::TextSearch(const QString &query, FindOptions options)
    : m_query(query)
    , m_options(options)
{
    if (m_query.isEmpty() || isPlain())
        return;
    QString pattern = options.regularExpression ? query : QRegularExpression::escape(query);
    qsizetype before = kLineEnds.size();
    if (options.wholeWord) {
        pattern = kNotAfterWord + pattern + kNotBeforeWord;
        before += kNotAfterWord.size();
    }
    QRegularExpression::PatternOptions flags = QRegularExpression::MultilineOption
        | QRegularExpression::UseUnicodePropertiesOption;
    if (!options.matchCase)
        flags |= QRegularExpression::CaseInsensitiveOption;
    m_regex.setPattern(kLineEnds + pattern);
    m_regex.setPatternOptions(flags);
    if (!m_regex.isValid()) {
        const qsizetype at = m_regex.patternErrorOffset() - before;
        // At the end of the pattern, the whole of it is the place.
        m_error = at >= 0 && at < query.size()
            ? QCoreApplication::translate("quorvel::core::TextSearch", "Bad pattern: %1 at character %2").arg(m_regex.errorString()).arg(at + 1)
            : QCoreApplication::translate("quorvel::core::TextSearch", "Bad pattern: %1").arg(m_regex.errorString());
    }
}

bool TextSearch::isPlain() const
{
    // The common case needs no pattern, and a plain search through a long note is much faster.
    return !m_options.regularExpression && !m_options.wholeWord;
}

QList<TextMatch> TextSearch::matches(const QString &text) const
{
    QList<TextMatch> found;
    if (m_query.isEmpty() || !isValid())
        return found;
    if (isPlain()) {
        const Qt::CaseSensitivity cs = m_options.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        const qsizetype length = m_query.size();
        for (qsizetype at = text.indexOf(m_query, 0, cs); at >= 0;
             at = text.indexOf(m_query, at + length, cs))
            found.append({at, length});
        return found;
    }
    for (auto it = m_regex.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() > 0)
            found.append({match.capturedStart(), match.capturedLength()});
    }
    return found;
}

std::optional<TextEdit> TextSearch::replace(const QString &text, const TextMatch &match,
                                            const QString &replacement) const
{
    if (m_query.isEmpty() || !isValid() || match.length <= 0 || match.start < 0
        || match.end() > text.size())
        return std::nullopt;
    if (isPlain()) {
        const Qt::CaseSensitivity cs = m_options.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
        if (QStringView(text).mid(match.start, match.length).compare(m_query, cs) != 0)
            return std::nullopt;
        return TextEdit{match.start, match.length, replacement};
    }
    // Matched again where it was, with the text before it in sight for look-behinds and
    // whole words.
    const QRegularExpressionMatch again = m_regex.match(
        text, match.start, QRegularExpression::NormalMatch,
        QRegularExpression::AnchorAtOffsetMatchOption);
    if (!again.hasMatch() || again.capturedLength() != match.length)
        return std::nullopt;
    return TextEdit{match.start, match.length, expand(again, replacement)};
}

QList<TextEdit> TextSearch::replaceAll(const QString &text, const QString &replacement) const
{
    QList<TextEdit> edits;
    if (m_query.isEmpty() || !isValid())
        return edits;
    if (isPlain()) {
        for (const TextMatch &match : matches(text))
            edits.append({match.start, match.length, replacement});
        return edits;
    }
    for (auto it = m_regex.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() > 0)
            edits.append({match.capturedStart(), match.capturedLength(), expand(match, replacement)});
    }
    return edits;
}

QString TextSearch::expand(const QRegularExpressionMatch &match, const QString &replacement) const
{
    if (!m_options.regularExpression)
        return replacement;
    QString out;
    out.reserve(replacement.size());
    const int groups = m_regex.captureCount();
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        const QChar next = i + 1 < replacement.size() ? replacement[i + 1] : QChar();
        if (c != u'$' || !(next == u'$' || isAsciiDigit(next))) {
            out.append(c);
            continue;
        }
        if (next == u'$') {
            out.append(u'$');
            ++i;
            continue;
        }
        // Two digits when there are that many groups ("$12"), else one ("$1" and a "2").
        int group = next.digitValue();
        qsizetype used = 1;
        if (i + 2 < replacement.size() && isAsciiDigit(replacement[i + 2])) {
            const int two = group * 10 + replacement[i + 2].digitValue();
            if (two <= groups) {
                group = two;
                used = 2;
            }
        }
        if (group > groups) {
            // Not a group of this pattern: the text stays as typed.
            out.append(c);
            continue;
        }
        out.append(match.captured(group));
        i += used;
    }
    return out;
}

} // namespace quorvel::core
