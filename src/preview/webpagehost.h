#pragma once

#include "pagehost.h"
#include "quorvelwebview.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>

class QWebEngineProfile;

namespace quorvel::preview {

class QuorvelWebPage;

// The object the page sees as "bridge" on the web channel: only post(message), as the page's
// bridge.post calls it.
class PageBridge : public QObject
{
    Q_OBJECT

public:
    using Receiver = std::function<void(const QJsonObject &)>;
    // Speaks for `page`, and only while it shows our own page.
    PageBridge(QuorvelWebPage *page, QObject *parent);

    // Messages posted before there is a receiver wait for it, in order.
    void setReceiver(Receiver receive);

public Q_SLOTS:
    void post(const QJsonObject &message);

private:
    QPointer<QuorvelWebPage> m_page;
    Receiver m_receive;
    QList<QJsonObject> m_waiting;
};

// A web view with the page loaded from the web directory, its channel and its hooks.
// The view is handed to the window's layout; the host deletes it when it is still alive.
class WebPageHost : public PageHost
{
public:
    // A page of `profile`, the default one when null.
    explicit WebPageHost(QWebEngineProfile *profile = nullptr);
    ~WebPageHost() override;

    // A host whose page has been loading in the background, or a new one. Loading the page
    // takes seconds on a slow machine (measured: about 3.5 s here, nearly all of it in the
    // engine even for an empty page), so the next window should not wait for it.
    // Spares are of the default profile; a page of another one is made on the spot.
    static std::unique_ptr<WebPageHost> take(QWebEngineProfile *profile = nullptr);
    // Starts loading a spare page for the next window, once the event loop is idle.
    static void prepareSpare();
    // Starts the first window's page now, before that window is built: the engine's start and
    // the page's load in its own process go on while the window's widgets are made.
    static void prepareFirst();

    void setReceiver(PageBridge::Receiver receive) { m_bridge->setReceiver(std::move(receive)); }

    void runScript(const QString &script, Completion completion) override;
    QuorvelWebView *webView() const override { return m_view; }

private:
    QPointer<QuorvelWebView> m_view;
    QPointer<QuorvelWebPage> m_page;
    QPointer<PageBridge> m_bridge;
};

} // namespace quorvel::preview
