#include "exporter.h"

#include "core/documentmodel.h"
#include "core/filereader.h"
#include "core/filewriter.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"
#include "preview/externallinks.h"
#include "printing.h"
#include "vault/notelinks.h"
#include "vault/vaultindex.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStringDecoder>
#include <QUuid>

#include <memory>

namespace quorvel::exporter {

using core::DocumentModel;
using preview::PreviewController;
using namespace Qt::StringLiterals;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("quorvel::exporter", text);
}

QString exportFailed()
{
    return tr("Export failed");
}

QWidget *windowOf(DocumentModel &model, QWidget *view = nullptr)
{
    if (auto *window = qobject_cast<QWidget *>(model.window()))
        return window;
    return view ? view->window() : nullptr;
}

QWebEngineView *webViewOf(DocumentModel &model)
{
    PreviewController *controller = PreviewController::of(model);
    return controller ? controller->webView() : nullptr;
}

void alert(QWidget *parent, const QString &message, const QString &informativeText)
{
    if (Hooks::alert) {
        Hooks::alert(message, informativeText);
        return;
    }
    // Shown without a nested event loop: alerts come from callbacks, often deep in the engine's.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::Ok,
                                parent);
    box->setInformativeText(informativeText);
    box->setDefaultButton(QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void reveal(const QString &path)
{
    if (Hooks::reveal)
        Hooks::reveal(path);
    else
        preview::revealInFileManager(path);
}

void askSavePath(QWidget *parent, const QString &suggestedPath, const QString &filter,
                 Hooks::SaveDone done)
{
    if (Hooks::askSavePath) {
        Hooks::askSavePath(parent, suggestedPath, filter, std::move(done));
        return;
    }
    auto *dialog = new QFileDialog(parent, tr("Export"), suggestedPath, filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QFileInfo(suggestedPath).suffix());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Accepting emits both fileSelected and accepted; whichever answer comes first is the one.
    auto pending = std::make_shared<Hooks::SaveDone>(std::move(done));
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [pending](const QString &path) {
        if (auto answer = std::exchange(*pending, nullptr))
            answer(path);
    });
    QObject::connect(dialog, &QDialog::rejected, dialog, [pending] {
        if (auto answer = std::exchange(*pending, nullptr))
            answer(QString());
    });
    dialog->open();
}

// The document's name with the export's suffix, in the document's folder when it has one.
QString suggestedPath(const DocumentModel &model, const QString &suffix)
{
    QString folder = model.docDirUrl().toLocalFile();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(folder).filePath(model.displayName() + u'.' + suffix);
}

// A note on the window's status bar while an export runs, so that a slow one is seen working.
class Busy
{
public:
    Busy(QWidget *window, const QString &text)
        : m_window(qobject_cast<QMainWindow *>(window))
        , m_text(text)
    {
        if (m_window)
            m_window->statusBar()->showMessage(m_text);
    }
    ~Busy() { done(); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

    void done()
    {
        // Only our own note: something else may have been shown since.
        if (m_window && m_window->statusBar()->currentMessage() == m_text)
            m_window->statusBar()->clearMessage();
        m_window = nullptr;
    }

private:
    QPointer<QMainWindow> m_window;
    QString m_text;
};

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

struct InstallHint
{
    QString tool;
    QString command; // empty where we know no one-line install
};

InstallHint pandocInstallHint()
{
#ifdef Q_OS_MACOS
    return {QStringLiteral("Homebrew"), QStringLiteral("brew install pandoc")};
#else
    const struct
    {
        const char *marker, *tool, *command;
    } systems[] = {
        {"/etc/debian_version", "apt", "sudo apt install pandoc"},
        {"/etc/fedora-release", "dnf", "sudo dnf install pandoc"},
        {"/etc/arch-release", "pacman", "sudo pacman -S pandoc"},
    };
    for (const auto &system : systems) {
        if (QFileInfo::exists(QString::fromLatin1(system.marker)))
            return {QString::fromLatin1(system.tool), QString::fromLatin1(system.command)};
    }
    return {};
#endif
}

void showPandocMissing(QWidget *parent)
{
    const QString message = tr("Word export requires pandoc");
    const InstallHint hint = pandocInstallHint();
    const QString info = hint.command.isEmpty()
        ? tr("Install it with your system's package manager or from "
             "https://pandoc.org/installing.html, then export again.")
        : tr("Install it once with %1:\n\n%2\n\nthen export again.").arg(hint.tool, hint.command);
    if (Hooks::alert || hint.command.isEmpty()) {
        alert(parent, message, info);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::NoButton,
                                parent);
    box->setInformativeText(info);
    QPushButton *copy = box->addButton(tr("Copy Command"), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Close);
    box->setDefaultButton(copy);
    QObject::connect(copy, &QAbstractButton::clicked, box, [command = hint.command] {
        QGuiApplication::clipboard()->setText(command);
    });
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

// pandoc's complaints are UTF-8; anything else is not worth showing garbled.
QString decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text.trimmed();
}

QString scratchPath(const QString &suffix)
{
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("quorvel-") + QUuid::createUuid().toString(QUuid::WithoutBraces)
                  + suffix);
}

