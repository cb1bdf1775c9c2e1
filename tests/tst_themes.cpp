#include "testsupport.h"

#include "themes/appearance.h"
#include "themes/papersize.h"
#include "themes/settingsstore.h"
#include "themes/themekind.h"

#include <QSignalSpy>
#include <QTest>

using namespace quorvel::themes;

class TestThemes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawValuesMatchExactly_data();
    void rawValuesMatchExactly();
    void everyThemeRoundTripsThroughItsRawValue();
    void rotationHandsOutEveryThemeButSystemOnce();
    void editorColoursAreReadableAndFollowTheAppearance();

    void storedValuesAreReadOrDefaulted_data();
    void storedValuesAreReadOrDefaulted();
    void everyAssignmentIsOnDiskAtOnce();
    void payloadIsCompactSortedJson();
    void themePerFileLetsFilesResolveBeforeWindowsRepaint();
};

void TestThemes::rawValuesMatchExactly_data()
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

void TestThemes::rawValuesMatchExactly()
{
    QFETCH(QString, raw);
    QFETCH(int, theme);
    const auto found = themeFromRawValue(raw);
    QCOMPARE(found ? int(*found) : -1, theme);
}

void TestThemes::everyThemeRoundTripsThroughItsRawValue()
{
    QSet<QString> seen;
    for (ThemeKind theme : allThemes()) {
        const QString raw = rawValue(theme);
        QCOMPARE(themeFromRawValue(raw), theme);
        QCOMPARE(raw, raw.toLower());
        QVERIFY2(!seen.contains(raw), qPrintable(raw));
        seen.insert(raw);
        QVERIFY(!label(theme).isEmpty());
    }
    QCOMPARE(seen.size(), 11);
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
        QVERIFY2(std::abs(bg - fg) > 0.5, qPrintable(rawValue(theme)));
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
        actual = rawValue(appearance.theme());
    else if (property == u"paperSize")
        actual = rawValue(appearance.paperSize());
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

QTEST_GUILESS_MAIN(TestThemes)
#include "tst_themes.moc"
