#include "webpagehost.h"

#include "previewcontroller.h"
#include "quorvelwebview.h"

#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>

#include <cstdio>

namespace quorvel::preview {

WebPageHost::WebPageHost(std::function<void(const QJsonObject &)> receive)
    : m_view(new QuorvelWebView)
{
    m_page = new QuorvelWebPage(m_view);
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);

    auto *channel = new QWebChannel(m_page);
    channel->registerObject(QStringLiteral("bridge"), new PageBridge(std::move(receive), channel));
    m_page->setWebChannel(channel);

    QObject::connect(m_page, &QWebEnginePage::loadingChanged, m_page,
                     [](const QWebEngineLoadingInfo &info) {
                         if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
                             return;
                         // Always written: a missing page is otherwise a silent blank view.
                         std::fprintf(stderr, "[webview] load failed: %s\n",
                                      info.errorString().toUtf8().constData());
                         std::fflush(stderr);
                     });
    m_view->setPage(m_page);
    m_view->setMinimumWidth(260);
    m_page->load(QUrl::fromLocalFile(PreviewController::webDirectory()
                                     + QStringLiteral("index.html")));
}

WebPageHost::~WebPageHost()
{
    delete m_view.data();
}

void WebPageHost::runScript(const QString &script, Completion completion)
{
    if (!m_page)
        return;
    if (!completion) {
        m_page->runJavaScript(script);
        return;
    }
    m_page->runJavaScript(script, [completion = std::move(completion)](const QVariant &result) {
        completion(result);
    });
}

} // namespace quorvel::preview
