#include <QWebEngineProfile>
#include <QJsonObject>
#include "testsupport.h"

#include "core/documentsession.h"

#include "preview/contextmenu.h"
#include "preview/navigationpolicy.h"
#include "preview/externallinks.h"
#include "preview/pagehost.h"
#include "preview/pageprotocol.h"
#include "preview/previewcontroller.h"
#include "preview/webpagehost.h"
#include "preview/quorvelwebview.h"

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(quorvel::preview::MenuEntry)
Q_DECLARE_METATYPE(quorvel::preview::NavigationDecision)
Q_DECLARE_METATYPE(quorvel::preview::FileLaunch)

using namespace quorvel;
using preview::MenuEntry;
using preview::MenuRole;
using preview::PageHost;
using preview::PreviewController;
using preview::pagecommand::json;

using namespace Qt::StringLiterals;

namespace {

// The page as the controller sees it: every script it was sent, with the completion to answer.
struct ScriptCall
{
    QString script;
    PageHost::Completion completion;
};

class FakePage : public PageHost
{
public:
    explicit FakePage(QList<ScriptCall> &calls)
        : m_calls(calls)
    {
    }
    void runScript(const QString &script, Completion completion) override
    {
        m_calls.append({script, std::move(completion)});
    }

private:
    QList<ScriptCall> &m_calls;
};

QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

QString pngBase64()
{
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

// An untitled note's session, with the controller under test on a fake page.
struct Harness
{
    ScratchEnvironment scratch;
    QList<ScriptCall> calls;
    std::unique_ptr<core::DocumentSession> session = core::DocumentSession::untitled(scratch.env());
    core::DocumentModel &model = session->model();
    PreviewController controller{&model, scratch.clock, scratch.appearance,
                                 std::make_unique<FakePage>(calls)};

    core::DocumentText &text() { return model.text(); }
    void setText(const QString &t, core::EditOrigin origin = core::EditOrigin::Program)
    {
        text().replaceAll(t, origin);
        scratch.clock.advance(0ms);
    }
    QStringList scripts() const
    {
        QStringList list;
        for (const auto &call : calls)
            list.append(call.script);
        return list;
    }
    // What the page was given to show, one entry per render or change, each written as the
    // whole render that shows the same; a change must apply to what the page holds.
    QString shownBefore, shownBeforeDir; // what the page held when the calls were last cleared
    QStringList renders() const
    {
        QStringList out;
        QString text = shownBefore, dir = shownBeforeDir;
        for (const QString &script : scripts()) {
            if (script.startsWith(u"quorvel.render(")) {
                const QJsonArray args = QJsonDocument::fromJson(
                    ('[' + script.mid(15, script.size() - 16) + ']').toUtf8()).array();
                text = args.at(0).toString();
                dir = args.at(1).toString();
            } else if (script.startsWith(u"quorvel.update(")) {
                const QJsonObject d = QJsonDocument::fromJson(
                    script.mid(15, script.size() - 16).toUtf8()).object();
                const qsizetype start = d[u"start"].toInteger(), removed = d[u"removed"].toInteger();
                if (start + removed > text.size())
                    return {QStringLiteral("a change that does not apply: ") + script};
                text = text.left(start) + d[u"inserted"].toString() + text.mid(start + removed);
                if (text.size() != d[u"length"].toInteger())
                    return {QStringLiteral("a change of the wrong length: ") + script};
            } else {
                continue;
            }
            out << QStringLiteral("quorvel.render(") + json(text)
                    + QStringLiteral(", ") + json(dir) + u')';
        }
        return out;
    }
    // The text as a file just opened or reloaded sets it: rendered at once, no pause.
    void show(const QString &t)
    {
        setText(t);
        controller.update(true);
        scratch.clock.advance(0ms);
    }
    void post(const char *json) { controller.receive(parse(json)); }
    void ready()
    {
        post(R"({"type":"ready"})");
        answer();
        calls.clear();
    }
    // The page takes every script sent so far (a render or change answers nothing).
    void answer(const QVariant &result = QVariant())
    {
        for (auto &call : calls) {
            if (auto done = std::exchange(call.completion, nullptr))
                done(result);
        }
    }
    // A ready page in the editing view that shows `shown`.
    void editing(const QString &shown)
    {
        ready();
        model.setMode(core::DocumentModel::Mode::Visual, false);
        show(shown);
        answer();
        shownBefore = shown;
        calls.clear();
    }
    // The page posts an edit made from the text of revision `base`, `length` characters long.
    void edit(quint64 base, qsizetype start, qsizetype removed, const QString &inserted,
              qsizetype length)
    {
        controller.receive({{u"type"_s, u"edit"_s}, {u"base"_s, double(base)},
                            {u"start"_s, double(start)}, {u"removed"_s, double(removed)},
                            {u"inserted"_s, inserted}, {u"length"_s, double(length)}});
    }
};

QString renderCall(const QString &text, const QString &dir = QString())
{
    return QStringLiteral("quorvel.render(") + json(text) + QStringLiteral(", ")
        + json(dir) + u')';
}

QString describe(const std::optional<preview::BridgeMessage> &decoded)
{
    using namespace preview::message;
    if (!decoded)
        return QStringLiteral("dropped");
    return std::visit(
        [](const auto &m) -> QString {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Task>)
                return QStringLiteral("task %1 %2").arg(m.index).arg(m.checked);
            else if constexpr (std::is_same_v<T, Find>)
                return QStringLiteral("find %1 %2").arg(m.count).arg(m.index);
            else if constexpr (std::is_same_v<T, Link>)
                return QStringLiteral("link '%1' '%2'").arg(m.href, m.written);
            else if constexpr (std::is_same_v<T, Wikilink>)
                return QStringLiteral("wikilink '%1' '%2'").arg(m.target, m.heading);
            else if constexpr (std::is_same_v<T, ContextMenu>)
                return QStringLiteral("contextmenu '%1'").arg(m.link);
            else if constexpr (std::is_same_v<T, Resolve>)
                return QStringLiteral("resolve [%1]").arg(m.targets.join(u','));
            else if constexpr (std::is_same_v<T, Edit>)
                return QStringLiteral("edit %1 %2 %3 '%4' %5")
                    .arg(m.base).arg(m.start).arg(m.removed).arg(m.inserted).arg(m.length);
            else if constexpr (std::is_same_v<T, PasteImage>)
                return QStringLiteral("pasteImage");
            else if constexpr (std::is_same_v<T, Outline>) {
                QStringList items;
                for (const auto &item : m.items)
                    items.append(QStringLiteral("%1:%2:%3").arg(item.level).arg(item.text, item.id));
                const QString splice = m.splice ? QStringLiteral(" at %1 -%2 of %3").arg(m.splice->from)
                                                      .arg(m.splice->removed).arg(m.splice->before)
                                                : QString();
                return QStringLiteral("outline [%1]%2").arg(items.join(u','), splice);
            } else if constexpr (std::is_same_v<T, Ready>)
                return QStringLiteral("ready");
            else if constexpr (std::is_same_v<T, Drawn>)
                return QStringLiteral("drawn");
            else if constexpr (std::is_same_v<T, Undo>)
                return QStringLiteral("undo");
            else if constexpr (std::is_same_v<T, Redo>)
                return QStringLiteral("redo");
            else
                return QStringLiteral("rendered");
        },
        *decoded);
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // First: no page may have been handed to a window before it in this process.
    void firstPageGoesToTheFirstWindowOfItsProfile();
    // What goes to the page
    void stringArgumentsAreJsonLiterals_data();
    void stringArgumentsAreJsonLiterals();

    // What comes from the page
    void messagesDecodeWithTheirDefaults_data();
    void messagesDecodeWithTheirDefaults();
    void outlineIsReplacedOnlyWhenItDiffers();
    void aPartOfTheOutlineReplacesItsSpan_data();
    void aPartOfTheOutlineReplacesItsSpan();
    void resolveIsAnsweredFromAWorkerThread_data();
    void resolveIsAnsweredFromAWorkerThread();
    void findResultsReachTheCompletion_data();
    void findResultsReachTheCompletion();

    // Rendering
    void onlyTheChangeTravelsUntilThePageRefusesIt();
    void changesSinceThePagesRevisionTravelAsOneSpan_data();
    void changesSinceThePagesRevisionTravelAsOneSpan();
    void aLongTextSendsItsFirstScreenAhead();
    void typingInTheSourceRendersAfterAPause();
    void repeatedRequestsSendNothing_data();
    void repeatedRequestsSendNothing();
    void nothingIsSentBeforeReady();
    void readySendsTheLatestOfEachOnce();
    void themeIsSentOnlyWhenItChanges();
    void viewUpdateFollowsTheModel();

    // Visual editing
    void anEditIsNotRenderedBack();
    void pageEditsMadeFromAnOlderText_data();
    void pageEditsMadeFromAnOlderText();
    void undoInThePageTakesBackTheLastChange();
    void pastedImages_data();
    void pastedImages();

    // Context menu, navigation, prompt
    void contextMenuIsRebuilt_data();
    void contextMenuIsRebuilt();
    void navigationStaysOnThePage_data();
    void navigationStaysOnThePage();
    void bridgeHearsOnlyOurPage();
    void linkedProgramsAreRevealedNotRun_data();
    void linkedProgramsAreRevealedNotRun();
    void promptAnswersThePage_data();
    void promptAnswersThePage();
};

// What goes to the page ----------------------------------------------------------------------

void TestPreview::stringArgumentsAreJsonLiterals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("literal");
    QTest::newRow("plain") << "abc" << R"("abc")";
    QTest::newRow("empty") << "" << R"("")";
    QTest::newRow("double-quotes") << R"(say "hi")" << R"("say \"hi\"")";
    QTest::newRow("backslash") << R"(a\b)" << R"("a\\b")";
    QTest::newRow("line-breaks") << "a\nb\r\n" << R"("a\nb\r\n")";
    QTest::newRow("control-characters") << QStringLiteral("\u0001\t\b\f\u001F\u007F")
                                        << QStringLiteral("\"\\u0001\\t\\b\\f\\u001f\u007F\"");
    QTest::newRow("script-end-tag") << "</script>" << R"("</script>")";
    QTest::newRow("non-ascii") << QStringLiteral("caf\u00E9 \u2014 \U0001F600")
                               << QStringLiteral("\"caf\u00E9 \u2014 \U0001F600\"");
}

