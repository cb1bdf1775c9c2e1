#pragma once

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>

namespace quorvel::preview {

class PreviewController;

// The preview's web view: its context menu is rebuilt by the controller before it shows, and
// until the page paints it shows the window's background colour.
class QuorvelWebView : public QWebEngineView
{
    Q_OBJECT

public:
    explicit QuorvelWebView(QWidget *parent = nullptr);

    void setController(PreviewController *controller) { m_controller = controller; }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPointer<PreviewController> m_controller;
};

// The page's navigation policy and its text prompt.
class QuorvelWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // `pageUrl` is our page: the one address this page may show.
    QuorvelWebPage(const QUrl &pageUrl, QWebEngineProfile *profile, QObject *parent = nullptr);

    const QUrl &pageUrl() const { return m_pageUrl; }
    // Whether the page shows our page now (and so may speak on the bridge).
    bool showsOwnPage() const;

    // Where links that escape the page go; the default application, with its rules for files
    // that would run, unless a test says otherwise.
    std::function<void(const QUrl &)> openExternally;

Q_SIGNALS:
    // A navigation away from our page was stopped.
    void navigationRefused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;

private:
    QUrl m_pageUrl;
};

} // namespace quorvel::preview
