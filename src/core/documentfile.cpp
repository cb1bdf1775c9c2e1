#include "documentfile.h"

#include "filewriter.h"
#include "documenttext.h"

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

DocumentFile::DocumentFile(DocumentText &text, const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_text(text)
    , m_filePath(filePath)
    , m_fileModificationDate(filePath.isEmpty() ? std::nullopt : modificationDate(filePath))
{
}

DocumentFile::~DocumentFile() = default;

void DocumentFile::updateChangeCount(Change change)
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

void DocumentFile::setChangeCount(int count)
{
    const bool wasEdited = isDocumentEdited();
    m_changeCount = count;
    if (wasEdited != isDocumentEdited())
        Q_EMIT editedChanged(isDocumentEdited());
}

void DocumentFile::setFileModificationDate(const QDateTime &date)
{
    m_fileModificationDate = date;
}

void DocumentFile::setFilePath(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == m_filePath)
        return;
    m_filePath = absolute;
    Q_EMIT filePathChanged(m_filePath);
}

bool DocumentFile::saveDocument(SaveKind kind, const DiskAttributes *lastSeen)
{
    if (!isUntitled())
        return saveTo(m_filePath, kind, lastSeen);
    if (!m_prompter)
        return false;
    const auto path = m_prompter->askSavePath(*this);
    if (!path || path->isEmpty())
        return false;
    if (!saveTo(*path, kind))
        return false;
    m_filePath = QFileInfo(*path).absoluteFilePath();
    Q_EMIT filePathChanged(m_filePath);
    return true;
}

bool DocumentFile::mayOverwrite(const QString &path, SaveKind kind)
{
    if (path != m_filePath || !m_fileModificationDate)
        return true;
    const auto onDisk = modificationDate(path);
    if (!onDisk || *onDisk <= *m_fileModificationDate || !m_prompter)
        return true;
    // Asked once for this version of the file; autosaves do not ask again at every keystroke.
    if (kind == SaveKind::Autosave && m_keptNewerFile == onDisk)
        return false;
    if (m_prompter->confirmOverwriteNewerFile(*this))
        return true;
    m_keptNewerFile = onDisk;
    return false;
}

std::optional<QByteArray> DocumentFile::fileData(SaveKind kind)
{
    if (auto data = m_text.fileData())
        return data;
    // Never a silent replacement of what the encoding cannot hold: converting rewrites every
    // character beyond ASCII, so the user decides.
    if (!m_prompter) {
        fail(QStringLiteral("The document \u201C%1\u201D was not saved: its text has characters "
                            "that %2 cannot hold.")
                 .arg(QFileInfo(m_filePath).fileName(), m_text.encoding().name()),
             false);
        return std::nullopt;
    }
    if (kind == SaveKind::Autosave && m_conversionDeclined)
        return std::nullopt;
    m_conversionDeclined = !m_prompter->confirmConvertToUtf8(*this);
    if (m_conversionDeclined)
        return std::nullopt;
    m_text.setEncoding(TextEncoding::Kind::Utf8);
    return m_text.fileData();
}

bool DocumentFile::saveTo(const QString &path, SaveKind kind, const DiskAttributes *lastSeen)
{
    if (!mayOverwrite(path, kind))
        return false;
    const auto data = fileData(kind);
    if (!data)
        return false;
    const Result<bool> written = lastSeen ? FileWriter::writeOver(path, *data, *lastSeen) : [&] {
        const auto plain = FileWriter::write(path, *data);
        return plain ? Result<bool>(true) : Result<bool>::failure(plain.error());
    }();
    if (!written) {
        fail(written.error(), true);
        return false;
    }
    if (!written.value())
        return false;
    m_failureReported = false;
    m_keptNewerFile.reset();
    m_fileModificationDate = modificationDate(path);
    setChangeCount(0);
    Q_EMIT saved();
    return true;
}

void DocumentFile::fail(const QString &message, bool alert)
{
    std::fprintf(stderr, "Quorvel: %s\n", qPrintable(message));
    if (alert && !m_failureReported && m_prompter)
        m_prompter->reportSaveError(*this, message);
    m_failureReported = m_failureReported || alert;
    Q_EMIT saveFailed(message);
}

} // namespace quorvel::core