void TestPreview::stringArgumentsAreJsonLiterals()
{
    QFETCH(QString, text);
    QFETCH(QString, literal);
    QCOMPARE(json(text), literal);
    // And it reads back as the same string.
    const auto back = QJsonDocument::fromJson(('[' + literal + ']').toUtf8()).array();
    QCOMPARE(back.at(0).toString(), text);

    Harness h;
    h.ready();
    h.controller.format(text);
    QCOMPARE(h.scripts(), QStringList{QStringLiteral("quorvel.format(") + literal + u')'});
}

// What comes from the page -------------------------------------------------------------------

void TestPreview::messagesDecodeWithTheirDefaults_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("no-type") << QByteArray(R"({"source":"x"})") << "dropped";
    QTest::newRow("type-not-a-string") << QByteArray(R"({"type":1})") << "dropped";
    QTest::newRow("type-in-other-case") << QByteArray(R"({"type":"Ready"})") << "dropped";
    QTest::newRow("unknown-type") << QByteArray(R"({"type":"reload"})") << "dropped";
    QTest::newRow("edit") << QByteArray(R"({"type":"edit","base":4,"start":2,"removed":1,"inserted":"# A","length":9})")
                          << "edit 4 2 1 '# A' 9";
    QTest::newRow("edit-without-base") << QByteArray(R"({"type":"edit","start":2,"removed":1,"inserted":"x","length":9})") << "dropped";
    QTest::newRow("edit-negative-start")
        << QByteArray(R"({"type":"edit","base":1,"start":-2,"removed":1,"inserted":"x","length":9})") << "dropped";
    QTest::newRow("edit-inserted-not-a-string")
        << QByteArray(R"({"type":"edit","base":1,"start":0,"removed":0,"inserted":null,"length":9})") << "dropped";
    QTest::newRow("undo") << QByteArray(R"({"type":"undo"})") << "undo";
    QTest::newRow("paste-data-not-a-string")
        << QByteArray(R"({"type":"pasteImage","data":[]})") << "dropped";
    QTest::newRow("task") << QByteArray(R"({"type":"task","index":3,"checked":true})")
                          << "task 3 1";
    QTest::newRow("task-without-checked") << QByteArray(R"({"type":"task","index":3})")
                                          << "dropped";
    QTest::newRow("task-fractional-index")
        << QByteArray(R"({"type":"task","index":1.5,"checked":false})") << "dropped";
    QTest::newRow("task-index-as-text")
        << QByteArray(R"({"type":"task","index":"1","checked":false})") << "dropped";
    QTest::newRow("find-empty") << QByteArray(R"({"type":"find"})") << "find 0 0";
    QTest::newRow("find-wrong-types") << QByteArray(R"({"type":"find","count":"2","index":1})")
                                      << "find 0 1";
    QTest::newRow("link-defaults") << QByteArray(R"({"type":"link","href":5})") << "link '' ''";
    QTest::newRow("wikilink") << QByteArray(R"({"type":"wikilink","target":"Note","heading":"H"})")
                              << "wikilink 'Note' 'H'";
    QTest::newRow("contextmenu-default") << QByteArray(R"({"type":"contextmenu"})")
                                         << "contextmenu ''";
    QTest::newRow("resolve") << QByteArray(R"({"type":"resolve","targets":["A","B"]})")
                             << "resolve [A,B]";
    QTest::newRow("resolve-not-all-strings")
        << QByteArray(R"({"type":"resolve","targets":["A",2]})") << "dropped";
    QTest::newRow("resolve-missing") << QByteArray(R"({"type":"resolve"})") << "dropped";
    QTest::newRow("outline-missing-items") << QByteArray(R"({"type":"outline"})") << "outline []";
    QTest::newRow("outline-skips-incomplete-items")
        << QByteArray(R"({"type":"outline","items":[{"level":1,"text":"A","id":"a"},)"
                      R"({"level":"2","text":"B","id":"b"},{"text":"C","id":"c"},)"
                      R"({"level":2,"text":"D","id":"d"}]})")
        << "outline [1:A:a,2:D:d]";
    QTest::newRow("outline-with-a-non-object")
        << QByteArray(R"({"type":"outline","items":[{"level":1,"text":"A","id":"a"},3]})")
        << "outline []";
    QTest::newRow("outline-part")
        << QByteArray(R"({"type":"outline","items":[{"level":2,"text":"B","id":"b"}],"from":1,"removed":1,"before":3})")
        << "outline [2:B:b] at 1 -1 of 3";
    QTest::newRow("outline-part-without-a-place")
        << QByteArray(R"({"type":"outline","items":[],"from":"1","removed":1,"before":3})")
        << "outline [] at -1 -0 of 0";
    QTest::newRow("rendered") << QByteArray(R"({"type":"rendered","extra":1})") << "rendered";
    QTest::newRow("drawn") << QByteArray(R"({"type":"drawn"})") << "drawn";
}

