#include "modelharness.h"
#include "testsupport.h"

#include "app/application.h"
#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "export/exporter.h"
#include "export/printing.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPdfDocument>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

using namespace quorvel;
using namespace Qt::StringLiterals;

class TestExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void pageLayoutFollowsTheSettings_data();
    void pageLayoutFollowsTheSettings();
    void pandocIsLookedUpOnPathFirst_data();
    void pandocIsLookedUpOnPathFirst();
    void wordExportRunsPandocOnACopyOfTheText_data();
    void wordExportRunsPandocOnACopyOfTheText();
    void wordExportLeavesOutImagesFromElsewhere();
    void cancellingTheDialogDoesNothing();
    void wordExportAsksThePageForItsLastEdit();
    void withoutPandocWordExportOffersTheInstallCommand();
    void withoutAPageThereIsNothingToExport();
    void theWindowsFileMenuExportsItsDocument();
    void pdfAndHtmlComeFromTheRenderedPage();
    void printingMakesThePdfExportsPage_data();
    void printingMakesThePdfExportsPage();
    void aPrinterGetsThePdfWithTheDialogsChoices_data();
    void aPrinterGetsThePdfWithTheDialogsChoices();

private:
    // A stand-in pandoc that records its arguments and its input, then runs `body`; without a
    // body it cannot even start.
    void standIn(const QByteArray &body);

    std::unique_ptr<ScratchEnvironment> m_scratch;
    QString m_answer; // what the save dialog answers
    QStringList m_asked, m_alerts, m_revealed;
    QWidget *m_dialogParent = nullptr;
};

void TestExport::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    m_answer = m_scratch->path(u"out.docx"_s);
    m_asked.clear();
    m_alerts.clear();
    m_revealed.clear();
    exporter::Hooks::askSavePath = [this](QWidget *parent, const QString &suggested,
                                          const QString &filter, exporter::Hooks::SaveDone done) {
        m_dialogParent = parent;
        m_asked << suggested << filter;
        done(m_answer);
    };
    exporter::Hooks::alert = [this](const QString &message, const QString &info) {
        m_alerts << message + u'|' + info;
    };
    exporter::Hooks::reveal = [this](const QString &path) { m_revealed << path; };
}

void TestExport::cleanup()
{
    exporter::Hooks::askSavePath = nullptr;
    exporter::Hooks::alert = nullptr;
    exporter::Hooks::reveal = nullptr;
    qunsetenv("QUORVEL_PANDOC");
    m_scratch.reset();
}

