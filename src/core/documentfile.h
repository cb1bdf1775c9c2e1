#pragma once

#include "diskfile.h"
#include "result.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace quorvel::core {

class DocumentText;
class DocumentFile;

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

// The file behind a document's text: its path, whether the text has changes it does not hold,
// and saving. Saving writes the text in the encoding the file was read in, through FileWriter,
// so that a crash or a full disk never leaves a truncated file behind.
class DocumentFile : public QObject
{
    Q_OBJECT

public:
    enum class Change { Done, Undone, Cleared };
    // An autosave asks nothing the user has already declined for the same file; an explicit save
    // asks again.
    enum class SaveKind { Explicit, Autosave };

    // `filePath` is empty for an untitled document. The text outlives the file.
    DocumentFile(DocumentText &text, const QString &filePath, QObject *parent = nullptr);
    ~DocumentFile() override;

    DocumentText &text() const { return m_text; }
    QString filePath() const { return m_filePath; }
    bool isUntitled() const { return m_filePath.isEmpty(); }
    // Another program renamed the file; the document follows it.
    void setFilePath(const QString &path);

    bool isDocumentEdited() const { return m_changeCount != 0; }
    void updateChangeCount(Change change);

    // The modification date of the version of the file this document knows.
    std::optional<QDateTime> fileModificationDate() const { return m_fileModificationDate; }
    void setFileModificationDate(const QDateTime &date);

    void setPrompter(DocumentPrompter *prompter) { m_prompter = prompter; }

    // Saves to the document's file, or asks where when it has none. Returns whether the text is
    // now on disk. A failure keeps the document edited and the old file intact, and is reported
    // once for a run of failures, not at every autosave after it. With `lastSeen` (the file as
    // its owner last saw it), a file another program changed since is left as it is, silently:
    // the owner looks at it.
    bool saveDocument(SaveKind kind = SaveKind::Explicit, const DiskAttributes *lastSeen = nullptr);

Q_SIGNALS:
    void editedChanged(bool edited);
    void filePathChanged(const QString &path);
    void saved();
    void saveFailed(const QString &message);

private:
    bool saveTo(const QString &path, SaveKind kind, const DiskAttributes *lastSeen = nullptr);
    bool mayOverwrite(const QString &path, SaveKind kind);
    std::optional<QByteArray> fileData(SaveKind kind);
    void fail(const QString &message, bool alert);
    void setChangeCount(int count);

    DocumentText &m_text;
    QString m_filePath;
    int m_changeCount = 0;
    std::optional<QDateTime> m_fileModificationDate;
    DocumentPrompter *m_prompter = nullptr;
    bool m_failureReported = false;
    // The on-disk date of a newer file the user chose not to overwrite.
    std::optional<QDateTime> m_keptNewerFile;
    bool m_conversionDeclined = false;
};

} // namespace quorvel::core
