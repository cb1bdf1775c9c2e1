#include <QJsonObject>
#include "testsupport.h"

#include "preview/bridgemessage.h"
#include "preview/contextmenu.h"
#include "preview/navigationpolicy.h"
#include "preview/externallinks.h"
#include "preview/pagehost.h"
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

// A model over a text in memory, with the controller under test on a fake page.
struct Harness
{
    ScratchEnvironment scratch;
    QString text;
    QStringList setTexts;
    QList<ScriptCall> calls;
    core::DocumentModel model{scratch.env()};
    PreviewController controller{&model, scratch.clock, scratch.appearance,
                                 std::make_unique<FakePage>(calls)};

    Harness()
    {
        model.getText = [this] { return text; };
        model.setText = [this](const QString &t) {
            setTexts.append(t);
            text = t;
        };
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
            out << QStringLiteral("quorvel.render(") + PreviewController::json(text)
                    + QStringLiteral(", ") + PreviewController::json(dir) + u')';
        }
        return out;
    }
    void post(const char *json) { controller.receive(parse(json)); }
    void ready()
    {
        post(R"({"type":"ready"})");
        calls.clear();
    }
    // A ready page in visual mode that shows `shown`.
    void editing(const QString &shown)
    {
        ready();
        text = shown;
        controller.render(shown, QUrl(), true, 0);
        controller.setEditable(true);
        shownBefore = shown;
        calls.clear();
    }
    // The page finishes its last render.
    void completeLastRender()
    {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->script.startsWith(QStringLiteral("quorvel.render(")) && it->completion) {
                it->completion(QVariant());
                return;
            }
        }
        QFAIL("no render to complete");
    }
    void edit(const QString &source)
    {
        controller.receive({{QStringLiteral("type"), QStringLiteral("edit")},
                            {QStringLiteral("source"), source}});
    }
};

QString renderCall(const QString &text, const QString &dir = QString())
{
    return QStringLiteral("quorvel.render(") + PreviewController::json(text) + QStringLiteral(", ")
        + PreviewController::json(dir) + u')';
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
                return QStringLiteral("edit '%1'").arg(m.source);
            else if constexpr (std::is_same_v<T, PasteImage>)
                return QStringLiteral("pasteImage");
            else if constexpr (std::is_same_v<T, Outline>) {
                QStringList items;
                for (const auto &item : m.items)
                    items.append(QStringLiteral("%1:%2:%3").arg(item.level).arg(item.text, item.id));
                return QStringLiteral("outline [%1]").arg(items.join(u','));
            } else if constexpr (std::is_same_v<T, Ready>)
                return QStringLiteral("ready");
            else if constexpr (std::is_same_v<T, Drawn>)
                return QStringLiteral("drawn");
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
    // What goes to the page
    void stringArgumentsAreJsonLiterals_data();
    void stringArgumentsAreJsonLiterals();

    // What comes from the page
    void messagesDecodeWithTheirDefaults_data();
    void messagesDecodeWithTheirDefaults();
    void outlineIsReplacedOnlyWhenItDiffers();
    void resolveIsAnsweredFromAWorkerThread_data();
    void resolveIsAnsweredFromAWorkerThread();
    void findResultsReachTheCompletion_data();
    void findResultsReachTheCompletion();

    // Rendering
    void changesTravelWholeCharacters_data();
    void changesTravelWholeCharacters();
    void onlyTheChangeTravelsUntilThePageHoldsAnotherText();
    void changesMadeInPlaceTravelWithoutACopy_data();
    void changesMadeInPlaceTravelWithoutACopy();
    void aLongTextSendsItsFirstScreenAhead();
    void aBurstOfTextsRendersTheLastOnce();
    void repeatedRequestsSendNothing_data();
    void repeatedRequestsSendNothing();
    void nothingIsSentBeforeReady();
    void readySendsTheLatestOfEachOnce();
    void themeIsSentOnlyWhenItChanges();
    void viewUpdateFollowsTheModel();

    // Visual editing
    void anEditIsNotRenderedBack();
    void staleValuesGiveThePageTextBackToTheModel();
    void aNewExternalVersionIsNeverStale();
    void aReloadDropsEditsUntilItIsRendered();
    void aReloadOfTheShownTextKeepsEditsFlowing();
    void reloadTimeOutBelongsToTheNewestReload_data();
    void reloadTimeOutBelongsToTheNewestReload();
    void flushEditsWritesOnlyANewerText_data();
    void flushEditsWritesOnlyANewerText();
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
    QCOMPARE(PreviewController::json(text), literal);
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
    QTest::newRow("edit") << QByteArray(R"({"type":"edit","source":"# A"})") << "edit '# A'";
    QTest::newRow("edit-without-source") << QByteArray(R"({"type":"edit"})") << "dropped";
    QTest::newRow("edit-source-not-a-string")
        << QByteArray(R"({"type":"edit","source":null})") << "dropped";
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
    h.model.setFileURL(QUrl::fromLocalFile(h.scratch.write(QStringLiteral("Note.md"), "")));
    h.controller.receive(QJsonDocument::fromJson(body).object());
    const QString expected = QStringLiteral("quorvel.resolved(")
        + QString(answer).replace(QStringLiteral("DIR"), h.scratch.dir.path()) + u')';
    QTRY_COMPARE(h.scripts(), QStringList{expected});
}

void TestPreview::changesTravelWholeCharacters_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::newRow("typed") << u"ab"_s << u"axb"_s << 1 << 0 << u"x"_s;
    QTest::newRow("deleted") << u"abc"_s << u"ac"_s << 1 << 1 << QString();
    QTest::newRow("replaced-at-end") << u"abc"_s << u"abXY"_s << 2 << 1 << u"XY"_s;
    QTest::newRow("same") << u"abc"_s << u"abc"_s << 3 << 0 << QString();
    // Two emoji that share their first half: the change must not start between the halves.
    QTest::newRow("pair-before") << u"\U0001F601"_s << u"\U0001F600\U0001F601"_s << 0 << 2
                                 << u"\U0001F600\U0001F601"_s;
    QTest::newRow("pair-after") << u"\U0001F600"_s << u"\U0001F600\U0001F601"_s << 2 << 0
                                << u"\U0001F601"_s;
    QTest::newRow("pair-replaced") << u"a\U0001F600b"_s << u"a\U0001F601b"_s << 1 << 2
                                   << u"\U0001F601"_s;
}

