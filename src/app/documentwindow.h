#pragma once

#include "core/documentmodel.h"
#include "core/documentfile.h"
#include "core/documentsession.h"
#include "editor/markdowntextview.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QSplitter;

namespace quorvel::editor {
class EditorController;
}

namespace quorvel::app {

class BacklinksPanel;
class DocumentMenus;
class DocumentToolbar;
class FindBar;
class OutlineSidebar;
class StatusBar;
class ReloadBanner;
class VaultSearchPanel;
class SourceFindBar;

// One window per document. It owns the document's session for its whole life, gives its views
// the session's text, and lays out the main area for the model's mode.
class DocumentWindow : public QMainWindow, private core::DocumentPrompter
{
    Q_OBJECT

public:
    explicit DocumentWindow(std::unique_ptr<core::DocumentSession> session,
                            QWidget *parent = nullptr);
    ~DocumentWindow() override;

    core::DocumentModel &model() { return *m_model; }
    core::DocumentSession &session() { return *m_session; }
    core::DocumentFile &document() { return m_session->file(); }
    core::DocumentText &text() { return m_session->text(); }
    // Absolute path of the file, empty while untitled.
    QString filePath() const { return m_session->file().filePath(); }
    // Where the note's first lines show, for the start-up trace: "window-id x y width height".
    QString startupTextArea() const;
    editor::MarkdownTextView *sourceEditor() const { return m_editor; }
    ReloadBanner *reloadBanner() const { return m_banner; }
    FindBar *findBar() const { return m_findBar; }
    SourceFindBar *sourceFindBar() const { return m_sourceFindBar; }
    StatusBar *statusView() const { return m_status; }
    OutlineSidebar *outlineSidebar() const { return m_outline; }
    VaultSearchPanel *searchPanel() const { return m_search; }
    BacklinksPanel *backlinksPanel() const { return m_backlinks; }
    QLabel *indexingLabel() const { return m_indexing; }

    // Search across the vault: the panel opens with its field focused.
    void searchVault();
    // The popup that opens a note of the vault by a few letters of its name.
    void quickOpen();

    // Takes the appearance of the model's theme: a dark or light palette, or the system's.
    void applyThemeAppearance();

    // Everything closing needs: saves a titled file, asks about an untitled one. False when the
    // window must stay open.
    bool prepareToClose();
    // Quitting asked this window already (prepareToClose), so closing asks nothing again.
    void setCloseApproved(bool approved) { m_closeApproved = approved; }

    // The Format menu's and the toolbar's commands.
    void applyFormat(const QString &command, const QString &prefix, const QString &suffix);
    void applyBlockFormat(const QString &command, editor::BlockFormat format);
    void togglePresentation();

    // The Edit menu's find commands. In split view they go to the pane with the focus.
    enum class FindCommand { Find, FindAndReplace, Next, Previous };
    void findCommand(FindCommand command);

    // The Edit menu's history and clipboard commands, in the focused view: the page in the
    // reading and editing views, the source in the source view, the pane with the focus in split
    // view. canEdit() says whether the command would do anything there now, for the menu;
    // editCommand() asks again when it runs, so that a shortcut never acts on stale enabling,
    // but leaves to the page what the page knows better (its selection, its typing not yet sent).
    enum class EditCommand { Undo, Redo, Cut, Copy, Paste, PastePlainText, SelectAll };
    bool canEdit(EditCommand command) const;
    void editCommand(EditCommand command);

Q_SIGNALS:
    void filePathChanged(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void wire();
    void applyMode();
    void updateTitle();
    void updateChrome();
    // Sends the command to the page in the editing view; true when the source has no part in it.
    bool formatElsewhere(const QString &command);
    // The toolbar's labels; the window hears of changes before the toolbar exists.
    void refreshToolbar();
    void showHeading(const core::OutlineItem &item);
    void showPreview();
    void schedulePreviewUpdate();
    void updatePreview();
    bool findsInSource() const;
    // Escape in presentation, wherever the focus is in the window: leaves it. True when the
    // event was taken.
    bool leavesPresentation(QObject *watched, QEvent *event);
    void holdMenuShortcuts(bool hold);
    // Typing goes on where it was when the writer switches between the source and the editing view.
    void carryCaret(core::DocumentModel::Mode from, core::DocumentModel::Mode to);
    void releaseSourceKeys();
    void wireSelectionCounts();
    // Whether the Edit commands go to the page rather than the source, in this view and focus.
    bool editsInPage() const;
    void editInSource(EditCommand command);
    // For a key pressed in the page: true when the page handles it itself, false when the
    // window's shortcut has it, nothing when the engine's own rules decide.
    std::optional<bool> pageTakesKey(const QKeyEvent *key) const;

    // DocumentPrompter
    std::optional<QString> askSavePath(const core::DocumentFile &document) override;
    bool confirmOverwriteNewerFile(const core::DocumentFile &document) override;
    void reportSaveError(const core::DocumentFile &document, const QString &message) override;
    bool confirmConvertToUtf8(const core::DocumentFile &document) override;

    // The file's encoding and what keeps its bytes safe, shown in the window.
    void wireFileSafety();
    // The search panel, the backlinks and the indexing progress follow the document's vault.
    void wireVault();
    void followVault();
    void showEncoding();

    std::unique_ptr<core::DocumentSession> m_session;
    core::DocumentFile *m_document = nullptr;
    core::DocumentModel *m_model = nullptr;
    QSplitter *m_split = nullptr;
    editor::MarkdownTextView *m_editor = nullptr;
    editor::EditorController *m_editorController = nullptr;
    // Stands where the preview goes until it exists; without a web engine (tests) it stays.
    QWidget *m_placeholder = nullptr;
    ReloadBanner *m_banner = nullptr;
    FindBar *m_findBar = nullptr;
    SourceFindBar *m_sourceFindBar = nullptr;
    // The preview's web view once it took the placeholder's place; owned by the preview.
    QPointer<QWidget> m_preview;
    bool m_previewUpdateQueued = false;
    bool m_previewHasText = false;
    // The view shown last, so that the caret goes with the writer from one that types to the other.
    std::optional<core::DocumentModel::Mode> m_shownMode;
    // Keys typed into the source while the page says where its caret was: they go in there.
    bool m_awaitingCaret = false;
    quint64 m_caretAsks = 0;
    std::vector<std::unique_ptr<QKeyEvent>> m_heldSourceKeys;
    QSplitter *m_columns = nullptr; // the outline beside the document
    OutlineSidebar *m_outline = nullptr;
    QSplitter *m_sidebar = nullptr; // the outline over the backlinks
    BacklinksPanel *m_backlinks = nullptr;
    VaultSearchPanel *m_search = nullptr;
    QLabel *m_indexing = nullptr;
    QString m_vaultRoot;
    QMetaObject::Connection m_indexingFollows;
    StatusBar *m_status = nullptr;
    std::unique_ptr<DocumentMenus> m_menus;
    DocumentToolbar *m_toolbar = nullptr;
    QLabel *m_encodingLabel = nullptr;
    bool m_closeApproved = false;
    // The menus' actions the window holds while its menu bar is hidden.
    QList<QPointer<QAction>> m_heldShortcuts;
    // In split view, whether the selection counted is the source's (else the page's).
    bool m_countsFromSource = false;
};

} // namespace quorvel::app
