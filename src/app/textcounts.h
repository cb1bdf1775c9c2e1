#pragma once

#include <QString>
#include <QStringView>

namespace quorvel::app {

// What the status bar says about a text. Both counts come from one walk over the text's
// user-perceived characters, so a large note is read once.
struct TextCounts
{
    int words = 0;
    int characters = 0;

    bool operator==(const TextCounts &) const = default;
};

// A text as the reader sees it (the page's selection): words are the pieces between
// whitespace and line breaks; characters are user-perceived characters (grapheme clusters),
// spaces included, line breaks not.
TextCounts countText(QStringView text);

// What a reader of the rendered note sees of `markdown`, clipped to the offsets [from, to)
// (`to` -1: the end), one line per source line that shows anything. Left out: the markup
// (heading, emphasis and quote marks, list markers and task boxes, table pipes and rules, code
// fences), link and image addresses, images altogether (their alternative text is drawn only
// when the image cannot be), footnote references, HTML tags and comments, reference
// definitions and the front matter. Code, and math in its TeX, is text like any other; spaces
// between words count once, as the page draws them, and a line's indentation only in code.
QString visibleText(QStringView markdown, qsizetype from = 0, qsizetype to = -1);

// countText(visibleText(...)), the numbers the status bar shows for a note or a part of it.
TextCounts countMarkdown(QStringView markdown, qsizetype from = 0, qsizetype to = -1);

// At 200 words a minute, rounded up; at least a minute for any words at all.
int readingMinutes(int words);
// "1 word", "0 words", "1,234 characters": the number grouped as the user's locale groups it.
QString countedPhrase(qint64 n, const QString &unit);
// The number alone, grouped the same way.
QString countedNumber(qint64 n);

} // namespace quorvel::app
