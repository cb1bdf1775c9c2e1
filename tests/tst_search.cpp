// Search across a vault, backlinks and quick open, on real notes in scratch folders.

#include "vault/notetext.h"
#include "vault/searchindex.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

using quorvel::vault::SearchDatabase;
using quorvel::vault::SearchIndex;
using namespace Qt::StringLiterals;

namespace {

// A vault in a scratch folder, and a cache folder of its own for the database.
struct Vault
{
    QTemporaryDir dir;
    QTemporaryDir cache;

    Vault() { QDir().mkpath(dir.filePath(QStringLiteral(".obsidian"))); }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString database() const { return cache.filePath(QStringLiteral("index.sqlite")); }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path(name)).absolutePath());
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a test note");
    }

    // Notes given as "name: text" lines.
    void write(const QStringList &notes) const
    {
        for (const QString &note : notes) {
            const qsizetype colon = note.indexOf(QLatin1String(": "));
            write(note.left(colon), note.mid(colon + 2).toUtf8().replace("\\n", "\n"));
        }
    }

    QString relative(const QString &absolute) const { return QDir(dir.path()).relativeFilePath(absolute); }
};

bool waitIdle(SearchIndex &index)
{
    QSignalSpy idle(&index, &SearchIndex::becameIdle);
    return index.idle() || idle.wait(10000);
}

template<typename Signal, typename Ask>
auto answer(SearchIndex &index, Signal signal, Ask ask)
{
    QSignalSpy spy(&index, signal);
    const quint64 request = ask();
    while (spy.isEmpty() || spy.last().at(0).toULongLong() != request) {
        if (!spy.wait(10000))
            qFatal("no answer from the index");
    }
    return spy.last().at(1);
}

QStringList search(const Vault &vault, SearchIndex &index, const QString &query)
{
    const auto hits = answer(index, &SearchIndex::searched, [&] { return index.search(query); })
                          .value<QList<quorvel::vault::SearchHit>>();
    QStringList names;
    for (const auto &hit : hits)
        names.append(vault.relative(hit.path));
    return names;
}

quorvel::vault::Backlinks backlinks(SearchIndex &index, const QString &path)
{
    return answer(index, &SearchIndex::backlinksFound, [&] { return index.backlinks(path); })
        .value<quorvel::vault::Backlinks>();
}

QStringList names(const Vault &vault, const QList<quorvel::vault::LinkingNote> &notes)
{
    QStringList out;
    for (const auto &note : notes)
        out.append(vault.relative(note.path));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(quorvel::vault::Backlinks)

class TestSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void queriesFindAndRank_data();
    void queriesFindAndRank();
    void backlinksFollowChanges_data();
    void backlinksFollowChanges();
    void aBadDatabaseIsMadeAgain_data();
    void aBadDatabaseIsMadeAgain();
    void badNotesAndPlaces_data();
    void badNotesAndPlaces();
    void quickOpenFindsByLetters_data();
    void quickOpenFindsByLetters();
    void headingsCutSections_data();
    void headingsCutSections();
    void readerLinesKeepWhatAReaderSees_data();
    void readerLinesKeepWhatAReaderSees();
    void snippetsShowEachHitsOwnMatch_data();
    void snippetsShowEachHitsOwnMatch();
    void twoInstancesShareOneDatabase();
    void cleanupTestCase();

private:
    // One vault for the many queries of one test.
    std::unique_ptr<Vault> m_vault;
    std::unique_ptr<SearchIndex> m_index;
};

void TestSearch::initTestCase()
{
    qRegisterMetaType<QList<quorvel::vault::SearchHit>>();
    qRegisterMetaType<quorvel::vault::Backlinks>();
}

void TestSearch::cleanupTestCase()
{
    m_index.reset();
    m_vault.reset();
}

