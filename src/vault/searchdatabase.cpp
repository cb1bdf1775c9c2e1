#include "searchdatabase.h"

#include "notelinks.h"
#include "notetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <sqlite3.h>

#include <csignal>
#include <cerrno>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace quorvel::vault {

using namespace Qt::StringLiterals;

namespace {

// A term as the engine must read it: a string, quotes inside it doubled.
QString quoted(const QString &term)
{
    QString out = term;
    out.replace(u'"', u"\"\""_s);
    return u'"' + out + u'"';
}

// A term the tokenizer keeps nothing of would make an empty phrase.
bool hasWords(const QString &term)
{
    return std::any_of(term.cbegin(), term.cend(), [](QChar c) { return c.isLetterOrNumber(); });
}

// The name a link is filed under: its last path component in lower case, without ".md", so that
// the notes that may link to a note are found by its name alone.
QString keyOfTarget(QString target, bool markdown)
{
    if (markdown)
        target = QUrl::fromPercentEncoding(target.toUtf8());
    target = target.mid(target.lastIndexOf(u'/') + 1).trimmed().toLower();
    if (target.endsWith(u".md"))
        target.chop(3);
    return target;
}

QString keyOfNote(const QString &path)
{
    return keyOfTarget(QFileInfo(path).fileName(), false);
}

QString text(sqlite3_stmt *statement, int column)
{
    const auto *data = static_cast<const char16_t *>(sqlite3_column_text16(statement, column));
    const int bytes = sqlite3_column_bytes16(statement, column);
    return data ? QString::fromUtf16(data, bytes / 2) : QString();
}

void bind(sqlite3_stmt *statement, int index, const QString &value)
{
    sqlite3_bind_text16(statement, index, value.utf16(), int(value.size() * 2), SQLITE_TRANSIENT);
}

// A cached statement, reset for its next use however it is left.
class Statement
{
public:
    explicit Statement(sqlite3_stmt *statement) : m_statement(statement) { }
    ~Statement()
    {
        if (m_statement) {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
    }
    explicit operator bool() const { return m_statement != nullptr; }
    sqlite3_stmt *get() const { return m_statement; }

private:
    sqlite3_stmt *m_statement;
};

// How well `query` (lower case) fits `name` (lower case): its letters in order, better when
// they run together and start words. None when some letter is missing.
std::optional<int> fuzzyScore(QStringView query, QStringView name)
{
    int score = 0;
    qsizetype at = 0;
    qsizetype last = -2;
    for (QChar c : query) {
        const qsizetype found = name.indexOf(c, at);
        if (found < 0)
            return std::nullopt;
        if (found == last + 1)
            score += 8;
        if (found == 0 || !name[found - 1].isLetterOrNumber())
            score += 6;
        score -= int(std::min<qsizetype>(found - at, 10));
        last = found;
        at = found + 1;
    }
    if (name.startsWith(query))
        score += 20;
    return score - int(name.size() / 8);
}

constexpr const char *kSchema[] = {
    "CREATE TABLE notes(id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, modified INTEGER,"
    " size INTEGER)",
    "CREATE TABLE sections(id INTEGER PRIMARY KEY, note INTEGER NOT NULL, line INTEGER,"
    " heading TEXT)",
    "CREATE INDEX sections_note ON sections(note)",
    // Ranked by name, heading, then text. No index of prefixes: it tripled the work of every
    // word stored, and a prefix* is answered from the words themselves in tens of milliseconds
    // now that a query runs once for its ranking and once for its snippets.
    "CREATE VIRTUAL TABLE words USING fts5(title, heading, body,"
    " tokenize = 'unicode61 remove_diacritics 2')",
    // Fewer, larger segments to merge while a vault is first read.
    "INSERT INTO words(words, rank) VALUES('automerge', 8)",
    "CREATE TABLE links(note INTEGER NOT NULL, key TEXT NOT NULL, kind INTEGER, target TEXT,"
    " angled INTEGER, line INTEGER, context TEXT, heading TEXT)",
    "CREATE INDEX links_key ON links(key)",
    "CREATE INDEX links_note ON links(note)",
};

} // namespace

MatchExpression matchExpression(const QString &query)
{
    QStringList included;
    QStringList excluded;
    qsizetype i = 0;
    const qsizetype n = query.size();
    while (i < n) {
        while (i < n && query[i].isSpace())
            ++i;
        if (i >= n)
            break;
        bool exclude = false;
        if (query[i] == u'-' && i + 1 < n && !query[i + 1].isSpace()) {
            exclude = true;
            ++i;
        }
        QString term;
        bool phrase = false;
        if (query[i] == u'"') {
            phrase = true;
            const qsizetype close = query.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close;
            term = query.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
        } else {
            const qsizetype start = i;
            while (i < n && !query[i].isSpace() && query[i] != u'"')
                ++i;
            term = query.mid(start, i - start);
        }
        bool prefix = false;
        if (i < n && query[i] == u'*' && phrase) {
            prefix = true;
            ++i;
        }
        while (!phrase && term.endsWith(u'*')) {
            prefix = true;
            term.chop(1);
        }
        if (!hasWords(term))
            continue;
        const QString written = quoted(term) + (prefix ? u" *"_s : QString());
        (exclude ? excluded : included).append(written);
    }
    if (included.isEmpty())
        return {};
    MatchExpression expression;
    expression.included = u'(' + included.join(u" AND "_s) + u')';
    expression.all = expression.included;
    if (!excluded.isEmpty())
        expression.all += u" NOT ("_s + excluded.join(u" OR "_s) + u')';
    return expression;
}

SearchDatabase::~SearchDatabase()
{
    close();
}

void SearchDatabase::close()
{
    for (sqlite3_stmt *statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    m_statements.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool SearchDatabase::check(int code)
{
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
        m_damaged = true;
    return code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW;
}

sqlite3_stmt *SearchDatabase::prepare(const char *sql)
{
    if (!m_db)
        return nullptr;
    if (sqlite3_stmt *cached = m_statements.value(sql))
        return cached;
    sqlite3_stmt *statement = nullptr;
    if (!check(sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)))
        return nullptr;
    m_statements.insert(sql, statement);
    return statement;
}

bool SearchDatabase::openAt(const QString &file, bool aside)
{
    close();
    m_damaged = false;
    const QByteArray name = file.isEmpty() ? QByteArray(":memory:") : QFile::encodeName(file);
    if (sqlite3_open_v2(name.constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr)
        != SQLITE_OK) {
        close();
        return false;
    }
    // Another process with the same vault may hold the database for a moment.
    sqlite3_busy_timeout(m_db, 5000);
    // Nothing waits for the disk: the database holds nothing the notes do not, and one that a
    // crash left damaged fails its check when opened and is made again. Built aside, it is this
    // connection's alone and needs no log at all: a build cut short is thrown away whole.
    const char *setup = file.isEmpty() ? "PRAGMA synchronous = OFF; PRAGMA journal_mode = OFF"
        : aside ? "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
                  " PRAGMA cache_size = -8192"
                // Another window's queries go on while this one writes.
                : "PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF; PRAGMA cache_size = -8192";
    return check(sqlite3_exec(m_db, setup, nullptr, nullptr, nullptr));
}

SearchDatabase::Check SearchDatabase::valid()
{
    sqlite3_stmt *statement = nullptr;
    int code = SQLITE_OK;
    const auto single = [&](const char *sql) -> std::optional<QString> {
        code = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
        if (code != SQLITE_OK)
            return std::nullopt;
        std::optional<QString> value;
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW)
            value = text(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    const auto busy = [&] { return code == SQLITE_BUSY || code == SQLITE_LOCKED; };
    const auto version = single("PRAGMA user_version");
    if (busy())
        return Check::Busy;
    if (!version || version->toInt() != kSchemaVersion)
        return Check::Invalid;
    const auto result = single("PRAGMA quick_check");
    if (busy())
        return Check::Busy;
    return result == u"ok"_s ? Check::Valid : Check::Invalid;
}

bool SearchDatabase::createSchema()
{
    if (!begin())
        return false;
    for (const char *sql : kSchema) {
        if (!check(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr))) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    const QByteArray version = "PRAGMA user_version = " + QByteArray::number(kSchemaVersion);
    return check(sqlite3_exec(m_db, version.constData(), nullptr, nullptr, nullptr)) && commit();
}

namespace {

// Files a build of another process left when it ended before putting its database in place.
void removeAbandonedBuilds(const QString &file)
{
    const QFileInfo info(file);
    const QString prefix = info.fileName() + u".building-"_s;
    const QDir folder = info.dir();
    for (const QString &name : folder.entryList({prefix + u'*'}, QDir::Files | QDir::Hidden)) {
        bool number = false;
        const qint64 pid = name.mid(prefix.size()).section(u'-', 0, 0).toLongLong(&number);
        if (number && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(folder.filePath(name));
    }
}

} // namespace

bool SearchDatabase::open(const QString &file)
{
    m_file = file;
    m_buildFile.clear();
    m_inMemory = false;
    if (!file.isEmpty()) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        removeAbandonedBuilds(file);
        if (QFileInfo::exists(file) && openAt(file)) {
            // Held by another process for longer than a moment: it is in use, so not damaged.
            const Check state = valid();
            if (state != Check::Invalid)
                return false;
        }
        // Damaged, of another schema, or new: made again from the notes.
        close();
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(file + QLatin1String(suffix));
        // The process's own, and each connection's of it.
        static std::atomic<int> builds = 0;
        const QString aside = file + u".building-"_s + QString::number(::getpid()) + u'-'
            + QString::number(++builds);
        QFile::remove(aside);
        if (openAt(aside, true) && createSchema()) {
            m_buildFile = aside;
            return true;
        }
        close();
        QFile::remove(aside);
    }
    // No place to keep it (a read-only cache folder): it lives as long as the program.
    m_inMemory = true;
    m_file.clear();
    openAt(QString());
    createSchema();
    return true;
}

bool SearchDatabase::finishBuild()
{
    if (m_buildFile.isEmpty())
        return false;
    const QString aside = std::exchange(m_buildFile, QString());
    // The file takes its log with it: every later connection writes beside readers.
    const bool built = check(sqlite3_exec(m_db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr))
        && !m_damaged;
    close();
    // Never over a database another process put there meanwhile: it may be in use.
    const QByteArray from = QFile::encodeName(aside);
    const QByteArray to = QFile::encodeName(m_file);
    bool placed = built && ::link(from.constData(), to.constData()) == 0;
    // A file system without links: moved, the moment of a race with another process aside.
    if (built && !placed && errno != EEXIST && !QFileInfo::exists(m_file))
        placed = ::rename(from.constData(), to.constData()) == 0;
    QFile::remove(aside);
    if (!placed && !QFileInfo::exists(m_file)) {
        // Nowhere to keep it: it lives as long as the program, read again from the notes.
        m_inMemory = true;
        m_file.clear();
        openAt(QString());
        createSchema();
        return true;
    }
    // Another process's is checked as any found on opening; this one's was just made.
    if (openAt(m_file) && (placed || valid() != Check::Invalid))
        return !placed;
    // What was there is unusable after all: start again.
    open(m_file);
    return true;
}

bool SearchDatabase::begin()
{
    return m_db && check(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
}

bool SearchDatabase::commit()
{
    return m_db && check(sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr));
}

QHash<QString, FileStamp> SearchDatabase::notes()
{
    QHash<QString, FileStamp> known;
    Statement statement(prepare("SELECT path, modified, size FROM notes"));
    if (!statement)
        return known;
    int code;
    while ((code = sqlite3_step(statement.get())) == SQLITE_ROW)
        known.insert(text(statement.get(), 0),
                     {sqlite3_column_int64(statement.get(), 1), sqlite3_column_int64(statement.get(), 2)});
    check(code);
    return known;
}

QStringList SearchDatabase::notesUnder(const QString &folder)
{
    QStringList paths;
    Statement statement(prepare("SELECT path FROM notes WHERE substr(path, 1, length(?1)) = ?1"));
    if (!statement)
        return paths;
    bind(statement.get(), 1, folder.endsWith(u'/') ? folder : folder + u'/');
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        paths.append(text(statement.get(), 0));
    return paths;
}

bool SearchDatabase::remove(const QString &path)
{
    Statement find(prepare("SELECT id FROM notes WHERE path = ?"));
    if (!find)
        return false;
    bind(find.get(), 1, path);
    const int code = sqlite3_step(find.get());
    if (code != SQLITE_ROW)
        return check(code);
    const qint64 id = sqlite3_column_int64(find.get(), 0);
    for (const char *sql : {"DELETE FROM words WHERE rowid IN (SELECT id FROM sections WHERE note = ?)",
                            "DELETE FROM sections WHERE note = ?", "DELETE FROM links WHERE note = ?",
                            "DELETE FROM notes WHERE id = ?"}) {
        Statement statement(prepare(sql));
        if (!statement)
            return false;
        sqlite3_bind_int64(statement.get(), 1, id);
        if (!check(sqlite3_step(statement.get())))
            return false;
    }
    return true;
}

NoteContent readPiece(const QString &markdown, SectionReader &reader)
{
    NoteContent content;
    // Where each heading of the piece starts, for the links under it.
    QList<std::pair<int, QString>> headings{{reader.current().line, reader.current().heading}};
    const int firstLine = reader.lines();
    const qsizetype lines = markdown.count(u'\n') + (markdown.endsWith(u'\n') ? 0 : 1);
    reader.feed(markdown);
    content.sections = reader.take();
    for (const NoteSection &part : std::as_const(content.sections)) {
        if (part.line >= firstLine)
            headings.append({part.line, part.heading});
    }
    if (reader.current().line >= firstLine && reader.current().line < firstLine + lines)
        headings.append({reader.current().line, reader.current().heading});

    // Lines are counted once, in order of the links' places.
    qsizetype lineStart = 0;
    int line = firstLine;
    qsizetype scanned = 0;
    qsizetype headingIndex = 0;
    for (const WrittenLink &written : writtenLinks(markdown)) {
        for (; scanned < written.start; ++scanned) {
            if (markdown.at(scanned) == u'\n') {
                ++line;
                lineStart = scanned + 1;
            }
        }
        while (headingIndex + 1 < headings.size() && headings.at(headingIndex + 1).first <= line)
            ++headingIndex;
        qsizetype lineEnd = markdown.indexOf(u'\n', written.start);
        if (lineEnd < 0)
            lineEnd = markdown.size();
        const bool markdownKind = written.kind == WrittenLink::Kind::Markdown;
        content.links.append({keyOfTarget(written.target, markdownKind), markdownKind, written.target,
                              written.angled, line,
                              readerLine(QStringView(markdown).mid(lineStart, lineEnd - lineStart)).left(300),
                              headings.at(headingIndex).second});
    }
    return content;
}

NoteContent readNote(const QString &markdown)
{
    SectionReader reader;
    NoteContent content = readPiece(markdown, reader);
    reader.finish();
    content.sections += reader.take();
    return content;
}

bool SearchDatabase::put(const QString &path, const FileStamp &stamp, const QString &markdown)
{
    return put(path, stamp, readNote(markdown));
}

bool SearchDatabase::put(const QString &path, const FileStamp &stamp, const NoteContent &content)
{
    const bool done = putStart(path, stamp) && putContent(content);
    m_putting.reset();
    return done;
}

bool SearchDatabase::putStart(const QString &path, const FileStamp &stamp)
{
    m_putting.reset();
    const auto insert = [&] {
        Statement note(prepare("INSERT INTO notes(path, modified, size) VALUES(?, ?, ?)"));
        if (!note)
            return SQLITE_ERROR;
        bind(note.get(), 1, path);
        sqlite3_bind_int64(note.get(), 2, stamp.modified);
        sqlite3_bind_int64(note.get(), 3, stamp.size);
        return sqlite3_step(note.get());
    };
    // Most notes put are new to the database (all of them in a first index): what was known of
    // one is looked for and removed only when its path turns out to be taken.
    int code = insert();
    if (code == SQLITE_CONSTRAINT) {
        if (!remove(path))
            return false;
        code = insert();
    }
    if (!check(code))
        return false;
    m_putting.emplace();
    m_putting->id = sqlite3_last_insert_rowid(m_db);
    m_putting->title = QFileInfo(path).completeBaseName();
    return true;
}

bool SearchDatabase::putContent(const NoteContent &content)
{
    if (!m_putting)
        return false;
    Statement section(prepare("INSERT INTO sections(note, line, heading) VALUES(?, ?, ?)"));
    Statement words(prepare("INSERT INTO words(rowid, title, heading, body) VALUES(?, ?, ?, ?)"));
    Statement link(prepare("INSERT INTO links(note, key, kind, target, angled, line, context, heading)"
                           " VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
    if (!section || !words || !link)
        return false;
    for (const NoteSection &part : content.sections) {
        sqlite3_reset(section.get());
        sqlite3_bind_int64(section.get(), 1, m_putting->id);
        sqlite3_bind_int(section.get(), 2, part.line);
        bind(section.get(), 3, part.heading);
        if (!check(sqlite3_step(section.get())))
            return false;
        sqlite3_reset(words.get());
        sqlite3_bind_int64(words.get(), 1, sqlite3_last_insert_rowid(m_db));
        bind(words.get(), 2, m_putting->title);
        bind(words.get(), 3, part.heading);
        bind(words.get(), 4, part.text);
        if (!check(sqlite3_step(words.get())))
            return false;
    }
    for (const NoteLink &written : content.links) {
        sqlite3_reset(link.get());
        sqlite3_bind_int64(link.get(), 1, m_putting->id);
        bind(link.get(), 2, written.key);
        sqlite3_bind_int(link.get(), 3, written.markdown ? 1 : 0);
        bind(link.get(), 4, written.target);
        sqlite3_bind_int(link.get(), 5, written.angled ? 1 : 0);
        sqlite3_bind_int(link.get(), 6, written.line);
        bind(link.get(), 7, written.context);
        bind(link.get(), 8, written.heading);
        if (!check(sqlite3_step(link.get())))
            return false;
    }
    return true;
}

bool SearchDatabase::putPiece(const QString &markdown)
{
    if (!m_putting)
        return false;
    return putContent(readPiece(markdown, m_putting->reader));
}

bool SearchDatabase::putEnd()
{
    if (!m_putting)
        return false;
    m_putting->reader.finish();
    NoteContent rest;
    rest.sections = m_putting->reader.take();
    const bool done = putContent(rest);
    m_putting.reset();
    return done;
}

QList<SearchHit> SearchDatabase::search(const QString &query, int limit)
{
    QList<SearchHit> hits;
    const MatchExpression expression = matchExpression(query);
    if (expression.all.isEmpty())
        return hits;
    QString inTitle = u"{title} : "_s + expression.included;
    if (expression.all.size() > expression.included.size())
        inTitle += expression.all.mid(expression.included.size());
    QSet<QString> seen;
    // Notes named by the query first, then all the others the engine ranks.
    for (const QString &match : {inTitle, expression.all}) {
        QList<std::pair<double, SearchHit>> found = bestHits(match, limit - int(hits.size()), seen);
        // Equal ranks in the order of the notes' paths, whatever order they were indexed in.
        std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
            return a.first != b.first ? a.first < b.first : a.second.path < b.second.path;
        });
        for (const auto &entry : std::as_const(found))
            hits.append(entry.second);
    }
    return hits;
}

QList<std::pair<double, SearchHit>> SearchDatabase::bestHits(const QString &match, int limit,
                                                              QSet<QString> &seen)
{
    QList<std::pair<double, SearchHit>> found;
    if (limit <= 0)
        return found;
    QList<qint64> sections;
    for (const auto &[section, score] : ranked(match, limit * 4)) {
        if (found.size() >= limit)
            break;
        std::optional<SearchHit> hit = sectionPlace(section);
        if (!hit || seen.contains(hit->path))
            continue;
        seen.insert(hit->path);
        found.append({score, *hit});
        sections.append(section);
    }
    const QHash<qint64, QString> texts = snippets(match, sections);
    for (qsizetype i = 0; i < found.size(); ++i)
        found[i].second.snippet = texts.value(sections.at(i));
    return found;
}

QList<std::pair<qint64, double>> SearchDatabase::ranked(const QString &match, int limit)
{
    // The ranking alone: a snippet for every match, before the best are picked, would cost
    // more than the search.
    QList<std::pair<qint64, double>> sections;
    // Ranking costs a lookup for every section that matches. A word in a great many of them
    // ("the") tells them apart by little: only the latest indexed are ranked, the notes
    // written last. One pass of the query, newest first: each pass of a prefix* merges the
    // lists of all its words again.
    Statement statement(prepare("SELECT rowid, bm25(words, 10.0, 4.0, 1.0) FROM words WHERE words MATCH ?1"
                                " ORDER BY rowid DESC LIMIT ?2"));
    if (!statement)
        return sections;
    bind(statement.get(), 1, match);
    sqlite3_bind_int(statement.get(), 2, kRankedSections);
    int code;
    while ((code = sqlite3_step(statement.get())) == SQLITE_ROW)
        sections.append({sqlite3_column_int64(statement.get(), 0), sqlite3_column_double(statement.get(), 1)});
    check(code);
    const auto better = [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second < b.second : a.first < b.first;
    };
    if (sections.size() > limit) {
        std::partial_sort(sections.begin(), sections.begin() + limit, sections.end(), better);
        sections.resize(limit);
    } else {
        std::sort(sections.begin(), sections.end(), better);
    }
    return sections;
}

std::optional<SearchHit> SearchDatabase::sectionPlace(qint64 section)
{
    Statement where(prepare("SELECT n.path, s.heading, s.line FROM sections s"
                            " JOIN notes n ON n.id = s.note WHERE s.id = ?"));
    if (!where)
        return std::nullopt;
    sqlite3_bind_int64(where.get(), 1, section);
    if (!check(sqlite3_step(where.get())) || sqlite3_data_count(where.get()) == 0)
        return std::nullopt;
    return SearchHit{text(where.get(), 0), text(where.get(), 1), sqlite3_column_int(where.get(), 2), {}};
}

QHash<qint64, QString> SearchDatabase::snippets(const QString &match, const QList<qint64> &sections)
{
    QHash<qint64, QString> found;
    if (sections.isEmpty())
        return found;
    // One pass of the query over the span of the sections wanted, the snippet made for those
    // alone: each query by a single rowid runs the whole expression again, and a prefix* over
    // thousands of words costs milliseconds each time. The "+" keeps the list a filter rather
    // than one lookup per section.
    Statement snippet(prepare("SELECT rowid, snippet(words, 2, char(1), char(2), '\u2026', 14) FROM words"
                              " WHERE words MATCH ?1 AND rowid BETWEEN ?2 AND ?3"
                              " AND +rowid IN (SELECT value FROM json_each(?4))"));
    if (!snippet)
        return found;
    QByteArray list = "[";
    for (const qint64 section : sections)
        list += QByteArray::number(section) + ',';
    list.back() = ']';
    const auto [low, high] = std::minmax_element(sections.cbegin(), sections.cend());
    bind(snippet.get(), 1, match);
    sqlite3_bind_int64(snippet.get(), 2, *low);
    sqlite3_bind_int64(snippet.get(), 3, *high);
    sqlite3_bind_text(snippet.get(), 4, list.constData(), int(list.size()), SQLITE_TRANSIENT);
    int code;
    while ((code = sqlite3_step(snippet.get())) == SQLITE_ROW)
        found.insert(sqlite3_column_int64(snippet.get(), 0), text(snippet.get(), 1));
    check(code);
    return found;
}

Backlinks SearchDatabase::backlinks(const QString &path, int limit)
{
    Backlinks found;
    const QString target = QDir::cleanPath(path);
    QSet<QString> linking{target};
    {
        Statement statement(prepare("SELECT n.path, l.kind, l.target, l.angled, l.context, l.heading"
                                    " FROM links l JOIN notes n ON n.id = l.note WHERE l.key = ?"
                                    " ORDER BY n.path, l.line"));
        if (!statement)
            return found;
        bind(statement.get(), 1, keyOfNote(target));
        while (sqlite3_step(statement.get()) == SQLITE_ROW && found.linked.size() < limit) {
            const QString source = text(statement.get(), 0);
            if (source == target)
                continue;
            WrittenLink link;
            link.kind = sqlite3_column_int(statement.get(), 1) ? WrittenLink::Kind::Markdown
                                                               : WrittenLink::Kind::Wikilink;
            link.target = text(statement.get(), 2);
            link.angled = sqlite3_column_int(statement.get(), 3) != 0;
            // Which note a name leads to depends on the notes there are now, not when it was
            // indexed.
            if (linkedFile(link, source) != target)
                continue;
            linking.insert(source);
            found.linked.append({source, text(statement.get(), 4), text(statement.get(), 5)});
        }
    }
    const QString name = QFileInfo(target).completeBaseName();
    if (!hasWords(name))
        return found;
    const QString match = u"{body} : "_s + quoted(name);
    for (auto &[score, hit] : bestHits(match, limit, linking))
        found.unlinked.append({hit.path, hit.snippet, hit.heading});
    return found;
}

QStringList SearchDatabase::quickOpen(const QString &query, const QStringList &recent,
                                      const QString &root, int limit)
{
    const qsizetype rootLength = root.endsWith(u'/') ? root.size() : root.size() + 1;
    const QString wanted = query.simplified().remove(u' ').toLower();
    struct Scored
    {
        int score;
        QString path;
    };
    std::vector<Scored> scored;
    QSet<QString> known;
    Statement statement(prepare("SELECT path FROM notes"));
    if (!statement)
        return {};
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const QString path = text(statement.get(), 0);
        known.insert(path);
        if (wanted.isEmpty()) {
            scored.push_back({0, path});
            continue;
        }
        const QString lower = path.mid(path.startsWith(root) ? rootLength : 0).toLower();
        const qsizetype slash = lower.lastIndexOf(u'/');
        // A match in the name counts for more than one spread over the folders.
        if (const auto inName = fuzzyScore(wanted, QStringView(lower).mid(slash + 1)))
            scored.push_back({*inName + 1000, path});
        else if (const auto inPath = fuzzyScore(wanted, lower))
            scored.push_back({*inPath, path});
    }
    std::stable_sort(scored.begin(), scored.end(), [](const Scored &a, const Scored &b) {
        return a.score != b.score ? a.score > b.score : a.path < b.path;
    });
    QStringList out;
    QSet<QString> matched;
    for (const Scored &s : scored)
        matched.insert(s.path);
    for (const QString &path : recent) {
        if (matched.contains(path) && !out.contains(path) && out.size() < limit)
            out.append(path);
    }
    for (const Scored &s : scored) {
        if (out.size() >= limit)
            break;
        if (!out.contains(s.path))
            out.append(s.path);
    }
    return out;
}

} // namespace quorvel::vault
