#include "modelharness.h"
#include "testsupport.h"

#include "app/outlinesidebar.h"
#include "app/statusbar.h"
#include "app/textcounts.h"
#include "app/typography.h"

#include <QAbstractButton>
#include <QImage>
#include <QListView>
#include <QLocale>
#include <QTest>

using namespace quorvel;
using namespace Qt::StringLiterals;
using Mode = core::DocumentModel::Mode;

class TestChrome : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void typographyStepsKeepTheirBounds_data();
    void typographyStepsKeepTheirBounds();

    void countsWordsAndCharacters_data();
    void countsWordsAndCharacters();
    void readingTimeRoundsUp_data();
    void readingTimeRoundsUp();
    void countedPhrases_data();
    void countedPhrases();

    void statusBarTexts_data();
    void statusBarTexts();
    void countsFollowTheTextOnceItRests();
    void longTextsAreCountedInTheBackground();

    void outlineRowStyles_data();
    void outlineRowStyles();
    void outlineRowsAreIndentedAsDrawn();
    void outlineShowsANoteWhenEmpty();
    void choosingARowReportsItsHeading();

private:
    QLocale m_locale;
};

void TestChrome::initTestCase()
{
    m_locale = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestChrome::cleanupTestCase()
{
    QLocale::setDefault(m_locale);
}

void TestChrome::countsWordsAndCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("words");
    QTest::addColumn<int>("characters");

    QTest::newRow("empty") << QString() << 0 << 0;
    QTest::newRow("runs of spaces and a line break") << u"one  two\nthree"_s << 3 << 14;
    QTest::newRow("only whitespace") << u" \t\n \u00A0"_s << 0 << 5;
    QTest::newRow("punctuation joins") << u"one,two-three"_s << 1 << 13;
    QTest::newRow("CRLF is one character") << u"a\r\nb"_s << 2 << 3;
    QTest::newRow("line separator") << u"a\u2028b"_s << 2 << 3;
    QTest::newRow("next line") << u"a\u0085b"_s << 2 << 3;
    QTest::newRow("paragraph separator") << u"a\u2029b"_s << 2 << 3;
    QTest::newRow("no-break space") << u"a\u00A0b"_s << 2 << 3;
    QTest::newRow("zero-width space joins") << u"a\u200Bb"_s << 1 << 3;
    QTest::newRow("combining mark") << u"e\u0301te\u0301"_s << 1 << 3;
    // The mark clings to the space, and the character still begins with whitespace.
    QTest::newRow("mark on a space") << u"a \u0301b"_s << 2 << 3;
    QTest::newRow("skin tone") << u"\U0001F44D\U0001F3FD ok"_s << 2 << 4;
    QTest::newRow("family") << u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s << 1 << 1;
    QTest::newRow("flag") << u"\U0001F1EB\U0001F1F7"_s << 1 << 1;
    QTest::newRow("ideographic space") << u"\u65E5\u3000\u672C"_s << 2 << 3;
}

void TestChrome::countsWordsAndCharacters()
{
    QFETCH(QString, text);
    QFETCH(int, words);
    QFETCH(int, characters);
    QCOMPARE(app::wordCount(text), words);
    QCOMPARE(app::characterCount(text), characters);
}

void TestChrome::readingTimeRoundsUp_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minutes");

    QTest::newRow("empty") << QString() << 1;
    QTest::newRow("one word") << u"one"_s << 1;
    QTest::newRow("200 words") << u"w "_s.repeated(200) << 1;
    QTest::newRow("201 words") << u"w "_s.repeated(201) << 2;
    QTest::newRow("400 words") << u"w\n"_s.repeated(400) << 2;
    QTest::newRow("401 words") << u"w\n"_s.repeated(401) << 3;
}

void TestChrome::readingTimeRoundsUp()
{
    QFETCH(QString, text);
    QFETCH(int, minutes);
    QCOMPARE(app::readingMinutes(app::wordCount(text)), minutes);
}

void TestChrome::countedPhrases_data()
{
    QTest::addColumn<qint64>("n");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("phrase");

    QTest::newRow("one") << qint64(1) << u"word"_s << u"1 word"_s;
    QTest::newRow("none") << qint64(0) << u"word"_s << u"0 words"_s;
    QTest::newRow("two") << qint64(2) << u"word"_s << u"2 words"_s;
    QTest::newRow("grouped") << qint64(1234) << u"character"_s << u"1,234 characters"_s;
    QTest::newRow("millions") << qint64(5'000'001) << u"character"_s
                              << u"5,000,001 characters"_s;
}

void TestChrome::countedPhrases()
{
    QFETCH(qint64, n);
    QFETCH(QString, unit);
    QFETCH(QString, phrase);
    QCOMPARE(app::countedPhrase(n, unit), phrase);
}

