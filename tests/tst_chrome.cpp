#include "modelharness.h"
#include "testsupport.h"

#include "app/chromepalette.h"
#include "app/outlinesidebar.h"
#include "app/statusbar.h"
#include "app/textcounts.h"
#include "app/typography.h"

#include <QAbstractButton>
#include <QImage>
#include <QListView>
#include <QLocale>
#include <QSplitter>
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
    void visibleTextLeavesOutTheMarkup_data();
    void visibleTextLeavesOutTheMarkup();
    void countsWhatTheReaderSees_data();
    void countsWhatTheReaderSees();
    void readingTimeRoundsUp_data();
    void readingTimeRoundsUp();
    void countedPhrases_data();
    void countedPhrases();

    void statusBarTexts_data();
    void statusBarTexts();
    void countsFollowTheTextOnceItRests();
    void selectionCountsBesideTheNotes_data();
    void selectionCountsBesideTheNotes();
    void longTextsAreCountedInTheBackground();

    void chromeTextIsReadableInEveryTheme_data();
    void chromeTextIsReadableInEveryTheme();

    void outlineRowStyles_data();
    void outlineRowStyles();
    void outlineRowsAreIndentedAsDrawn();
    void outlineShowsANoteWhenEmpty();
    void choosingARowReportsItsHeading();
    void collapsingLeavesARailNotAnEmptyColumn();

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
    // Spaces are characters, line breaks are not.
    QTest::newRow("runs of spaces and a line break") << u"one  two\nthree"_s << 3 << 13;
    QTest::newRow("only whitespace") << u" \t\n \u00A0"_s << 0 << 4;
    QTest::newRow("punctuation joins") << u"one,two-three"_s << 1 << 13;
    QTest::newRow("CRLF") << u"a\r\nb"_s << 2 << 2;
    QTest::newRow("line separator") << u"a\u2028b"_s << 2 << 2;
    QTest::newRow("next line") << u"a\u0085b"_s << 2 << 2;
    QTest::newRow("paragraph separator") << u"a\u2029b"_s << 2 << 2;
    QTest::newRow("no-break space") << u"a\u00A0b"_s << 2 << 3;
    QTest::newRow("zero-width space joins") << u"a\u200Bb"_s << 1 << 3;
    QTest::newRow("combining mark") << u"e\u0301te\u0301"_s << 1 << 3;
    QTest::newRow("mark after ASCII, then ASCII") << u"cafe\u0301 au lait"_s << 3 << 12;
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
    QCOMPARE(app::countText(text), (app::TextCounts{words, characters}));
}

