// What the page asks of its document: task items ticked in the text, links and wikilinks
// followed through a real vault on disk.

#include "modelharness.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// What the model asked of the desktop.
struct FakeWorkspace
{
    QStringList notes;
    QList<QUrl> external;
    FakeWorkspace()
    {
        DocumentModel::setWorkspace({[this](const QString &path) { notes << path; },
                                     [this](const QUrl &url) { external << url; }});
    }
    ~FakeWorkspace() { DocumentModel::setWorkspace({}); }
};

} // namespace

class TestPageRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_fakes.emplace(); }
    void cleanup() { m_fakes.reset(); }

    void tasksAreTickedWhereThePageCountsThem_data();
    void tasksAreTickedWhereThePageCountsThem();
    void linksGoWhereTheyLead_data();
    void linksGoWhereTheyLead();
    void aHeadingWaitsForItsNoteUnlessItIsOpen();

private:
    std::optional<FakePreviewFactory> m_fakes;
};

void TestPageRequests::tasksAreTickedWhereThePageCountsThem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("expected"); // null: unchanged and not edited

    QTest::newRow("second-unticked") << u"- [ ] a\n- [x] b\n"_s << 1 << false << u"- [ ] a\n- [ ] b\n"_s;
    QTest::newRow("indented-upper-x") << u"  * [X] c\n"_s << 0 << true << u"  * [x] c\n"_s;
    QTest::newRow("numbered") << u"1) [ ] d\n12. [ ] e\n"_s << 1 << true << u"1) [ ] d\n12. [x] e\n"_s;
    QTest::newRow("not-tasks-do-not-count")
        << u"-[ ] f\n- [] g\n- [ ] h\n"_s << 0 << true << u"-[ ] f\n- [] g\n- [x] h\n"_s;
    QTest::newRow("nothing-after-the-box") << u"- [ ]\n"_s << 0 << true << u"- [x]\n"_s;
    QTest::newRow("inside-a-fence-counts")
        << u"```\n- [ ] in code\n```\n- [ ] after\n"_s << 1 << true
        << u"```\n- [ ] in code\n```\n- [x] after\n"_s;
    QTest::newRow("out-of-range") << u"- [ ] a\n"_s << 1 << true << QString();
    QTest::newRow("already-so") << u"- [x] a\n"_s << 0 << true << QString();
    QTest::newRow("crlf") << u"- [ ] a\r\n- [ ] b\r\n"_s << 1 << true << u"- [ ] a\r\n- [x] b\r\n"_s;
    // The page counts lines as the parser does and without the byte-order mark.
    QTest::newRow("byte-order-mark") << u"\uFEFF- [ ] a\n"_s << 0 << true << u"\uFEFF- [x] a\n"_s;
    QTest::newRow("lone-cr") << u"- [ ] a\r- [ ] b\r"_s << 1 << true << u"- [ ] a\r- [x] b\r"_s;
}

void TestPageRequests::tasksAreTickedWhereThePageCountsThem()
{
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(bool, checked);
    QFETCH(QString, expected);
    Harness h(text.toUtf8());
    h.model->toggleTask(index, checked);
    QCOMPARE(h.current(), expected.isNull() ? text : expected);
    QCOMPARE(h.model->dirty(), !expected.isNull());
    // One edit, the window's own, which every view takes.
    QCOMPARE(h.origins, expected.isNull() ? QList<EditOrigin>{} : QList{EditOrigin::Program});
}

namespace {

// A vault on disk: a settings folder at its root, notes in folders, an image, a program.
struct Vault
{
    ScratchEnvironment scratch;
    QString root = scratch.path(u"Garden"_s);

    Vault()
    {
        for (const char *name : {"Garden/.obsidian/app.json", "Garden/Welcome.md",
                                 "Garden/Projects/Beds.md", "Garden/assets/plan.png"})
            put(QString::fromUtf8(name), "# Title\n");
    }
    QString put(const QString &name, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(scratch.path(name)).absolutePath());
        return scratch.write(name, bytes);
    }
    QString url(const QString &name) const
    {
        return QUrl::fromLocalFile(scratch.path(name)).toString(QUrl::FullyEncoded);
    }
};

} // namespace