void TestExport::standIn(const QByteArray &body)
{
    // Asked for the document's tree first, it keeps the text it was given and answers with an
    // empty tree; `body` runs for the Word file.
    const QByteArray script = (body.isEmpty() ? "#!/nonexistent/sh\n"_ba : "#!/bin/sh\n"_ba)
        + "for last; do :; done\n"
        + "case \" $* \" in *\" --to json \"*) cp \"$last\" '"
        + m_scratch->path(u"seen"_s).toUtf8()
        + "'; echo '{\"pandoc-api-version\":[1,22],\"meta\":{},\"blocks\":[]}'; exit 0;; esac\n"
        + "printf '%s\\n' \"$@\" > '" + m_scratch->path(u"args"_s).toUtf8() + "'\n"
        + body + '\n';
    const QString path = m_scratch->write(u"pandoc"_s, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QUORVEL_PANDOC", path.toUtf8());
}

void TestExport::pageLayoutFollowsTheSettings_data()
{
    QTest::addColumn<themes::PaperSize>("paper");
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<double>("marginMM");
    QTest::addColumn<QSize>("portrait"); // QPageSize answers in whole points
    QTest::addColumn<double>("margin");
    using enum themes::PaperSize;
    QTest::newRow("A4") << A4 << false << 20.0 << QSize(595, 842) << 56.69;
    QTest::newRow("A4 landscape") << A4 << true << 20.0 << QSize(595, 842) << 56.69;
    QTest::newRow("Letter landscape") << Letter << true << 0.0 << QSize(612, 792) << 0.0;
    QTest::newRow("A5") << A5 << false << 0.0 << QSize(420, 595) << 0.0;
}

void TestExport::pageLayoutFollowsTheSettings()
{
    QFETCH(themes::PaperSize, paper);
    QFETCH(bool, landscape);
    QFETCH(double, marginMM);
    QFETCH(QSize, portrait);
    QFETCH(double, margin);
    m_scratch->appearance.setPaperSize(paper);
    m_scratch->appearance.setLandscape(landscape);
    m_scratch->appearance.setMarginMM(marginMM);

    const QPageLayout layout = exporter::printInfo(m_scratch->appearance);
    QCOMPARE(layout.pageSize().sizePoints(), portrait);
    QVERIFY(layout.pageSize().id() != QPageSize::Custom);
    QCOMPARE(layout.orientation(), landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    const QRectF sheet = layout.fullRect(QPageLayout::Point);
    QCOMPARE(sheet.width() > sheet.height(), landscape);
    const QMarginsF m = layout.margins();
    for (double side : {m.left(), m.top(), m.right(), m.bottom()})
        QVERIFY2(qAbs(side - margin) < 0.01, qPrintable(QString::number(side)));
}

void TestExport::pandocIsLookedUpOnPathFirst_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QStringList>("fallbacks");
    QTest::addColumn<QString>("found");

    const QStringList fallbacks{u"missing/pandoc"_s, u"plain/pandoc"_s, u"folder/pandoc"_s,
                                u"first/pandoc"_s, u"second/pandoc"_s};
    QTest::newRow("on PATH") << QStringList{u"empty"_s, u"bin"_s} << fallbacks << u"bin/pandoc"_s;
    QTest::newRow("first runnable fallback")
        << QStringList{u"empty"_s} << fallbacks << u"first/pandoc"_s;
    QTest::newRow("none") << QStringList{u"empty"_s} << fallbacks.mid(0, 3) << QString();
}

void TestExport::pandocIsLookedUpOnPathFirst()
{
    QFETCH(QStringList, path);
    QFETCH(QStringList, fallbacks);
    QFETCH(QString, found);
    const QDir root(m_scratch->dir.path());
    for (const char *folder : {"empty", "bin", "plain", "folder/pandoc", "first", "second"})
        QVERIFY(root.mkpath(QString::fromLatin1(folder)));
    for (const char *program : {"bin/pandoc", "plain/pandoc", "first/pandoc", "second/pandoc"}) {
        const QString file = m_scratch->write(QString::fromLatin1(program), "#!/bin/sh\n");
        if (QByteArray(program) != "plain/pandoc")
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ExeOwner);
    }
    for (QStringList *list : {&path, &fallbacks})
        for (QString &entry : *list)
            entry = root.filePath(entry);

    const auto result = exporter::findPandoc(path, fallbacks);
    QCOMPARE(result.value_or(QString()), found.isEmpty() ? QString() : root.filePath(found));
}

void TestExport::wordExportRunsPandocOnACopyOfTheText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("titled");
    QTest::addColumn<QString>("alert"); // a pattern; empty: the output is revealed

    // The Word file on standard output, or in the file after -o for a pandoc told to write there.
    const QByteArray writeOutput = "while [ \"$1\" != -o ]; do shift; done; "
                                   "if [ \"$2\" = - ]; then echo docx; else echo docx > \"$2\"; fi";
    QTest::newRow("titled") << writeOutput << true << QString();
    QTest::newRow("untitled") << writeOutput << false << QString();
    QTest::newRow("fails") << "echo boom >&2; exit 3"_ba << true
                           << u"Export failed\\|pandoc failed:\\nboom"_s;
    QTest::newRow("crashes") << "kill -9 $$"_ba << true << u"Export failed\\|pandoc failed:\\n"_s;
    // A pandoc that stops half-way leaves the earlier export whole.
    QTest::newRow("fails-half-way")
        << "while [ \"$1\" != -o ]; do shift; done; "
           "if [ \"$2\" = - ]; then echo half; else echo half > \"$2\"; fi; exit 3"_ba
        << true << u"Export failed\\|pandoc failed:\\n"_s;
    QTest::newRow("says a lot") << "head -c 1048576 /dev/zero | tr '\\0' x >&2; exit 1"_ba << true
                                << u"Export failed\\|pandoc failed:\\nx{65535}.*"_s;
    QTest::newRow("cannot start") << QByteArray() << true << u"Export failed\\|.+"_s;
}

