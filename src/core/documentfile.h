#pragma once

#include "diskfile.h"
#include "result.h"
#include "scheduler.h"
#include "textencoding.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quorvel::core {

class DocumentText;
class DocumentFile;
class FileWatcher;

// What a save needs from the user. The application implements it with dialogs; without one a
// document cannot be saved as a new file and its errors go to standard error only.
class DocumentPrompter
{
public:
    virtual ~DocumentPrompter() = default;
    // The path to save an untitled document to; nothing when the user cancels.
    virtual std::optional<QString> askSavePath(const DocumentFile &document) = 0;
    // The file on disk is newer than the version the document knows; true saves over it.
    virtual bool confirmOverwriteNewerFile(const DocumentFile &document) = 0;
    virtual void reportSaveError(const DocumentFile &document, const QString &message) = 0;
    // The text holds characters the file's encoding (text().encoding()) cannot; true converts
    // the file to UTF-8 and saves it, false keeps the text unsaved in the window.
    virtual bool confirmConvertToUtf8(const DocumentFile &document) = 0;
};

// The file behind a document's text, and everything that happens to it: saving, and what other
// programs do to it (change it, rename it, delete it, put something else in its place). It is
// the one place that knows how the file looked on disk, and holds the one edited flag. Saving writes the text in
// the encoding the file was read in, through FileWriter, so that a crash or a full disk never
// leaves a truncated file behind.
class DocumentFile : public QObject
{
    Q_OBJECT

public:
    enum class Change { Done, Undone, Cleared };
    // An autosave asks nothing the user has already declined for the same file; an explicit save
    // asks again.
    enum class SaveKind { Explicit, Autosave };

    // `filePath` is empty for an untitled document. The text outlives the file. A titled file is
    // watched from the start.
    DocumentFile(DocumentText &text, const QString &filePath, Scheduler &scheduler,
                 QObject *parent = nullptr);
    ~DocumentFile() override;

    DocumentText &text() const { return m_text; }
    QString filePath() const { return m_filePath; }
    bool isUntitled() const { return m_filePath.isEmpty(); }
    // The file is now at `path` (renamed by another program, or saved under a new name).
    void setFilePath(const QString &path);

    bool isDocumentEdited() const { return m_changeCount != 0; }
    void updateChangeCount(Change change);

    void setPrompter(DocumentPrompter *prompter) { m_prompter = prompter; }
    // Whether an outside change is taken in at once when the text has nothing unsaved.
    void setAutoReload(std::function<bool()> autoReload) { m_autoReload = std::move(autoReload); }

    // Saves to the document's file, or asks where when it has none. Returns whether the text is
    // now on disk. A failure keeps the document edited and the old file intact, and is reported
    // once for a run of failures, not at every autosave after it. With `lastSeen` (the file as
    // it was last seen), a file another program changed since is left as it is, silently: the
    // change is looked at first.
    bool saveDocument(SaveKind kind = SaveKind::Explicit, const DiskAttributes *lastSeen = nullptr);
    // Saves unless something another program did waits for the user: an outside version on
    // offer, a file that left its path, something else in its place.
    void save(SaveKind kind);
    // The user asked for a save: an outside version on offer is written over, a missing file
    // written again, something put in its place replaced by an ordinary file.
    void saveNow();
    // Writes the text, in its own encoding, to a new file at `path`, which the document then
    // goes on with: watched and saved there. The file it came from stays as it was. False, with
    // the failure reported, when nothing could be written.
    bool saveAs(const QString &path);
    // Renames or moves the saved file on disk to `path`, which must be free, and goes on with
    // it there. The reason when it cannot; the file then stays where it was.
    Result<void> moveTo(const QString &path);
    std::optional<QDateTime> lastAutosave() const { return m_lastAutosave; }

    // Outside changes.
    const std::optional<QString> &externalContent() const { return m_externalContent; }
    void setExternalContent(const std::optional<QString> &content);
    std::optional<QDateTime> externalChangeDate() const { return m_externalChangeDate; }
    void setExternalChangeDate(const std::optional<QDateTime> &date);
    // The file left its path and could not be found in its folder under another name (moved
    // elsewhere or deleted). The text stays in the window and autosaves stop, so that the file is
    // not recreated behind the user's back; saveNow() writes it again under its old name.
    bool fileMissing() const { return m_fileMissing; }
    // What another program put where the file was (DiskFile::intruder()), or empty. Nothing is
    // saved through it; saveNow() replaces it with an ordinary file holding the text.
    QString fileReplacedBy() const { return m_fileReplacedBy; }
    void reloadFromDisk();
    void ignoreExternalChange();
    DiskAttributes diskAttributes() const { return m_disk.attributes(); }
    FileWatcher *watcher() const { return m_disk.watcher(); }
    // The file as it is now is the version this document knows.
    void syncModificationDate();

Q_SIGNALS:
    void editedChanged(bool edited);
    void filePathChanged(const QString &path);
    void saved();
    void saveFailed(const QString &message);
    void externalContentChanged();
    void externalChangeDateChanged();
    void fileMissingChanged(bool missing);
    void fileReplacedByChanged(const QString &what);
    void lastAutosaveChanged();
    // Another program changed the file; the user's attention is wanted.
    void attentionRequested();
    // Another program wrote the file (a save through a temporary file gives it a new inode).
    void replacedOnDisk();
    // The text is about to be replaced by the file's: an edit in progress must be dropped.
    void aboutToReload();
    // The text still has changes to save once the user has looked at an outside version.
    void saveWanted();

private:
    bool saveTo(const QString &path, SaveKind kind, const DiskAttributes *lastSeen = nullptr);
    bool mayOverwrite(const QString &path, SaveKind kind);
    std::optional<QByteArray> fileData(SaveKind kind);
    void fail(const QString &message, bool alert);
    void setChangeCount(int count);
    void startWatching();
    void fileChangedOnDisk();
    void fileLeftItsPath();
    void applyDiskContent(const DecodedText &disk);
    void setFileMissing(bool missing);
    void setFileReplacedBy(const QString &what);

    DocumentText &m_text;
    Scheduler &m_scheduler;
    QString m_filePath;
    int m_changeCount = 0;
    // The file as the watcher last looked at it, and the date of the version the text is based
    // on: an outside version seen but not taken is newer than the text, and a save asks first.
    DiskFile m_disk;
    std::optional<QDateTime> m_knownDate;
    DocumentPrompter *m_prompter = nullptr;
    std::function<bool()> m_autoReload = [] { return false; };
    bool m_failureReported = false;
    // The on-disk date of a newer file the user chose not to overwrite.
    std::optional<QDateTime> m_keptNewerFile;
    bool m_conversionDeclined = false;
    std::optional<QDateTime> m_lastAutosave;
    std::optional<QString> m_externalContent;
    std::optional<QDateTime> m_externalChangeDate;
    // What the offered outside version was read as; a reload saves back in it.
    TextEncoding m_externalEncoding;
    bool m_fileMissing = false;
    QString m_fileReplacedBy;
    // What the last save wrote, recognised by its length and hash: the text itself, kept here,
    // would make the next keystroke in a large note copy it whole.
    struct SavedText
    {
        qsizetype size = 0;
        size_t hash = 0;
        explicit SavedText(const QString &text);
        bool operator==(const QString &text) const;
    };
    std::optional<SavedText> m_lastSavedText;
};

} // namespace quorvel::core