void TestChrome::visibleTextLeavesOutTheMarkup_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("visible");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("heading") << u"## A *big* title ##"_s << u"A big title"_s;
    QTest::newRow("emphasis, strike, highlight")
        << u"**bold**, _it_, ~~gone~~ and ==marked=="_s << u"bold, it, gone and marked"_s;
    QTest::newRow("stars and underscores as text")
        << u"2 * 3 = 6 ~ snake_case_name"_s << u"2 * 3 = 6 ~ snake_case_name"_s;
    QTest::newRow("link text, not its address")
        << u"see [the *docs*](https://x.org/a_(b) \"Title\") now"_s << u"see the docs now"_s;
    QTest::newRow("reference link and its definition")
        << u"[text][ref] more\n\n[ref]: https://x.org"_s << u"text more"_s;
    QTest::newRow("images are not counted")
        << u"before ![alt text](pic.png) ![[photo.jpg]] after"_s << u"before after"_s;
    QTest::newRow("wikilinks") << u"[[Note]], [[Note|shown]] and [[Note#Part]]"_s
                               << u"Note, shown and Note Part"_s;
    QTest::newRow("an address written out is its own text")
        << u"<https://x.org> and https://y.org"_s << u"https://x.org and https://y.org"_s;
    QTest::newRow("tags and comments")
        << u"a <span class=\"x\">b</span> <!-- hidden\nstill --> c <br/>"_s << u"a b\nc"_s;
    QTest::newRow("a < b is text") << u"1 < 2 > 0"_s << u"1 < 2 > 0"_s;
    QTest::newRow("footnotes") << u"Claim[^1].\n\n[^1]: The source."_s
                               << u"Claim.\nThe source."_s;
    QTest::newRow("lists, tasks, quotes")
        << u"- [ ] todo\n* [x] done\n12. twelve\n> - quoted\n-1 degree"_s
        << u"todo\ndone\ntwelve\nquoted\n-1 degree"_s;
    QTest::newRow("table") << u"| a | b \\| c |\n|---|:-:|\n| 1 | `2` |\n\nx | y"_s
                           << u"a b | c\n1 2\nx | y"_s;
    QTest::newRow("rules and underlines") << u"Title\n===\n\n***\n- - -\n\n___"_s << u"Title"_s;
    QTest::newRow("code is text, fences are not")
        << u"```js\nlet x = `a`; // **b**\n    indented  \n```\n~~~\nopen"_s
        << u"let x = `a`; // **b**\n    indented\nopen"_s;
    QTest::newRow("display math as written")
        << u"$$\n\\sum_{i=1}^{n} p_i\n$$\nafter"_s << u"\\sum_{i=1}^{n} p_i\nafter"_s;
    QTest::newRow("code in a quote") << u"> ```\n> > prompt\n> ```"_s << u"> prompt"_s;
    QTest::newRow("code spans") << u"run ``a `b` c`` now"_s << u"run a `b` c now"_s;
    QTest::newRow("front matter") << u"---\ntitle: Hi\ntags: [a]\n---\nBody"_s << u"Body"_s;
    QTest::newRow("two rules are no front matter") << u"---\nJust text\n---"_s << u"Just text"_s;
    QTest::newRow("escapes and entities")
        << u"\\*not\\* a&nbsp;b &copy; &#x2014; &#169; AT&T; \\q"_s
        << u"*not* a b \u00A9 \u2014 \u00A9 AT&T; \\q"_s;
    QTest::newRow("CRLF and a hard break") << u"one\\\r\ntwo  \r\n"_s << u"one\ntwo"_s;
    QTest::newRow("CJK") << u"# \u65E5\u672C\u8A9E\n\n\u4E2D\u6587 **\u7C97\u4F53**"_s
                         << u"\u65E5\u672C\u8A9E\n\u4E2D\u6587 \u7C97\u4F53"_s;
}

void TestChrome::visibleTextLeavesOutTheMarkup()
{
    QFETCH(QString, markdown);
    QFETCH(QString, visible);
    QString shown = app::visibleText(markdown);
    // Every line that shows anything ends with its break.
    QVERIFY(shown.isEmpty() || shown.endsWith(u'\n'));
    shown.chop(shown.isEmpty() ? 0 : 1);
    QCOMPARE(shown, visible);
}

void TestChrome::countsWhatTheReaderSees_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("words");
    QTest::addColumn<int>("characters");

    QTest::newRow("empty") << QString() << 0 << -1 << 0 << 0;
    QTest::newRow("only markup") << u"#\n\n---\n\n> \n- [ ]\n<br>"_s << 0 << -1 << 0 << 0;
    // The page draws one space for a run of them.
    QTest::newRow("spaces as drawn") << u"one  two\nthree"_s << 0 << -1 << 3 << 12;
    QTest::newRow("link") << u"[two words](http://a.b/c d)"_s << 0 << -1 << 2 << 9;
    QTest::newRow("CJK") << u"# \u65E5\u672C\u8A9E\n\u4E2D\u6587 **\u7C97\u4F53**"_s << 0 << -1
                         << 3 << 8;
    // A part of the note is read in its place: these lines are code, not a heading.
    QTest::newRow("part of a fence") << u"```\n# not a heading\n```"_s << 4 << 19 << 4 << 15;
    QTest::newRow("part ending in an address")
        << u"see [the docs](https://x.org) next"_s << 0 << 20 << 3 << 12;
    QTest::newRow("part starting mid-word") << u"**alpha** beta"_s << 4 << -1 << 2 << 8;
    QTest::newRow("part of the front matter") << u"---\na: b\n---\nc"_s << 0 << 9 << 0 << 0;
}

