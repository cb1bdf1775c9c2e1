#pragma once

#include "pageprotocol.h"
#include "contextmenu.h"
#include "core/textedit.h"
#include "core/documentviews.h"
#include "core/outlineitem.h"
#include "core/scheduler.h"
#include "themes/themekind.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

class QWebEngineProfile;

namespace quorvel::core {
class DocumentModel;
}
namespace quorvel::themes {
class Appearance;
}

namespace quorvel::preview {

class PageHost;
class QuorvelWebView;
struct BridgeMessageHandler;

// The only way the program talks to the preview page: turns the model's text, folder, theme and
// mode into script calls (de-duplicated, debounced), handles the page's messages, and keeps the
// page and the model consistent while both can change (visual editing, reloads).
// Owned by its model through DocumentPreview; holds the model weakly. Main thread only.
class PreviewController : public QObject, public core::DocumentPreview
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kRenderDelay{120};
    static constexpr std::chrono::milliseconds kHeadingRevealDelay{200};
    static constexpr std::chrono::milliseconds kAnswerTimeout{2000};

    PreviewController(core::DocumentModel *model, core::Scheduler &scheduler,
                      themes::Appearance &appearance, std::unique_ptr<PageHost> host);
    ~PreviewController() override;

    // The real thing: a web view loading the page from webDirectory().
    static std::unique_ptr<PreviewController> create(core::DocumentModel &model,
                                                     QWebEngineProfile *profile = nullptr);
    // The controller behind a model whose factory made one; null for any other preview.
    static PreviewController *of(core::DocumentModel &model);

    // A whole text longer than this is preceded by its first screen, about this long.
    static constexpr qsizetype kFirstScreenAheadFrom = 512 * 1024;
    static constexpr qsizetype kFirstScreenChars = 48 * 1024;
    // The folder holding index.html, with a trailing slash: QUORVEL_WEB_DIR when set, else
    // web/ beside the executable, else ../share/quorvel/web from it.
    static QString webDirectory();
    // The page's style sheet for a file that stands alone: its fonts from `webDir` inside it.
    static QString standaloneCss(const QString &css, const QString &webDir);

    QuorvelWebView *webView() const;

    // Everything a view update hands over: theme, folder, editability, and the text's changes
    // since the page last had it. `immediate` skips the pause for more typing (a window's first
    // text, which nobody is typing).
    void update(bool immediate = false);

    void applyTheme(const themes::Appearance &appearance, themes::ThemeKind theme);
    void setEditable(bool editable);
    bool editable() const { return m_editable; }
    // Where typing goes on when the page next takes it: an offset of the text (the source's
    // caret, as the writer leaves the source for the editing view).
    void enterAt(qsizetype offset) { m_enterAt = offset; }
    // Asks the page where its caret is, as an offset of the text, once the typing it has not
    // sent yet is in the text; `answer` gets nothing when the caret is in no block.
    void askCaret(std::function<void(std::optional<qsizetype>)> answer);
    // A key pressed or released in the editing view's page before the page takes typing (it is
    // still loading, or building a long note): kept, and given to the page in order once it
    // does. True when it was kept.
    bool holdKey(QWidget *target, const QKeyEvent &key);
    bool isReady() const { return m_ready; }

    // DocumentPreview
    void flushEdits() override;
    // Like flushEdits(), but returns only when the page has answered (or after `timeout`),
    // running the event loop meanwhile: closing must not free the page with an edit in it.
    void flushEditsNow(std::chrono::milliseconds timeout = std::chrono::seconds(3));
    void prepareForReload() override;
    void scrollToFraction(double fraction) override;
    void find(const QString &query, core::FindOptions options, FindCompletion completion) override;
    void findStep(int step, FindCompletion completion) override;
    void findClear() override;
    void takeFocus() override;
    void scrollToHeading(const QString &id) override;
    void scrollToHeadingText(const QString &text, bool instant) override;