void TestSearch::queriesFindAndRank_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    // The note named for the word comes before the one that says it most.
    QTest::newRow("name first") << "apple" << QStringList{"Apple.md", "Orchard.md", "sub/Pie.md"};
    QTest::newRow("phrase") << "\"red apple\"" << QStringList{"Orchard.md"};
    QTest::newRow("words in any order") << "apple red" << QStringList{"Orchard.md"};
    QTest::newRow("prefix") << "appl*" << QStringList{"Apple.md", "Orchard.md", "sub/Pie.md", "Sauce.md"};
    QTest::newRow("excluded") << "apple -crust" << QStringList{"Apple.md", "Orchard.md"};
    QTest::newRow("only excluded") << "-apple" << QStringList{};
    QTest::newRow("link label kept") << "recipe" << QStringList{"sub/Pie.md"};
    QTest::newRow("link address dropped") << "hidden" << QStringList{};
    QTest::newRow("wikilink alias") << "dessert" << QStringList{"Sauce.md"};
    QTest::newRow("emphasis dropped") << "\"very sweet\"" << QStringList{"Sauce.md"};
    QTest::newRow("tag dropped") << "span" << QStringList{};
    QTest::newRow("code kept") << "printf" << QStringList{"Sauce.md"};
    QTest::newRow("heading") << "baking" << QStringList{"sub/Pie.md"};
    QTest::newRow("skipped folder") << "ignored" << QStringList{};
    QTest::newRow("stray quote") << "\"apple" << QStringList{"Apple.md", "Orchard.md", "sub/Pie.md"};
    QTest::newRow("operators as words") << "AND( OR NOT apple" << QStringList{};
    QTest::newRow("punctuation only") << "\" * - ( :" << QStringList{};
    QTest::newRow("column syntax") << "title:apple" << QStringList{};
    QTest::newRow("accents") << "creme" << QStringList{"Sauce.md"};
}

void TestSearch::queriesFindAndRank()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    if (!m_index) {
        m_vault = std::make_unique<Vault>();
        m_vault->write({
            "Apple.md: A fruit.",
            "Orchard.md: apple apple apple, a red apple tree",
            "sub/Pie.md: # Baking\\nApple pie with crust. A [recipe](http://hidden.example/x).",
            "Sauce.md: Applesauce is *very* **sweet** <span>x</span> [[Pie|dessert]]\\n"
            "```c\\nprintf(1);\\n```\\nCrème",
            "node_modules/Lib.md: ignored apple",
        });
        m_index = std::make_unique<SearchIndex>(m_vault->dir.path(), m_vault->database());
        QVERIFY(waitIdle(*m_index));
    }
    QCOMPARE(search(*m_vault, *m_index, query), expected);
}

void TestSearch::backlinksFollowChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("linked");
    QTest::addColumn<QStringList>("unlinked");
    QTest::newRow("as written") << "" << "Target Note.md"
                                << QStringList{"Linker.md", "Markdown.md"} << QStringList{"Mention.md"};
    // The link's note no longer links: it only names the note now.
    QTest::newRow("outside edit") << "edit" << "Target Note.md" << QStringList{"Markdown.md"}
                                  << QStringList{"Linker.md", "Mention.md"};
    // The name now leads to the other note of that name.
    QTest::newRow("rename") << "rename" << "sub/Target Note.md"
                            << QStringList{"Linker.md", "Markdown.md"}
                            << QStringList{"Mention.md"};
    QTest::newRow("save reported") << "save" << "Target Note.md"
                                   << QStringList{"Linker.md", "Markdown.md", "New.md"}
                                   << QStringList{"Mention.md"};
}