void TestChrome::statusBarTexts_data()
{
    QTest::addColumn<bool>("titled");
    QTest::addColumn<bool>("dirty");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QStringList>("texts");

    const QStringList counts{u"3 words"_s, u"14 characters"_s, u"1 min read"_s};
    QTest::newRow("untitled") << false << true << Mode::Read
                              << QStringList{u"Reading"_s} + counts
                                     + QStringList{u"New document, unsaved"_s};
    QTest::newRow("saved") << true << false << Mode::Read
                           << QStringList{u"Reading"_s} + counts
                                  + QStringList{u"Saved"_s, u"Opened: note.md"_s};
    QTest::newRow("unsaved, source") << true << true << Mode::Source
                                     << QStringList{u"Editing"_s} + counts
                                            + QStringList{u"Unsaved"_s, u"Opened: note.md"_s};
    QTest::newRow("visual") << true << false << Mode::Visual
                            << QStringList{u"Editing"_s} + counts
                                   + QStringList{u"Saved"_s, u"Opened: note.md"_s};
    QTest::newRow("split") << true << false << Mode::Split
                           << QStringList{u"Editing"_s} + counts
                                  + QStringList{u"Saved"_s, u"Opened: note.md"_s};
}

void TestChrome::statusBarTexts()
{
    QFETCH(bool, titled);
    QFETCH(bool, dirty);
    QFETCH(Mode, mode);
    QFETCH(QStringList, texts);

    Harness h("one  two\nthree", titled);
    h.setText(u"one  two\nthree"_s); // an untitled harness starts empty
    h.model->setDirty(dirty);
    h.model->setMode(mode);
    app::StatusBar bar(*h.model);
    bar.show();
    QCOMPARE(bar.itemTexts(), texts);
}

void TestChrome::countsFollowTheTextOnceItRests()
{
    Harness h("one");
    app::StatusBar bar(*h.model);
    bar.show();
    QCOMPARE(bar.itemTexts().at(1), u"1 word"_s);

    // A keystroke is not counted at once; the count comes once typing rests.
    h.setText(u"one two three"_s);
    bar.textChanged();
    QCOMPARE(bar.itemTexts().at(1), u"1 word"_s);
    QVERIFY(waitUntil([&] { return bar.countsCurrent(); }, 5000));
    QCOMPARE(bar.itemTexts().at(1), u"3 words"_s);
    QCOMPARE(bar.itemTexts().at(0), u"Reading"_s);
    QCOMPARE(bar.itemTexts().at(4), u"Unsaved"_s);

    // A hidden bar catches up as soon as it is shown again.
    bar.hide();
    h.setText(u"a b c d"_s);
    bar.textChanged();
    bar.show();
    QVERIFY(bar.countsCurrent());
    QCOMPARE(bar.itemTexts().at(1), u"4 words"_s);
}

