#include "documentfile.h"

#include "debuglog.h"
#include "documenttext.h"
#include "filewatcher.h"
#include "filewriter.h"

#include <QFileInfo>
#include <QPointer>

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

DocumentFile::DocumentFile(DocumentText &text, const QString &filePath, Scheduler &scheduler,
                           QObject *parent)
    : QObject(parent)
    , m_text(text)
    , m_scheduler(scheduler)
    , m_filePath(filePath.isEmpty() ? QString() : QFileInfo(filePath).absoluteFilePath())
    , m_disk(scheduler)
    , m_knownDate(m_filePath.isEmpty() ? std::nullopt : modificationDate(m_filePath))
{
    startWatching();
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

void DocumentFile::setFilePath(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == m_filePath)
        return;
    m_filePath = absolute;
    startWatching();
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
    setFilePath(*path);
    return true;
}

bool DocumentFile::saveAs(const QString &path)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    if (target == m_filePath) {
        saveNow();
        return !isDocumentEdited();
    }
    // Also when nothing was typed: the copy is what the user asked for.
    if (!saveTo(target, SaveKind::Explicit))
        return false;
    m_lastSavedText.emplace(m_text.text());
    setFilePath(target);
    return true;
}

Result<void> DocumentFile::moveTo(const QString &path)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    if (isUntitled())
        return Result<void>::failure(tr("The document has no file yet: save it first."));
    if (target == m_filePath)
        return Result<void>::success();
    if (const auto moved = FileWriter::move(m_filePath, target); !moved)
        return moved;
    setFilePath(target);
    return Result<void>::success();
}

