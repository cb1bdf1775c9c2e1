#pragma once

#include "documentfile.h"
#include "documentmodel.h"
#include "documenttext.h"
#include "result.h"

#include <QObject>

#include <chrono>
#include <memory>

namespace quorvel::core {

// One open document: its text, the file it is saved to, the autosave, and the state of the
// window that shows it. Every edit, whichever view made it, marks the file edited and starts the
// autosave a second after the last; an edit read from disk does neither. A window is handed a
// session; tests build one the same way.
class DocumentSession : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kAutosaveDelay{1000};

    // `filePath` is empty for an untitled document.
    DocumentSession(std::unique_ptr<DocumentText> text, const QString &filePath,
                    ModelEnvironment environment = ModelEnvironment::standard(),
                    QObject *parent = nullptr);
    ~DocumentSession() override;

    // The file at `path`, read; the reason it cannot be opened otherwise.
    static Result<std::unique_ptr<DocumentSession>>
    open(const QString &path, ModelEnvironment environment = ModelEnvironment::standard());
    static std::unique_ptr<DocumentSession>
    untitled(ModelEnvironment environment = ModelEnvironment::standard());

    DocumentText &text() const { return *m_text; }
    DocumentFile &file() const { return *m_file; }
    DocumentModel &model() const { return *m_model; }

    // Saves a second from now, unless another edit comes first.
    void scheduleAutosave();
    void autosaveNow();

private:
    void edited(const TextEdit &edit, EditOrigin origin);

    std::unique_ptr<DocumentText> m_text;
    std::unique_ptr<DocumentFile> m_file;
    std::unique_ptr<DocumentModel> m_model;
    Scheduler &m_scheduler;
    ScheduledWork m_autosave;
};

} // namespace quorvel::core
