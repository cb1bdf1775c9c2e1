#include "testsupport.h"

#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/papersize.h"
#include "themes/settingsstore.h"
#include "themes/themekind.h"

#include <QSignalSpy>
#include <QTest>

#include <cstdio>

using namespace quorvel::themes;

class TestThemes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storedNamesMatchExactly_data();
    void storedNamesMatchExactly();
    void rotationHandsOutEveryThemeButSystemOnce();
    void editorColoursAreReadableAndFollowTheAppearance();

    void storedValuesAreReadOrDefaulted_data();
    void storedValuesAreReadOrDefaulted();
    void everyAssignmentIsOnDiskAtOnce();
    void payloadIsCompactSortedJson();
    void themePerFileLetsFilesResolveBeforeWindowsRepaint();

    void fileKeepsItsThemeWhereverItGoes_data();
    void fileKeepsItsThemeWhereverItGoes();
    void rotationStartsAndSkips_data();
    void rotationStartsAndSkips();
    void memoryIsCutToTheNewestEntries();
    void damagedMemoryLoadsWhatItCan_data();
    void damagedMemoryLoadsWhatItCan();
};

void TestThemes::storedNamesMatchExactly_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<int>("theme"); // -1: none
    QTest::newRow("hyphenated") << "solarized-light" << int(ThemeKind::SolarizedLight);
    QTest::newRow("label-not-raw") << "Dark" << -1;
    QTest::newRow("upper-case") << "DARK" << -1;
    QTest::newRow("trailing-space") << "dark " << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("legacy-name") << "lin" << -1;
}

void TestThemes::storedNamesMatchExactly()
{
    QFETCH(QString, raw);
    QFETCH(int, theme);
    const auto found = themeFromStoredName(raw);
    QCOMPARE(found ? int(*found) : -1, theme);
}

void TestThemes::rotationHandsOutEveryThemeButSystemOnce()
{
    const auto &rotation = themeRotation();
    QCOMPARE(rotation.size(), 10);
    QCOMPARE(rotation.first(), ThemeKind::LightSans);
    QCOMPARE(rotation.last(), ThemeKind::LightSerif);
    for (ThemeKind theme : allThemes())
        QCOMPARE(rotation.count(theme), theme == ThemeKind::System ? 0 : 1);
}

void TestThemes::editorColoursAreReadableAndFollowTheAppearance()
{
    QVERIFY(!editorColors(ThemeKind::System));
    QCOMPARE(editorColors(ThemeKind::LightSerif), editorColors(ThemeKind::LightSans));
    QCOMPARE(editorColors(ThemeKind::Ink)->text, QColor(Qt::black));
    QCOMPARE(editorColors(ThemeKind::Ink)->background, QColor(Qt::white));
    for (ThemeKind theme : allThemes()) {
        const auto colors = editorColors(theme);
        if (!colors)
            continue;
        const double bg = colors->background.lightnessF();
        const double fg = colors->text.lightnessF();
        QVERIFY2(std::abs(bg - fg) > 0.5, qPrintable(storedName(theme)));
        QCOMPARE(windowAppearance(theme) == WindowAppearance::Dark, bg < 0.5);
    }
}

