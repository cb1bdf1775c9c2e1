// Which file a link names, in real folder trees.

#include "vaultprobe.h"

#include "vault/folderlistings.h"
#include "vault/notelinks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

using quorvel::vault::FolderListings;
using quorvel::vault::VaultIndex;
using quorvel::vault::VaultIndexProbe;

namespace {

// A tree in a scratch folder: an entry ending in "/" is a folder, anything else an empty file.
struct Tree
{
    QTemporaryDir dir;

    explicit Tree(const QStringList &entries)
    {
        if (!dir.isValid())
            qFatal("no scratch folder");
        for (const QString &entry : entries)
            add(entry);
    }

    QString path(const QString &relative) const
    {
        return relative.isEmpty() ? dir.path() : dir.filePath(relative);
    }

    // "name -> target" makes a symbolic link.
    void add(const QString &entry) const
    {
        if (const qsizetype arrow = entry.indexOf(QLatin1String(" -> ")); arrow > 0) {
            if (!QFile::link(entry.mid(arrow + 4), path(entry.left(arrow))))
                qFatal("cannot make a test link");
            return;
        }
        const QString full = path(entry);
        if (entry.endsWith(u'/')) {
            if (!QDir().mkpath(full))
                qFatal("cannot make a test folder");
            return;
        }
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write a test file");
    }

    // Relative paths, or "-" for none, so that a failure shows which file was chosen.
    QString relative(const std::optional<QString> &found) const
    {
        return found ? QDir(dir.path()).relativeFilePath(*found) : QStringLiteral("-");
    }
};

} // namespace

class TestVault : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rootIsTheNearestFolderWithObsidian_data();
    void rootIsTheNearestFolderWithObsidian();
    void documentsOfOneVaultShareItsIndex();
    void targetsResolve_data();
    void targetsResolve();
    void aPathUnderTheRootNeedsNoBuild();
    void aNoteAddedAfterTheBuildIsFoundOnceTheBuildIsStale();
    void aRebuildKnowsTheTreeAsItIsNow_data();
    void aRebuildKnowsTheTreeAsItIsNow();
    void linkTargets_data();
    void linkTargets();
    void wikilinksBecomeLinksForAWordFile_data();
    void wikilinksBecomeLinksForAWordFile();
    void lookupsStayValidWhileTheIndexIsRebuilt();
    void directAnswersFollowChanges_data();
    void directAnswersFollowChanges();
};

void TestVault::rootIsTheNearestFolderWithObsidian_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("vault"); // "-" for none
    QTest::addColumn<QString>("indexRoot");
    QTest::newRow("two-levels-up") << QStringList{"v/.obsidian/", "v/a/b/Doc.md"} << "v/a/b/Doc.md"
                                   << "v" << "v";
    QTest::newRow("beside-the-document")
        << QStringList{"v/.obsidian/", "v/Doc.md"} << "v/Doc.md" << "v" << "v";
    QTest::newRow("obsidian-is-a-file")
        << QStringList{"v/.obsidian", "v/a/Doc.md"} << "v/a/Doc.md" << "v" << "v";
    QTest::newRow("nearest-wins") << QStringList{"v/.obsidian/", "v/w/.obsidian/", "v/w/x/Doc.md"}
                                  << "v/w/x/Doc.md" << "v/w" << "v/w";
    QTest::newRow("none-own-folder")
        << QStringList{"a/b/Doc.md"} << "a/b/Doc.md" << "-" << "a/b";
}

void TestVault::rootIsTheNearestFolderWithObsidian()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, document);
    QFETCH(QString, vault);
    QFETCH(QString, indexRoot);
    const Tree t(tree);
    QCOMPARE(t.relative(VaultIndex::vaultRoot(t.path(document))), vault);
    QCOMPARE(t.relative(VaultIndex::index(t.path(document)).root()), indexRoot);
}