void TestChrome::countsWhatTheReaderSees()
{
    QFETCH(QString, markdown);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, words);
    QFETCH(int, characters);
    QCOMPARE(app::countMarkdown(markdown, from, to), (app::TextCounts{words, characters}));
}

void TestChrome::readingTimeRoundsUp_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minutes");

    QTest::newRow("empty") << QString() << 0;
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
    QCOMPARE(app::readingMinutes(app::countText(text).words), minutes);
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

    const QStringList counts{u"3 words"_s, u"12 characters"_s, u"1 min read"_s};
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
    // Nothing to read: no characters and no reading time.
    QTest::newRow("empty") << true << false << Mode::Read
                           << QStringList{u"Reading"_s, u"0 words"_s, u"Saved"_s,
                                          u"Opened: note.md"_s};
    // Counted in the background: no number before there is one.
    QTest::newRow("long, being counted") << true << false << Mode::Read
                                         << QStringList{u"Reading"_s, u"Saved"_s,
                                                        u"Opened: note.md"_s};
}

void TestChrome::statusBarTexts()
{
    QFETCH(bool, titled);
    QFETCH(bool, dirty);
    QFETCH(Mode, mode);
    QFETCH(QStringList, texts);

    const QString text = QTest::currentDataTag() == "empty"_L1 ? QString()
        : QTest::currentDataTag() == "long, being counted"_L1
        ? u"word "_s.repeated(app::StatusBar::kBackgroundThreshold)
        : u"one  two\nthree"_s;
    Harness h(text.toUtf8(), titled);
    h.setText(text); // an untitled harness starts empty
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

void TestChrome::selectionCountsBesideTheNotes_data()
{
    QTest::addColumn<bool>("markdown");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("texts");

    // Of the note "# Title\n\none **two** three\n": 4 words, 18 characters.
    QTest::newRow("a span of the source")
        << true << QString() << 13 << 26
        << QStringList{u"2 of 4 words"_s, u"9 of 18 characters"_s, u"1 min read"_s};
    QTest::newRow("only markup selected")
        << true << QString() << 0 << 2
        << QStringList{u"0 of 4 words"_s, u"0 of 18 characters"_s, u"1 min read"_s};
    QTest::newRow("text from the page")
        << false << u"Title\none"_s << 0 << -1
        << QStringList{u"2 of 4 words"_s, u"8 of 18 characters"_s, u"1 min read"_s};
}

void TestChrome::selectionCountsBesideTheNotes()
{
    QFETCH(bool, markdown);
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QStringList, texts);

    Harness h("# Title\n\none **two** three\n");
    app::StatusBar bar(*h.model);
    std::optional<app::StatusBar::Selection> selection;
    bar.setSelectionSource([&] { return selection; });
    bar.show();
    const QStringList whole{u"4 words"_s, u"18 characters"_s, u"1 min read"_s};
    QCOMPARE(bar.itemTexts().mid(1, 3), whole);

    selection = app::StatusBar::Selection{markdown ? h.model->text().text() : text, markdown,
                                          from, to};
    bar.selectionChanged();
    QVERIFY(waitUntil([&] { return bar.countsCurrent(); }, 5000));
    QCOMPARE(bar.itemTexts().mid(1, 3), texts);

    selection.reset();
    bar.selectionChanged();
    QVERIFY(waitUntil([&] { return bar.countsCurrent(); }, 5000));
    QCOMPARE(bar.itemTexts().mid(1, 3), whole);
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
    const app::TextCounts expected{400'001, 2'000'004};
    QCOMPARE(shown, QList<app::TextCounts>{expected});
    QCOMPARE(bar.itemTexts().mid(1, 3),
             (QStringList{u"400,001 words"_s, u"2,000,004 characters"_s, u"2001 min read"_s}));
}

void TestChrome::chromeTextIsReadableInEveryTheme_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("ink");
    QTest::addColumn<int>("surface");

    const struct
    {
        const char *name;
        QPalette::ColorGroup group;
        QPalette::ColorRole ink, surface;
    } pairs[] = {
        {"text on window", QPalette::Active, QPalette::WindowText, QPalette::Window},
        {"text on base", QPalette::Active, QPalette::Text, QPalette::Base},
        {"button text on button", QPalette::Active, QPalette::ButtonText, QPalette::Button},
        {"highlighted text", QPalette::Active, QPalette::HighlightedText, QPalette::Highlight},
        {"placeholder on base", QPalette::Active, QPalette::PlaceholderText, QPalette::Base},
        {"secondary on window", QPalette::Active, QPalette::PlaceholderText, QPalette::Window},
        {"secondary on banner", QPalette::Active, QPalette::PlaceholderText, QPalette::AlternateBase},
        {"text on banner", QPalette::Active, QPalette::WindowText, QPalette::AlternateBase},
        {"link on base", QPalette::Active, QPalette::Link, QPalette::Base},
        {"accent text on a bar", QPalette::Active, QPalette::Link, QPalette::Window},
        {"disabled on window", QPalette::Disabled, QPalette::WindowText, QPalette::Window},
        {"disabled on button", QPalette::Disabled, QPalette::ButtonText, QPalette::Button},
        {"disabled menu item", QPalette::Disabled, QPalette::Text, QPalette::Base},
    };
    for (themes::ThemeKind theme : themes::allThemes())
        for (const auto &pair : pairs)
            QTest::addRow("%s: %s", qPrintable(themes::storedName(theme)), pair.name)
                << int(theme) << int(pair.group) << int(pair.ink) << int(pair.surface);
}

