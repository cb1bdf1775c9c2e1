#include "textcounts.h"

#include <QLocale>
#include <QTextBoundaryFinder>

namespace quorvel::app {

namespace {

constexpr int kWordsPerMinute = 200;

// A character separates words when its first code point does. QChar::isSpace covers exactly
// Unicode's White_Space, which already holds every line break (U+000A to U+000D, U+0085,
// U+2028, U+2029).
bool separatesWords(const QString &text, qsizetype at)
{
    const QChar c = text.at(at);
    if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate())
        return QChar::isSpace(QChar::surrogateToUcs4(c, text.at(at + 1)));
    return c.isSpace();
}

} // namespace

TextCounts countText(const QString &text)
{
    TextCounts counts;
    if (text.isEmpty())
        return counts;
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    bool inWord = false;
    qsizetype start = 0;
    // Each boundary after `start` closes the cluster that began at `start`.
    for (qsizetype end = clusters.toNextBoundary(); end != -1 && start < text.size();
         end = clusters.toNextBoundary()) {
        ++counts.characters;
        const bool gap = separatesWords(text, start);
        if (!gap && !inWord)
            ++counts.words;
        inWord = !gap;
        start = end;
    }
    return counts;
}

int wordCount(const QString &text)
{
    return countText(text).words;
}

int characterCount(const QString &text)
{
    return countText(text).characters;
}

int readingMinutes(int words)
{
    return qMax(1, (qMax(0, words) + kWordsPerMinute - 1) / kWordsPerMinute);
}

QString countedPhrase(qint64 n, const QString &unit)
{
    QString number = QLocale().toString(n);
    if (number.isEmpty())
        number = QString::number(n);
    return number + u' ' + unit + (n == 1 ? QString() : QStringLiteral("s"));
}

} // namespace quorvel::app