void TestVault::documentsOfOneVaultShareItsIndex()
{
    const Tree t({"v/.obsidian/", "v/A.md", "v/x/y/B.md", "w/C.md"});
    VaultIndex &index = VaultIndex::index(t.path("v/A.md"));
    QCOMPARE(&VaultIndex::index(t.path("v/x/y/B.md")), &index);
    QVERIFY(&VaultIndex::index(t.path("w/C.md")) != &index);
    QVERIFY(!VaultIndexProbe::built(index));
}

void TestVault::targetsResolve_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source"); // empty for none
    QTest::addColumn<QString>("expected"); // "-" for none

    QTest::newRow("bare-name-any-folder-any-case")
        << QStringList{"a/b/My Note.md"} << "my NOTE" << "" << "a/b/My Note.md";
    QTest::newRow("blanks-trimmed") << QStringList{"a/Note.md"} << " \tNote  " << "" << "a/Note.md";
    QTest::newRow("md-target-any-case")
        << QStringList{"x/PLAN.md", "y/plan"} << "plan.md" << "" << "x/PLAN.md";
    QTest::newRow("md-target-exact-name-only")
        << QStringList{"y/Plan", "y/Plan.md.md"} << "Plan.md" << "" << "-";
    QTest::newRow("dotted-date-has-an-extension")
        << QStringList{"j/2024.03.05.md", "k/2024.03.05"} << "2024.03.05" << "" << "k/2024.03.05";
    QTest::newRow("dotted-date-gets-no-md")
        << QStringList{"j/2024.03.05.md"} << "2024.03.05" << "" << "-";
    // In lower case, so that the source's folder finds no direct path.
    QTest::newRow("same-folder-beats-shorter")
        << QStringList{"a/Note.md", "deep/er/Note.md", "deep/er/Src.md"} << "note"
        << "deep/er/Src.md" << "deep/er/Note.md";
    QTest::newRow("shortest-path")
        << QStringList{"aa/Note.md", "b/Note.md", "c/d/Note.md", "e/Src.md"} << "Note"
        << "e/Src.md" << "b/Note.md";
    // Both paths have nine characters under the root; the exact name is gathered before ".md".
    QTest::newRow("tie-first-gathered")
        << QStringList{"c/Note.md", "abcd/Note"} << "Note" << "" << "abcd/Note";
    QTest::newRow("folder-part-under-root")
        << QStringList{"sub/Deep.md", "other/Deep.md", "notes/sub/Deep.md", "notes/Src.md"}
        << "sub/Deep" << "notes/Src.md" << "sub/Deep.md";
    QTest::newRow("folder-part-beside-source")
        << QStringList{"x/Deep.md", "notes/sub/Deep.md", "notes/Src.md"} << "sub/Deep"
        << "notes/Src.md" << "notes/sub/Deep.md";
    QTest::newRow("folder-part-falls-back-to-name")
        << QStringList{"elsewhere/Deep.md"} << "gone/Deep" << "" << "elsewhere/Deep.md";
    QTest::newRow("not-in-node-modules")
        << QStringList{"node_modules/Hid.md", "a/node_modules/Hid.md"} << "Hid" << "" << "-";
    QTest::newRow("not-in-build-or-dist")
        << QStringList{"build/Hid.md", "a/dist/Hid.md"} << "Hid" << "" << "-";
    QTest::newRow("not-in-hidden-folders")
        << QStringList{".hidden/Hid.md", "a/.git/Hid.md", "a/.obsidian/Hid.md"} << "Hid" << ""
        << "-";
    QTest::newRow("hidden-file") << QStringList{"a/.Hid.md"} << ".Hid" << "" << "-";
    QTest::newRow("skipping-is-case-sensitive")
        << QStringList{"Build/Hid.md"} << "Hid" << "" << "Build/Hid.md";
    QTest::newRow("exact-case-beats-shorter") << QStringList{"a/note.md", "bb/Note.md"} << "Note"
                                              << "" << "bb/Note.md";
    QTest::newRow("exact-case-beats-same-folder")
        << QStringList{"s/NOTE.md", "s/Src.md", "deep/er/Note.md"} << "Note" << "s/Src.md"
        << "deep/er/Note.md";
    QTest::newRow("never-above-the-root")
        << QStringList{"a/Note.md"} << "../../../../../../../../../../../etc/hostname" << ""
        << "-";
    QTest::newRow("never-above-the-root-from-the-source")
        << QStringList{"a/Src.md"} << "../../../../../../../../../../etc/hostname" << "a/Src.md"
        << "-";
    QTest::newRow("empty") << QStringList{"a/.md"} << "" << "" << "-";
    QTest::newRow("blank") << QStringList{"a/.md"} << " \t " << "" << "-";
    QTest::newRow("missing") << QStringList{"a/Note.md"} << "Nowhere" << "a/Note.md" << "-";
    QTest::newRow("the-root-is-no-note") << QStringList{"a/Note.md"} << "." << "a/Note.md" << "-";
    QTest::newRow("a-folder-is-no-note") << QStringList{"sub/x.md"} << "sub" << "" << "-";
    QTest::newRow("a-folder-named-like-a-note")
        << QStringList{"Folder.md/inner.md"} << "Folder" << "" << "-";
}