void TestExport::wordExportRunsPandocOnACopyOfTheText()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, titled);
    QFETCH(QString, alert);
    standIn(body);
    const auto copies = [] {
        return QDir(QDir::tempPath()).entryList({u"quorvel-*.md"_s, u"quorvel-*.json"_s});
    };
    const QStringList copiesBefore = copies();
    Harness doc(m_scratch.get(), u"note.md"_s, "", titled);
    doc.setText(u"# Café\n\nSome text.\n"_s);
    const QByteArray earlier = "an earlier export\n";
    m_scratch->write(QFileInfo(m_answer).fileName(), earlier);

    exporter::exportDOCX(*doc.model);
    QVERIFY(waitUntil([&] { return !m_alerts.isEmpty() || !m_revealed.isEmpty(); }, 20000));

    QCOMPARE(m_asked.value(0), titled ? m_scratch->path(u"note.docx"_s)
                                      : QDir(QStandardPaths::writableLocation(
                                                 QStandardPaths::DocumentsLocation))
                                            .filePath(u"Untitled.docx"_s));
    QVERIFY(m_asked.value(1).contains(u"*.docx"_s));
    QCOMPARE(copies(), copiesBefore);
    if (alert.isEmpty()) {
        QCOMPARE(m_alerts, QStringList());
        QCOMPARE(m_revealed, QStringList{m_answer});
        QCOMPARE(ScratchEnvironment::read(m_answer), "docx\n"_ba);
    } else {
        QCOMPARE(m_revealed, QStringList());
        QCOMPARE(ScratchEnvironment::read(m_answer), earlier);
        QCOMPARE(m_alerts.size(), 1);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(alert),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(m_alerts.first())
                     .hasMatch(),
                 qPrintable(m_alerts.first().left(200)));
    }
    if (body.isEmpty())
        return; // never ran
    QStringList args = QString::fromUtf8(ScratchEnvironment::read(m_scratch->path(u"args"_s)))
                           .split(u'\n', Qt::SkipEmptyParts);
    const QString copy = args.takeLast();
    QVERIFY2(copy.startsWith(QDir::tempPath() + u"/quorvel-"_s) && !QFile::exists(copy),
             qPrintable(copy));
    QStringList expected{u"--from"_s, u"json"_s, u"--to"_s, u"docx"_s, u"-o"_s, u"-"_s};
    if (titled)
        expected = QStringList{u"--resource-path"_s, m_scratch->dir.path()} + expected;
    QCOMPARE(args, expected);
    QCOMPARE(ScratchEnvironment::read(m_scratch->path(u"seen"_s)),
             u"# Café\n\nSome text.\n"_s.toUtf8());
}

void TestExport::wordExportLeavesOutImagesFromElsewhere()
{
    if (!exporter::findPandoc({}, {}))
        QSKIP("needs pandoc on PATH");
    const QDir root(m_scratch->dir.path());
    QVERIFY(root.mkpath(u"notes"_s) && root.mkpath(u"secret"_s));
    QVERIFY(QImage(1, 1, QImage::Format_RGB32).save(m_scratch->path(u"notes/dot.png"_s)));
    QVERIFY(QImage(2, 2, QImage::Format_RGB32).save(m_scratch->path(u"secret/key.png"_s)));
    QVERIFY(::mkfifo(QFile::encodeName(m_scratch->path(u"notes/fifo.png"_s)).constData(), 0600)
            == 0);
    // pandoc read whatever path the text named, and waited on a FIFO for a writer.
    Harness doc(m_scratch.get(), u"notes/note.md"_s,
                "![d](dot.png) ![k](../secret/key.png) ![h](/etc/hostname) ![f](fifo.png)\n");
    m_answer = m_scratch->path(u"notes/out.docx"_s);

    exporter::exportDOCX(*doc.model);
    QVERIFY(waitUntil([&] { return !m_alerts.isEmpty() || !m_revealed.isEmpty(); }, 30000));
    QCOMPARE(m_revealed, QStringList{m_answer});
    QCOMPARE(m_alerts, QStringList{u"Some images were left out|Only images inside the note\u2019s "
                                   "folder or vault go into a Word file:\n\n../secret/key.png\n"
                                   "/etc/hostname\nfifo.png"_s});
    QSet<QString> media;
    const QString docx = QString::fromLatin1(ScratchEnvironment::read(m_answer));
    const QRegularExpression name(u"word/media/[\\w-]+\\.[a-z]{3}"_s);
    for (const auto &match : name.globalMatch(docx))
        media << match.captured();
    QVERIFY2(media.size() == 1, qPrintable(QStringList(media.values()).join(u' ')));
}

