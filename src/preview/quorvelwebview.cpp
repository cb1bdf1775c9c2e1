#include "quorvelwebview.h"

#include "navigationpolicy.h"
#include "previewcontroller.h"
#include "externallinks.h"
#include "core/debuglog.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QWebEngineContextMenuRequest>

namespace quorvel::preview {

namespace {

MenuRole roleOf(QAction *action, const QWebEnginePage &page, const QStringList &guesses)
{
    using A = QWebEnginePage::WebAction;
    if (action->isSeparator())
        return MenuRole::Separator;
    const auto is = [&](A webAction) { return action == page.action(webAction); };
    if (is(A::OpenLinkInThisWindow) || is(A::OpenLinkInNewWindow) || is(A::OpenLinkInNewTab)
        || is(A::OpenLinkInNewBackgroundTab) || is(A::DownloadLinkToDisk))
        return MenuRole::LinkAction;
    if (is(A::CopyLinkToClipboard))
        return MenuRole::CopyLink;
    if (is(A::CopyImageToClipboard))
        return MenuRole::CopyImage;
    if (is(A::Copy))
        return MenuRole::Copy;
    if (is(A::InspectElement))
        return MenuRole::Inspect;
    // Suggestions are actions of the menu's own, titled with the replacement word.
    if (guesses.contains(action->text()))
        return MenuRole::Guess;
    return MenuRole::Other;
}

} // namespace

QuorvelWebView::QuorvelWebView(QWidget *parent)
    : QWebEngineView(parent)
{
}

void QuorvelWebView::changeEvent(QEvent *event)
{
    QWebEngineView::changeEvent(event);
    // Not transparent: a transparent page is not painted at all on some software-rendered
    // displays until the view is resized (seen under Xvfb). The window's colour does the same
    // job of hiding the blank page while it loads.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        page()->setBackgroundColor(palette().color(QPalette::Window));
}

void QuorvelWebView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu();
    if (m_controller) {
        const QWebEngineContextMenuRequest *request = lastContextMenuRequest();
        const QStringList guesses = request ? request->spellCheckerSuggestions() : QStringList();
        QList<PreviewController::OfferedAction> offered;
        for (QAction *action : menu->actions())
            offered.append({action, roleOf(action, *page(), guesses)});
        m_controller->adjustContextMenu(*menu, offered, [view = QPointer(this)](MenuRole role) {
            if (!view)
                return;
            using A = QWebEnginePage::WebAction;
            const A action = role == MenuRole::EditCut ? A::Cut
                : role == MenuRole::EditPaste          ? A::Paste
                : role == MenuRole::SelectAll          ? A::SelectAll
                                                       : A::Copy;
            view->page()->triggerAction(action);
        }, request ? request->misspelledWord() : QString());
        if (request && !request->misspelledWord().isEmpty() && !menu->actions().isEmpty())
            menu->setActiveAction(menu->actions().constFirst());
    }
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    // A menu is a window of its own: the window's colours do not reach it by themselves.
    menu->setPalette(window()->palette());
    menu->popup(event->globalPos());
}

QuorvelWebPage::QuorvelWebPage(const QUrl &pageUrl, QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
    , openExternally(&preview::openExternally)
    , m_pageUrl(pageUrl)
{
}

bool QuorvelWebPage::showsOwnPage() const
{
    return url().adjusted(QUrl::RemoveFragment) == m_pageUrl.adjusted(QUrl::RemoveFragment);
}

bool QuorvelWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                             bool isMainFrame)
{
    const auto decision = decideNavigation(url, m_pageUrl, isMainFrame,
                                           type == NavigationTypeLinkClicked);
    switch (decision) {
    case NavigationDecision::Allow:
        return true;
    case NavigationDecision::OpenExternally:
        if (openExternally)
            openExternally(url);
        break;
    case NavigationDecision::Cancel:
        core::previewLog(QStringLiteral("navigation refused: ") + url.toDisplayString());
        Q_EMIT navigationRefused(url);
        break;
    }
    return false;
}

bool QuorvelWebPage::javaScriptPrompt(const QUrl &, const QString &msg,
                                      const QString &defaultValue, QString *result)
{
    QWidget *view = QWebEngineView::forPage(this);
    const auto answer = PreviewController::askText(view ? view->window() : nullptr, msg,
                                                   defaultValue);
    if (!answer)
        return false;
    *result = *answer;
    return true;
}

} // namespace quorvel::preview