void TestPreview::changesTravelWholeCharacters()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, start);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    const auto delta = PreviewController::pageDelta(from, to);
    QCOMPARE(delta.start, start);
    QCOMPARE(delta.removed, removed);
    QCOMPARE(delta.inserted, inserted);
    QCOMPARE(from.left(delta.start) + delta.inserted + from.mid(delta.start + delta.removed), to);
}

void TestPreview::onlyTheChangeTravelsUntilThePageHoldsAnotherText()
{
    Harness h;
    h.ready();
    const QString note = u"# Note\n\nA paragraph that goes on for a while.\n"_s;
    h.controller.render(note, QUrl(), true, 0);
    h.controller.render(note + u"More."_s, QUrl(), true, 0);
    QVERIFY(h.calls.last().script.startsWith(u"quorvel.update("));
    QVERIFY(!h.calls.last().script.contains(u"paragraph"));
    // The page says the change does not fit what it holds: it gets the whole text.
    h.calls.last().completion(QVariant(false));
    QCOMPARE(h.renders().size(), 3);
    QVERIFY(h.calls.last().script.startsWith(u"quorvel.render("));
    QCOMPARE(h.renders().last(), renderCall(note + u"More."_s));
    // After an edit made in the page, this side no longer knows what the page holds.
    h.calls.last().completion(QVariant(1));
    h.edit(note + u"Typed."_s);
    h.controller.render(note + u"Typed. And more."_s, QUrl(), true, 0);
    QVERIFY(h.calls.last().script.startsWith(u"quorvel.render("));
}

void TestPreview::changesMadeInPlaceTravelWithoutACopy_data()
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

void TestPreview::changesMadeInPlaceTravelWithoutACopy()
{
    QFETCH(QList<int>, starts);
    QFETCH(QList<int>, removed);
    QFETCH(QStringList, inserted);
    Harness h;
    h.ready();
    h.text = u"# A note\U0001F600 that runs on long enough for a change to be small.\n"_s;
    h.text.detach(); // off the literal's static data
    h.controller.render(h.model.getText(), QUrl(), true, 0);
    for (int i = 0; i < starts.size(); ++i) {
        h.controller.textChanging(starts[i], removed[i], inserted[i].size());
        QVERIFY(h.text.isDetached());
        h.text.replace(starts[i], removed[i], inserted[i]);
    }
    h.controller.render(h.model.getText(), QUrl(), true, 0);
    QVERIFY(h.calls.last().script.startsWith(u"quorvel.update("));
    QCOMPARE(h.renders().last(), renderCall(h.text));
}