void TestExport::cancellingTheDialogDoesNothing()
{
    standIn("echo docx > out.docx");
    m_answer.clear();
    Harness doc(m_scratch.get(), u"note.md"_s, "text\n");
    exporter::exportDOCX(*doc.model);
    QCoreApplication::processEvents();
    QCOMPARE(m_asked.size(), 2);
    QCOMPARE(m_alerts + m_revealed, QStringList());
    QVERIFY(!QFile::exists(m_scratch->path(u"args"_s)));
}

void TestExport::wordExportAsksThePageForItsLastEdit()
{
    standIn("exit 0");
    m_answer.clear();
    FakePreviewFactory fake;
    Harness doc(m_scratch.get(), u"note.md"_s, "text\n");
    for (auto mode : {DocumentModel::Mode::Source, DocumentModel::Mode::Visual}) {
        doc.model->setMode(mode);
        exporter::exportDOCX(*doc.model);
    }
    QCOMPARE(fake.calls.flushes, 1);
}

void TestExport::withoutPandocWordExportOffersTheInstallCommand()
{
    if (!QFile::exists(u"/etc/debian_version"_s))
        QSKIP("the install command checked here is apt's");
    qputenv("QUORVEL_PANDOC", m_scratch->path(u"nowhere/pandoc"_s).toUtf8());
    exporter::Hooks::alert = nullptr;
    Harness doc(m_scratch.get(), u"note.md"_s, "text\n");
    exporter::exportDOCX(*doc.model);
    QCOMPARE(m_asked, QStringList());

    QMessageBox *box = nullptr;
    QVERIFY(waitUntil(
        [&] { return (box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())); },
        5000));
    QCOMPARE(box->text(), u"Word export requires pandoc"_s);
    QCOMPARE(box->informativeText(),
             u"Install it once with apt:\n\nsudo apt install pandoc\n\nthen export again."_s);
    QCOMPARE(box->buttons().size(), 2);
    QCOMPARE(box->defaultButton()->text(), u"Copy Command"_s);
    QGuiApplication::clipboard()->clear();
    box->defaultButton()->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"sudo apt install pandoc"_s);
}

void TestExport::withoutAPageThereIsNothingToExport()
{
    Harness doc(m_scratch.get(), u"note.md"_s, "text\n");
    exporter::exportPDF(*doc.model);
    exporter::exportHTML(*doc.model);
    exporter::printDocument(*doc.model);
    QCOMPARE(m_alerts, (QStringList{u"Export failed|PDF export failed."_s,
                                    u"Export failed|HTML export failed."_s,
                                    u"Print failed|There is no page to print."_s}));
    QCOMPARE(m_asked + m_revealed, QStringList());
}

void TestExport::theWindowsFileMenuExportsItsDocument()
{
    standIn("exit 0");
    m_answer.clear();
    app::DocumentController::shared().setAlertsEnabled(false);
    app::DocumentController::shared().setModelEnvironment(m_scratch->env());
    std::unique_ptr<app::DocumentWindow> window(app::DocumentController::shared().openDocument(
        m_scratch->write(u"note.md"_s, "text\n")));
    QVERIFY(window);
    QMenu *exports = nullptr;
    for (QMenu *menu : window->findChildren<QMenu *>())
        exports = menu->title() == u"&Export"_s ? menu : exports;
    QVERIFY(exports);
    QStringList labels;
    for (QAction *action : exports->actions()) {
        labels << action->text();
        action->trigger();
    }
    QCOMPARE(labels, (QStringList{u"&PDF\u2026"_s, u"&HTML\u2026"_s, u"&Word (.docx)\u2026"_s}));
    QCOMPARE(m_alerts, (QStringList{u"Export failed|PDF export failed."_s,
                                    u"Export failed|HTML export failed."_s}));
    QCOMPARE(m_asked.value(0), m_scratch->path(u"note.docx"_s));
    QCOMPARE(m_dialogParent, window.get());
    QAction *print = nullptr;
    for (QAction *action : window->findChildren<QAction *>())
        print = action->shortcut() == QKeySequence::Print ? action : print;
    QVERIFY(print);
    print->trigger();
    QCOMPARE(m_alerts.value(2), u"Print failed|There is no page to print."_s);
}

