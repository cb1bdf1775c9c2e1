#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace quorvel::vault {

// A part of a note under one heading (the part before the first heading has none), as a reader
// sees it: the markup gone, the words kept.
struct NoteSection
{
    QString heading;
    int line = 0; // of the heading, from 0; 0 for the part before the first heading
    QString text;
};

// The note cut at its headings, in order. Code keeps its text; fences, emphasis markers, link
// destinations, HTML tags and reference definitions go; a link keeps its label, a wikilink its
// alias or else its name.
QList<NoteSection> readerSections(const QString &markdown);

// One line of Markdown as a reader sees it (the line's block markers and its inline markup
// dropped).
QString readerLine(QStringView line);

} // namespace quorvel::vault