    void format(const QString &key);
    void insertImage(const QString &path);
    // The Edit menu's commands while the page is edited.
    void pastePlainText(const QString &text);
    void requestUndo(bool redo);
    // The page as one standalone HTML file to be written at `outputPath`. Only images that
    // pass FileReader::embeddableImage for the note's folder and vault are copied in; every
    // other local address is made relative to `outputPath`'s folder.
    void exportHTML(const QString &title, const QString &outputPath,
                    std::function<void(const std::optional<QString> &)> completion);

    // Called after each "rendered" message (the headless export waits on it).
    std::function<void()> onRendered;
    // Calls `done` once everything the page draws after a render (diagrams, late code
    // highlighting, images, fonts) is drawn. `now`: the page may finish its work in one go, as
    // nobody is typing. `laidOut`: images and fonts count (a shown or printed page).
    void whenDrawn(std::function<void()> done, bool now = false, bool laidOut = true);

    // A message posted by the page on "bridge".
    void receive(const QJsonObject &body);

    // Rebuilds the web view's menu in place; `offered` are its actions, classified.
    struct OfferedAction
    {
        QAction *action = nullptr;
        MenuRole role = MenuRole::Other;
    };
    // `editAction` carries out Cut, Copy and Paste in the web view; `misspelt` is the word
    // the engine found misspelt under the pointer.
    void adjustContextMenu(QMenu &menu, const QList<OfferedAction> &offered,
                           const std::function<void(MenuRole)> &editAction,
                           const QString &misspelt = QString());
    // The engine's dictionary changed: the page's marks are checked again.
    void recheckSpelling();
    void editContextLink();
    void openContextLink();
    void unlinkContextLink();
    void createLinkFromMenu();

    // The page's text prompt; `parent` is the window to show it over.
    static std::optional<QString> askText(QWidget *parent, const QString &prompt,
                                          const QString &defaultText);

Q_SIGNALS:
    // Ignore Spelling (`add` false) or Add to Dictionary from the page's menu.
    void learnWordRequested(const QString &word, bool add);
    // After the page's message of that type was handled ("ready", "rendered", …).
    void messageReceived(const QString &type);

private:
    friend struct BridgeMessageHandler;

    void run(const QString &script);
    void flush();
    // Where a document's images may come from in an export: its folder and its vault.
    QStringList exportFolders() const;
    void textEdited(const core::TextEdit &edit, core::EditOrigin origin);
    void scheduleFlush(std::chrono::milliseconds delay);
    void resendWhole();
    void handleReady();
    void sendEditable();
    void releaseKeys();
    void handleEdit(const message::Edit &edit);
    void undo(bool redo);
    void applyFlushedEdit(const QVariant &result);
    void handlePasteImage(const QString &data);
    void handleRendered();
    void handleResolve(const QStringList &targets);
    void handleOutline(const message::Outline &outline);
    void findScript(const QString &script, FindCompletion completion);

    QPointer<core::DocumentModel> m_model;
    core::Scheduler &m_scheduler;
    themes::Appearance &m_appearance;
    std::unique_ptr<PageHost> m_host;
    bool m_ready = false;
    // The revision of the text the page holds, as far as this side knows; none when it may
    // hold another (it was just loaded, or refused a change).
    std::optional<quint64> m_pageRevision;
    QString m_pageDir;
    QString m_docDir;
    // A change is on its way to the page, and another waits for its answer.
    bool m_inFlight = false;
    QDateTime m_inFlightSince;
    bool m_flushAgain = false;
    std::vector<std::function<void()>> m_whenDrawn;
    QString m_drawnScript;
    int m_resolving = 0; // link resolutions the page has asked for and not been given yet
    bool m_drawnWhileResolving = false;
    std::optional<QString> m_lastTheme;
    bool m_editable = false;
    std::optional<qsizetype> m_enterAt;
    // Whether the page takes typing itself; until then keys for it are held here.
    bool m_typingLive = false;
    // The editing view was left with keys held: they go in before the page stops taking typing.
    bool m_leaveAfterKeys = false;
    std::vector<std::pair<QPointer<QWidget>, std::unique_ptr<QKeyEvent>>> m_heldKeys;
    core::ScheduledWork m_pending;
    QString m_contextLinkKind;
    bool m_prepareSpareAfterRender = false;
};

} // namespace quorvel::preview