void TestPreview::messagesDecodeWithTheirDefaults()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, decoded);
    QCOMPARE(describe(preview::decodeMessage(QJsonDocument::fromJson(body).object())), decoded);
}

void TestPreview::outlineIsReplacedOnlyWhenItDiffers()
{
    Harness h;
    QSignalSpy changed(&h.model, &core::DocumentModel::outlineChanged);
    h.post(R"({"type":"outline"})");
    QCOMPARE(changed.count(), 0); // already empty: nothing assigned
    h.post(R"({"type":"outline","items":[{"level":1,"text":"A","id":"a"}]})");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(h.model.outline(), (core::Outline{{1, QStringLiteral("A"), QStringLiteral("a")}}));
    h.post(R"({"type":"outline","items":[{"level":1,"text":"A","id":"a"}]})");
    QCOMPARE(changed.count(), 1);
    h.post(R"({"type":"outline","items":[{"level":2,"text":"A","id":"a"}]})");
    QCOMPARE(changed.count(), 2);
    h.post(R"({"type":"outline"})");
    QCOMPARE(changed.count(), 3);
    QVERIFY(h.model.outline().isEmpty());
}

void TestPreview::aPartOfTheOutlineReplacesItsSpan_data()
{
    QTest::addColumn<QByteArray>("part");
    QTest::addColumn<QString>("outline");
    QTest::addColumn<bool>("askedAgain");
    const auto item = [](const char *text) -> QByteArray {
        return QByteArray(R"({"level":1,"text":")") + text + R"(","id":")" + text + R"("})";
    };
    const auto part = [](const QByteArray &items, int from, int removed, int before) -> QByteArray {
        return QByteArray(R"({"type":"outline","items":[)") + items + R"(],"from":)"
               + QByteArray::number(from) + R"(,"removed":)" + QByteArray::number(removed)
               + R"(,"before":)" + QByteArray::number(before) + '}';
    };
    QTest::newRow("middle") << part(item("X"), 1, 1, 3) << "A X C" << false;
    QTest::newRow("added-at-the-end") << part(item("D") + ',' + item("E"), 3, 0, 3) << "A B C D E" << false;
    QTest::newRow("removed-at-the-start") << part({}, 0, 2, 3) << "C" << false;
    QTest::newRow("made-from-another-outline") << part(item("X"), 1, 1, 4) << "A B C" << true;
    QTest::newRow("past-the-end") << part(item("X"), 2, 2, 3) << "A B C" << true;
    QTest::newRow("negative") << part(item("X"), -1, 1, 3) << "A B C" << true;
    QTest::newRow("without-a-place")
        << QByteArray(R"({"type":"outline","items":[],"from":null,"removed":0,"before":3})") << "A B C" << true;
}

void TestPreview::aPartOfTheOutlineReplacesItsSpan()
{
    QFETCH(QByteArray, part);
    QFETCH(QString, outline);
    QFETCH(bool, askedAgain);
    Harness h;
    h.post(R"({"type":"outline","items":[{"level":1,"text":"A","id":"A"},{"level":1,"text":"B","id":"B"},)"
           R"({"level":1,"text":"C","id":"C"}]})");
    h.calls.clear();
    h.post(part.constData());
    QStringList texts;
    for (const auto &item : h.model.outline())
        texts.append(item.text);
    QCOMPARE(texts.join(u' '), outline);
    QCOMPARE(h.scripts().contains(preview::pagecommand::kOutlineAgain), askedAgain);
}

void TestPreview::resolveIsAnsweredFromAWorkerThread_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("answer");
    QTest::newRow("no-targets") << QByteArray(R"({"type":"resolve","targets":[]})") << "{}";
    QTest::newRow("missing-note") << QByteArray(R"({"type":"resolve","targets":["Nowhere"]})")
                                  << R"({"Nowhere":null})";
    QTest::newRow("neighbour-note-once")
        << QByteArray(R"({"type":"resolve","targets":["Other","Other"]})")
        << R"({"Other":"file://DIR/Other.md"})";
}