void TestSearch::backlinksFollowChanges()
{
    QFETCH(QString, change);
    QFETCH(QString, note);
    QFETCH(QStringList, linked);
    QFETCH(QStringList, unlinked);
    Vault vault;
    vault.write({
        "Target Note.md: # Target",
        "sub/Target Note.md: the other one",
        "Linker.md: # Part\\nSee [[Target Note]] here.",
        "Markdown.md: A [link](Target%20Note.md).",
        "Mention.md: The target note, unlinked.",
    });
    SearchIndex index(vault.dir.path(), vault.database());
    QVERIFY(waitIdle(index));
    QSignalSpy updated(&index, &SearchIndex::updated);
    if (change == u"edit") {
        vault.write("Linker.md", "See Target Note here, written by another program.");
    } else if (change == u"rename") {
        QVERIFY(QFile::rename(vault.path("Target Note.md"), vault.path("Gone.md")));
    } else if (change == u"save") {
        vault.write("New.md", "[[Target Note]]");
        index.noteChanged(vault.path("New.md"));
    }
    if (!change.isEmpty()) {
        QVERIFY(updated.wait(5000));
        QVERIFY(waitIdle(index));
    }
    const auto found = backlinks(index, vault.path(note));
    QCOMPARE(names(vault, found.linked), linked);
    QStringList unlinkedNames = names(vault, found.unlinked);
    unlinkedNames.sort();
    QCOMPARE(unlinkedNames, unlinked);
    if (change.isEmpty()) {
        // The line around the link and the heading above it, to open the note there.
        QCOMPARE(found.linked.first().context, QStringLiteral("See Target Note here."));
        QCOMPARE(found.linked.first().heading, QStringLiteral("Part"));
        QCOMPARE(found.unlinked.first().context.trimmed(),
                 QString(u"The "_s + SearchDatabase::kMatchStart + u"target note"_s + SearchDatabase::kMatchEnd
                         + u", unlinked."_s));
    }
}

void TestSearch::aBadDatabaseIsMadeAgain_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("older schema") << "older";
    QTest::newRow("schema with prefixes") << "prefixes";
    QTest::newRow("truncated") << "truncated";
    QTest::newRow("kept") << "";
}

void TestSearch::aBadDatabaseIsMadeAgain()
{
    QFETCH(QString, damage);
    Vault vault;
    vault.write({"One.md: first words", "Two.md: second words"});
    {
        SearchIndex index(vault.dir.path(), vault.database());
        QVERIFY(waitIdle(index));
    }
    // A note that changes while the program is away is read again on its return.
    vault.write("Two.md", "changed words");
    QFile file(vault.database());
    if (damage == u"garbage") {
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(0);
        file.write(QByteArray(8192, '\x5a'));
        file.close();
    } else if (damage == u"truncated") {
        QVERIFY(file.resize(1000));
    } else if (damage == u"older") {
        // What an earlier version wrote: another layout, its own version number.
        QFile::remove(vault.database() + QStringLiteral("-wal"));
        QFile::remove(vault.database());
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(vault.database()).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE notes(path TEXT); INSERT INTO notes VALUES('x');"
                                  "PRAGMA user_version = 0", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (damage == u"prefixes") {
        // The layout before the index of prefixes was dropped, its notes' stamps as they are:
        // only the version number tells that its words must be read again.
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(vault.database()).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "DROP TABLE words; CREATE VIRTUAL TABLE words USING fts5(title, heading,"
                                  " body, tokenize = 'unicode61 remove_diacritics 2', prefix = '2 3');"
                                  "PRAGMA user_version = 1", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    }
    SearchIndex index(vault.dir.path(), vault.database());
    QVERIFY(waitIdle(index));
    QVERIFY(!index.inMemory());
    QCOMPARE(search(vault, index, "words"), (QStringList{"One.md", "Two.md"}));
    QCOMPARE(search(vault, index, "second"), QStringList{});
    QCOMPARE(search(vault, index, "changed"), QStringList{"Two.md"});
}

void TestSearch::badNotesAndPlaces_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("unreadable");
    QTest::newRow("invalid UTF-8") << "" << "caf" << QStringList{"Bytes.md"} << 1;
    QTest::newRow("name with a newline") << "" << "newline" << QStringList{"two\nlines.md"} << 1;
    QTest::newRow("UTF-16") << "" << "wide" << QStringList{"Wide.md"} << 1;
    // Its last word, far beyond what a note's first piece holds.
    QTest::newRow("large note") << "large" << "needle" << QStringList{"Large.md"} << 1;
    // A cache folder that cannot be written: the index lives in memory and still answers.
    QTest::newRow("no cache folder") << "nocache" << "ok" << QStringList{"Fine.md", "sub/Deep.md"} << 1;
    QTest::newRow("read-only vault") << "readonly" << "ok" << QStringList{"Fine.md", "sub/Deep.md"} << 1;
    // A note that links to a file outside the vault is left out, and counted.
    QTest::newRow("link leading out") << "linkout" << "outside" << QStringList{} << 2;
    QTest::newRow("link inside") << "linkin" << "ok" << QStringList{"Fine.md", "Inner.md", "sub/Deep.md"} << 1;
    // A note's own folder, in no vault, could be a whole home folder: the folders under it stay out.
    QTest::newRow("no vault") << "novault" << "ok" << QStringList{"Fine.md"} << 1;
}

