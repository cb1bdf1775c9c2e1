#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quorvel::vault {

// A line opening or closing a fenced code block: up to three spaces, then three or more
// backticks or tildes; its mark and the length of the run.
struct Fence
{
    QChar mark;
    qsizetype length = 0;
};
std::optional<Fence> fenceOf(QStringView line);

// A link's target as a note's Markdown writes it: where the target text stands, so that it alone
// can be replaced and every other character of the note kept.
struct WrittenLink
{
    enum class Kind { Wikilink, Markdown };
    Kind kind = Kind::Markdown;
    qsizetype start = 0;
    qsizetype length = 0;
    // The target as written: a wikilink's name without its heading and alias, a Markdown link's
    // destination without its angle brackets, title, "#" fragment or "?" query.
    QString target;
    bool angled = false; // <destination with spaces>
};

// The wikilinks and the Markdown links, images and reference definitions of `text` that name a
// file: web addresses, links to a heading of the note itself and anything in code are left out.
QList<WrittenLink> writtenLinks(const QString &text);

// The file `link` leads to from the note at `notePath`, as following it in the page finds it
// (the vault index's rules); an absolute, cleaned path, or none.
std::optional<QString> linkedFile(const WrittenLink &link, const QString &notePath);

// The target to write in place of `link` so that, from the note at `notePath`, it leads to
// `newPath` in the vault at `root`, in the link's own style (a bare name stays a bare name when
// `nameIsUnique`, a name without ".md" stays without). None when the link's syntax cannot
// name that file (a wikilink outside the vault, a name holding "|", "#" or brackets).
std::optional<QString> retargeted(const WrittenLink &link, const QString &notePath,
                                  const QString &newPath, const QString &root, bool nameIsUnique);

// `text` with its wikilinks written as Markdown links, for programs that know no wikilinks (a
// Word export): each becomes its label, linked to the note's path from `notePath` when it leads
// to one, an embedded image an image. Code and everything else stays as written.
QString wikilinksAsLinks(const QString &text, const QString &notePath);

} // namespace quorvel::vault
