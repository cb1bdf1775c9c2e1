#pragma once

#include "notetext.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel::vault {

// One note found by a search: where, under which heading, and a snippet of the text around the
// matches, each match between kMatchStart and kMatchEnd.
struct SearchHit
{
    QString path;
    QString heading; // empty for the part above the first heading
    int line = 0;    // of that heading
    QString snippet;
};

// A note that links to another, or names it without a link.
struct LinkingNote
{
    QString path;
    QString context; // the line around the link or the name, as a reader sees it
    QString heading; // the heading above it, where the note should open
};

struct Backlinks
{
    QList<LinkingNote> linked;
    QList<LinkingNote> unlinked;
};

// What the database knows of a note's file, to tell whether it changed.
struct FileStamp
{
    qint64 modified = 0; // nanoseconds
    qint64 size = 0;
    bool operator==(const FileStamp &) const = default;
};

// A link of a note as the index keeps it.
struct NoteLink
{
    QString key; // the name it is filed under
    bool markdown = false;
    QString target;
    bool angled = false;
    int line = 0;
    QString context;
    QString heading;
};

// What a note, or a piece of it, puts into the index: the sections completed, and its links.
// Made without the database, on any thread.
struct NoteContent
{
    QList<NoteSection> sections;
    QList<NoteLink> links;
};
// A piece of whole lines of a note whose earlier pieces `reader` read.
NoteContent readPiece(const QString &markdown, SectionReader &reader);
// A whole note.
NoteContent readNote(const QString &markdown);

// A search query as a user types it ("words", "a phrase", prefix*, -excluded) made into a full-
// text expression in which every term is quoted, so that no text a user types is read as the
// engine's syntax. Empty when nothing is left to look for (only exclusions, only punctuation).
struct MatchExpression
{
    QString all;      // the whole query
    QString included; // the terms that must be there, without the exclusions
};
MatchExpression matchExpression(const QString &query);

// The note a SearchDatabase is putting, section by section. Outside the class: a nested struct
// with member initialisers is not yet default-constructible where std::optional asks, for clang.
struct SearchDatabasePutting
{
    qint64 id = 0;
    QString title;
    SectionReader reader;
};

// The full-text index of one vault in an SQLite database with its FTS5 module. A database that
// cannot be opened, fails its check, or was written by another version of the schema is deleted
// and made again: it only ever holds what the notes themselves hold. A new one is built aside,
// in a file of this process's own, and put in place whole by finishBuild(): a build cut short
// leaves no database that looks complete. Other processes may use the same file meanwhile (two
// instances of the program on one vault). One thread at a time.
class SearchDatabase
{
public:
    static constexpr int kSchemaVersion = 2;
    // The most sections a query ranks; see ranked().
    static constexpr int kRankedSections = 10'000;
    static constexpr QChar kMatchStart = QChar(0x01);
    static constexpr QChar kMatchEnd = QChar(0x02);

    SearchDatabase() = default;
    ~SearchDatabase();
    SearchDatabase(const SearchDatabase &) = delete;
    SearchDatabase &operator=(const SearchDatabase &) = delete;

    // Opens (or makes) the database at `file`; in memory when `file` is empty or cannot be
    // written. True when the database was made afresh and so knows no note.
    bool open(const QString &file);
    bool inMemory() const { return m_inMemory; }
    QString file() const { return m_file; }
    // Whether the database is being built aside, not yet in place.
    bool building() const { return !m_buildFile.isEmpty(); }
    // Puts the database built aside in place. When another process put its own there first,
    // that one is used instead and true is returned: what this one knows of the notes changed.
    bool finishBuild();

    // The notes known, with what their files were like when indexed.
    QHash<QString, FileStamp> notes();
    // Indexes `markdown` as the note at `path`, replacing what was known of it. `notePath` is
    // where its links are followed from (the same path).
    bool put(const QString &path, const FileStamp &stamp, const QString &markdown);
    // The same, for a note given in pieces of whole lines (a note too large to hold at once):
    // putStart, putPiece for each piece in order, then putEnd.
    bool putStart(const QString &path, const FileStamp &stamp);
    bool putPiece(const QString &markdown);
    bool putEnd();
    // A note read beforehand (readNote), elsewhere.
    bool put(const QString &path, const FileStamp &stamp, const NoteContent &content);
    bool remove(const QString &path);
    // Every note under the folder, for a folder that went away.
    QStringList notesUnder(const QString &folder);

    bool begin();
    bool commit();

    // Best first: notes whose name matches, then by the engine's ranking. One hit per note.
    QList<SearchHit> search(const QString &query, int limit = 50);
    // Links that lead to `path` (followed by the vault's rules as they stand now), and notes
    // that name it without one.
    Backlinks backlinks(const QString &path, int limit = 100);
    // The notes whose name or path under `root` holds the letters of `query` in order, best
    // first; the `recent` ones that match come before all others.
    QStringList quickOpen(const QString &query, const QStringList &recent, const QString &root,
                          int limit = 50);

    // Set by a failed statement that says the file is damaged; the owner then opens it again.
    bool damaged() const { return m_damaged; }

private:
    enum class Check { Valid, Invalid, Busy };
    bool openAt(const QString &file, bool aside = false);
    Check valid();
    bool createSchema();
    void close();
    sqlite3_stmt *prepare(const char *sql);
    bool check(int code);
    // The sections that match, best first.
    QList<std::pair<qint64, double>> ranked(const QString &match, int limit);
    // The best `limit` hits of notes not `seen` yet, which they then are.
    QList<std::pair<double, SearchHit>> bestHits(const QString &match, int limit, QSet<QString> &seen);
    // Where a section is, without its snippet.
    std::optional<SearchHit> sectionPlace(qint64 section);
    // The snippets of the sections, by section.
    QHash<qint64, QString> snippets(const QString &match, const QList<qint64> &sections);
    bool putContent(const NoteContent &content);

    // The note being put.
    std::optional<SearchDatabasePutting> m_putting;

    sqlite3 *m_db = nullptr;
    QString m_file;
    QString m_buildFile; // while building aside
    bool m_inMemory = false;
    bool m_damaged = false;
    QHash<const char *, sqlite3_stmt *> m_statements;
};

} // namespace quorvel::vault