void TestPreview::resolveIsAnsweredFromAWorkerThread()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, answer);
    Harness h;
    h.scratch.write(QStringLiteral("Other.md"), "# Other\n");
    h.model.setFileUrl(QUrl::fromLocalFile(h.scratch.write(QStringLiteral("Note.md"), "")));
    h.controller.receive(QJsonDocument::fromJson(body).object());
    const QString expected = QStringLiteral("quorvel.resolved(")
        + QString(answer).replace(QStringLiteral("DIR"), h.scratch.dir.path()) + u')';
    QTRY_COMPARE(h.scripts(), QStringList{expected});
}

void TestPreview::onlyTheChangeTravelsUntilThePageRefusesIt()
{
    Harness h;
    h.ready();
    const QString note = u"# Note\n\nA paragraph that goes on for a while.\n"_s;
    h.show(note);
    h.answer();
    h.setText(note + u"More."_s);
    QCOMPARE(h.calls.last().script,
             u"quorvel.update({\"base\":1,\"inserted\":\"More.\",\"length\":51,\"removed\":0,"
             "\"start\":46,\"version\":2})"_s);
    // The page says the change does not fit what it holds: it gets the whole text.
    h.answer(QVariant(false));
    QCOMPARE(h.calls.last().script, u"quorvel.render("_s + json(note + u"More."_s)
                                        + u", \"\", 2)"_s);
    QCOMPARE(h.renders().last(), renderCall(note + u"More."_s));
}

// Whatever happened to the text since the page's revision, the page is sent one span that
// turns its text into the current one, never half a character.
void TestPreview::changesSinceThePagesRevisionTravelAsOneSpan_data()
{
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<QList<int>>("removed");
    QTest::addColumn<QStringList>("inserted");
    QTest::newRow("typed") << QList<int>{10} << QList<int>{0} << QStringList{u"x"_s};
    QTest::newRow("two-places") << QList<int>{5, 30} << QList<int>{1, 0}
                                << QStringList{u"ab"_s, u"\n"_s};
    QTest::newRow("deleted-then-typed-before") << QList<int>{20, 2} << QList<int>{3, 0}
                                               << QStringList{QString(), u"q"_s};
    QTest::newRow("typed-then-deleted") << QList<int>{12, 12} << QList<int>{0, 1}
                                        << QStringList{u"x"_s, QString()};
    // The second half of the emoji at 8 changes: the change must carry the first half too.
    QTest::newRow("half-a-pair") << QList<int>{9} << QList<int>{1}
                                 << QStringList{QString(QChar(0xDE01))};
}

void TestPreview::changesSinceThePagesRevisionTravelAsOneSpan()
{
    QFETCH(QList<int>, starts);
    QFETCH(QList<int>, removed);
    QFETCH(QStringList, inserted);
    Harness h;
    h.ready();
    h.show(u"# A note\U0001F600 that runs on long enough for a change to be small.\n"_s);
    h.answer();
    h.model.setMode(core::DocumentModel::Mode::Split, false);
    for (int i = 0; i < starts.size(); ++i)
        h.text().apply({starts[i], removed[i], inserted[i]}, core::EditOrigin::SourceEditor);
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    QVERIFY(h.calls.last().script.startsWith(u"quorvel.update("));
    QCOMPARE(h.renders().last(), renderCall(h.text().text()));
    // Nothing here holds on to the text: the next keystroke changes it where it lies.
    QVERIFY(h.text().text().isDetached());
}

void TestPreview::aLongTextSendsItsFirstScreenAhead()
{
    Harness h;
    h.ready();
    QString text;
    while (text.size() <= PreviewController::kFirstScreenAheadFrom)
        text += u"A paragraph of a long note, written for the occasion.\n\n"_s;
    h.show(text);
    const QStringList shown = h.renders();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.last(), renderCall(text));
    // The first is the start of the text, whole paragraphs, a screen or a few.
    const QString ahead = QJsonDocument::fromJson(
        ('[' + shown.first().mid(15, shown.first().size() - 20) + ']').toUtf8()).array().at(0).toString();
    QVERIFY(text.startsWith(ahead));
    QVERIFY(ahead.endsWith(u".\n"_s));
    QVERIFY(ahead.size() >= PreviewController::kFirstScreenChars && ahead.size() < text.size() / 4);
}

void TestPreview::findResultsReachTheCompletion_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::newRow("counts") << QVariant(QVariantMap{{"count", 3.0}, {"index", 1.0}}) << 3 << 1;
    QTest::newRow("integers") << QVariant(QVariantMap{{"count", 7}, {"index", 2}}) << 7 << 2;
    QTest::newRow("missing-index") << QVariant(QVariantMap{{"count", 3.0}}) << 3 << 0;
    QTest::newRow("not-integers")
        << QVariant(QVariantMap{{"count", 2.5}, {"index", QStringLiteral("1")}}) << 0 << 0;
    QTest::newRow("not-an-object") << QVariant(42.0) << 0 << 0;
    QTest::newRow("script-error") << QVariant() << 0 << 0;
}

