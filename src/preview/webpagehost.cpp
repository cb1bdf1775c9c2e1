#include "webpagehost.h"

#include "filerequestgate.h"
#include "core/debuglog.h"
#include "previewcontroller.h"
#include "quorvelwebview.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>

#include <memory>


namespace quorvel::preview {

PageBridge::PageBridge(QuorvelWebPage *page, QObject *parent)
    : QObject(parent)
    , m_page(page)
{
}

void PageBridge::setReceiver(Receiver receive)
{
    m_receive = std::move(receive);
    // Delivered later, not inside the caller that is still setting itself up.
    QMetaObject::invokeMethod(
        this,
        [this] {
            while (m_receive && !m_waiting.isEmpty())
                m_receive(m_waiting.takeFirst());
        },
        Qt::QueuedConnection);
}

void PageBridge::post(const QJsonObject &message)
{
    // Any other document that found its way into the view must not edit, open or read through
    // the bridge; navigation refuses such documents, and this holds should one slip through.
    if (!m_page || !m_page->showsOwnPage())
        return;
    if (m_receive && m_waiting.isEmpty())
        m_receive(message);
    else
        m_waiting.append(message);
}

namespace {

// How often a page may come back from its process's death within how long.
constexpr int kRestartsInWindow = 3;
constexpr qint64 kRestartWindowMs = 60 * 1000;

std::unique_ptr<WebPageHost> &spare()
{
    static std::unique_ptr<WebPageHost> host;
    return host;
}

// Pages handed to windows so far.
int &pagesTaken()
{
    static int taken = 0;
    return taken;
}

bool &spareScheduled()
{
    static bool scheduled = false;
    return scheduled;
}

// A page must go before the web engine does.
void dropSpare()
{
    spare().reset();
}

} // namespace

std::unique_ptr<WebPageHost> WebPageHost::take(QWebEngineProfile *profile)
{
    if (profile && profile != QWebEngineProfile::defaultProfile())
        return std::make_unique<WebPageHost>(profile);
    ++pagesTaken();
    if (spare())
        return std::move(spare());
    // Two pages loading at once take twice as long each on two cores: this window's page goes
    // first, and the spare waits for its render.
    spareScheduled() = false;
    return std::make_unique<WebPageHost>();
}

namespace {
void dropSpareOnQuit()
{
    static const bool installed = [] {
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, &dropSpare);
        qAddPostRoutine(&dropSpare);
        return true;
    }();
    Q_UNUSED(installed);
}
} // namespace

void WebPageHost::prepareFirst()
{
    if (spare() || pagesTaken() > 0)
        return;
    spare() = std::make_unique<WebPageHost>();
    // After the engine's own clean-up is installed, so that it runs first: a program that
    // ends without its event loop (the one note asked for could not be opened) otherwise
    // tore the engine down under the page and crashed on the way out.
    dropSpareOnQuit();
}

void WebPageHost::prepareSpare()
{
    // A spare page costs a renderer process (40 MB and more). It pays for itself once a second
    // note is opened: someone who opens notes one after another gets the next one at once,
    // someone who reads one note keeps one page's memory.
    if (spare() || spareScheduled() || pagesTaken() < 2)
        return;
    dropSpareOnQuit();
    spareScheduled() = true;
    QTimer::singleShot(0, qApp, [] {
        if (!std::exchange(spareScheduled(), false))
            return;
        if (!spare())
            spare() = std::make_unique<WebPageHost>();
    });
}

WebPageHost::WebPageHost(QWebEngineProfile *profile)
    : m_view(new QuorvelWebView)
{
    const QUrl pageUrl = QUrl::fromLocalFile(PreviewController::webDirectory()
                                             + QStringLiteral("index.html"));
    core::startupMark("engine-start");
    QWebEngineProfile *chosen = profile ? profile : QWebEngineProfile::defaultProfile();
    core::startupMark("engine");
    m_page = new QuorvelWebPage(pageUrl, chosen, m_view);
    // The page's own scripts and styles, and images beside the document, are local files: the
    // engine loads none of them without this. What the page may fetch is narrowed by its
    // content security policy, and no other page is ever let in (navigation policy).
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    // A file: page may load nothing from the network without this, so a document's web images
    // stayed blank. The policy's img-src lets images in; its script-src, object-src, frame-src
    // and default-src keep every other remote load out.
    m_page->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    m_page->setUrlRequestInterceptor(new FileRequestGate(m_page));
    // A file dropped on the view would otherwise be loaded in our page's place.
    m_page->settings()->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);

    auto *channel = new QWebChannel(m_page);
    m_bridge = new PageBridge(m_page, channel);
    channel->registerObject(QStringLiteral("bridge"), m_bridge);
    m_page->setWebChannel(channel);

    QObject::connect(m_page, &QWebEnginePage::loadingChanged, m_page,
                     [](const QWebEngineLoadingInfo &info) {
                         if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
                             return;
                         // A warning, never quiet by default: a missing page is otherwise a
                         // silent blank view.
                         qWarning("[webview] load failed: %s", qUtf8Printable(info.errorString()));
                     });
    // A page process that dies (killed, out of memory, a crash) leaves a blank view. The page
    // loads again, and once it says it is ready its controller sends it the note afresh. Pages
    // share their process, so one death takes several windows down and brings them all back.
    // A page that dies again at once each time (a note that crashes the engine) is given up on
    // rather than reloaded for ever.
    QObject::connect(m_page, &QWebEnginePage::renderProcessTerminated, m_page,
                     [page = m_page.data(), pageUrl,
                      restarts = std::make_shared<QList<qint64>>()](
                         QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                         if (status == QWebEnginePage::NormalTerminationStatus)
                             return;
                         const qint64 now = QDateTime::currentMSecsSinceEpoch();
                         restarts->removeIf([now](qint64 at) { return now - at > kRestartWindowMs; });
                         if (restarts->size() >= kRestartsInWindow) {
                             qWarning("[webview] the page's process ended again (code %d); not "
                                      "loading it again",
                                      code);
                             return;
                         }
                         restarts->append(now);
                         qWarning("[webview] the page's process ended (code %d); loading the page "
                                  "again",
                                  code);
                         // Not from inside the engine's own notification.
                         QTimer::singleShot(0, page, [page, pageUrl] { page->load(pageUrl); });
                     });
    m_view->setPage(m_page);
    m_view->setMinimumWidth(260);
    if (core::startupTraceEnabled())
        QObject::connect(m_page, &QWebEnginePage::loadFinished, m_page,
                         [] { core::startupMark("loaded"); });
    m_page->load(pageUrl);
    core::startupMark("page");
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