struct Ended
{
    bool ok = false;      // started, ended on its own, status 0
    QByteArray output;    // its standard output
    QString errors;       // what it said on standard error, or why it did not start
};

// Runs `program` once, outside the window's way; `done` is called exactly once on the main thread.
void runProcess(const QString &program, const QStringList &arguments,
                std::function<void(const Ended &)> done)
{
    // Owned by the application, not the window: closing the window must not orphan the scratch
    // copies halfway.
    auto *process = new QProcess(qApp);
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    auto errors = std::make_shared<QByteArray>();
    auto output = std::make_shared<QByteArray>();
    // Drained as it comes: a converter with a lot to say must not stall on a full pipe.
    QObject::connect(process, &QProcess::readyReadStandardError, process,
                     [process, errors] { errors->append(process->readAllStandardError()); });
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [process, output] { output->append(process->readAllStandardOutput()); });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         // Every other error is followed by finished().
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         done({false, {}, process->errorString()});
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, errors, output, done](int code, QProcess::ExitStatus status) {
                         errors->append(process->readAllStandardError());
                         output->append(process->readAllStandardOutput());
                         process->deleteLater();
                         const bool ok = status == QProcess::NormalExit && code == 0;
                         done({ok, *output, tr("pandoc failed:\n") + decodeUtf8(*errors)});
                     });
    process->start();
}

// The file an image address names, as pandoc reads it: relative to `folder`, percent escapes
// decoded; an empty string for one it cannot place (a relative address without a folder); none
// for an address on the web, which is no file of the user's.
std::optional<QString> localImage(const QString &address, const QString &folder)
{
    const QUrl url(address);
    if (url.scheme().size() > 1) {
        if (url.isLocalFile())
            return QDir::cleanPath(url.toLocalFile());
        if (url.scheme() == u"data")
            return std::nullopt;
        return url.scheme() == u"http" || url.scheme() == u"https" ? std::nullopt
                                                                    : std::optional(QString());
    }
    const QString path = QUrl::fromPercentEncoding(address.section(u'?', 0, 0).toUtf8());
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    if (folder.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(folder).filePath(path));
}

// pandoc's document tree with every image that may not go into the file replaced by its
// description. pandoc would read any path the text names (`/etc/hostname`, `../../.ssh/key`)
// and copy its bytes into the Word file; the tree says exactly which paths it would read,
// where a scan of the Markdown would miss what pandoc's parser finds.
QJsonValue withCheckedImages(const QJsonValue &node, const QString &folder,
                             const QStringList &folders, QStringList &left)
{
    if (node.isArray()) {
        QJsonArray items;
        for (const QJsonValue &item : node.toArray())
            items.append(withCheckedImages(item, folder, folders, left));
        return items;
    }
    if (!node.isObject())
        return node;
    QJsonObject object = node.toObject();
    if (object.value(u"t").toString() == u"Image") {
        // [attributes, description, [address, title]]
        const QJsonArray content = object.value(u"c").toArray();
        const QString address = content.at(2).toArray().at(0).toString();
        const std::optional<QString> path = localImage(address, folder);
        if (!path)
            return object; // a web address: not the user's files
        if (!path->isEmpty() && core::FileReader::embeddableImage(*path, folders)) {
            QJsonArray target = content.at(2).toArray();
            target.replace(0, *path);
            QJsonArray checked = content;
            checked.replace(2, target);
            object.insert(u"c", checked);
            return object;
        }
        left << address;
        return QJsonObject{{u"t"_s, u"Span"_s},
                           {u"c"_s, QJsonArray{content.at(0),
                                               withCheckedImages(content.at(1), folder, folders,
                                                                 left)}}};
    }
    for (auto it = object.begin(); it != object.end(); ++it)
        it.value() = withCheckedImages(it.value(), folder, folders, left);
    return object;
}