void TestVault::targetsResolve()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    const Tree t(tree << ".obsidian/");
    VaultIndex &index = VaultIndex::index(t.path(QStringLiteral("Home.md")));
    QCOMPARE(index.root(), t.dir.path());
    QCOMPARE(t.relative(index.resolve(target, source.isEmpty() ? QString() : t.path(source))),
             expected);
}

void TestVault::aPathUnderTheRootNeedsNoBuild()
{
    const Tree t({".obsidian/", "sub/Deep.md", "notes/Src.md"});
    VaultIndex &index = VaultIndex::index(t.path("notes/Src.md"));
    QCOMPARE(index.resolve("sub/Deep", t.path("notes/Src.md")), t.path("sub/Deep.md"));
    QVERIFY(!VaultIndexProbe::built(index));
    QCOMPARE(index.resolve("Deep", t.path("notes/Src.md")), t.path("sub/Deep.md"));
    QVERIFY(VaultIndexProbe::built(index));
}

void TestVault::aNoteAddedAfterTheBuildIsFoundOnceTheBuildIsStale()
{
    const Tree t({".obsidian/", "o/Old.md"});
    VaultIndex &index = VaultIndex::index(t.path("o/Old.md"));
    QCOMPARE(t.relative(index.resolve("Old")), "o/Old.md");
    t.add("n/New.md");
    QCOMPARE(t.relative(index.resolve("New")), "-"); // the build is fresh: no rebuild
    VaultIndexProbe::age(index);
    QCOMPARE(t.relative(index.resolve("New")), "n/New.md");
}

void TestVault::aRebuildKnowsTheTreeAsItIsNow_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected"); // "-" for none
    const QStringList tree{".obsidian/", "a/Note.md", "b/Note.md", "c/Only.md", "c/Other.md"};
    QTest::newRow("nothing changed") << tree << QStringList{} << QStringList{} << "Only" << "c/Only.md";
    // A name that led to two notes now leads to the one left.
    QTest::newRow("one of two removed") << tree << QStringList{} << QStringList{"a/Note.md"} << "Note"
                                        << "b/Note.md";
    QTest::newRow("the only one removed") << tree << QStringList{} << QStringList{"c/Only.md"} << "Only"
                                          << "-";
    QTest::newRow("moved") << tree << QStringList{"d/Only.md"} << QStringList{"c/Only.md"} << "Only"
                           << "d/Only.md";
    // Written in its case, the new one wins over the old one of the same name.
    QTest::newRow("a second of its name") << tree << QStringList{"d/only.md"} << QStringList{} << "only"
                                          << "d/only.md";
    QTest::newRow("new name") << tree << QStringList{"e/New.md"} << QStringList{} << "New" << "e/New.md";
    QTest::newRow("renamed in its case") << tree << QStringList{"c/ONLY.md"} << QStringList{"c/Only.md"}
                                         << "only" << "c/ONLY.md";
}

