#include "updater.h"

#include "support.h"
#include "themes/settingsstore.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QXmlStreamReader>

#ifndef QUORVEL_VERSION
#define QUORVEL_VERSION ""
#endif

namespace quorvel::app {

namespace {

const QString kAutomaticallyChecksKey = QStringLiteral("automaticallyChecksForUpdates");
const QString kAutomaticallyDownloadsKey = QStringLiteral("automaticallyDownloadsUpdates");
const QString kLastCheckKey = QStringLiteral("lastUpdateCheck");
const QString kSkippedVersionKey = QStringLiteral("skippedUpdateVersion");
const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// A feed is a few kilobytes; anything far larger is not one, and is not read into memory.
constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;
// The first automatic check waits for the first window to settle.
constexpr std::chrono::seconds kFirstCheckDelay(5);

bool s_networkAllowed = false;
QList<Updater *> &liveUpdaters()
{
    static QList<Updater *> updaters;
    return updaters;
}

struct Token
{
    enum Kind { Number, Letters } kind;
    QStringView text;
};

QList<Token> tokens(const QString &version)
{
    QList<Token> out;
    qsizetype i = 0;
    // Tags are often written "v1.2": the "v" is no pre-release mark.
    if (version.size() > 1 && (version.front() == u'v' || version.front() == u'V')
        && version.at(1).isDigit())
        i = 1;
    while (i < version.size()) {
        const QChar c = version.at(i);
        if (!c.isLetterOrNumber()) {
            ++i;
            continue;
        }
        const bool digit = c.isDigit();
        qsizetype end = i + 1;
        while (end < version.size() && version.at(end).isLetterOrNumber()
               && version.at(end).isDigit() == digit)
            ++end;
        out.append({digit ? Token::Number : Token::Letters, QStringView(version).mid(i, end - i)});
        i = end;
    }
    return out;
}

// Numbers of any length, without overflow: drop the leading zeros, then the longer is larger.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

bool isZero(const Token &token)
{
    return token.kind == Token::Number && compareNumbers(token.text, u"0") == 0;
}

// What the longer of two versions equal so far has left over decides: letters first make it a
// pre-release (older), a non-zero number makes it newer, only zeros make them equal.
int compareRest(const QList<Token> &rest, qsizetype from)
{
    for (qsizetype i = from; i < rest.size(); ++i) {
        if (rest[i].kind == Token::Letters)
            return -1;
        if (!isZero(rest[i]))
            return 1;
    }
    return 0;
}

bool isWebPage(const QUrl &url)
{
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http");
}

} // namespace

Updater::Updater(themes::SettingsStore &store, core::Scheduler &clock,
                 QNetworkAccessManager *network, const QString &currentVersion,
                 const QUrl &feedUrl, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_clock(clock)
    , m_network(network)
    , m_currentVersion(currentVersion)
    , m_feedUrl(feedUrl)
{
    qRegisterMetaType<Release>();
    qRegisterMetaType<Outcome>();
    liveUpdaters().append(this);
}

Updater::~Updater()
{
    liveUpdaters().removeOne(this);
    m_nextCheck.cancel();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

Updater &Updater::shared()
{
    static Updater *updater = [] {
        auto *network = new QNetworkAccessManager(qApp);
        auto *made = new Updater(themes::SettingsStore::standard(), core::Scheduler::main(), network,
                                 QStringLiteral(QUORVEL_VERSION), support::appcastUrl(), qApp);
        connect(made, &Updater::checkFinished, made, &Updater::showOutcome);
        return made;
    }();
    return *updater;
}

void Updater::setNetworkAllowed(bool allowed)
{
    s_networkAllowed = allowed;
    for (Updater *updater : liveUpdaters()) {
        if (!allowed) {
            updater->m_nextCheck.cancel();
            if (updater->m_reply)
                updater->m_reply->abort();
        }
        updater->setBusy(updater->m_busy);
        if (allowed)
            updater->scheduleNext();
    }
}

bool Updater::networkAllowed()
{
    return s_networkAllowed;
}

void Updater::start()
{
    if (m_started)
        return;
    m_started = true;
    setBusy(m_busy);
    scheduleNext();
}

bool Updater::canCheck() const
{
    return m_started && s_networkAllowed && m_network && !m_busy;
}

void Updater::checkNow()
{
    if (canCheck())
        check(true);
}

bool Updater::automaticallyChecks() const
{
    // Off until the user turns it on: the program asks the maker's site nothing unasked.
    return m_store.boolean(kAutomaticallyChecksKey).value_or(false);
}

void Updater::setAutomaticallyChecks(bool on)
{
    if (on == automaticallyChecks())
        return;
    m_store.setValue(kAutomaticallyChecksKey, on);
    // Announced before any check starts, so that what depends on the setting (the download
    // preference's switch) follows it at once.
    Q_EMIT automaticallyChecksChanged(on);
    if (on)
        scheduleNext();
    else
        m_nextCheck.cancel();
}

bool Updater::automaticallyDownloads() const
{
    return m_store.boolean(kAutomaticallyDownloadsKey).value_or(false);
}

void Updater::setAutomaticallyDownloads(bool on)
{
    if (on == automaticallyDownloads())
        return;
    m_store.setValue(kAutomaticallyDownloadsKey, on);
    Q_EMIT automaticallyDownloadsChanged(on);
}

QDateTime Updater::lastCheck() const
{
    const QString stored = m_store.string(kLastCheckKey).value_or(QString());
    return QDateTime::fromString(stored, Qt::ISODateWithMs);
}

bool Updater::isCheckDue(const QDateTime &lastCheck, const QDateTime &now)
{
    if (!lastCheck.isValid() || lastCheck > now)
        return true;
    return lastCheck.msecsTo(now) >= std::chrono::milliseconds(kCheckInterval).count();
}

void Updater::scheduleNext()
{
    m_nextCheck.cancel();
    if (!m_started || !s_networkAllowed || !automaticallyChecks())
        return;
    const QDateTime now = m_clock.now();
    const QDateTime last = lastCheck();
    std::chrono::milliseconds wait = kFirstCheckDelay;
    if (!isCheckDue(last, now))
        wait = std::chrono::milliseconds(
            now.msecsTo(last.addMSecs(std::chrono::milliseconds(kCheckInterval).count())));
    m_nextCheck = m_clock.after(wait, [this] {
        if (automaticallyChecks())
            check(false);
    });
}

void Updater::setBusy(bool busy)
{
    m_busy = busy;
    const bool can = canCheck();
    if (can != m_lastCanCheck) {
        m_lastCanCheck = can;
        Q_EMIT canCheckChanged(can);
    }
}

void Updater::check(bool userInitiated)
{
    if (!s_networkAllowed || !m_network || m_busy)
        return;
    m_nextCheck.cancel();
    // Every attempt counts, answered or not: a site that is down is not asked again all day.
    m_store.setValue(kLastCheckKey, m_clock.now().toUTC().toString(Qt::ISODateWithMs));
    setBusy(true);
    Q_EMIT checkStarted(userInitiated);

    QNetworkRequest request(m_feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Quorvel/%1").arg(m_currentVersion));
    request.setTransferTimeout(30000);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, m_reply, [reply = m_reply](qint64 received) {
        if (received > kMaxFeedBytes)
            reply->abort();
    });
    connect(m_reply, &QNetworkReply::finished, this,
            [this, reply = m_reply, userInitiated] { finish(reply, userInitiated); });
}

void Updater::finish(QNetworkReply *reply, bool userInitiated)
{
    reply->deleteLater();
    Outcome outcome = Outcome::UpToDate;
    Release release;
    QString error;
    if (reply->error() != QNetworkReply::NoError) {
        outcome = Outcome::Failed;
        error = reply->errorString();
    } else if (const auto newer = newerRelease(parseAppcast(reply->read(kMaxFeedBytes)),
                                               m_currentVersion)) {
        outcome = Outcome::UpdateAvailable;
        release = *newer;
    }
    setBusy(false);
    scheduleNext();
    Q_EMIT checkFinished(outcome, release, error, userInitiated);
}

void Updater::showOutcome(Outcome outcome, const Release &release, const QString &error,
                          bool userInitiated)
{
    // Unasked, only news is worth a window: no "up to date", no "the site is down".
    if (!userInitiated && outcome != Outcome::UpdateAvailable)
        return;
    if (!userInitiated && m_store.string(kSkippedVersionKey) == release.version)
        return;

    // Nothing is ever installed here; the most the user can ask for is to be taken to the
    // download without a question.
    if (!userInitiated && outcome == Outcome::UpdateAvailable && automaticallyDownloads()
        && isWebPage(release.page)) {
        QDesktopServices::openUrl(release.page);
        return;
    }
    auto *box = new QMessageBox(QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(tr("Software Update"));
    switch (outcome) {
    case Outcome::UpdateAvailable: {
        box->setIcon(QMessageBox::Information);
        box->setText(tr("Quorvel %1 is available").arg(release.version));
        box->setInformativeText(
            tr("You have version %1. Quorvel doesn't install updates itself: the release page "
               "has the download for your system.")
                .arg(m_currentVersion));
        QPushButton *open = nullptr;
        if (isWebPage(release.page))
            open = box->addButton(tr("Open Release Page"), QMessageBox::AcceptRole);
        QPushButton *skip = box->addButton(tr("Skip This Version"), QMessageBox::DestructiveRole);
        box->addButton(tr("Later"), QMessageBox::RejectRole);
        if (open)
            box->setDefaultButton(open);
        connect(box, &QMessageBox::buttonClicked, this, [this, open, skip, release](auto *button) {
            if (open && button == open)
                QDesktopServices::openUrl(release.page);
            else if (button == skip)
                m_store.setValue(kSkippedVersionKey, release.version);
        });
        break;
    }
    case Outcome::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(tr("You're up to date"));
        box->setInformativeText(
            tr("Quorvel %1 is the newest version available.").arg(m_currentVersion));
        break;
    case Outcome::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(tr("Quorvel couldn't check for updates"));
        box->setInformativeText(error);
        break;
    }
    box->open();
}

int Updater::compareVersions(const QString &a, const QString &b)
{
    const QList<Token> left = tokens(a);
    const QList<Token> right = tokens(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Token &l = left[i];
        const Token &r = right[i];
        if (l.kind != r.kind) // a number beats letters: 1.0.1 is later than 1.0b1
            return l.kind == Token::Number ? 1 : -1;
        const int order = l.kind == Token::Number ? compareNumbers(l.text, r.text)
                                                  : l.text.compare(r.text, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() > common)
        return compareRest(left, common);
    if (right.size() > common)
        return -compareRest(right, common);
    return 0;
}

QList<Updater::Release> Updater::parseAppcast(const QByteArray &feed)
{
    QList<Release> releases;
    QXmlStreamReader xml(feed);
    if (!xml.readNextStartElement() || xml.name() != u"rss")
        return {};

    struct Item
    {
        QString title, version, shortVersion, os;
        QUrl link, download;
    };
    std::optional<Item> item;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const bool sparkle = xml.namespaceUri() == kSparkleNamespace;
            const QStringView name = xml.name();
            if (name == u"item" && !sparkle) {
                item = Item();
            } else if (!item) {
                continue;
            } else if (name == u"title" && !sparkle) {
                item->title = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (name == u"link" && !sparkle) {
                item->link = QUrl(xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed());
            } else if (sparkle && name == u"version") {
                item->version = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (sparkle && name == u"shortVersionString") {
                item->shortVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (name == u"enclosure" && !sparkle) {
                const QXmlStreamAttributes attributes = xml.attributes();
                item->download = QUrl(attributes.value(QStringLiteral("url")).toString().trimmed());
                if (attributes.hasAttribute(kSparkleNamespace, QStringLiteral("os")))
                    item->os = attributes.value(kSparkleNamespace, QStringLiteral("os")).toString().trimmed();
                if (item->version.isEmpty())
                    item->version = attributes.value(kSparkleNamespace, QStringLiteral("version")).toString().trimmed();
                if (item->shortVersion.isEmpty())
                    item->shortVersion =
                        attributes.value(kSparkleNamespace, QStringLiteral("shortVersionString")).toString().trimmed();
            }
        } else if (xml.isEndElement() && xml.name() == u"item" && item) {
            // Releases for other systems share the feed; ours are those marked linux or unmarked.
            const bool ours = item->os.isEmpty() || item->os.compare(u"linux", Qt::CaseInsensitive) == 0;
            const QString version = item->shortVersion.isEmpty() ? item->version : item->shortVersion;
            if (ours && !version.isEmpty() && !tokens(version).isEmpty()) {
                const QUrl page = isWebPage(item->link) ? item->link
                    : isWebPage(item->download)         ? item->download
                                                        : QUrl();
                releases.append({version, item->title, page});
            }
            item.reset();
        }
    }
    // A feed cut off or garbled half-way is not trusted at all.
    if (xml.hasError())
        return {};
    return releases;
}

std::optional<Updater::Release> Updater::newerRelease(const QList<Release> &releases,
                                                      const QString &current)
{
    std::optional<Release> best;
    for (const Release &release : releases) {
        if (compareVersions(release.version, current) > 0
            && (!best || compareVersions(release.version, best->version) > 0))
            best = release;
    }
    return best;
}

} // namespace quorvel::app
