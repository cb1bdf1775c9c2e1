#include "platformdocument.h"

#include "filewriter.h"
#include "markdowndocument.h"

#include <QFileInfo>

#include <cstdio>

namespace quorvel::core {

namespace {

// The date of the file at `path`; nothing when there is no regular file there.
std::optional<QDateTime> modificationDate(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return info.lastModified();
}

} // namespace

PlatformDocument::PlatformDocument(std::unique_ptr<MarkdownDocument> content,
                                   const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_content(std::move(content))
    , m_filePath(filePath)
    , m_fileModificationDate(filePath.isEmpty() ? std::nullopt : modificationDate(filePath))
{
    Q_ASSERT(m_content);
}

PlatformDocument::~PlatformDocument() = default;

void PlatformDocument::updateChangeCount(Change change)
{
    switch (change) {
    case Change::Done:
        setChangeCount(m_changeCount + 1);
        break;
    case Change::Undone:
        setChangeCount(m_changeCount - 1);
        break;
    case Change::Cleared:
        setChangeCount(0);
        break;
    }
}

void PlatformDocument::setChangeCount(int count)
{
    const bool wasEdited = isDocumentEdited();
    m_changeCount = count;
    if (wasEdited != isDocumentEdited())
        Q_EMIT editedChanged(isDocumentEdited());
}

void PlatformDocument::setFileModificationDate(const QDateTime &date)
{
    m_fileModificationDate = date;
}

bool PlatformDocument::saveDocument()
{
    if (!isUntitled())
        return saveTo(m_filePath);
    if (!m_prompter)
        return false;
    const auto path = m_prompter->askSavePath(*this);
    if (!path || path->isEmpty())
        return false;
    if (!saveTo(*path))
        return false;
    m_filePath = QFileInfo(*path).absoluteFilePath();
    Q_EMIT filePathChanged(m_filePath);
    return true;
}

bool PlatformDocument::saveTo(const QString &path)
{
    const bool sameFile = path == m_filePath;
    if (sameFile && m_fileModificationDate) {
        const auto onDisk = modificationDate(path);
        if (onDisk && *onDisk > *m_fileModificationDate && m_prompter
            && !m_prompter->confirmOverwriteNewerFile(*this))
            return false;
    }

    const auto written = FileWriter::write(path, m_content->fileData());
    if (!written) {
        std::fprintf(stderr, "Quorvel: %s\n", qPrintable(written.error()));
        if (!m_failureReported && m_prompter)
            m_prompter->reportSaveError(*this, written.error());
        m_failureReported = true;
        Q_EMIT saveFailed(written.error());
        return false;
    }
    m_failureReported = false;
    m_fileModificationDate = modificationDate(path);
    setChangeCount(0);
    Q_EMIT saved();
    return true;
}

} // namespace quorvel::core
