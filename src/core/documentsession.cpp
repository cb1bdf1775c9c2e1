#include "documentsession.h"

namespace quorvel::core {

DocumentSession::DocumentSession(std::unique_ptr<DocumentText> text, const QString &filePath,
                                 ModelEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_text(std::move(text))
    , m_file(std::make_unique<DocumentFile>(*m_text, filePath))
    , m_model(std::make_unique<DocumentModel>(environment))
{
    m_model->setDocumentFile(m_file.get());
    if (!m_file->isUntitled())
        m_model->setFileUrl(QUrl::fromLocalFile(m_file->filePath()));
    connect(m_text.get(), &DocumentText::edited, this, &DocumentSession::edited);
    connect(m_file.get(), &DocumentFile::filePathChanged, m_model.get(), [this](const QString &path) {
        m_model->setFileUrl(QUrl::fromLocalFile(path));
        m_model->resolveFileTheme();
    });
}

DocumentSession::~DocumentSession()
{
    // The model's views may still reach for the file and the text while they go.
    m_model.reset();
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
    m_model->scheduleAutosave();
}

} // namespace quorvel::core
