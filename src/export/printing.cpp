#include "printing.h"

#include "core/filewriter.h"
#include "themes/appearance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMarginsF>
#include <QPageSize>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace quorvel::exporter {

namespace {

QList<PrintCompletion *> &liveCompletions()
{
    static QList<PrintCompletion *> live;
    return live;
}

} // namespace

QSizeF paperSizePoints(themes::PaperSize size)
{
    switch (size) {
    case themes::PaperSize::Letter:
        return {612, 792};
    case themes::PaperSize::A5:
        return {419.53, 595.28};
    case themes::PaperSize::A4:
        break;
    }
    return {595.28, 841.89};
}

double marginPoints(double marginMM)
{
    return marginMM * 72.0 / 25.4;
}

QPageLayout printInfo(const themes::Appearance &appearance)
{
    // The named sizes, which hold their exact dimensions; a size given in points would be kept
    // in whole points only.
    const QPageSize paper([&] {
        switch (appearance.paperSize()) {
        case themes::PaperSize::Letter:
            return QPageSize::Letter;
        case themes::PaperSize::A5:
            return QPageSize::A5;
        case themes::PaperSize::A4:
            break;
        }
        return QPageSize::A4;
    }());
    const double margin = marginPoints(appearance.marginMM());
    QPageLayout layout(paper, QPageLayout::Portrait, QMarginsF(), QPageLayout::Point);
    layout.setOrientation(appearance.landscape() ? QPageLayout::Landscape
                                                 : QPageLayout::Portrait);
    // Margins larger than the paper allows are the user's choice; the layout must not refuse them.
    layout.setMode(QPageLayout::FullPageMode);
    layout.setMargins(QMarginsF(margin, margin, margin, margin));
    return layout;
}

PrintCompletion::PrintCompletion(std::function<void(bool)> completion)
    : m_completion(std::move(completion))
{
    liveCompletions().append(this);
}

void PrintCompletion::printOperationDidRun(bool success)
{
    liveCompletions().removeAll(this);
    if (auto completion = std::exchange(m_completion, nullptr))
        completion(success);
    deleteLater();
}

const QList<PrintCompletion *> &PrintCompletion::live()
{
    return liveCompletions();
}

void writePDF(QWebEngineView *view, const QString &path, const themes::Appearance &appearance,
              std::function<void(const core::Result<void> &)> completion)
{
    const auto failed = [] {
        return core::Result<void>::failure(QCoreApplication::translate("quorvel::exporter", "PDF export failed."));
    };
    if (!view || !view->page()) {
        completion(failed());
        return;
    }
    // The engine would write the file itself, in place and readable by its owner alone: a kill
    // or a full disk would leave half a PDF where a whole one was. Its bytes go through the
    // same writer as a save instead, which also keeps an existing file's permissions.
    view->page()->printToPdf(
        [path, completion = std::move(completion), failed](const QByteArray &pdf) {
            if (pdf.isEmpty()) {
                completion(failed());
                return;
            }
            completion(core::FileWriter::write(path, pdf));
        },
        printInfo(appearance));
}

} // namespace quorvel::exporter

namespace quorvel::exporter {

namespace {

core::Result<void> printFailed(const QString &why = {})
{
    return core::Result<void>::failure(why.isEmpty() ? QStringLiteral("The page could not be printed.")
                                                     : why);
}

// Hands the PDF to the CUPS queue. lp has read the file by the time it ends, so the scratch copy
// goes then.
void sendToQueue(const QString &lp, const QStringList &arguments, const QString &file,
                 const QByteArray &pdf, std::function<void(const core::Result<void> &)> completion)
{
    if (const auto written = core::FileWriter::write(file, pdf); !written) {
        completion(written);
        return;
    }
    auto *process = new QProcess(qApp);
    process->setProgram(lp);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::MergedChannels);
    auto said = std::make_shared<QByteArray>();
    QObject::connect(process, &QProcess::readyRead, process,
                     [process, said] { said->append(process->readAll()); });
    auto done = std::make_shared<std::function<void(const core::Result<void> &)>>(
        std::move(completion));
    const auto finish = [process, file, done](const core::Result<void> &result) {
        QFile::remove(file);
        process->deleteLater();
        if (auto call = std::exchange(*done, nullptr))
            call(result);
    };
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, finish](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             finish(printFailed(process->errorString()));
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, said, finish](int code, QProcess::ExitStatus status) {
                         said->append(process->readAll());
                         if (status == QProcess::NormalExit && code == 0)
                             finish(core::Result<void>::success());
                         else
                             finish(printFailed(QString::fromLocal8Bit(*said).trimmed()));
                     });
    process->start();
}

} // namespace

