#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <utility>

namespace quorvel::vault {

// A part of a note under one heading (the part before the first heading has none), as a reader
// sees it: the markup gone, the words kept.
struct NoteSection
{
    QString heading;
    int line = 0; // of the heading, from 0; 0 for the part before the first heading
    QString text;
};

// Cuts a note at its headings while it is given, a piece of whole lines at a time, so that a
// note of any size is read in memory of the piece's size: a section longer than kLongest
// characters is handed on in parts, each under the section's heading.
class SectionReader
{
public:
    static constexpr qsizetype kLongest = 256 * 1024;

    // `text` ends at a line's end, unless it is the note's last piece.
    void feed(QStringView text);
    // The end of the note: the section still open is complete.
    void finish();
    // The sections completed since the last call.
    QList<NoteSection> take() { return std::exchange(m_done, {}); }
    // The section lines are in now: its heading and the line of it.
    const NoteSection &current() const { return m_current; }
    int lines() const { return m_lineNumber; }

private:
    void line(QStringView line);
    void append(const QString &words);
    void flushParagraph();
    void startSection(QString heading, int line);

    QList<NoteSection> m_done;
    NoteSection m_current;
    bool m_currentHasText = false;
    bool m_anySection = false;
    QChar m_fence; // null outside a fenced block
    qsizetype m_fenceRun = 0;
    bool m_frontMatter = false;
    int m_lineNumber = 0;
    // The paragraph's lines so far: a line of "=" or "-" under it makes it a heading.
    QString m_paragraph;
    int m_paragraphLine = -1;
};

// The note cut at its headings, in order. Code keeps its text; fences, emphasis markers, link
// destinations, HTML tags and reference definitions go; a link keeps its label, a wikilink its
// alias or else its name.
QList<NoteSection> readerSections(const QString &markdown);

// One line of Markdown as a reader sees it (the line's block markers and its inline markup
// dropped).
QString readerLine(QStringView line);

} // namespace quorvel::vault
