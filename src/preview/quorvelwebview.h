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
    explicit QuorvelWebPage(QObject *parent = nullptr);

    // Where escaping navigations go; the default application unless a test says otherwise.
    std::function<void(const QUrl &)> openExternally;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;
};

} // namespace quorvel::preview