void TestSearch::badNotesAndPlaces()
{
    QFETCH(QString, place);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    QFETCH(int, unreadable);
    Vault vault;
    vault.write("Bytes.md", "caf\xe9 \xff\xfe\x80 bytes");
    vault.write("two\nlines.md", "newline");
    const QString wide = QStringLiteral("\uFEFFwide words");
    vault.write("Wide.md", QByteArray(reinterpret_cast<const char *>(wide.utf16()), wide.size() * 2));
    if (place == u"large") {
        QByteArray large(8 * 1024 * 1024 + 4096, 'a');
        for (qsizetype i = 80; i < large.size(); i += 80)
            large[i] = '\n';
        vault.write("Large.md", large + "\nneedle");
    }
    vault.write("Fine.md", "ok");
    vault.write("sub/Deep.md", "ok");
    if (place == u"linkout") {
        QFile outside(vault.cache.filePath("outside.md"));
        QVERIFY(outside.open(QIODevice::WriteOnly) && outside.write("outside") > 0);
        QVERIFY(QFile::link(outside.fileName(), vault.path("Out.md")));
    }
    if (place == u"linkin")
        QVERIFY(QFile::link(vault.path("Fine.md"), vault.path("Inner.md")));
    if (place == u"novault")
        QVERIFY(QDir(vault.path(".obsidian")).removeRecursively());
    // A pipe named as a note is never opened: reading it would wait for ever.
    QCOMPARE(::mkfifo(QFile::encodeName(vault.path("pipe.md")).constData(), 0600), 0);
    QString database = vault.database();
    if (place == u"nocache") {
        QFile blocker(vault.cache.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        database = vault.cache.filePath("blocker/index.sqlite");
    }
    if (place == u"readonly")
        QVERIFY(QFile::setPermissions(vault.dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const QStringList before = QDir(vault.dir.path()).entryList(QDir::AllEntries | QDir::Hidden);
    SearchIndex index(vault.dir.path(), database);
    QVERIFY(waitIdle(index));
    QCOMPARE(search(vault, index, query), expected);
    QCOMPARE(index.unreadable(), unreadable);
    QCOMPARE(index.inMemory(), place == u"nocache");
    // Nothing is ever written into the vault.
    QCOMPARE(QDir(vault.dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    QFile::setPermissions(vault.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestSearch::quickOpenFindsByLetters_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("letters in order") << "mtg" << QStringList{}
                                      << QStringList{"Meeting.md", "work/Monthly Targets.md"};
    QTest::newRow("a name beats a folder") << "work" << QStringList{}
                                           << QStringList{"Workshop.md", "work/Monthly Targets.md"};
    QTest::newRow("recent first") << "mtg" << QStringList{"work/Monthly Targets.md"}
                                  << QStringList{"work/Monthly Targets.md", "Meeting.md"};
    QTest::newRow("nothing typed: recent, then by path")
        << "" << QStringList{"Workshop.md"}
        << QStringList{"Workshop.md", "Meeting.md", "work/Monthly Targets.md"};
    QTest::newRow("no match") << "zzz" << QStringList{"Meeting.md"} << QStringList{};
}

void TestSearch::quickOpenFindsByLetters()
{
    QFETCH(QString, query);
    QFETCH(QStringList, recent);
    QFETCH(QStringList, expected);
    Vault vault;
    vault.write({"Meeting.md: x", "work/Monthly Targets.md: x", "Workshop.md: x"});
    SearchIndex index(vault.dir.path(), vault.database());
    QVERIFY(waitIdle(index));
    for (QString &path : recent)
        path = vault.path(path);
    const QStringList paths = answer(index, &SearchIndex::quickOpened, [&] {
                                  return index.quickOpen(query, recent);
                              }).toStringList();
    QStringList found;
    for (const QString &path : paths)
        found.append(vault.relative(path));
    QCOMPARE(found, expected);
}

void TestSearch::headingsCutSections_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QStringList>("sections"); // "heading@line: text"
    QTest::newRow("atx") << "intro\n# One\ntext" << QStringList{"@0: intro", "One@1: text"};
    QTest::newRow("setext") << "Title\n=====\ntext\n\nSub\n---\nmore"
                            << QStringList{"Title@0: text", "Sub@4: more"};
    QTest::newRow("setext of two lines") << "one\ntwo\n==" << QStringList{"one two@0: "};
    QTest::newRow("break after a blank line") << "text\n\n---\nmore" << QStringList{"@0: text more"};
    QTest::newRow("front matter") << "---\ntags: x\n---\nbody" << QStringList{"@0: tags: x body"};
    QTest::newRow("list item over a break") << "- item\n---" << QStringList{"@0: item"};
    QTest::newRow("underline in code") << "```\ncode\n===\n```" << QStringList{"@0: code ==="};
}

void TestSearch::headingsCutSections()
{
    QFETCH(QString, markdown);
    QFETCH(QStringList, sections);
    // Whole, and a line at a time, as a large note is read.
    for (const bool pieces : {false, true}) {
        quorvel::vault::SectionReader reader;
        if (pieces) {
            for (const QString &line : markdown.split(u'\n'))
                reader.feed(QString(line + u'\n'));
        } else {
            reader.feed(markdown);
        }
        reader.finish();
        QStringList found;
        for (const auto &section : reader.take())
            found.append(section.heading + u'@' + QString::number(section.line) + u": "
                         + section.text.simplified());
        QCOMPARE(found, sections);
    }
}

void TestSearch::readerLinesKeepWhatAReaderSees_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("seen");
    // Each rule between runs of plain text, at the start and at the end of the line.
    QTest::newRow("plain") << "just words, and punctuation." << "just words, and punctuation.";
    QTest::newRow("emphasis") << "*a* b **c** d" << "a b c d";
    QTest::newRow("strike and mark") << "x ~~gone~~ y ==hi== z ~ = w" << "x gone y hi z ~ = w";
    QTest::newRow("underscores") << "_em_ snake_case_name __b__" << "em snake_case_name b";
    QTest::newRow("escapes") << "\\*not emphasis\\* a\\b" << "*not emphasis* a\\b";
    QTest::newRow("code span") << "run `a *b* c` now" << "run a *b* c now";
    QTest::newRow("wikilinks") << "see [[Note|alias]] and ![[Pic.png]] end" << "see alias and Pic.png end";
    QTest::newRow("links") << "a [label](http://x.y/z) b ![alt](p.png) c [ref][1] d" << "a label b alt c ref d";
    QTest::newRow("footnote") << "word[^1] more" << "word more";
    QTest::newRow("autolink and tag") << "<http://a.b> and <b>bold</b>" << "http://a.b and  bold";
    QTest::newRow("entities") << "A&amp;B &lt;x&gt; &copy;" << "A&B <x> &copy;";
    QTest::newRow("table") << "| a | b |" << "a   b";
    QTest::newRow("control and tab") << QString(u"a\u0001b\tc"_s) << QString(u"a b\tc"_s);
    QTest::newRow("heading") << "## Title *x* ##" << "Title x";
    QTest::newRow("quote and list") << "> - item !bang" << "item !bang";
    QTest::newRow("accents and emoji") << "Crème brûlée \U0001F600 _ok_" << "Crème brûlée \U0001F600 ok";
}

void TestSearch::readerLinesKeepWhatAReaderSees()
{
    QFETCH(QString, line);
    QFETCH(QString, seen);
    QCOMPARE(quorvel::vault::readerLine(line), seen);
}

void TestSearch::snippetsShowEachHitsOwnMatch_data()
{
    QTest::addColumn<QString>("query");
    // "note: the snippet with its marks as [ and ]", in the order of the hits.
    // The note named by the query is found by its name: its text has no mark.
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("word") << "plum"
                          << QStringList{"Plum.md: a plum named so", "Red.md: the [plum] is red and ripe",
                                         "Blue.md: [plum] under the blue sky",
                                         "Green.md: green [plum] then a pear"};
    QTest::newRow("prefix") << "plu*"
                            << QStringList{"Plum.md: a plum named so", "Red.md: the [plum] is red and ripe",
                                           "Blue.md: [plum] under the blue sky",
                                           "Green.md: green [plum] then a pear", "Many.md: [plural] forms"};
    QTest::newRow("phrase") << "\"green plum\"" << QStringList{"Green.md: [green plum] then a pear"};
    QTest::newRow("excluded") << "plum -blue"
                              << QStringList{"Plum.md: a plum named so", "Red.md: the [plum] is red and ripe",
                                             "Green.md: green [plum] then a pear"};
}

void TestSearch::snippetsShowEachHitsOwnMatch()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    Vault vault;
    // Each note's words are its own, so a snippet shown with another's hit would tell.
    vault.write({
        "Plum.md: a plum named so",
        "Red.md: the plum is red and ripe",
        "Blue.md: # Sky\nplum under the blue sky",
        "Green.md: # Orchard\nno fruit here\n# Trees\ngreen plum then a pear",
        "Many.md: plural forms",
    });
    SearchIndex index(vault.dir.path(), vault.database());
    QVERIFY(waitIdle(index));
    const auto hits = answer(index, &SearchIndex::searched, [&] { return index.search(query); })
                          .value<QList<quorvel::vault::SearchHit>>();
    QStringList found;
    for (const auto &hit : hits) {
        QString snippet = hit.snippet;
        snippet.replace(SearchDatabase::kMatchStart, u'[').replace(SearchDatabase::kMatchEnd, u']');
        found.append(vault.relative(hit.path) + u": "_s + snippet.trimmed());
    }
    // The ranking among the notes that only say the word is the engine's: compared as a set.
    QCOMPARE(QSet<QString>(found.cbegin(), found.cend()), QSet<QString>(expected.cbegin(), expected.cend()));
    QCOMPARE(found.size(), expected.size());
    if (!found.isEmpty())
        QCOMPARE(found.first(), expected.first());
}

void TestSearch::twoInstancesShareOneDatabase()
{
    Vault vault;
    vault.write({"One.md: first words"});
    // What a build cut short by a crash left beside the database.
    const QString abandoned = vault.database() + QStringLiteral(".building-999999999");
    {
        QFile file(abandoned);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("half") == 4);
    }
    // Two instances of the program on one vault, one starting while the other builds.
    SearchIndex first(vault.dir.path(), vault.database());
    SearchIndex second(vault.dir.path(), vault.database());
    QVERIFY(waitIdle(first));
    QVERIFY(waitIdle(second));
    QVERIFY(!QFile::exists(abandoned));
    QVERIFY(!first.inMemory() && !second.inMemory());
    vault.write("Two.md", "second words");
    first.noteChanged(vault.path("Two.md"));
    for (SearchIndex *index : {&first, &second}) {
        QTRY_COMPARE(search(vault, *index, "words"), (QStringList{"One.md", "Two.md"}));
    }
    // One database file, whole, that a later start uses as it is.
    QCOMPARE(QDir(vault.cache.path()).entryList({QStringLiteral("*.building-*")}, QDir::Files), QStringList{});
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(vault.database()).constData(), &db), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    QCOMPARE(sqlite3_prepare_v2(db, "SELECT count(*) FROM notes", -1, &statement, nullptr), SQLITE_OK);
    QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(statement, 0), 2);
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