void TestPreview::findResultsReachTheCompletion()
{
    QFETCH(QVariant, result);
    QFETCH(int, count);
    QFETCH(int, index);
    Harness h;
    QList<std::pair<int, int>> answers;
    h.controller.find(QStringLiteral("a\"b"), {.matchCase = true, .regularExpression = true},
                      [&](int c, int i) { answers.append({c, i}); });
    h.controller.findStep(-1, [&](int c, int i) { answers.append({c, i}); });
    QCOMPARE(h.scripts(),
             (QStringList{R"(quorvel.find("a\"b", {matchCase: true, wholeWord: false, regex: true}))",
                          "quorvel.findStep(-1)"}));
    for (const auto &call : h.calls)
        call.completion(result);
    QCOMPARE(answers, (QList<std::pair<int, int>>{{count, index}, {count, index}}));
}

// Rendering --------------------------------------------------------------------------------

void TestPreview::typingInTheSourceRendersAfterAPause()
{
    Harness h;
    h.ready();
    h.model.setMode(core::DocumentModel::Mode::Split, false);
    h.setText(u"A"_s, core::EditOrigin::SourceEditor);
    h.scratch.clock.advance(50ms);
    h.setText(u"AB"_s, core::EditOrigin::SourceEditor);
    h.scratch.clock.advance(119ms);
    QCOMPARE(h.renders(), QStringList());
    h.scratch.clock.advance(1ms);
    QCOMPARE(h.renders(), QStringList{renderCall(u"AB"_s)});
    h.scratch.clock.advance(1s);
    QCOMPARE(h.renders().size(), 1);
    // A change that is no typing (a ticked task, an undo) shows at once.
    h.answer();
    h.setText(u"ABC"_s, core::EditOrigin::History);
    QCOMPARE(h.renders().size(), 2);
}

void TestPreview::repeatedRequestsSendNothing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("sent");
    QTest::newRow("same-text-same-folder") << "# A" << "/notes/" << false;
    QTest::newRow("same-text-other-folder") << "# A" << "/other notes/" << true;
    QTest::newRow("same-text-no-folder") << "# A" << "" << true;
    QTest::newRow("other-text") << "# B" << "/notes/" << true;
}

void TestPreview::repeatedRequestsSendNothing()
{
    QFETCH(QString, text);
    QFETCH(QString, folder);
    QFETCH(bool, sent);
    Harness h;
    h.ready();
    h.model.setFileUrl(QUrl::fromLocalFile(u"/notes/a.md"_s));
    h.show(u"# A"_s);
    h.answer();
    QCOMPARE(h.renders(), QStringList{renderCall(u"# A"_s, u"file:///notes/"_s)});
    h.model.setFileUrl(folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(folder + u"a.md"_s));
    h.show(text);
    const QString dir = folder.isEmpty() ? QString() : QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded);
    QCOMPARE(h.renders().mid(1), sent ? QStringList{renderCall(text, dir)} : QStringList());
}

void TestPreview::nothingIsSentBeforeReady()
{
    Harness h;
    h.setText(u"# Early"_s);
    h.controller.update(true);
    h.controller.applyTheme(h.scratch.appearance, themes::ThemeKind::Dark);
    h.controller.setEditable(true);
    h.controller.flushEdits();
    h.controller.prepareForReload();
    h.scratch.clock.advance(5s);
    QCOMPARE(h.scripts(), QStringList());
}

void TestPreview::readySendsTheLatestOfEachOnce()
{
    Harness h;
    h.setText(u"old"_s);
    h.controller.update();
    h.setText(u"new"_s);
    h.controller.setEditable(true);
    h.post(R"({"type":"ready"})");
    const QString theme = QStringLiteral("quorvel.setTheme(")
        + h.scratch.appearance.jsPayload(h.model.theme()) + u')';
    QCOMPARE(h.scripts(), (QStringList{theme, QStringLiteral(R"(quorvel.render("new", "", 2))"),
                                       QStringLiteral("quorvel.setEditable(true)")}));
    h.answer();
    h.scratch.clock.advance(1s); // the pending render of "old" has nothing left to send
    QCOMPARE(h.scripts().size(), 3);
    // A page that reloaded itself is sent all three again.
    h.post(R"({"type":"ready"})");
    QCOMPARE(h.scripts().size(), 6);
}

void TestPreview::themeIsSentOnlyWhenItChanges()
{
    Harness h;
    h.ready();
    h.controller.applyTheme(h.scratch.appearance, themes::ThemeKind::Sepia);
    h.controller.applyTheme(h.scratch.appearance, themes::ThemeKind::Sepia);
    QCOMPARE(h.scripts().size(), 1);
    QVERIFY(h.scripts().first().contains(QStringLiteral(R"("theme":"sepia")")));
    h.scratch.appearance.setFontSize(20);
    h.controller.applyTheme(h.scratch.appearance, themes::ThemeKind::Sepia);
    QCOMPARE(h.scripts().size(), 2);
    QVERIFY(h.scripts().last().contains(QStringLiteral(R"("fontSize":20)")));
}

void TestPreview::viewUpdateFollowsTheModel()
{
    Harness h;
    h.ready();
    h.model.setFileUrl(QUrl::fromLocalFile(h.scratch.path(QStringLiteral("note.md"))));
    h.model.setMode(core::DocumentModel::Mode::Visual);
    h.controller.update();
    h.text().apply({0, 0, u"# T"_s}, core::EditOrigin::SourceEditor);
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    const QString dir = QUrl::fromLocalFile(h.scratch.dir.path() + u'/').toString();
    QCOMPARE(h.scripts(), (QStringList{QStringLiteral("quorvel.setEditable(true)"),
                                       renderCall(QStringLiteral("# T"), dir).chopped(1)
                                           + QStringLiteral(", 1)")}));
    h.model.setMode(core::DocumentModel::Mode::Read);
    h.controller.update();
    QCOMPARE(h.scripts().last(), QStringLiteral("quorvel.setEditable(false)"));
}

// Visual editing ---------------------------------------------------------------------------

