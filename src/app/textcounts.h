#pragma once

#include <QString>

namespace quorvel::app {

// What the status bar says about a text. Both counts come from one walk over the text's
// user-perceived characters, so a large note is read once.
struct TextCounts
{
    int words = 0;
    int characters = 0;

    bool operator==(const TextCounts &) const = default;
};

TextCounts countText(const QString &text);

// Pieces left after splitting at every character that begins with whitespace or a line break.
int wordCount(const QString &text);
// User-perceived characters (grapheme clusters), whitespace and line breaks included.
int characterCount(const QString &text);
// At 200 words a minute, rounded up; even an empty note takes a minute.
int readingMinutes(int words);
// "1 word", "0 words", "1,234 characters": the number grouped as the user's locale groups it.
QString countedPhrase(qint64 n, const QString &unit);

} // namespace quorvel::app