void TestPreview::aLongTextSendsItsFirstScreenAhead()
{
    Harness h;
    h.ready();
    QString text;
    while (text.size() <= PreviewController::kFirstScreenAheadFrom)
        text += u"A paragraph of a long note, written for the occasion.\n\n"_s;
    h.controller.render(text, QUrl(), true, 0);
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
    h.controller.find(QStringLiteral("a\"b"), [&](int c, int i) { answers.append({c, i}); });
    h.controller.findStep(-1, [&](int c, int i) { answers.append({c, i}); });
    QCOMPARE(h.scripts(), (QStringList{R"(quorvel.find("a\"b"))", "quorvel.findStep(-1)"}));
    for (const auto &call : h.calls)
        call.completion(result);
    QCOMPARE(answers, (QList<std::pair<int, int>>{{count, index}, {count, index}}));
}

// Rendering --------------------------------------------------------------------------------

void TestPreview::aBurstOfTextsRendersTheLastOnce()
{
    Harness h;
    h.ready();
    h.controller.render(QStringLiteral("A"), QUrl(), false, 0);
    h.scratch.clock.advance(50ms);
    h.controller.render(QStringLiteral("B"), QUrl(), false, 0);
    h.scratch.clock.advance(119ms);
    QCOMPARE(h.renders(), QStringList());
    h.scratch.clock.advance(1ms);
    QCOMPARE(h.renders(), QStringList{renderCall(QStringLiteral("B"))});
    h.scratch.clock.advance(1s);
    QCOMPARE(h.renders().size(), 1);
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
    h.controller.render(QStringLiteral("# A"), QUrl::fromLocalFile(QStringLiteral("/notes/")),
                        true, 0);
    QCOMPARE(h.renders(), QStringList{renderCall(QStringLiteral("# A"),
                                                 QStringLiteral("file:///notes/"))});
    const QUrl dir = folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(folder);
    h.controller.render(text, dir, true, 0);
    const QStringList expected{renderCall(text, dir.toString(QUrl::FullyEncoded))};
    QCOMPARE(h.renders().mid(1), sent ? expected : QStringList());
}

void TestPreview::nothingIsSentBeforeReady()
{
    Harness h;
    h.controller.render(QStringLiteral("# Early"), QUrl(), true, 0);
    h.controller.applyTheme(h.scratch.appearance, themes::ThemeKind::Dark);
    h.controller.setEditable(true);
    h.controller.flushEdits();
    h.controller.prepareForReload(QStringLiteral("x"));
    h.scratch.clock.advance(5s);
    QCOMPARE(h.scripts(), QStringList());
}

void TestPreview::readySendsTheLatestOfEachOnce()
{
    Harness h;
    h.controller.render(QStringLiteral("old"), QUrl(), false, 0);
    h.controller.render(QStringLiteral("new"), QUrl(), true, 0);
    h.controller.setEditable(true);
    h.post(R"({"type":"ready"})");
    const QString theme = QStringLiteral("quorvel.setTheme(")
        + h.scratch.appearance.jsPayload(h.model.theme()) + u')';
    QCOMPARE(h.scripts(), (QStringList{theme, QStringLiteral(R"(quorvel.render("new", "", 1))"),
                                       QStringLiteral("quorvel.setEditable(true)")}));
    h.scratch.clock.advance(1s); // the cancelled debounce of "old" stays cancelled
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
    h.model.setFileURL(QUrl::fromLocalFile(h.scratch.path(QStringLiteral("note.md"))));
    h.model.setMode(core::DocumentModel::Mode::Visual);
    h.controller.update(QStringLiteral("# T"));
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    const QString dir = QUrl::fromLocalFile(h.scratch.dir.path() + u'/').toString();
    QCOMPARE(h.scripts(), (QStringList{QStringLiteral("quorvel.setEditable(true)"),
                                              renderCall(QStringLiteral("# T"), dir).chopped(1)
                                                  + QStringLiteral(", 1)")}));
    h.model.setMode(core::DocumentModel::Mode::Read);
    h.controller.update(QStringLiteral("# T"));
    QCOMPARE(h.scripts().last(), QStringLiteral("quorvel.setEditable(false)"));
}

// Visual editing ---------------------------------------------------------------------------

void TestPreview::anEditIsNotRenderedBack()
{
    Harness h;
    h.editing(QStringLiteral("one"));
    h.edit(QStringLiteral("one two"));
    QCOMPARE(h.text, QStringLiteral("one two"));
    h.controller.render(h.text, QUrl(), false, 0); // the view update's echo
    h.scratch.clock.advance(1s);
    QCOMPARE(h.renders(), QStringList());
}

void TestPreview::staleValuesGiveThePageTextBackToTheModel()
{
    Harness h;
    h.editing(QStringLiteral("one"));
    h.edit(QStringLiteral("one two"));
    h.setTexts.clear();
    h.controller.render(QStringLiteral("one"), QUrl(), true, 0);
    QCOMPARE(h.renders(), QStringList());
    QCOMPARE(h.setTexts, QStringList{QStringLiteral("one two")});
    // Not stale outside visual editing.
    h.controller.setEditable(false);
    h.controller.render(QStringLiteral("one"), QUrl(), true, 0);
    QCOMPARE(h.renders(), QStringList{renderCall(QStringLiteral("one"))});
}

void TestPreview::aNewExternalVersionIsNeverStale()
{
    Harness h;
    h.editing(QStringLiteral("- [ ] a"));
    h.controller.render(QStringLiteral("- [x] a"), QUrl(), true, 1);
    QCOMPARE(h.renders(), QStringList{renderCall(QStringLiteral("- [x] a"))});
    QVERIFY(h.setTexts.isEmpty());
}

void TestPreview::aReloadDropsEditsUntilItIsRendered()
{
    Harness h;
    h.editing(QStringLiteral("mine"));
    h.controller.prepareForReload(QStringLiteral("disk"));
    QCOMPARE(h.scripts(), QStringList{QStringLiteral("quorvel.cancelEdit()")});
    h.edit(QStringLiteral("mine, typed on"));
    QVERIFY(h.setTexts.isEmpty());
    h.controller.flushEdits();
    QCOMPARE(h.scripts().size(), 1); // no flush while the reload is on its way

    h.controller.render(QStringLiteral("disk"), QUrl(), false, 1);
    h.scratch.clock.advance(PreviewController::kRenderDelay);
    QCOMPARE(h.renders(), QStringList{renderCall(QStringLiteral("disk"))});
    h.edit(QStringLiteral("still dropped"));
    QVERIFY(h.setTexts.isEmpty());
    h.completeLastRender();
    h.edit(QStringLiteral("disk and more"));
    QCOMPARE(h.setTexts, QStringList{QStringLiteral("disk and more")});
}

void TestPreview::aReloadOfTheShownTextKeepsEditsFlowing()
{
    Harness h;
    h.editing(QStringLiteral("same"));
    h.controller.prepareForReload(QStringLiteral("same"));
    QCOMPARE(h.scripts(), QStringList{QStringLiteral("quorvel.cancelEdit()")});
    h.edit(QStringLiteral("same plus"));
    QCOMPARE(h.setTexts, QStringList{QStringLiteral("same plus")});
}

void TestPreview::reloadTimeOutBelongsToTheNewestReload_data()
{
    QTest::addColumn<int>("secondReloadAfterMs");
    QTest::addColumn<int>("blockedMs");
    QTest::newRow("one-reload") << -1 << 2000;
    QTest::newRow("two-reloads-a-second-apart") << 1000 << 3000;
}

void TestPreview::reloadTimeOutBelongsToTheNewestReload()
{
    QFETCH(int, secondReloadAfterMs);
    QFETCH(int, blockedMs);
    Harness h;
    h.editing(QStringLiteral("mine"));
    h.controller.prepareForReload(QStringLiteral("disk"));
    if (secondReloadAfterMs >= 0) {
        h.scratch.clock.advance(std::chrono::milliseconds(secondReloadAfterMs));
        h.controller.prepareForReload(QStringLiteral("disk again"));
    }
    h.scratch.clock.advance(std::chrono::milliseconds(blockedMs - 1 - std::max(0, secondReloadAfterMs)));
    h.edit(QStringLiteral("dropped"));
    QVERIFY(h.setTexts.isEmpty());
    h.scratch.clock.advance(1ms);
    h.edit(QStringLiteral("accepted"));
    QCOMPARE(h.setTexts, QStringList{QStringLiteral("accepted")});
}

void TestPreview::flushEditsWritesOnlyANewerText_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<QString>("typedMeanwhile"); // the model's text when the page answers
    QTest::addColumn<QStringList>("setTexts");
    const QString shown = QStringLiteral("one two");
    QTest::newRow("same-as-shown") << QVariant(shown) << shown << QStringList();
    QTest::newRow("newer-text") << QVariant(QStringLiteral("one two, typed")) << shown
                                << QStringList{QStringLiteral("one two, typed")};
    QTest::newRow("not-a-string") << QVariant(3.0) << shown << QStringList();
    QTest::newRow("script-error") << QVariant() << shown << QStringList();
    QTest::newRow("typed-in-source-before-the-answer")
        << QVariant(QStringLiteral("one, page two")) << QStringLiteral("one two source")
        << QStringList{QStringLiteral("one two source"), QStringLiteral("one, page two source")};
    QTest::newRow("typed-over-the-page-edit")
        << QVariant(QStringLiteral("one TWO")) << QStringLiteral("one twX")
        << QStringList{QStringLiteral("one twX")};
}

