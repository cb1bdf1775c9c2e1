#pragma once

#include "diskfile.h"
#include "outlineitem.h"
#include "documentfile.h"
#include "documenttext.h"
#include "scheduler.h"
#include "textsearch.h"
#include "themes/themekind.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace quorvel::themes {
class Appearance;
class FileThemes;
class SettingsStore;
} // namespace quorvel::themes

namespace quorvel::core {

class DocumentEditor;
class DocumentPreview;
class FileWatcher;
struct ControllerFactory;
struct DocumentWorkspace;

// The services a model works with; tests pass a manual clock, a scratch store and their own
// settings object.
struct ModelEnvironment
{
    Scheduler &scheduler;
    themes::SettingsStore &store;
    themes::Appearance &appearance;
    themes::FileThemes &fileThemes;

    static ModelEnvironment standard();
};

// The state of one document window: view mode, outline, file, saving and outside changes, find
// and theme. The text is the file's DocumentText; the model changes it only through its edits.
// Lives on the main thread.
class DocumentModel : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Read, Visual, Split, Source };
    Q_ENUM(Mode)


    explicit DocumentModel(ModelEnvironment environment = ModelEnvironment::standard(),
                           QObject *parent = nullptr);
    ~DocumentModel() override;

    static const QList<Mode> &allModes();
    static QString storedName(Mode mode);
    static std::optional<Mode> modeFromStoredName(QStringView name);
    // The view a new window opens in: the one last chosen.
    static Mode rememberedMode(const themes::SettingsStore &store);

    // The registry of every model made since start, oldest first; entries of freed models stay
    // (null) until the next model is made.
    static const QList<QPointer<DocumentModel>> &liveRefs();
    static QList<DocumentModel *> liveModels();

    // Installed once by the application; without it the model gets controllers that do nothing.
    static void setControllerFactory(ControllerFactory factory);
    static void setWorkspace(DocumentWorkspace workspace);
    static const DocumentWorkspace &workspace();

    Mode mode() const { return m_mode; }
    // `remember`: the mode is also the one later windows open in.
    void setMode(Mode mode, bool remember = true);
    bool showOutline() const { return m_showOutline; }
    // `remember`: later windows open with the outline shown or hidden alike.
    void setShowOutline(bool show, bool remember = true);
    bool presentation() const { return m_presentation; }
    // Presentation hides the outline for its time and gives it back as it was on leaving,
    // without changing what later windows open with.
    void setPresentation(bool on);
    const Outline &outline() const { return m_outline; }
    void setOutline(const Outline &outline);

    QUrl fileUrl() const { return m_fileUrl; }
    void setFileUrl(const QUrl &url);
    QString filePath() const { return m_fileUrl.toLocalFile(); }

    bool dirty() const { return m_dirty; }
    void setDirty(bool dirty);

    bool showFind() const { return m_showFind; }
    void setShowFind(bool show);
    QString findQuery() const { return m_findQuery; }
    void setFindQuery(const QString &query);
    FindOptions findOptions() const { return m_findOptions; }
    // Searches again with the new options when the bar is shown.
    void setFindOptions(FindOptions options);
    int findCount() const { return m_findCount; }
    int findIndex() const { return m_findIndex; }
    void setFindResult(int count, int index);
    int findFocusRequest() const { return m_findFocusRequest; }
    void requestFindFocus();

    // What the source view's own find bar is asked to do; the values are the commands' codes.
    enum class TextFinderAction { Show = 1, Next = 2, Previous = 3 };
    Q_ENUM(TextFinderAction)

    // The Find commands. The page's bar in the rendered modes, the source bar in source mode.
    void find();
    void runFind();
    void findNext();
    void findPrevious();
    void closeFind();

    std::optional<themes::ThemeKind> fileTheme() const { return m_fileTheme; }
    void setFileTheme(std::optional<themes::ThemeKind> theme);
    // The theme the window shows: the file's own when themes are per file and it has one, else
    // the application's.
    themes::ThemeKind theme() const;
    // The user picked a theme for this window.
    void chooseTheme(themes::ThemeKind theme);
    // Finds the file's remembered theme, or hands out the next one of the rotation.
    void resolveFileTheme();
    // Asks the window to take the light or dark appearance of `theme()`.
    void applyWindowAppearance();

    // The text this window shows and edits: the file's, or a text of the model's own while there
    // is no file (a headless export).
    DocumentText &text() const;

    QObject *window() const { return m_window; }
    void setWindow(QObject *window);
    // The file behind the text; absent for a model that only renders (a headless export).
    DocumentFile *file() const { return m_document.data(); }
    void setDocumentFile(DocumentFile *document);
    bool hasUnsavedChanges() const;

    DocumentPreview &preview();
    DocumentEditor &editor();

    QString displayName() const;
    // The folder holding the file, with a trailing slash; empty when there is no file.
    QUrl docDirUrl() const;
    void editorScrolled(double fraction);
    // The reader scrolled the page; in split view the source follows.
    void previewScrolled(double fraction);

    // The Save and Reload commands: an edit still in the page goes first.
    void saveNow();
    void reloadFromDisk();

    // What the page asks of the document (pagerequests.cpp). A link to a web page or a file
    // that is no note leaves the program; a link to a note opens it in its window, at the
    // heading it names once that note has rendered; a link that leads nowhere is an alert.
    void openLink(const QString &href, const QString &written);
    void openWikilink(const QString &target, const QString &heading);
    static void openNote(const QString &path, const QString &heading = {});
    // Makes the empty note a link to a missing note offered (noteCreationOffered) and opens it.
    // Only inside this note's vault; a failure is an alert.
    void createNote(const QString &path);
    std::optional<QString> consumePendingHeading();
    // Ticks or unticks the index-th task line of the text, counted as the page counts them.
    void toggleTask(int index, bool checked);
    // Stores a pasted image as a PNG in Captures/ beside the file; the path to write into the
    // Markdown, or nothing for a failed write or an untitled document (which asks for an alert
    // first: there is no folder to put the image in).
    std::optional<QString> saveImage(const QImage &image);

    Scheduler &scheduler() const { return m_env.scheduler; }
    const ModelEnvironment &environment() const { return m_env; }