void convertToWord(const QString &pandoc, const QString &folder, const QStringList &folders,
                   const QString &output, const QByteArray &tree, QPointer<QWidget> window,
                   std::shared_ptr<Busy> busy)
{
    QStringList left;
    const QJsonDocument parsed = QJsonDocument::fromJson(tree);
    if (!parsed.isObject()) {
        busy->done();
        alert(window, exportFailed(), tr("pandoc failed:\n"));
        return;
    }
    const QJsonValue checked = withCheckedImages(parsed.object(), folder, folders, left);
    const QString source = scratchPath(QStringLiteral(".json"));
    if (const auto written = core::FileWriter::write(
            source, QJsonDocument(checked.toObject()).toJson(QJsonDocument::Compact));
        !written) {
        busy->done();
        alert(window, exportFailed(), written.error());
        return;
    }
    QStringList arguments;
    // Relative image paths are the document's; an untitled one has none to resolve.
    if (!folder.isEmpty())
        arguments << QStringLiteral("--resource-path") << folder;
    arguments << QStringLiteral("--from") << QStringLiteral("json") << QStringLiteral("--to")
              << QStringLiteral("docx") << QStringLiteral("-o") << QStringLiteral("-") << source;
    // The Word file comes back on pandoc's output and is written like a save: a half-written
    // file never stands where an earlier export was.
    runProcess(pandoc, arguments, [source, output, window, busy, left](const Ended &ended) {
        QFile::remove(source);
        busy->done();
        if (!ended.ok) {
            alert(window, exportFailed(), ended.errors);
            return;
        }
        if (const auto written = core::FileWriter::write(output, ended.output); !written) {
            alert(window, exportFailed(), written.error());
            return;
        }
        reveal(output);
        if (!left.isEmpty())
            alert(window, tr("Some images were left out"),
                  tr("Only images inside the note\u2019s folder or vault go into a Word file:\n\n")
                      + left.join(u'\n'));
    });
}

void runPandoc(const QString &pandoc, const QString &text, const QString &folder,
               const QStringList &folders, const QString &output, QPointer<QWidget> window)
{
    // pandoc reads a file, not the unsaved text of the window: a scratch copy of it.
    const QString source = scratchPath(QStringLiteral(".md"));
    if (const auto written = core::FileWriter::write(source, text.toUtf8()); !written) {
        alert(window, exportFailed(), written.error());
        return;
    }
    auto busy = std::make_shared<Busy>(window, tr("Exporting Word document\u2026"));
    // First the document's tree, so that the images it names are checked before pandoc reads
    // any of them; then the Word file from the checked tree.
    const QStringList arguments{QStringLiteral("--from"),
                                QStringLiteral("gfm+tex_math_dollars+footnotes"),
                                QStringLiteral("--to"), QStringLiteral("json"), source};
    runProcess(pandoc, arguments,
               [pandoc, source, folder, folders, output, window, busy](const Ended &ended) {
                   QFile::remove(source);
                   if (!ended.ok) {
                       busy->done();
                       alert(window, exportFailed(), ended.errors);
                       return;
                   }
                   convertToWord(pandoc, folder, folders, output, ended.output, window, busy);
               });
}

} // namespace

std::optional<QString> findPandoc(const QStringList &searchPath, const QStringList &fallbacks)
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("pandoc"), searchPath);
    if (!onPath.isEmpty())
        return onPath;
    // A program started from the desktop often has a short PATH without these.
    for (const QString &candidate : fallbacks) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<QString> pandocPath()
{
    if (qEnvironmentVariableIsSet("QUORVEL_PANDOC")) {
        const QString only = qEnvironmentVariable("QUORVEL_PANDOC");
        return isExecutableFile(only) ? std::optional(only) : std::nullopt;
    }
    return findPandoc({}, {QStringLiteral("/opt/homebrew/bin/pandoc"),
                           QStringLiteral("/usr/local/bin/pandoc"),
                           QStringLiteral("/usr/bin/pandoc")});
}

