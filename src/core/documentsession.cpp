#include "documentsession.h"

#include "themes/appearance.h"

#include <QPointer>

namespace quorvel::core {

DocumentSession::DocumentSession(std::unique_ptr<DocumentText> text, const QString &filePath,
                                 ModelEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_text(std::move(text))
    , m_file(std::make_unique<DocumentFile>(*m_text, filePath, environment.scheduler))
    , m_model(std::make_unique<DocumentModel>(environment))
    , m_scheduler(environment.scheduler)
{
    m_model->setDocumentFile(m_file.get());
    m_file->setAutoReload([&appearance = environment.appearance] { return appearance.autoReload(); });
    connect(m_text.get(), &DocumentText::edited, this, &DocumentSession::edited);
    // The file is about to take the disk's text: whatever was waiting to be saved is that text.
    connect(m_file.get(), &DocumentFile::aboutToReload, this, [this] { m_autosave.cancel(); });
    connect(m_file.get(), &DocumentFile::saveWanted, this, &DocumentSession::scheduleAutosave);
    connect(m_file.get(), &DocumentFile::saved, this, [this] { m_autosave.cancel(); });
}

DocumentSession::~DocumentSession()
{
    m_autosave.cancel();
    // The model's views may still reach for the file and the text while they go.
    m_model.reset();
}

void DocumentSession::scheduleAutosave()
{
    m_autosave.cancel();
    m_autosave = m_scheduler.after(kAutosaveDelay, [self = QPointer(this)] {
        if (self)
            self->autosaveNow();
    });
}

void DocumentSession::autosaveNow()
{
    m_file->save(DocumentFile::SaveKind::Autosave);
}

Result<std::unique_ptr<DocumentSession>> DocumentSession::open(const QString &path,
                                                               ModelEnvironment environment)
{
    auto text = DocumentText::open(path);
    if (!text)
        return Result<std::unique_ptr<DocumentSession>>::failure(text.error());
    return std::make_unique<DocumentSession>(std::move(text).value(), path, environment);
}

std::unique_ptr<DocumentSession> DocumentSession::untitled(ModelEnvironment environment)
{
    return std::make_unique<DocumentSession>(std::make_unique<DocumentText>(), QString(),
                                             environment);
}

void DocumentSession::edited(const TextEdit &, EditOrigin origin)
{
    // What was read from disk is what the file holds: nothing to save.
    if (origin == EditOrigin::Disk)
        return;
    m_file->updateChangeCount(DocumentFile::Change::Done);
    scheduleAutosave();
}

} // namespace quorvel::core