PrintChoices PrintChoices::of(const QPrinter &printer)
{
    PrintChoices choices;
    choices.queue = printer.printerName();
    choices.copies = printer.copyCount();
    choices.collate = printer.collateCopies();
    choices.duplex = printer.duplex();
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        choices.fromPage = printer.fromPage();
        choices.toPage = printer.toPage() > 0 ? printer.toPage() : printer.fromPage();
    }
    choices.grey = printer.colorMode() == QPrinter::GrayScale;
    return choices;
}

QStringList lpArguments(const PrintChoices &choices, const QString &title, const QString &file)
{
    QStringList arguments{QStringLiteral("-d"), choices.queue, QStringLiteral("-t"), title};
    if (choices.copies > 1) {
        arguments << QStringLiteral("-n") << QString::number(choices.copies);
        if (choices.collate)
            arguments << QStringLiteral("-o") << QStringLiteral("collate=true");
    }
    switch (choices.duplex) {
    case QPrinter::DuplexNone:
        arguments << QStringLiteral("-o") << QStringLiteral("sides=one-sided");
        break;
    case QPrinter::DuplexLongSide:
        arguments << QStringLiteral("-o") << QStringLiteral("sides=two-sided-long-edge");
        break;
    case QPrinter::DuplexShortSide:
        arguments << QStringLiteral("-o") << QStringLiteral("sides=two-sided-short-edge");
        break;
    case QPrinter::DuplexAuto:
        break;
    }
    if (choices.fromPage > 0)
        arguments << QStringLiteral("-P")
                  << QStringLiteral("%1-%2").arg(choices.fromPage).arg(choices.toPage);
    if (choices.grey)
        arguments << QStringLiteral("-o") << QStringLiteral("print-color-mode=monochrome");
    // The PDF is already laid out on the paper with its margins: the queue must not fit it again.
    arguments << QStringLiteral("-o") << QStringLiteral("fit-to-page=false") << QStringLiteral("--")
              << file;
    return arguments;
}

QPageLayout printLayout(const QPrinter &printer, const themes::Appearance &appearance)
{
    QPageLayout layout = printInfo(appearance);
    const QPageLayout chosen = printer.pageLayout();
    if (chosen.pageSize().isValid())
        layout.setPageSize(chosen.pageSize());
    layout.setOrientation(chosen.orientation());
    return layout;
}

void printPage(QWebEngineView *view, QPrinter *printer, const themes::Appearance &appearance,
               const QString &title, std::function<void(const core::Result<void> &)> completion)
{
    if (!view || !view->page() || !printer) {
        completion(printFailed());
        return;
    }
    const bool toFile = printer->outputFormat() == QPrinter::PdfFormat
                        && !printer->outputFileName().isEmpty();
    const QString lp = toFile ? QString() : QStandardPaths::findExecutable(QStringLiteral("lp"));
    if (!toFile && (lp.isEmpty() || printer->printerName().isEmpty())) {
        // No CUPS client to hand a PDF to: the engine draws the page on the printer itself.
        auto *ran = new PrintCompletion([completion](bool success) {
            completion(success ? core::Result<void>::success() : printFailed());
        });
        QObject::connect(view, &QWebEngineView::printFinished, ran,
                         &PrintCompletion::printOperationDidRun, Qt::SingleShotConnection);
        view->print(printer);
        return;
    }
    // Everything the printer says is read now: the dialog that holds it may be gone by the time
    // the page answers.
    const QString file = toFile ? printer->outputFileName()
                                : QDir(QDir::tempPath())
                                      .filePath(QStringLiteral("quorvel-print-")
                                                + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                + QStringLiteral(".pdf"));
    const QStringList arguments = toFile ? QStringList() : lpArguments(PrintChoices::of(*printer), title, file);
    view->page()->printToPdf(
        [toFile, file, lp, arguments, completion = std::move(completion)](const QByteArray &pdf) {
            if (pdf.isEmpty()) {
                completion(printFailed());
                return;
            }
            if (toFile)
                completion(core::FileWriter::write(file, pdf));
            else
                sendToQueue(lp, arguments, file, pdf, completion);
        },
        printLayout(*printer, appearance));
}

} // namespace quorvel::exporter