void TestPreview::flushEditsWritesOnlyANewerText()
{
    QFETCH(QVariant, result);
    QFETCH(QString, typedMeanwhile);
    QFETCH(QStringList, setTexts);
    Harness h;
    h.editing(QStringLiteral("one two"));
    h.controller.flushEdits();
    QCOMPARE(h.scripts(), QStringList{QStringLiteral("JSON.stringify(quorvel.flushEdit())")});
    if (typedMeanwhile != h.text)
        h.model.setText(typedMeanwhile);
    // The page's answer travels as JSON.
    h.calls.first().completion(result.typeId() == QMetaType::QString
                                   ? QVariant(PreviewController::json(result.toString()))
                                   : result);
    QCOMPARE(h.setTexts, setTexts);
    if (typedMeanwhile != u"one two")
        return;
    // What the flush brought in is the page's text now: its echo renders nothing.
    h.controller.render(h.text, QUrl(), true, 0);
    QCOMPARE(h.renders(), QStringList());
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
        h.model.setFileURL(QUrl::fromLocalFile(h.scratch.write(QStringLiteral("notes/n.md"), "")));
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
    QVERIFY(h.setTexts.isEmpty());
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
                                      offered(MenuRole::Learn, "Ignore Spelling", 3),
                                      offered(MenuRole::Learn, "Learn Spelling", 4),
                                      offered(MenuRole::Other, "Reload", 5)};
    const QList<MenuEntry> image{offered(MenuRole::CopyImage, "Copy Image", 0),
                                 offered(MenuRole::Other, "Save Image", 1)};

    QTest::newRow("selection-while-reading") << selection << false << "" << false << "Copy";
    QTest::newRow("selection-while-reading-debug")
        << selection << false << "" << true << "Copy · | · Inspect";
    QTest::newRow("web-link-while-reading")
        << link << false << "web" << false << "Open Link · Copy Link URL · | · Copy";
    QTest::newRow("note-link-while-editing")
        << link << true << "note" << false
        << "Edit Link… · Open Link · Remove Link · | · Cut · Copy · Paste";
    QTest::newRow("text-while-editing")
        << selection << true << "" << false << "Cut · Copy · Paste · | · Add Link…";
    QTest::newRow("misspelled-word-while-editing")
        << misspelled << true << "" << false
        << "their · there · | · Ignore Spelling · Learn Spelling · | · Cut · Copy · Paste · | · "
           "Add Link…";
    QTest::newRow("image-while-reading") << image << false << "" << false << "Copy Image";
    QTest::newRow("nothing-offered") << QList<MenuEntry>{} << false << "" << false << "";
}

void TestPreview::contextMenuIsRebuilt()
{
    QFETCH(QList<MenuEntry>, items);
    QFETCH(bool, editable);
    QFETCH(QString, linkKind);
    QFETCH(bool, debug);
    QFETCH(QString, menu);
    const auto plan = preview::planContextMenu(items, {editable, linkKind, debug});
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

void TestPreview::bridgeHearsOnlyOurPage()
{
    preview::QuorvelWebPage page(QUrl::fromLocalFile(QStringLiteral("/opt/quorvel/web/index.html")));
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