// Every theme of the catalogue, through the one derivation the windows use: what the chrome
// writes is readable on what it writes it on.
void TestChrome::chromeTextIsReadableInEveryTheme()
{
    QFETCH(int, theme);
    QFETCH(int, group);
    QFETCH(int, ink);
    QFETCH(int, surface);
    const QPalette palette = app::chromePalette(themes::ThemeKind(theme));
    const auto g = QPalette::ColorGroup(group);
    const QColor on = palette.color(g, QPalette::ColorRole(surface));
    const QColor text = palette.color(g, QPalette::ColorRole(ink));
    const double ratio = app::contrastRatio(text, on, palette.color(QPalette::Window));
    QVERIFY2(ratio >= app::kChromeTextContrast,
             qPrintable(u"%1 on %2: %3"_s.arg(text.name(QColor::HexArgb), on.name())
                            .arg(ratio, 0, 'f', 2)));
    // The chrome is the page's: a dark page is framed by a dark window, a light one by a light.
    if (const auto page = themes::editorColors(themes::ThemeKind(theme))) {
        const bool darkPage = page->background.lightness() < page->text.lightness();
        QCOMPARE(palette.color(QPalette::Window).lightness() < 128, darkPage);
        QCOMPARE(palette.color(QPalette::Base), page->background);
    }
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

void TestChrome::collapsingLeavesARailNotAnEmptyColumn()
{
    Harness h;
    h.model->setOutline({{1, u"A heading long enough not to fit the column it is listed in"_s,
                          u"long"_s}});
    QSplitter columns;
    auto *sidebar = new app::OutlineSidebar(*h.model, &columns);
    columns.addWidget(sidebar);
    columns.addWidget(new QWidget(&columns));
    columns.resize(800, 400);
    columns.setSizes({240, 560});
    columns.show();
    QVERIFY(QTest::qWaitForWindowExposed(&columns));
    // Cut short in the list, the heading is there in full for the pointer.
    const QModelIndex row = sidebar->listView()->model()->index(0, 0);
    QCOMPARE(row.data(Qt::ToolTipRole).toString(), h.model->outline().at(0).text);

    sidebar->headerButton()->click();
    QTRY_COMPARE(sidebar->width(), app::OutlineSidebar::kRailWidth);
    QTRY_VERIFY(columns.widget(1)->width() >= 800 - app::OutlineSidebar::kRailWidth - columns.handleWidth() - 1);
    sidebar->headerButton()->click();
    QTRY_VERIFY(sidebar->width() >= app::OutlineSidebar::kMinimumWidth);
    QVERIFY(sidebar->listView()->isVisible());
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