bool DocumentFile::mayOverwrite(const QString &path, SaveKind kind)
{
    const auto known = m_knownDate;
    if (path != m_filePath || !known)
        return true;
    const auto onDisk = modificationDate(path);
    if (!onDisk || *onDisk <= *known || !m_prompter)
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
        fail(tr("The document \u201C%1\u201D was not saved: its text has characters "
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
    m_knownDate = modificationDate(path);
    if (path == m_filePath)
        m_disk.refresh();
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

// Saving and what other programs do ----------------------------------------------------------

DocumentFile::SavedText::SavedText(const QString &text)
    : size(text.size())
    , hash(qHash(text))
{
}

bool DocumentFile::SavedText::operator==(const QString &text) const
{
    return text.size() == size && qHash(text) == hash;
}

void DocumentFile::save(SaveKind kind)
{
    if (isUntitled() || m_externalContent)
        return;
    // The watcher reports a change only after its burst has settled; a save inside that window
    // would write over another program's text unseen. Look at the disk first.
    if (m_disk.changedSinceLastSeen()) {
        fileChangedOnDisk();
        if (m_externalContent)
            return;
    }
    // Written through, a link another program put there would carry the text into whatever
    // file it names; a FIFO or a device would swallow it.
    if (const auto intruder = m_disk.intruder()) {
        setFileReplacedBy(*intruder);
        return;
    }
    if (!isDocumentEdited() || m_fileMissing)
        return;
    if (!saveDocument(kind, &m_disk.lastSeen()) && m_disk.changedSinceLastSeen()) {
        // Another program wrote the file while this save was under way: it is offered, never
        // written over. What turns out to be our own text is saved over after all.
        fileChangedOnDisk();
        if (m_externalContent || m_fileMissing || !saveDocument(kind, &m_disk.lastSeen()))
            return;
    }
    if (isDocumentEdited())
        return;
    previewLog(QStringLiteral("autosave"));
    m_lastSavedText.emplace(m_text.text());
    m_lastAutosave = m_scheduler.now();
    Q_EMIT lastAutosaveChanged();
}

void DocumentFile::saveNow()
{
    if (isUntitled()) {
        saveDocument();
        return;
    }
    if (m_externalContent) {
        // The user has seen the outside version and chose to write over it.
        setExternalContent(std::nullopt);
        syncModificationDate();
        m_disk.refresh();
    }
    if (m_fileMissing) {
        // The user wants the file back under its old name, also when nothing was typed since.
        setFileMissing(false);
        updateChangeCount(Change::Done);
    }
    if (!m_fileReplacedBy.isEmpty()) {
        // The user has read what stands there and asked for an ordinary file in its place.
        if (!m_disk.removeIntruder())
            return;
        setFileReplacedBy(QString());
        updateChangeCount(Change::Done);
    }
    save(SaveKind::Explicit);
}

void DocumentFile::syncModificationDate()
{
    if (const auto date = m_disk.attributes().date)
        m_knownDate = date;
}

void DocumentFile::startWatching()
{
    setExternalContent(std::nullopt);
    setFileMissing(false);
    m_disk.watch(m_filePath, [self = QPointer(this)] {
        if (self)
            self->fileChangedOnDisk();
    });
}

void DocumentFile::fileChangedOnDisk()
{
    if (isUntitled())
        return;
    const DiskAttributes now = m_disk.attributes();
    if (const auto intruder = m_disk.intruder()) {
        // Not read: reading a FIFO waits, and a link's text is another file's, not a version
        // of this one to offer.
        m_disk.setLastSeen(now);
        setFileReplacedBy(*intruder);
        Q_EMIT attentionRequested();
        return;
    }
    setFileReplacedBy(QString());
    if (now == m_disk.lastSeen())
        return;
    if (!now.exists()) {
        fileLeftItsPath();
        return;
    }
    m_disk.setLastSeen(now);
    setFileMissing(false);
    const auto disk = m_disk.read(m_text.encoding());
    if (!disk)
        return;
    Q_EMIT replacedOnDisk();

    if (disk->text == m_text.text() || (m_lastSavedText && *m_lastSavedText == disk->text)) {
        setExternalContent(std::nullopt);
        syncModificationDate();
        return;
    }
    if (m_autoReload() && !isDocumentEdited()) {
        applyDiskContent(*disk);
        return;
    }
    setExternalChangeDate(now.date ? now.date : m_scheduler.now());
    m_externalEncoding = disk->encoding;
    setExternalContent(disk->text);
    Q_EMIT attentionRequested();
}

void DocumentFile::fileLeftItsPath()
{
    if (const auto renamed = m_disk.findRenamed()) {
        // Only the name changed: an outside version on offer stays on offer.
        const auto offered = m_externalContent;
        setFilePath(*renamed);
        setExternalContent(offered);
        return;
    }
    m_disk.setLastSeen({});
    setFileMissing(true);
}

void DocumentFile::applyDiskContent(const DecodedText &disk)
{
    Q_EMIT aboutToReload();
    setExternalContent(std::nullopt);
    m_text.setEncoding(disk.encoding);
    m_text.replaceAll(disk.text, EditOrigin::Disk);
    m_lastSavedText.emplace(disk.text);
    syncModificationDate();
    updateChangeCount(Change::Cleared);
}

void DocumentFile::reloadFromDisk()
{
    if (isUntitled())
        return;
    if (m_externalContent) {
        // A copy: applying the text clears the banner's own.
        applyDiskContent({*m_externalContent, m_externalEncoding});
        return;
    }
    if (const auto disk = m_disk.read(m_text.encoding()))
        applyDiskContent(*disk);
}

void DocumentFile::ignoreExternalChange()
{
    setExternalContent(std::nullopt);
    syncModificationDate();
    if (isDocumentEdited())
        Q_EMIT saveWanted();
}

void DocumentFile::setExternalContent(const std::optional<QString> &content)
{
    if (content == m_externalContent)
        return;
    m_externalContent = content;
    Q_EMIT externalContentChanged();
}

void DocumentFile::setExternalChangeDate(const std::optional<QDateTime> &date)
{
    if (date == m_externalChangeDate)
        return;
    m_externalChangeDate = date;
    Q_EMIT externalChangeDateChanged();
}

void DocumentFile::setFileReplacedBy(const QString &what)
{
    if (what == m_fileReplacedBy)
        return;
    m_fileReplacedBy = what;
    Q_EMIT fileReplacedByChanged(what);
}

void DocumentFile::setFileMissing(bool missing)
{
    if (missing == m_fileMissing)
        return;
    m_fileMissing = missing;
    Q_EMIT fileMissingChanged(missing);
}

} // namespace quorvel::core
