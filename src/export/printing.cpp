#include "printing.h"

#include <sys/stat.h>

#include "themes/appearance.h"

#include <QFile>
#include <QFileInfo>
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

namespace {

QFileDevice::Permissions filePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = 0666 & ~mask;
    QFileDevice::Permissions permissions;
    const std::pair<mode_t, QFileDevice::Permission> bits[] = {
        {S_IRUSR, QFileDevice::ReadOwner},  {S_IWUSR, QFileDevice::WriteOwner},
        {S_IRGRP, QFileDevice::ReadGroup},  {S_IWGRP, QFileDevice::WriteGroup},
        {S_IROTH, QFileDevice::ReadOther},  {S_IWOTH, QFileDevice::WriteOther}};
    for (const auto &[bit, permission] : bits)
        if (mode & bit)
            permissions |= permission;
    return permissions;
}

} // namespace

void writePDF(QWebEngineView *view, const QString &path, const themes::Appearance &appearance,
              std::function<void(bool)> completion)
{
    if (!view || !view->page()) {
        completion(false);
        return;
    }
    auto *done = new PrintCompletion([path, completion = std::move(completion)](bool success) {
        const bool written = success && QFileInfo(path).isFile();
        // The engine writes the file readable by its owner alone; an exported document is
        // shared like any file the user makes, as the user's umask says.
        if (written)
            QFile::setPermissions(path, filePermissions());
        completion(written);
    });
    QWebEnginePage *page = view->page();
    QObject::connect(page, &QWebEnginePage::pdfPrintingFinished, done,
                     [done, path](const QString &written, bool success) {
                         if (written == path)
                             done->printOperationDidRun(success);
                     });
    page->printToPdf(path, printInfo(appearance));
}

} // namespace quorvel::exporter