void exportPDF(DocumentModel &model)
{
    QPointer<QWebEngineView> view = webViewOf(model);
    QPointer<QWidget> window = windowOf(model, view);
    if (!view || !window) {
        alert(window, exportFailed(), tr("PDF export failed."));
        return;
    }
    themes::Appearance *appearance = &model.environment().appearance;
    askSavePath(window, suggestedPath(model, QStringLiteral("pdf")), tr("PDF (*.pdf)"),
                [view, window, appearance](const QString &path) {
                    if (path.isEmpty())
                        return;
                    auto busy = std::make_shared<Busy>(window, tr("Exporting PDF\u2026"));
                    writePDF(view, path, *appearance,
                             [path, window, busy](const core::Result<void> &written) {
                                 busy->done();
                                 if (written)
                                     reveal(path);
                                 else
                                     alert(window, exportFailed(), written.error());
                             });
                });
}

void exportHTML(DocumentModel &model)
{
    QPointer<QWidget> window = windowOf(model, webViewOf(model));
    if (!PreviewController::of(model)) {
        alert(window, exportFailed(), tr("HTML export failed."));
        return;
    }
    askSavePath(
        window, suggestedPath(model, QStringLiteral("html")), tr("HTML (*.html *.htm)"),
        [weak = QPointer(&model), window](const QString &path) {
            if (path.isEmpty() || !weak)
                return;
            PreviewController *controller = PreviewController::of(*weak);
            if (!controller) {
                alert(window, exportFailed(), tr("HTML export failed."));
                return;
            }
            auto busy = std::make_shared<Busy>(window, tr("Exporting HTML\u2026"));
            controller->exportHTML(
                weak->displayName(), path,
                [path, window, busy](const std::optional<QString> &html) {
                    busy->done();
                    if (!html) {
                        alert(window, exportFailed(), tr("HTML export failed."));
                        return;
                    }
                    if (const auto written = core::FileWriter::write(path, html->toUtf8());
                        !written) {
                        alert(window, exportFailed(), written.error());
                        return;
                    }
                    reveal(path);
                });
        });
}

void exportDOCX(DocumentModel &model)
{
    QPointer<QWidget> window = windowOf(model, webViewOf(model));
    const std::optional<QString> pandoc = pandocPath();
    if (!pandoc) {
        showPandocMissing(window);
        return;
    }
    // pandoc converts the text, not the page: an edit the page holds back is asked for now and
    // is in the text by the time a path is chosen.
    if (model.mode() == DocumentModel::Mode::Visual)
        model.preview().flushEdits();
    const QString folder = model.docDirUrl().isEmpty()
        ? QString()
        : QDir::cleanPath(model.docDirUrl().toLocalFile());
    QStringList folders;
    if (!folder.isEmpty()) {
        folders << folder;
        if (const auto root = vault::VaultIndex::vaultRoot(model.filePath()))
            folders << *root;
    }
    askSavePath(window, suggestedPath(model, QStringLiteral("docx")), tr("Word (*.docx)"),
                [weak = QPointer(&model), window, pandoc = *pandoc, folder,
                 folders](const QString &path) {
                    if (path.isEmpty() || !weak)
                        return;
                    // pandoc reads no wikilinks: they go to it as the links they are.
                    runPandoc(pandoc, vault::wikilinksAsLinks(weak->text().text(), weak->filePath()),
                              folder, folders, path, window);
                });
}

void printDocument(DocumentModel &model)
{
    QPointer<QWebEngineView> view = webViewOf(model);
    QPointer<QWidget> window = windowOf(model, view);
    if (!view || !window) {
        alert(window, tr("Print failed"), tr("There is no page to print."));
        return;
    }
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setPageLayout(printInfo(model.environment().appearance));
    printer->setDocName(model.displayName());
    auto *dialog = new QPrintDialog(printer.get(), window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The dialog holds the printer until it goes; the completion holds it until the engine is
    // done with it.
    themes::Appearance *appearance = &model.environment().appearance;
    QObject::connect(dialog, &QDialog::accepted, dialog,
                     [printer, view, window, appearance, title = model.displayName()] {
                         if (!view)
                             return;
                         auto busy = std::make_shared<Busy>(window, tr("Printing\u2026"));
                         printPage(view, printer.get(), *appearance, title,
                                   [printer, busy, window](const core::Result<void> &printed) {
                                       busy->done();
                                       if (!printed)
                                           alert(window, tr("Print failed"), printed.error());
                                   });
                     });
    dialog->open();
}

} // namespace quorvel::exporter