void TestThemes::storedValuesAreReadOrDefaulted_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored"); // the text an INI file holds; "<none>" for no entry
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("no-theme") << "theme" << "<none>" << "theme" << QVariant("light-sans");
    QTest::newRow("theme") << "theme" << "sage" << "theme" << QVariant("sage");
    QTest::newRow("legacy-theme") << "theme" << "brume" << "theme" << QVariant("mist");
    QTest::newRow("theme-label") << "theme" << "Dark" << "theme" << QVariant("light-sans");
    QTest::newRow("theme-other-word") << "theme" << "midnight" << "theme" << QVariant("light-sans");
    QTest::newRow("paper-letter") << "paperSize" << "letter" << "paperSize" << QVariant("letter");
    QTest::newRow("paper-upper-case") << "paperSize" << "A5" << "paperSize" << QVariant("a4");
    QTest::newRow("paper-word") << "paperSize" << "legal" << "paperSize" << QVariant("a4");
    QTest::newRow("font-size") << "fontSize" << "18.5" << "fontSize" << QVariant(18.5);
    QTest::newRow("font-size-string") << "fontSize" << "large" << "fontSize" << QVariant(17.0);
    QTest::newRow("font-size-nan") << "fontSize" << "nan" << "fontSize" << QVariant(17.0);
    QTest::newRow("no-width") << "contentWidth" << "<none>" << "contentWidth" << QVariant(1180.0);
    QTest::newRow("line-height") << "lineHeight" << "1.75" << "lineHeight" << QVariant(1.75);
    QTest::newRow("editor-font") << "editorFontSize" << "x" << "editorFontSize" << QVariant(13.5);
    QTest::newRow("margin") << "marginMM" << "12" << "marginMM" << QVariant(12.0);
    QTest::newRow("per-file-off") << "themePerFile" << "false" << "themePerFile" << QVariant(false);
    QTest::newRow("per-file-word") << "themePerFile" << "maybe" << "themePerFile" << QVariant(true);
    QTest::newRow("status-bar-number") << "showStatusBar" << "0" << "showStatusBar" << QVariant(false);
    QTest::newRow("reload-on") << "autoReload" << "true" << "autoReload" << QVariant(true);
    QTest::newRow("no-reload") << "autoReload" << "<none>" << "autoReload" << QVariant(false);
    QTest::newRow("landscape-number") << "landscape" << "2.5" << "landscape" << QVariant(false);
    QTest::newRow("family") << "fontFamily" << "Iowan Old Style" << "fontFamily"
                            << QVariant("Iowan Old Style");
    QTest::newRow("no-family") << "fontFamily" << "<none>" << "fontFamily" << QVariant("");
}

void TestThemes::storedValuesAreReadOrDefaulted()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("q.conf"));
    if (stored != u"<none>") {
        QFile ini(path);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\n" + key.toUtf8() + '=' + stored.toUtf8() + '\n');
    }
    SettingsStore store(path);
    Appearance appearance(store);

    QVariant actual;
    if (property == u"theme")
        actual = storedName(appearance.theme());
    else if (property == u"paperSize")
        actual = storedName(appearance.paperSize());
    else
        actual = appearance.property(property.toLatin1());
    QCOMPARE(actual, expected);
}

void TestThemes::everyAssignmentIsOnDiskAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("q.conf"));
    {
        SettingsStore store(path);
        Appearance appearance(store);
        appearance.setTheme(ThemeKind::Cream);
        appearance.setThemePerFile(false);
        appearance.setFontSize(21);
        appearance.setContentWidth(900);
        appearance.setLineHeight(1.35);
        appearance.setFontFamily(QStringLiteral("Literata"));
        appearance.setShowStatusBar(false);
        appearance.setEditorFontSize(15);
        appearance.setAutoReload(true);
        appearance.setPaperSize(PaperSize::Letter);
        appearance.setLandscape(true);
        appearance.setMarginMM(11.5);

        // Another reader of the file sees every value while the first store is still open.
        SettingsStore other(path);
        Appearance reread(other);
        QCOMPARE(reread.theme(), ThemeKind::Cream);
        QCOMPARE(reread.themePerFile(), false);
        QCOMPARE(reread.fontSize(), 21.0);
        QCOMPARE(reread.contentWidth(), 900.0);
        QCOMPARE(reread.lineHeight(), 1.35);
        QCOMPARE(reread.fontFamily(), QStringLiteral("Literata"));
        QCOMPARE(reread.showStatusBar(), false);
        QCOMPARE(reread.editorFontSize(), 15.0);
        QCOMPARE(reread.autoReload(), true);
        QCOMPARE(reread.paperSize(), PaperSize::Letter);
        QCOMPARE(reread.landscape(), true);
        QCOMPARE(reread.marginMM(), 11.5);
    }
}

void TestThemes::payloadIsCompactSortedJson()
{
    ScratchEnvironment scratch;
    Appearance &appearance = scratch.appearance;
    QCOMPARE(appearance.jsPayload(ThemeKind::Dark),
             QStringLiteral("{\"fontFamily\":\"\",\"fontSize\":17,\"lineHeight\":1.6,"
                            "\"theme\":\"dark\",\"width\":1180}"));
    appearance.setFontFamily(QStringLiteral("Say \"hi\""));
    appearance.setFontSize(18.5);
    const QString cream = appearance.jsPayload(ThemeKind::Cream);
    QCOMPARE(cream,
             QStringLiteral("{\"fontFamily\":\"Say \\\"hi\\\"\",\"fontSize\":18.5,"
                            "\"lineHeight\":1.6,\"theme\":\"cream\",\"width\":1180}"));
    QCOMPARE(appearance.jsPayload(ThemeKind::SolarizedLight),
             QString(cream).replace(QStringLiteral("cream"), QStringLiteral("solarized-light")));
}

