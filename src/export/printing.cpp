#include "printing.h"

#include "core/filewriter.h"
#include "themes/appearance.h"

#include <QCoreApplication>
#include <QMarginsF>
#include <QPageSize>
#include <QPointer>
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