void TestPreview::anEditIsNotRenderedBack()
{
    Harness h;
    h.editing(u"one, a sentence long enough"_s);
    h.edit(1, 3, 0, u" two"_s, 27);
    QCOMPARE(h.text().text(), u"one two, a sentence long enough"_s);
    QCOMPARE(h.text().revision(), 2u);
    h.controller.update();
    h.scratch.clock.advance(1s);
    QCOMPARE(h.renders(), QStringList());
    // The page counts its edit as the next revision: what comes after is a change again.
    h.setText(u"one two, a sentence long enough."_s);
    QCOMPARE(h.calls.last().script.left(31), u"quorvel.update({\"base\":2,\"inser"_s);
}

// An edit from the page names the revision it was made from. Made from the text as it is, it
// is taken; made before another view's change, it is moved past it when the two touch other
// characters; made before a reload, or where the other change was, it is dropped, and the page
// is sent the whole text it should show.
void TestPreview::pageEditsMadeFromAnOlderText_data()
{
    QTest::addColumn<int>("meanwhile"); // 0: nothing, 1: typed in the source, 2: reloaded
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("wholeSent");
    // The page shows "one two"; the source made "two" into "2" meanwhile.
    QTest::newRow("nothing-meanwhile") << 0 << 3 << 1 << u", "_s << u"one, two"_s << false;
    QTest::newRow("source-typed-elsewhere") << 1 << 0 << 3 << u"One"_s << u"One 2"_s << true;
    QTest::newRow("page-typed-after-it") << 1 << 7 << 0 << u"!"_s << u"one 2!"_s << true;
    QTest::newRow("both-on-the-same-word") << 1 << 4 << 3 << u"TWO"_s << u"one 2"_s << true;
    QTest::newRow("reloaded-meanwhile") << 2 << 0 << 0 << u"x"_s << u"from disk"_s << true;
    QTest::newRow("does-not-fit") << 0 << 6 << 5 << u"x"_s << u"one two"_s << true;
}

void TestPreview::pageEditsMadeFromAnOlderText()
{
    QFETCH(int, meanwhile);
    QFETCH(int, start);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    QFETCH(QString, result);
    QFETCH(bool, wholeSent);
    Harness h;
    h.editing(u"one two"_s);
    if (meanwhile == 1)
        h.text().apply({4, 3, u"2"_s}, core::EditOrigin::SourceEditor);
    if (meanwhile == 2) {
        h.controller.prepareForReload();
        h.setText(u"from disk"_s, core::EditOrigin::Disk);
    }
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    h.answer();
    h.calls.clear();
    h.edit(1, start, removed, inserted, 7);
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    QCOMPARE(h.text().text(), result);
    const bool whole = std::any_of(h.calls.begin(), h.calls.end(), [](const ScriptCall &call) {
        return call.script.startsWith(u"quorvel.render(");
    });
    QCOMPARE(whole, wholeSent);
    if (wholeSent)
        QCOMPARE(h.renders().last(), renderCall(result));
}

void TestPreview::undoInThePageTakesBackTheLastChange()
{
    Harness h;
    h.editing(u"one two"_s);
    h.edit(1, 7, 0, u" three"_s, 7);
    h.shownBefore = u"one two three"_s;
    h.post(R"({"type":"undo"})");
    QCOMPARE(h.text().text(), u"one two"_s);
    // The page is sent the change back, then the caret where it was.
    QCOMPARE(h.renders(), QStringList{renderCall(u"one two"_s)});
    QCOMPARE(h.scripts().last(), u"quorvel.placeCaret(7)"_s);
    h.answer();
    h.post(R"({"type":"redo"})");
    QCOMPARE(h.text().text(), u"one two three"_s);
    QCOMPARE(h.scripts().last(), u"quorvel.placeCaret(13)"_s);
}

void TestPreview::pastedImages_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("titled");
    QTest::addColumn<bool>("inserted");
    QTest::addColumn<QString>("folder"); // the note's: "", "captures-is-a-file", "read-only"
    QTest::addColumn<QString>("reason"); // what the alert says, in part; empty: no alert
    const QString png = pngBase64();
    QTest::newRow("png-in-a-saved-note") << png << true << true << QString() << QString();
    QTest::newRow("png-in-an-untitled-note")
        << png << false << false << QString() << QStringLiteral("Captures/ folder");
    QTest::newRow("invalid-base64") << QStringLiteral("not base64!") << true << false << QString()
                                    << QString();
    QTest::newRow("base64-with-line-breaks")
        << png.left(8) + u'\n' + png.mid(8) << true << false << QString() << QString();
    QTest::newRow("not-an-image") << QString::fromLatin1(QByteArray("plain text").toBase64())
                                  << true << false << QString() << QString();
    QTest::newRow("captures-is-a-file") << png << true << false << QStringLiteral("captures-is-a-file")
                                        << QStringLiteral("not a folder");
    QTest::newRow("read-only-folder") << png << true << false << QStringLiteral("read-only")
                                      << QStringLiteral("Read-only file system");
}