void TestPageRequests::linksGoWhereTheyLead_data()
{
    QTest::addColumn<QString>("kind"); // link or wikilink
    QTest::addColumn<QString>("first"); // the link as resolved, or the wikilink's target
    QTest::addColumn<QString>("second"); // the link as written, or the wikilink's heading
    QTest::addColumn<QString>("expected");

    const QString beds = u"Garden/Projects/Beds.md"_s;
    QTest::newRow("web") << u"link"_s << u"https://example.org/a"_s << u"https://example.org/a"_s
                         << u"external https://example.org/a"_s;
    QTest::newRow("mail") << u"link"_s << u"mailto:a@b.example"_s << u"mailto:a@b.example"_s
                          << u"external mailto:a@b.example"_s;
    QTest::newRow("note-at-a-heading") << u"link"_s << u"Garden/Projects/Beds.md#Raised%20beds"_s
                                       << u"Projects/Beds.md#Raised%20beds"_s
                                       << u"note Garden/Projects/Beds.md #Raised beds"_s;
    QTest::newRow("own-heading") << u"link"_s << u"Garden/Welcome.md#Modes"_s << u"#Modes"_s
                                 << u"scroll Modes"_s;
    QTest::newRow("image") << u"link"_s << u"Garden/assets/plan.png"_s << u"assets/plan.png"_s
                           << u"external file Garden/assets/plan.png"_s;
    QTest::newRow("moved-note-found-by-name")
        << u"link"_s << u"Garden/Old/Beds.md"_s << u"Old/Beds.md"_s << u"note " + beds + u" #"_s;
    // A missing note may be made where the link looks for it, never outside the vault.
    QTest::newRow("missing-note")
        << u"link"_s << u"Garden/Projects/Nope here.md"_s << u"Projects/Nope%20here.md"_s
        << u"offer Garden/Projects/Nope here.md File not found: \u201CProjects/Nope here.md\u201D "
           "doesn't exist at this location or anywhere else in the vault."_s;
    QTest::newRow("missing-note-outside-the-vault")
        << u"link"_s << u"Elsewhere.md"_s << u"../Elsewhere.md"_s
        << u"alert File not found: \u201C../Elsewhere.md\u201D doesn't exist at this location or "
           "anywhere else in the vault."_s;
    QTest::newRow("missing-image")
        << u"link"_s << u"Garden/gone.png"_s << u"gone.png"_s
        << u"alert File not found: \u201Cgone.png\u201D doesn't exist at this location or "
           "anywhere else in the vault."_s;
    QTest::newRow("wikilink-in-a-subfolder")
        << u"wikilink"_s << u"beds"_s << u"Raised beds"_s << u"note " + beds + u" #Raised beds"_s;
    QTest::newRow("wikilink-to-own-heading") << u"wikilink"_s << QString() << u"Modes"_s
                                             << u"scroll Modes"_s;
    QTest::newRow("wikilink-to-an-image") << u"wikilink"_s << u"plan.png"_s << QString()
                                          << u"external file Garden/assets/plan.png"_s;
    QTest::newRow("wikilink-missing")
        << u"wikilink"_s << u"Compost"_s << QString()
        << u"offer Garden/Compost.md Note not found: No file named \u201CCompost\u201D in "
           "\u201CGarden\u201D or the folders inside it."_s;
    QTest::newRow("wikilink-missing-in-a-folder")
        << u"wikilink"_s << u"Projects/Paths"_s << QString()
        << u"offer Garden/Projects/Paths.md Note not found: No file named \u201CProjects/Paths\u201D "
           "in \u201CGarden\u201D or the folders inside it."_s;
    QTest::newRow("wikilink-missing-out-of-the-vault")
        << u"wikilink"_s << u"../Compost"_s << QString()
        << u"alert Note not found: No file named \u201C../Compost\u201D in \u201CGarden\u201D or "
           "the folders inside it."_s;
}

void TestPageRequests::linksGoWhereTheyLead()
{
    QFETCH(QString, kind);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);
    Vault vault;
    FakeWorkspace workspace;
    Harness h(&vault.scratch, u"Garden/Welcome.md"_s, "# Welcome\n\n## Modes\n");
    QSignalSpy alerts(h.model, &DocumentModel::alertRequested);
    QSignalSpy offers(h.model, &DocumentModel::noteCreationOffered);
    QString resolved = first;
    if (first == u"Elsewhere.md")
        resolved = vault.url(first);
    if (first.startsWith(u"Garden/")) {
        resolved = vault.url(first.section(u'#', 0, 0));
        if (first.contains(u'#'))
            resolved += u'#' + first.section(u'#', 1);
    }
    if (kind == u"link")
        h.model->openLink(resolved, second);
    else
        h.model->openWikilink(first, second);

    QStringList seen;
    const QDir top(vault.scratch.path({}));
    for (const QString &note : workspace.notes) {
        // The heading waits for the note's first render.
        Harness opened(&vault.scratch, top.relativeFilePath(note), "# Opened\n");
        seen << u"note " + top.relativeFilePath(note) + u" #"
                    + opened.model->consumePendingHeading().value_or(QString());
    }
    for (const QUrl &url : workspace.external) {
        seen << (url.isLocalFile() ? QString(u"external file " + top.relativeFilePath(url.toLocalFile()))
                                   : QString(u"external " + url.toString()));
    }
    for (const QString &heading : m_fakes->calls.headings)
        seen << u"scroll " + heading;
    for (const auto &alert : alerts)
        seen << u"alert " + alert.at(0).toString() + u": " + alert.at(1).toString();
    for (const auto &offer : offers)
        seen << u"offer " + top.relativeFilePath(offer.at(2).toString()) + u' '
                    + offer.at(0).toString() + u": " + offer.at(1).toString();
    QCOMPARE(seen, QStringList{expected});
}

void TestPageRequests::aHeadingWaitsForItsNoteUnlessItIsOpen()
{
    Vault vault;
    FakeWorkspace workspace;
    Harness from(&vault.scratch, u"Garden/Welcome.md"_s, "# Welcome\n");
    from.model->openWikilink(u"Beds"_s, u"Raised beds"_s);
    // The note opens later; its first render takes the heading, once.
    Harness beds(&vault.scratch, u"Garden/Projects/Beds.md"_s, "# Beds\n\n## Raised beds\n");
    QCOMPARE(beds.model->consumePendingHeading(), std::optional(u"Raised beds"_s));
    QCOMPARE(beds.model->consumePendingHeading(), std::nullopt);
    // Now open: it scrolls at once, and nothing waits.
    from.model->openWikilink(u"Beds"_s, u"Paths"_s);
    QCOMPARE(m_fakes->calls.headings, QStringList{u"!Paths"_s});
    QCOMPARE(beds.model->consumePendingHeading(), std::nullopt);
    QCOMPARE(workspace.notes.size(), 2); // raised the second time
}

int runPageRequestTests(int argc, char **argv)
{
    TestPageRequests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_core_links.moc"