void TestThemes::themePerFileLetsFilesResolveBeforeWindowsRepaint()
{
    ScratchEnvironment scratch;
    Appearance &appearance = scratch.appearance;
    QStringList order;
    connect(&appearance, &Appearance::themePerFileChanged, this,
            [&order](bool on) { order << (on ? "resolve" : "keep"); });
    connect(&appearance, &Appearance::windowAppearancesInvalidated, this,
            [&order] { order << "repaint"; });

    appearance.setThemePerFile(false);
    appearance.setThemePerFile(true);
    appearance.setTheme(ThemeKind::Dark);
    appearance.setFontSize(30); // typography repaints only the page, not the windows
    QCOMPARE(order, QStringList({"keep", "repaint", "resolve", "repaint", "repaint"}));
}

void TestThemes::fileKeepsItsThemeWhereverItGoes_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("kept");
    QTest::newRow("renamed") << "renamed" << true;
    QTest::newRow("moved-to-subfolder") << "moved" << true;
    QTest::newRow("replaced-atomically") << "replaced" << true;
    QTest::newRow("deleted-and-written-again") << "rewritten" << true;
    QTest::newRow("copied") << "copied" << false;
}

void TestThemes::fileKeepsItsThemeWhereverItGoes()
{
    QFETCH(QString, change);
    QFETCH(bool, kept);
    ScratchEnvironment scratch;
    const QString original = scratch.write(QStringLiteral("note.md"), "text\n");
    QVERIFY(QDir(scratch.dir.path()).mkdir(QStringLiteral("sub")));
    const QString oldKey = FileThemes::key(original);
    {
        FileThemes memory(scratch.store);
        memory.remember(ThemeKind::Sage, oldKey, original);
    }

    QString now = original;
    if (change == u"renamed" || change == u"moved") {
        now = scratch.path(change == u"renamed" ? "renamed.md" : "sub/note.md");
        QVERIFY(QFile::rename(original, now));
    } else if (change == u"replaced") {
        scratch.write(QStringLiteral("note.md.tmp"), "new text\n");
        QVERIFY(std::rename(QFile::encodeName(original + ".tmp").constData(),
                            QFile::encodeName(original).constData())
                == 0);
    } else if (change == u"rewritten") {
        QVERIFY(QFile::remove(original));
        scratch.write(QStringLiteral("other.md"), "takes the old inode, maybe\n");
        scratch.write(QStringLiteral("note.md"), "text again\n");
        QFile::remove(scratch.path(QStringLiteral("other.md")));
    } else {
        now = scratch.path(QStringLiteral("copy.md"));
        QVERIFY(QFile::copy(original, now));
    }

    FileThemes memory(scratch.store); // as after a restart
    QCOMPARE(memory.theme(now), kept ? std::optional(ThemeKind::Sage) : std::nullopt);
    if (kept) {
        // The entry now names the current path, so the next lookup needs no fallback.
        memory.flush();
        FileThemes later(scratch.store);
        QVERIFY(later.contains(FileThemes::key(now)));
        // A replaced file's old inode is free for the next new file, which must not inherit.
        if (oldKey != FileThemes::key(now))
            QVERIFY(!later.contains(oldKey));
    }
}

void TestThemes::rotationStartsAndSkips_data()
{
    QTest::addColumn<QString>("lastAssigned");
    QTest::addColumn<ThemeKind>("appTheme");
    QTest::addColumn<QList<ThemeKind>>("avoiding");
    QTest::addColumn<QList<ThemeKind>>("handedOut");
    using T = ThemeKind;
    QTest::newRow("first-file-gets-the-app-theme")
        << "" << T::Sepia << QList<T>{} << QList<T>{T::Sepia, T::Mist, T::Dark};
    QTest::newRow("system-starts-at-the-top")
        << "" << T::System << QList<T>{} << QList<T>{T::LightSans, T::Sepia};
    QTest::newRow("wraps-after-the-last") << "light-serif" << T::Dark << QList<T>{}
                                          << QList<T>{T::LightSans};
    QTest::newRow("passes-over-shown-themes")
        << "sepia" << T::LightSans << QList<T>{T::Mist} << QList<T>{T::Dark, T::Linen};
    QTest::newRow("all-shown-takes-the-start")
        << "ink" << T::LightSans << QList<T>(themeRotation()) << QList<T>{T::Sage, T::Cream};
    QTest::newRow("legacy-last-is-no-history")
        << "lin" << T::Cream << QList<T>{} << QList<T>{T::Cream};
}

