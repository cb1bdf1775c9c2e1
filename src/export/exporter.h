#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::exporter {

// The File menu's exports and print, for the window of `model`. Each returns at once: the save
// dialog, the page's answer and the converter all report back later on the main thread, and the
// window stays usable meanwhile. Cancelling the dialog does nothing at all; any failure is an
// alert over the window; a written file is shown in the file manager.
void exportPDF(core::DocumentModel &model);
void exportHTML(core::DocumentModel &model);
void exportDOCX(core::DocumentModel &model);
void printDocument(core::DocumentModel &model);

// The pandoc program Word export runs: QUORVEL_PANDOC when set (and nothing else then), else
// the first of findPandoc() on PATH and the usual install places.
std::optional<QString> pandocPath();
// "pandoc" on `searchPath` first, then the first of `fallbacks` that is an executable file.
std::optional<QString> findPandoc(const QStringList &searchPath, const QStringList &fallbacks);

// Where the exporter meets the user and the desktop. Unset, they show the real save dialog, a
// message box and the file manager; tests set them, so that nothing modal waits for a click.
struct Hooks
{
    // `done` gets the chosen path, or an empty string when the user cancelled.
    using SaveDone = std::function<void(const QString &chosen)>;
    static inline std::function<void(QWidget *parent, const QString &suggestedPath,
                                     const QString &filter, SaveDone done)>
        askSavePath;
    static inline std::function<void(const QString &message, const QString &informativeText)>
        alert;
    static inline std::function<void(const QString &path)> reveal;
};

} // namespace quorvel::exporter