void TestChrome::longTextsAreCountedInTheBackground()
{
    Harness h("short");
    app::StatusBar bar(*h.model);
    bar.show();
    QList<app::TextCounts> shown;
    connect(&bar, &app::StatusBar::countsChanged, &bar, [&] { shown << bar.counts(); });

    const QString first = u"word "_s.repeated(400'000);
    const QString second = u"word "_s.repeated(400'001);
    QVERIFY(first.size() > app::StatusBar::kBackgroundThreshold);
    h.setText(first);
    bar.textChanged();
    QVERIFY(waitUntil([&] { return bar.counting(); }, 5000));
    // The text changes while the first count runs: its result must never be shown.
    h.setText(second);
    bar.textChanged();
    QVERIFY(waitUntil([&] { return bar.countsCurrent(); }, 20000));
    const app::TextCounts expected{400'001, 2'000'005};
    QCOMPARE(shown, QList<app::TextCounts>{expected});
    QCOMPARE(bar.itemTexts().mid(1, 3),
             (QStringList{u"400,001 words"_s, u"2,000,005 characters"_s, u"2001 min read"_s}));
}

void TestChrome::outlineRowStyles_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("leading");
    QTest::addColumn<int>("weight");
    QTest::addColumn<bool>("primary");

    QTest::newRow("below 1 counts as 1") << 0 << 14 << int(QFont::DemiBold) << true;
    QTest::newRow("1") << 1 << 14 << int(QFont::DemiBold) << true;
    QTest::newRow("2") << 2 << 30 << int(QFont::Medium) << true;
    QTest::newRow("3") << 3 << 46 << int(QFont::Normal) << false;
    QTest::newRow("4") << 4 << 62 << int(QFont::Normal) << false;
}

void TestChrome::outlineRowStyles()
{
    QFETCH(int, level);
    QFETCH(int, leading);
    QFETCH(int, weight);
    QFETCH(bool, primary);
    const auto style = app::OutlineSidebar::rowStyle(level);
    QCOMPARE(style.leading, leading);
    QCOMPARE(int(style.weight), weight);
    QCOMPARE(style.primary, primary);
}

// The drawn rows, not just the numbers: the first ink of each row starts at its indentation,
// and the row spans the column.
void TestChrome::outlineRowsAreIndentedAsDrawn()
{
    Harness h;
    h.model->setOutline({{1, u"Top"_s, u"top"_s}, {4, u"Deep"_s, u"deep"_s}});
    app::OutlineSidebar sidebar(*h.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QListView *list = sidebar.listView();
    QVERIFY(list->isVisible());
    QCOMPARE(list->model()->rowCount(), 2);

    const QImage image = list->viewport()->grab().toImage();
    for (int row = 0; row < 2; ++row) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QVERIFY(rect.width() >= list->viewport()->width());
        // Compared with the row's own empty end, which a focus or hover wash also covers; the
        // wash's rounded edge keeps clear of the first pixels.
        int ink = -1;
        for (int x = 8; x < rect.width() - 20 && ink < 0; ++x)
            for (int y = rect.top() + 2; y < rect.bottom() - 1 && ink < 0; ++y)
                if (image.pixelColor(x, y) != image.pixelColor(rect.right() - 20, y))
                    ink = x;
        const int leading = app::OutlineSidebar::rowStyle(row == 0 ? 1 : 4).leading;
        QVERIFY2(ink >= leading && ink <= leading + 3, qPrintable(QString::number(ink)));
    }
}

void TestChrome::outlineShowsANoteWhenEmpty()
{
    Harness h;
    app::OutlineSidebar sidebar(*h.model);
    sidebar.show();
    QCOMPARE(sidebar.placeholderText(), u"No headings in this document."_s);
    QVERIFY(!sidebar.listView()->isVisible());

    h.model->setOutline({{2, u"Only"_s, u"only"_s}});
    QCOMPARE(sidebar.placeholderText(), QString());
    QVERIFY(sidebar.listView()->isVisible());
    QCOMPARE(sidebar.listView()->model()->rowCount(), 1);

    sidebar.headerButton()->click();
    QVERIFY(sidebar.collapsed());
    QVERIFY(!sidebar.listView()->isVisible());
    sidebar.headerButton()->click();
    QVERIFY(!sidebar.collapsed());
    QVERIFY(sidebar.listView()->isVisible());
}

void TestChrome::choosingARowReportsItsHeading()
{
    Harness h;
    const core::Outline outline{
        {1, u"Intro"_s, u"intro"_s}, {2, u"Setup"_s, u"setup"_s}, {3, u"Details"_s, u"details"_s}};
    h.model->setOutline(outline);
    app::OutlineSidebar sidebar(*h.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sidebar));
    QList<core::OutlineItem> chosen;
    connect(&sidebar, &app::OutlineSidebar::headingChosen, &sidebar,
            [&](const core::OutlineItem &item) { chosen << item; });

    QListView *list = sidebar.listView();
    const QModelIndex second = list->model()->index(1, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(second).center());
    QCOMPARE(chosen, QList<core::OutlineItem>{outline.at(1)});

    list->setFocus();
    list->setCurrentIndex(list->model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(chosen, (QList<core::OutlineItem>{outline.at(1), outline.at(2)}));
}

void TestChrome::typographyStepsKeepTheirBounds_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::newRow("smaller-to-the-floor") << u"smaller"_s << 10.5 << 10.0;
    QTest::newRow("smaller-at-the-floor") << u"smaller"_s << 10.0 << 10.0;
    QTest::newRow("larger-has-no-ceiling") << u"larger"_s << 40.0 << 41.0;
    QTest::newRow("wider-to-the-ceiling") << u"wider"_s << 1380.0 << 1400.0;
    QTest::newRow("narrower-to-the-floor") << u"narrower"_s << 540.0 << 520.0;
    QTest::newRow("tighter-floor") << u"tighter"_s << 1.22 << 1.2;
    QTest::newRow("looser-ceiling") << u"looser"_s << 2.19 << 2.2;
    QTest::newRow("looser") << u"looser"_s << 1.6 << 1.65;
}

void TestChrome::typographyStepsKeepTheirBounds()
{
    QFETCH(QString, step);
    QFETCH(double, from);
    QFETCH(double, to);
    namespace t = quorvel::app::typography;
    const QMap<QString, double (*)(double)> steps{
        {u"smaller"_s, t::smaller}, {u"larger"_s, t::larger},   {u"wider"_s, t::wider},
        {u"narrower"_s, t::narrower}, {u"tighter"_s, t::tighter}, {u"looser"_s, t::looser}};
    QVERIFY(qFuzzyCompare(steps.value(step)(from), to));
    // The toolbar's labels: 1000 wide with the outline shown is narrow, an unknown width is not.
    QVERIFY(!t::wideToolbar(1000, true));
    QVERIFY(t::wideToolbar(1200, true));
}

QTEST_MAIN(TestChrome)
#include "tst_chrome.moc"