void TestThemes::rotationStartsAndSkips()
{
    QFETCH(QString, lastAssigned);
    QFETCH(ThemeKind, appTheme);
    QFETCH(QList<ThemeKind>, avoiding);
    QFETCH(QList<ThemeKind>, handedOut);
    ScratchEnvironment scratch;
    if (!lastAssigned.isEmpty())
        scratch.store.setValue(QStringLiteral("lastAssignedTheme"), lastAssigned);
    FileThemes memory(scratch.store);
    const QSet<ThemeKind> avoid(avoiding.begin(), avoiding.end());
    for (ThemeKind expected : handedOut) {
        QCOMPARE(memory.nextTheme(avoid, appTheme), expected);
        QCOMPARE(scratch.store.string(QStringLiteral("lastAssignedTheme")), storedName(expected));
    }
}

void TestThemes::memoryIsCutToTheNewestEntries()
{
    ScratchEnvironment scratch;
    FileThemes memory(scratch.store);
    for (int i = 0; i < FileThemes::kLimit; ++i)
        memory.remember(ThemeKind::Ink, QStringLiteral("volume:%1").arg(i),
                        QStringLiteral("/n/%1.md").arg(i));
    QCOMPARE(memory.count(), FileThemes::kLimit);
    memory.remember(ThemeKind::Dark, QStringLiteral("volume:new"), QStringLiteral("/n/new.md"));
    QCOMPARE(memory.count(), FileThemes::kKeptAfterCut);
    QVERIFY(memory.contains(QStringLiteral("volume:new")));
    QVERIFY(!memory.contains(QStringLiteral("volume:500")));
    QVERIFY(memory.contains(QStringLiteral("volume:501")));
    memory.flush();
    QCOMPARE(FileThemes(scratch.store).count(), FileThemes::kKeptAfterCut);
}

void TestThemes::damagedMemoryLoadsWhatItCan_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("entries");
    const QVariantMap good{{"theme", "dark"}, {"path", "/a.md"}, {"opened", 5.0}};
    QVariantMap noPath = good;
    noPath.remove("path");
    QVariantMap oddTime = good;
    oddTime.insert("opened", "yesterday");
    QTest::newRow("not-a-dictionary") << QVariant("fileThemes") << 0;
    QTest::newRow("value-not-a-dictionary") << QVariant(QVariantMap{{"k1", good}, {"k2", 7}}) << 0;
    QTest::newRow("entry-without-path") << QVariant(QVariantMap{{"k1", good}, {"k2", noPath}}) << 1;
    QTest::newRow("time-not-a-number") << QVariant(QVariantMap{{"k1", oddTime}}) << 1;
    // As text in the file: a record list whose size was edited by hand or damaged.
    const QByteArray record = "1\\id=k1\n1\\theme=dark\n1\\path=/a.md\n1\\opened=5\n";
    QTest::newRow("absurd-array-size")
        << QVariant("[fileThemes]\n" + record + "size=2147483647\n") << 1;
    QTest::newRow("negative-array-size") << QVariant("[fileThemes]\n" + record + "size=-1\n") << 1;
}

void TestThemes::damagedMemoryLoadsWhatItCan()
{
    QFETCH(QVariant, stored);
    QFETCH(int, entries);
    ScratchEnvironment scratch;
    const QString ini = scratch.path(QStringLiteral("damaged.conf"));
    if (stored.typeId() == QMetaType::QByteArray)
        scratch.write(QStringLiteral("damaged.conf"), stored.toByteArray());
    SettingsStore damaged(ini);
    SettingsStore &store = stored.typeId() == QMetaType::QByteArray ? damaged : scratch.store;
    if (stored.typeId() != QMetaType::QByteArray)
        store.setValue(QStringLiteral("fileThemes"), stored);
    FileThemes memory(store);
    QCOMPARE(memory.count(), entries);
    if (entries)
        QCOMPARE(memory.theme(QStringLiteral("/a.md")), ThemeKind::Dark);
}

QTEST_GUILESS_MAIN(TestThemes)
#include "tst_themes.moc"