void TestExport::pdfAndHtmlComeFromTheRenderedPage()
{
    app::installControllers();
    const auto noPages = qScopeGuard([] { core::DocumentModel::setControllerFactory({}); });
    app::DocumentController::shared().setAlertsEnabled(false);
    app::DocumentController::shared().setModelEnvironment(m_scratch->env());
    m_scratch->write(u"other.md"_s, "# Other\n");
    std::unique_ptr<app::DocumentWindow> window(app::DocumentController::shared().openDocument(
        m_scratch->write(u"note.md"_s, "# Heading\n\nOnly the page says *this*.\n\n"
                                       "[Next](other.md) and [Gone](gone.md) and [[other]]\n")));
    QVERIFY(window);
    QSignalSpy messages(preview::PreviewController::of(window->model()),
                        &preview::PreviewController::messageReceived);
    QVERIFY(waitUntil([&] { return messages.contains({u"rendered"_s}); }, 60000));

    const auto exportTo = [&](const QString &name, void (*run)(core::DocumentModel &)) {
        m_answer = m_scratch->path(name);
        m_revealed.clear();
        run(window->model());
        return waitUntil([&] { return !m_revealed.isEmpty() || !m_alerts.isEmpty(); }, 60000);
    };
    QVERIFY(exportTo(u"out.pdf"_s, exporter::exportPDF));
    QCOMPARE(m_revealed, QStringList{m_answer});
    QVERIFY(ScratchEnvironment::read(m_answer).startsWith("%PDF"));
    QVERIFY(exportTo(u"out.html"_s, exporter::exportHTML));
    QCOMPARE(m_revealed, QStringList{m_answer});
    const QByteArray html = ScratchEnvironment::read(m_answer);
    QVERIFY(html.contains("Only the page says <em>this</em>."));
    // A note that is there is linked by its path beside the export; one that is not, not at all;
    // and no address shows where the user keeps their files.
    QVERIFY(html.contains("href=\"other.md\">Next</a>"));
    QVERIFY(!html.contains("gone.md"));
    QVERIFY(!html.contains("file:"));
    QCOMPARE(m_asked, (QStringList{m_scratch->path(u"note.pdf"_s), u"PDF (*.pdf)"_s,
                                   m_scratch->path(u"note.html"_s), u"HTML (*.html *.htm)"_s}));
    QCOMPARE(m_alerts, QStringList());
}

void TestExport::printingMakesThePdfExportsPage_data()
{
    QTest::addColumn<int>("paper");
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<double>("marginMM");
    QTest::addColumn<QSizeF>("points");

    QTest::newRow("A4, 20 mm") << int(themes::PaperSize::A4) << false << 20.0
                               << QSizeF(595.28, 841.89);
    QTest::newRow("Letter, 30 mm") << int(themes::PaperSize::Letter) << false << 30.0
                                   << QSizeF(612, 792);
    QTest::newRow("A5 landscape, 12 mm") << int(themes::PaperSize::A5) << true << 12.0
                                         << QSizeF(595.28, 419.53);
}

