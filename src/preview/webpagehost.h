#pragma once

#include "pagehost.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <functional>

namespace quorvel::preview {

class QuorvelWebPage;

// The object the page sees as "bridge" on the web channel: only post(message), as the page's
// bridge.post calls it.
class PageBridge : public QObject
{
    Q_OBJECT

public:
    explicit PageBridge(std::function<void(const QJsonObject &)> receive, QObject *parent)
        : QObject(parent)
        , m_receive(std::move(receive))
    {
    }

public Q_SLOTS:
    void post(const QJsonObject &message) { m_receive(message); }

private:
    std::function<void(const QJsonObject &)> m_receive;
};

// A web view with the page loaded from the web directory, its channel and its hooks.
// The view is handed to the window's layout; the host deletes it when it is still alive.
class WebPageHost : public PageHost
{
public:
    explicit WebPageHost(std::function<void(const QJsonObject &)> receive);
    ~WebPageHost() override;

    void runScript(const QString &script, Completion completion) override;
    QuorvelWebView *webView() const override { return m_view; }

private:
    QPointer<QuorvelWebView> m_view;
    QPointer<QuorvelWebPage> m_page;
};

} // namespace quorvel::preview
