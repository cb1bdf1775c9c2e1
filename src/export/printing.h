#pragma once

#include "core/result.h"
#include "themes/papersize.h"

#include <QList>
#include <QObject>
#include <QPageLayout>
#include <QPrinter>
#include <QSizeF>
#include <QString>

#include <functional>

class QWebEngineView;

namespace quorvel::themes {
class Appearance;
}

namespace quorvel::exporter {

// Portrait paper sizes in points (1/72 inch).
QSizeF paperSizePoints(themes::PaperSize size);
// One margin for all four sides, from millimetres to points.
double marginPoints(double marginMM);

// The page set-up of the settings as a page layout: paper in portrait order, then the
// orientation, the same margin on every side, in points. The margin is taken as it is, never
// clamped. The page is scaled to the printable width by the engine (fit to width) and flows over
// as many sheets as it needs.
QPageLayout printInfo(const themes::Appearance &appearance);

// Keeps the completion of one asynchronous print alive until the engine reports, and calls it
// exactly once.
class PrintCompletion : public QObject
{
    Q_OBJECT

public:
    explicit PrintCompletion(std::function<void(bool)> completion);
    PrintCompletion() = delete;

    // Calls the completion with `success`, then drops this object from `live()`.
    void printOperationDidRun(bool success);

    // Every completion whose operation has not reported yet.
    static const QList<PrintCompletion *> &live();

private:
    std::function<void(bool)> m_completion;
};

// Writes the page of `view` to a PDF file at `path` with the page set-up of `appearance`, without
// any panel, as core::FileWriter writes: whole or not at all. The completion says why it failed.
void writePDF(QWebEngineView *view, const QString &path, const themes::Appearance &appearance,
              std::function<void(const core::Result<void> &)> completion);

// The layout a printout is made with: the paper and orientation chosen for `printer` (the print
// dialog starts from the settings'), the settings' margin on every side.
QPageLayout printLayout(const QPrinter &printer, const themes::Appearance &appearance);

// What was chosen in the print dialog, as a CUPS queue is told it.
struct PrintChoices
{
    QString queue;
    int copies = 1;
    bool collate = false;
    QPrinter::DuplexMode duplex = QPrinter::DuplexAuto;
    int fromPage = 0; // 0: every page
    int toPage = 0;
    bool grey = false;

    static PrintChoices of(const QPrinter &printer);
};
// The command line of lp that prints `file` on the queue with those choices, the PDF as it is
// laid out.
QStringList lpArguments(const PrintChoices &choices, const QString &title, const QString &file);

// Prints the page of `view` as the PDF export makes it, vector text and all, never as a picture
// of the page: the same PDF is written as the file when `printer` prints to a file, and goes to
// the CUPS queue as it is otherwise. Only where there is no CUPS client does the engine print
// the page itself. The completion says why it failed. `printer` must outlive the completion.
void printPage(QWebEngineView *view, QPrinter *printer, const themes::Appearance &appearance,
               const QString &title, std::function<void(const core::Result<void> &)> completion);

} // namespace quorvel::exporter