void TestPreview::pastedImages()
{
    QFETCH(QString, data);
    QFETCH(bool, titled);
    QFETCH(bool, inserted);
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    Harness h;
    const QString notes = h.scratch.path(QStringLiteral("notes"));
    QVERIFY(QDir().mkpath(notes));
    // Root writes into any folder whatever its mode says: a read-only file system is what
    // refuses everyone.
    if (folder == u"read-only"
        && ::mount("tmpfs", QFile::encodeName(notes).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("mounting a small tmpfs needs root");
    auto unmount = qScopeGuard([&] {
        if (folder == u"read-only")
            ::umount2(QFile::encodeName(notes).constData(), MNT_DETACH);
    });
    if (titled)
        h.model.setFileUrl(QUrl::fromLocalFile(h.scratch.write(QStringLiteral("notes/n.md"), "")));
    if (folder == u"captures-is-a-file")
        h.scratch.write(QStringLiteral("notes/Captures"), "");
    if (folder == u"read-only")
        QVERIFY(::mount(nullptr, QFile::encodeName(notes).constData(), nullptr,
                        MS_REMOUNT | MS_RDONLY, nullptr)
                == 0);
    QSignalSpy alerts(&h.model, &core::DocumentModel::alertRequested);
    h.ready();
    h.controller.receive({{QStringLiteral("type"), QStringLiteral("pasteImage")},
                          {QStringLiteral("data"), data}});
    const QString name = QStringLiteral("Captures/capture-20260101-090000.png");
    const QStringList expected{QStringLiteral("quorvel.insertImage(\"%1\")").arg(name)};
    QCOMPARE(h.scripts(), inserted ? expected : QStringList());
    QCOMPARE(QFileInfo::exists(h.scratch.path(QStringLiteral("notes/") + name)), inserted);
    QCOMPARE(h.text().revision(), 0u);
    QCOMPARE(alerts.size(), reason.isEmpty() ? 0 : 1);
    if (!reason.isEmpty())
        QVERIFY2(alerts.first().at(1).toString().contains(reason),
                 qPrintable(alerts.first().at(1).toString()));
}

// Context menu, navigation, prompt --------------------------------------------------------

namespace {

MenuEntry offered(MenuRole role, const char *title, int index)
{
    return {role, QString::fromUtf8(title), index};
}

} // namespace

void TestPreview::contextMenuIsRebuilt_data()
{
    QTest::addColumn<QList<MenuEntry>>("items");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("linkKind");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QString>("misspelt");
    QTest::addColumn<QString>("menu");

    const QList<MenuEntry> selection{offered(MenuRole::Other, "Back", 0),
                                     offered(MenuRole::Separator, "", 1),
                                     offered(MenuRole::Copy, "Copy", 2),
                                     offered(MenuRole::Other, "Save page", 3),
                                     offered(MenuRole::Inspect, "Inspect", 4)};
    const QList<MenuEntry> link{offered(MenuRole::LinkAction, "Follow Link", 0),
                                offered(MenuRole::LinkAction, "Open in New Window", 1),
                                offered(MenuRole::CopyLink, "Copy Link URL", 2),
                                offered(MenuRole::Separator, "", 3),
                                offered(MenuRole::Copy, "Copy", 4)};
    const QList<MenuEntry> misspelled{offered(MenuRole::Guess, "their", 0),
                                      offered(MenuRole::Guess, "there", 1),
                                      offered(MenuRole::Separator, "", 2),
                                      offered(MenuRole::Other, "Reload", 3)};
    QList<MenuEntry> manyGuesses;
    for (const char *guess : {"a", "b", "c", "d", "e", "f", "g"})
        manyGuesses.append(offered(MenuRole::Guess, guess, int(manyGuesses.size())));
    const QList<MenuEntry> image{offered(MenuRole::CopyImage, "Copy Image", 0),
                                 offered(MenuRole::Other, "Save Image", 1)};

    QTest::newRow("selection-while-reading") << selection << false << "" << false << ""
                                             << "Copy · Select All";
    QTest::newRow("selection-while-reading-debug")
        << selection << false << "" << true << "" << "Copy · Select All · | · Inspect";
    QTest::newRow("web-link-while-reading")
        << link << false << "web" << false << ""
        << "Open Link · Copy Link URL · | · Copy · Select All";
    QTest::newRow("note-link-while-editing")
        << link << true << "note" << false << ""
        << "Edit Link… · Open Link · Remove Link · | · Cut · Copy · Paste";
    QTest::newRow("text-while-editing")
        << selection << true << "" << false << "" << "Cut · Copy · Paste · | · Add Link…";
    QTest::newRow("misspelled-word-while-editing")
        << misspelled << true << "" << false << "thier"
        << "their · there · | · Ignore Spelling · Add to Dictionary · | · Cut · Copy · Paste · | · "
           "Add Link…";
    QTest::newRow("five-guesses-at-most") << manyGuesses << true << "" << false << "x"
                                          << "a · b · c · d · e · | · Ignore Spelling · "
                                             "Add to Dictionary · | · Cut · Copy · Paste · | · "
                                             "Add Link…";
    QTest::newRow("no-guess") << QList<MenuEntry>{} << true << "" << false << "qzxv"
                              << "No Guesses Found · | · Ignore Spelling · Add to Dictionary · | · "
                                 "Cut · Copy · Paste · | · Add Link…";
    QTest::newRow("image-while-reading") << image << false << "" << false << ""
                                         << "Copy Image · | · Copy · Select All";
    // Plain text while reading: the engine offers nothing, the reader still copies.
    QTest::newRow("plain-text-while-reading") << QList<MenuEntry>{} << false << "" << false << ""
                                              << "Copy · Select All";
}

void TestPreview::contextMenuIsRebuilt()
{
    QFETCH(QList<MenuEntry>, items);
    QFETCH(bool, editable);
    QFETCH(QString, linkKind);
    QFETCH(bool, debug);
    QFETCH(QString, misspelt);
    QFETCH(QString, menu);
    const auto plan = preview::planContextMenu(items, {editable, linkKind, debug, misspelt});
    QCOMPARE(preview::describeMenu(plan), menu);
    for (const MenuEntry &entry : plan) {
        if (entry.offered >= 0)
            QCOMPARE(items.at(entry.offered), entry); // kept items are the web view's own
    }
}

void TestPreview::navigationStaysOnThePage_data()
{
    using preview::NavigationDecision;
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<bool>("mainFrame");
    QTest::addColumn<bool>("clicked");
    QTest::addColumn<NavigationDecision>("decision");
    const auto url = [](const char *text) { return QUrl(QString::fromUtf8(text)); };
    QTest::newRow("the-page") << url("file:///opt/quorvel/web/index.html") << true << false
                              << NavigationDecision::Allow;
    QTest::newRow("the-page-at-a-heading") << url("file:///opt/quorvel/web/index.html#intro")
                                           << true << true << NavigationDecision::Allow;
    QTest::newRow("another-index-html") << url("file:///home/me/site/index.html") << true
                                        << false << NavigationDecision::Cancel;
    QTest::newRow("clicked-other-index-html") << url("file:///home/me/site/index.html") << true
                                              << true << NavigationDecision::OpenExternally;
    QTest::newRow("the-page-in-a-frame") << url("file:///opt/quorvel/web/index.html") << false
                                         << false << NavigationDecision::Cancel;
    QTest::newRow("about-blank") << url("about:blank") << true << true
                                 << NavigationDecision::Cancel;
    QTest::newRow("clicked-web-address") << url("https://example.org/a") << true << true
                                         << NavigationDecision::OpenExternally;
    QTest::newRow("scripted-web-address") << url("https://example.org/a") << true << false
                                          << NavigationDecision::Cancel;
    QTest::newRow("clicked-custom-scheme") << url("steam://run/1") << true << true
                                           << NavigationDecision::Cancel;
    QTest::newRow("clicked-script-url") << url("javascript:alert(1)") << true << true
                                        << NavigationDecision::Cancel;
    QTest::newRow("no-url") << QUrl() << true << true << NavigationDecision::Cancel;
}

void TestPreview::navigationStaysOnThePage()
{
    QFETCH(QUrl, url);
    QFETCH(bool, mainFrame);
    QFETCH(bool, clicked);
    QFETCH(preview::NavigationDecision, decision);
    const QUrl page(QStringLiteral("file:///opt/quorvel/web/index.html"));
    QCOMPARE(preview::decideNavigation(url, page, mainFrame, clicked), decision);
}

namespace {
QList<preview::QuorvelWebView *> liveViews()
{
    QList<preview::QuorvelWebView *> views;
    for (QWidget *widget : QApplication::allWidgets())
        if (auto *view = qobject_cast<preview::QuorvelWebView *>(widget))
            views.append(view);
    return views;
}
} // namespace

void TestPreview::firstPageGoesToTheFirstWindowOfItsProfile()
{
    using preview::WebPageHost;
    WebPageHost::prepareFirst();
    const auto early = liveViews();
    QCOMPARE(early.size(), 1);
    // A note in another language has a profile of its own: the early page waits for the next
    // window instead.
    QWebEngineProfile own;
    const auto other = WebPageHost::take(&own);
    QVERIFY(other->webView() != early.first());
    QVERIFY(liveViews().contains(early.first()));
    const auto first = WebPageHost::take();
    QCOMPARE(first->webView(), early.first());
    // Later windows are no first window.
    WebPageHost::prepareFirst();
    QCOMPARE(liveViews().size(), 2);
}

void TestPreview::bridgeHearsOnlyOurPage()
{
    preview::QuorvelWebPage page(QUrl::fromLocalFile(QStringLiteral("/opt/quorvel/web/index.html")),
                                QWebEngineProfile::defaultProfile());
    preview::PageBridge bridge(&page, nullptr);
    int heard = 0;
    bridge.setReceiver([&heard](const QJsonObject &) { ++heard; });
    QCoreApplication::processEvents();
    bridge.post(QJsonObject{{QStringLiteral("type"), QStringLiteral("edit")}});
    QCOMPARE(heard, 0); // the page shows nothing of ours (here: nothing at all)
}

void TestPreview::linkedProgramsAreRevealedNotRun_data()
{
    using preview::FileLaunch;
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<FileLaunch>("launch");
    QFile self(QCoreApplication::applicationFilePath());
    const QByteArray program = self.open(QIODevice::ReadOnly) ? self.read(4096) : QByteArray();
    QTest::newRow("note") << "note.md" << QByteArray("# Note\n") << false << FileLaunch::Open;
    QTest::newRow("picture") << "pic.png" << QByteArray("\x89PNG\r\n\x1a\n") << false
                             << FileLaunch::Open;
    QTest::newRow("script-with-exec-bit") << "run.sh" << QByteArray("#!/bin/sh\n") << true
                                          << FileLaunch::Reveal;
    QTest::newRow("note-with-exec-bit") << "odd.md" << QByteArray("# Odd\n") << true
                                        << FileLaunch::Reveal;
    QTest::newRow("desktop-launcher") << "evil.desktop"
                                      << QByteArray("[Desktop Entry]\nType=Application\nExec=x\n")
                                      << false << FileLaunch::Reveal;
    QTest::newRow("program-named-as-a-note") << "tool.md" << program << false
                                             << FileLaunch::Reveal;
}

void TestPreview::linkedProgramsAreRevealedNotRun()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, executable);
    QFETCH(preview::FileLaunch, launch);
    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    if (executable)
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
    QCOMPARE(preview::fileLaunch(file.fileName()), launch);
    // Reached through a symbolic link, it is judged as itself.
    QVERIFY(QFile::link(file.fileName(), dir.filePath(QStringLiteral("link"))));
    QCOMPARE(preview::fileLaunch(dir.filePath(QStringLiteral("link"))), launch);
}