void TestVault::aRebuildKnowsTheTreeAsItIsNow()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QString, target);
    QFETCH(QString, expected);
    const Tree t(before);
    const auto index = VaultIndexProbe::fresh(t.path(""));
    index->files();
    for (const QString &entry : added)
        t.add(entry);
    for (const QString &entry : removed)
        QVERIFY(QFile::remove(t.path(entry)));
    index->rebuild();
    QStringList now;
    for (const QString &entry : before + added) {
        if (!entry.endsWith(u'/') && !removed.contains(entry))
            now.append(t.path(entry));
    }
    now.sort();
    QCOMPARE(index->files(), now);
    QCOMPARE(t.relative(index->resolve(target)), expected);
}

void TestVault::linkTargets_data()
{
    QTest::addColumn<QString>("resolved"); // relative to the vault
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<QString>("expected");
    QTest::newRow("exists-where-it-points")
        << "notes/Here.md" << "Here.md" << true << "notes/Here.md";
    QTest::newRow("moved-with-heading-and-space")
        << "notes/My Note.md" << "My%20Note.md#Some%20Heading" << true << "archive/My Note.md";
    QTest::newRow("moved-with-query") << "notes/My Note.md" << "My%20Note.md?x=1#h" << true
                                      << "archive/My Note.md";
    QTest::newRow("moved-with-folder-part")
        << "old/My Note.md" << "../old/My%20Note.md" << true << "archive/My Note.md";
    QTest::newRow("malformed-escape-kept")
        << "notes/100%.md" << "100%.md" << true << "archive/100%.md";
    QTest::newRow("no-source") << "notes/My Note.md" << "My%20Note.md" << false << "-";
    QTest::newRow("missing") << "notes/Gone.md" << "Gone.md" << true << "-";
}

void TestVault::linkTargets()
{
    QFETCH(QString, resolved);
    QFETCH(QString, written);
    QFETCH(bool, withSource);
    QFETCH(QString, expected);
    const Tree t({".obsidian/", "notes/Src.md", "notes/Here.md", "archive/My Note.md",
                  "archive/100%.md"});
    QCOMPARE(t.relative(VaultIndex::linkTarget(QUrl::fromLocalFile(t.path(resolved)), written,
                                               withSource ? t.path("notes/Src.md") : QString())),
             expected);
}

void TestVault::wikilinksBecomeLinksForAWordFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name") << "See [[Here]]." << "See [Here](Here.md).";
    QTest::newRow("label-and-heading")
        << "[[My Note#Plan|the *plan*]] and [[My Note#Plan]]"
        << "[the \\*plan\\*](../archive/My%20Note.md) and [My Note \u203A Plan](../archive/My%20Note.md)";
    QTest::newRow("embedded-image") << "![[pic.png]] ![[Here]]" << "![pic.png](../pic.png) [Here](Here.md)";
    QTest::newRow("missing-is-its-label") << "[[Nowhere|gone]] [[Nowhere]]" << "gone Nowhere";
    QTest::newRow("code-stays") << "`[[Here]]`\n```\n[[Here]]\n```\n" << "`[[Here]]`\n```\n[[Here]]\n```\n";
}

void TestVault::wikilinksBecomeLinksForAWordFile()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const Tree t({".obsidian/", "notes/Src.md", "notes/Here.md", "archive/My Note.md", "pic.png"});
    QCOMPARE(quorvel::vault::wikilinksAsLinks(text, t.path("notes/Src.md")), expected);
}