// Printed to a file, the page is the PDF export's: the paper of the settings, the text as text,
// and nothing drawn in the margins.
void TestExport::printingMakesThePdfExportsPage()
{
    QFETCH(int, paper);
    QFETCH(bool, landscape);
    QFETCH(double, marginMM);
    QFETCH(QSizeF, points);
    themes::Appearance &appearance = m_scratch->appearance;
    appearance.setPaperSize(themes::PaperSize(paper));
    appearance.setLandscape(landscape);
    appearance.setMarginMM(marginMM);
    appearance.setTheme(themes::ThemeKind::Dark);

    app::installControllers();
    const auto noPages = qScopeGuard([] { core::DocumentModel::setControllerFactory({}); });
    app::DocumentController::shared().setAlertsEnabled(false);
    app::DocumentController::shared().setModelEnvironment(m_scratch->env());
    QByteArray text = "# A heading that runs on across the whole width of the paper and more\n\n";
    for (int i = 0; i < 12; ++i)
        text += "Printed words, line after line, far enough to reach the paper's edge. ";
    std::unique_ptr<app::DocumentWindow> window(
        app::DocumentController::shared().openDocument(m_scratch->write(u"note.md"_s, text)));
    QVERIFY(window);
    QSignalSpy messages(preview::PreviewController::of(window->model()),
                        &preview::PreviewController::messageReceived);
    QVERIFY(waitUntil([&] { return messages.contains({u"rendered"_s}); }, 60000));

    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(exporter::printInfo(appearance));
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = m_scratch->path(u"printed.pdf"_s);
    printer.setOutputFileName(path);
    std::optional<core::Result<void>> printed;
    exporter::printPage(preview::PreviewController::of(window->model())->webView(), &printer,
                        appearance, u"note"_s,
                        [&](const core::Result<void> &result) { printed = result; });
    QVERIFY(waitUntil([&] { return printed.has_value(); }, 60000));
    QVERIFY2(*printed, qPrintable(printed->error()));

    QPdfDocument pdf;
    QCOMPARE(pdf.load(path), QPdfDocument::Error::None);
    QVERIFY(pdf.pageCount() >= 1);
    const QSizeF size = pdf.pagePointSize(0);
    QVERIFY2(qAbs(size.width() - points.width()) < 1 && qAbs(size.height() - points.height()) < 1,
             qPrintable(u"%1 x %2"_s.arg(size.width()).arg(size.height())));
    // Text the printer receives as text, not a picture of it.
    QVERIFY(pdf.getAllText(0).text().contains(u"Printed words"_s));

    // One pixel a point: the ink lies within the margins.
    const QImage page = pdf.render(0, size.toSize());
    const QColor paperColour = page.pixelColor(0, 0);
    QRect ink;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (qAbs(c.red() - paperColour.red()) + qAbs(c.green() - paperColour.green())
                    + qAbs(c.blue() - paperColour.blue()) > 60)
                ink |= QRect(x, y, 1, 1);
        }
    const double margin = exporter::marginPoints(marginMM);
    QVERIFY2(!ink.isEmpty() && ink.left() >= margin - 2 && ink.top() >= margin - 2
                 && ink.right() <= page.width() - margin + 2,
             qPrintable(u"ink %1,%2 to %3; margin %4"_s.arg(ink.left()).arg(ink.top())
                            .arg(ink.right()).arg(margin)));
}

void TestExport::aPrinterGetsThePdfWithTheDialogsChoices_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("duplex");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<QStringList>("options");

    const QString one = u"sides=one-sided"_s;
    QTest::newRow("as it is") << 1 << int(QPrinter::DuplexNone) << 0 << 0 << false
                              << QStringList{u"-o"_s, one};
    QTest::newRow("copies, collated")
        << 3 << int(QPrinter::DuplexNone) << 0 << 0 << false
        << QStringList{u"-n"_s, u"3"_s, u"-o"_s, u"collate=true"_s, u"-o"_s, one};
    QTest::newRow("both sides, long edge")
        << 1 << int(QPrinter::DuplexLongSide) << 0 << 0 << false
        << QStringList{u"-o"_s, u"sides=two-sided-long-edge"_s};
    QTest::newRow("printer's own sides, pages 2 to 4, grey")
        << 1 << int(QPrinter::DuplexAuto) << 2 << 4 << true
        << QStringList{u"-P"_s, u"2-4"_s, u"-o"_s, u"print-color-mode=monochrome"_s};
}

// What lp is told: the queue, the title, the dialog's choices, and the PDF as it is laid out.
void TestExport::aPrinterGetsThePdfWithTheDialogsChoices()
{
    QFETCH(int, copies);
    QFETCH(int, duplex);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, grey);
    QFETCH(QStringList, options);
    exporter::PrintChoices choices;
    choices.queue = u"office"_s;
    choices.copies = copies;
    choices.collate = true;
    choices.duplex = QPrinter::DuplexMode(duplex);
    choices.fromPage = from;
    choices.toPage = to;
    choices.grey = grey;
    const QStringList expected = QStringList{u"-d"_s, u"office"_s, u"-t"_s, u"A note"_s} + options
        + QStringList{u"-o"_s, u"fit-to-page=false"_s, u"--"_s, u"/tmp/x.pdf"_s};
    QCOMPARE(exporter::lpArguments(choices, u"A note"_s, u"/tmp/x.pdf"_s), expected);
}

int main(int argc, char **argv)
{
    // The web engine must be prepared for before the application starts.
    quorvel::app::prepareEnvironment(argc, argv);
    QApplication app(argc, argv);
    TestExport test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_export.moc"