void TestPreview::promptAnswersThePage_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<std::optional<QString>>("answer");
    QTest::newRow("cancel") << "https://x" << false << std::optional<QString>();
    QTest::newRow("ok-with-empty-field") << "" << true << std::optional<QString>(QString());
    QTest::newRow("ok-with-text") << "https://x" << true
                                  << std::optional<QString>(QStringLiteral("https://x"));
}

void TestPreview::promptAnswersThePage()
{
    QFETCH(QString, typed);
    QFETCH(bool, ok);
    QFETCH(std::optional<QString>, answer);
    QString shownDefault;
    QTimer::singleShot(0, qApp, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return; // the comparison below fails: the prompt never answered
        auto *field = dialog->findChild<QLineEdit *>();
        shownDefault = field->text();
        field->setText(typed);
        const auto role = ok ? QDialogButtonBox::AcceptRole : QDialogButtonBox::RejectRole;
        for (auto *button : dialog->findChildren<QPushButton *>()) {
            if (dialog->findChild<QDialogButtonBox *>()->buttonRole(button) == role)
                button->click();
        }
    });
    const auto result = PreviewController::askText(nullptr, QStringLiteral("Link address:"),
                                                   QStringLiteral("https://"));
    QCOMPARE(shownDefault, QStringLiteral("https://"));
    QCOMPARE(result, answer);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