// Builds run on one thread, by force and by missing lookups on an aged index, while the main
// thread looks up the same index; a note that comes and goes makes the answer change with them.
void TestVault::lookupsStayValidWhileTheIndexIsRebuilt()
{
    QStringList entries{".obsidian/", "deep/er/Note.md"};
    for (int i = 0; i < 200; ++i)
        entries << QStringLiteral("f%1/Other%2.md").arg(i % 20).arg(i);
    const Tree t(entries);
    VaultIndex &index = VaultIndex::index(t.path("deep/er/Note.md"));
    const QSet<QString> valid{"a/Note.md", "deep/er/Note.md"};

    std::atomic<bool> stop = false;
    std::atomic<int> builds = 0;
    std::thread builder([&] {
        while (!stop) {
            if (builds % 2 == 0)
                t.add("a/Note.md");
            else
                QFile::remove(t.path("a/Note.md"));
            if (builds % 3 == 0) {
                VaultIndexProbe::build(index);
            } else {
                VaultIndexProbe::age(index);
                index.resolve("Nowhere");
            }
            ++builds;
        }
    });
    int lookups = 0;
    QSet<QString> seen;
    for (; lookups < 5000 || builds < 50; ++lookups) {
        if (lookups % 100 == 0) { // a build of the main thread's own, maybe alongside the other
            VaultIndexProbe::age(index);
            index.resolve("Nowhere either");
        }
        const QString found = t.relative(index.resolve("note"));
        seen.insert(found);
        if (!valid.contains(found))
            break;
    }
    stop = true;
    builder.join();
    QVERIFY2(valid.contains(seen), qPrintable(QStringList(seen.begin(), seen.end()).join(u',')));
    QCOMPARE(t.relative(index.resolve("Other117")), "f17/Other117.md");
}

void TestVault::directAnswersFollowChanges_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QStringList>("changes"); // "add ENTRY", "remove PATH", "rename FROM TO"
    QTest::addColumn<bool>("exists");
    QTest::newRow("added") << QStringList{"a/"} << "a/X.md" << QStringList{"add a/X.md"} << true;
    QTest::newRow("removed") << QStringList{"a/X.md"} << "a/X.md" << QStringList{"remove a/X.md"}
                             << false;
    QTest::newRow("renamed-away") << QStringList{"a/X.md"} << "a/X.md"
                                  << QStringList{"rename a/X.md a/Y.md"} << false;
    QTest::newRow("renamed-in") << QStringList{"a/Y.md"} << "a/X.md"
                                << QStringList{"rename a/Y.md a/X.md"} << true;
    QTest::newRow("folder-renamed")
        << QStringList{"a/X.md"} << "a/X.md" << QStringList{"rename a b"} << false;
    QTest::newRow("folder-above-renamed")
        << QStringList{"p/q/a/X.md"} << "p/q/a/X.md" << QStringList{"rename p r"} << false;
    QTest::newRow("folder-replaced")
        << QStringList{"a/", "b/X.md"} << "a/X.md" << QStringList{"remove a", "rename b a"}
        << true;
    QTest::newRow("link-added") << QStringList{"t/X.md", "a/"} << "a/L.md"
                                << QStringList{"add a/L.md -> ../t/X.md"} << true;
    QTest::newRow("link-target-removed")
        << QStringList{"t/X.md", "a/", "a/L.md -> ../t/X.md"} << "a/L.md"
        << QStringList{"remove t/X.md"} << false;
    QTest::newRow("folder-through-a-link")
        << QStringList{"t/", "a -> t"} << "a/X.md" << QStringList{"add t/X.md"} << true;
}

// The answers are kept between questions; each is asked once before the change so that it is.
void TestVault::directAnswersFollowChanges()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, asked);
    QFETCH(QStringList, changes);
    QFETCH(bool, exists);
    const Tree t(tree);
    FolderListings listings;
    QCOMPARE(FolderListings::Batch(listings).exists(t.path(asked)), !exists);
    for (const QString &change : std::as_const(changes)) {
        const QStringList words = change.split(u' ');
        const QByteArray from = QFile::encodeName(t.path(words.value(1)));
        if (words[0] == u"add")
            t.add(change.mid(4));
        else if (words[0] == u"remove")
            QVERIFY(::remove(from.constData()) == 0);
        else
            QVERIFY(::rename(from.constData(), QFile::encodeName(t.path(words[2])).constData())
                    == 0);
    }
    QCOMPARE(FolderListings::Batch(listings).exists(t.path(asked)), exists);
}

QTEST_GUILESS_MAIN(TestVault)
#include "tst_vault.moc"