Q_SIGNALS:
    void modeChanged(quorvel::core::DocumentModel::Mode mode);
    void showOutlineChanged(bool show);
    void presentationChanged(bool on);
    void outlineChanged();
    void fileUrlChanged(const QUrl &url);
    void dirtyChanged(bool dirty);
    void showFindChanged(bool show);
    void findQueryChanged(const QString &query);
    void findOptionsChanged();
    void findResultChanged(int count, int index);
    void findFocusRequested();
    void textFinderActionRequested(quorvel::core::DocumentModel::TextFinderAction action);
    void fileThemeChanged();
    // The source editor should show this fraction of its text (split view follows the page).
    void editorScrollRequested(double fraction);
    // The window should take the appearance of this theme.
    void windowAppearanceChanged(quorvel::themes::ThemeKind theme);
    // An outside change waits for the user; the application asks for attention.
    void attentionRequested();
    // Something the user must know, shown by the window as a modal alert.
    void alertRequested(const QString &message, const QString &informativeText);
    // As alertRequested, for a link to a note that is not there: the alert also offers to
    // make the note at `path`.
    void noteCreationOffered(const QString &message, const QString &informativeText,
                             const QString &path);

private:
    void recordFileTheme();
    void findStep(int step);
    void refreshThemeKey();

    ModelEnvironment m_env;
    Mode m_mode = Mode::Read;
    bool m_showOutline = false;
    bool m_presentation = false;
    bool m_outlineBeforePresentation = false;
    Outline m_outline;
    QUrl m_fileUrl;
    bool m_dirty = false;
    bool m_showFind = false;
    QString m_findQuery;
    FindOptions m_findOptions;
    int m_findCount = 0;
    int m_findIndex = 0;
    int m_findFocusRequest = 0;
    std::optional<themes::ThemeKind> m_fileTheme;

    // The key the file's theme was last recorded under; our own saves replace the file's inode.
    QString m_themeKey;

    QPointer<QObject> m_window;
    QPointer<DocumentFile> m_document;
    std::unique_ptr<DocumentText> m_ownText;
    std::unique_ptr<DocumentPreview> m_preview;
    std::unique_ptr<DocumentEditor> m_editor;
};

} // namespace quorvel::core
