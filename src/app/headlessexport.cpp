#include "headlessexport.h"

#include "core/debuglog.h"
#include "core/filereader.h"
#include "core/filewriter.h"
#include "export/printing.h"
#include "preview/pageprotocol.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"
#include "themes/appearance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWidget>

#include <cstdio>

namespace quorvel::app {

using namespace Qt::StringLiterals;

namespace {

// The time-out may be shortened (tests, scripts that would rather fail fast); never lengthened
// past reason by a typo: anything unreadable keeps the default.
std::chrono::milliseconds timeout()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("QUORVEL_EXPORT_TIMEOUT").toDouble(&ok);
    if (ok && seconds > 0 && seconds <= 3600)
        return std::chrono::milliseconds(qint64(seconds * 1000));
    return HeadlessExport::kTimeout;
}

core::Result<QString> readUtf8(const QString &path)
{
    const core::Result<QByteArray> bytes =
        core::FileReader::read(path, HeadlessExport::kInputLimit);
    if (!bytes)
        return core::Result<QString>::failure(bytes.error());
    // The byte-order mark stays in the text: the page keeps it for Markdown output.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder(bytes.value());
    if (decoder.hasError())
        return core::Result<QString>::failure(QStringLiteral("not UTF-8 text"));
    return text;
}

} // namespace

HeadlessExport::HeadlessExport(QString format, QString input, QString output, QObject *parent)
    : QObject(parent)
    , m_format(std::move(format))
    , m_input(QFileInfo(input).absoluteFilePath())
    , m_output(QFileInfo(output).absoluteFilePath())
{
}

HeadlessExport::~HeadlessExport()
{
    // The page's view lives in the window; the model's preview controller must go first.
    m_model.reset();
}

bool HeadlessExport::knownFormat(const QString &format)
{
    return format == u"html" || format == u"md" || format == u"pdf";
}

void HeadlessExport::run()
{
    const core::Result<QString> text = readUtf8(m_input);
    if (!text)
        return finish(1,
                      QStringLiteral("Quorvel: cannot read %1: %2\n").arg(m_input, text.error()));
    // Everything that can be known before the page starts is checked now: a wrong format or a
    // missing folder must not wait for a render, nor turn into a time-out.
    if (!knownFormat(m_format))
        return finish(1, QStringLiteral("Quorvel: unknown format %1 (pdf|html|md)\n").arg(m_format));
    if (const auto refusal = core::FileWriter::refusal(m_output, m_input))
        return finish(1, QStringLiteral("Quorvel: cannot write %1: %2\n").arg(m_output, *refusal));
    m_text = text.value();

    m_model = std::make_unique<core::DocumentModel>();
    m_model->setFileUrl(QUrl::fromLocalFile(m_input));
    m_model->text().replaceAll(m_text, core::EditOrigin::Program);

    auto *controller = preview::PreviewController::of(*m_model);
    if (!controller)
        return finish(2);
    // The page is laid out on the paper's portrait size, whatever the orientation, and never
    // shown: a command on a desktop must not flash a window.
    const QSizeF paper =
        exporter::paperSizePoints(m_model->environment().appearance.paperSize());
    m_window = std::make_unique<QWidget>();
    m_window->setAttribute(Qt::WA_DontShowOnScreen);
    m_window->resize(qRound(paper.width()), qRound(paper.height()));
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controller->webView());
    // Only paper needs the page laid out; the text formats are taken from the document as it
    // is built, and a page that is never shown is never laid out or painted.
    if (m_format == u"pdf")
        m_window->show();

    // The time-out is for a page that does not finish drawing. Once it has, writing a large
    // document may take longer than that (a 5 MB PDF does); it is bounded apart, and a write
    // that never ends is a failed write.
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        finish(3, QStringLiteral("Quorvel: timed out, rendering did not finish\n"));
    });
    m_deadline.start(timeout());
    controller->onRendered = [this, controller] {
        // Emptying the handler destroys this closure: nothing of it is read after that.
        auto *const self = this;
        auto *const page = controller;
        page->onRendered = nullptr;
        self->afterRender(page);
    };
    controller->update(true);
    // Nobody types into an export, whatever view the last window was in.
    controller->setEditable(false);
}

void HeadlessExport::afterRender(preview::PreviewController *controller)
{
    // Not a fixed pause: diagrams, late highlighting and images are waited for, so that
    // nothing half drawn is written and a small note is not held up.
    controller->whenDrawn(
        [this] {
            core::startupMark("drawn");
            m_deadline.disconnect(this);
            connect(&m_deadline, &QTimer::timeout, this, [this] { finish(2); });
            m_deadline.start(kWriteTimeout);
            exportAs(m_format);
        },
        true, m_format == u"pdf");
}

void HeadlessExport::exportAs(const QString &format)
{
    auto *controller = preview::PreviewController::of(*m_model);
    if (format == u"html") {
        controller->exportHTML(m_model->displayName(), m_output,
                               [this](const std::optional<QString> &html) { writeOutput(html); });
    } else if (format == u"md") {
        controller->setEditable(true);
        controller->webView()->page()->runJavaScript(
            preview::pagecommand::serialize(), [this](const QVariant &result) {
                if (result.typeId() != QMetaType::QString)
                    return writeOutput(std::nullopt);
                writeOutput(result.toString());
            });
    } else {
        exporter::writePDF(controller->webView(), m_output, m_model->environment().appearance,
                           [this](const core::Result<void> &written) {
                               if (!written)
                                   return finish(2, u"Quorvel: "_s + written.error() + u'\n');
                               finish(0);
                           });
    }
}

void HeadlessExport::writeOutput(const std::optional<QString> &text)
{
    core::startupMark("exported");
    if (!text)
        return finish(2);
    // Whole or not at all: a short write (a full disk) fails and leaves the earlier file as it was.
    if (const auto written = core::FileWriter::write(m_output, text->toUtf8()); !written)
        return finish(2, u"Quorvel: "_s + written.error() + u'\n');
    finish(0);
}

void HeadlessExport::finish(int status, const QString &message)
{
    // The first ending decides: a late render after the time-out changes nothing.
    if (std::exchange(m_done, true))
        return;
    core::startupMark("finished");
    if (!message.isEmpty()) {
        const QByteArray bytes = message.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    Q_EMIT finished(status);
}

} // namespace quorvel::app
