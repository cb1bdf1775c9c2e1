#pragma once

#include "core/scheduler.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace quorvel::themes {
class SettingsStore;
}

namespace quorvel::app {

// Our own small update checker. It reads the release feed (an RSS "appcast": one <item> per
// release, with sparkle:version / sparkle:shortVersionString and an <enclosure>), tells the user
// when a newer release exists and can open its page. It downloads and installs nothing: on Linux
// the package manager or the user does that.
//
// Nothing here touches the network unless networkAllowed() is on, which only the normal start
// of the program turns on: tests, --export and --selftest never reach the maker's site.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)
    Q_PROPERTY(bool automaticallyChecks READ automaticallyChecks WRITE setAutomaticallyChecks
                   NOTIFY automaticallyChecksChanged)
    Q_PROPERTY(bool automaticallyDownloads READ automaticallyDownloads
                   WRITE setAutomaticallyDownloads NOTIFY automaticallyDownloadsChanged)

public:
    struct Release
    {
        QString version; // what is compared: the short version, else the build version
        QString title;
        QUrl page;       // the release's page, else its download
        bool operator==(const Release &) const = default;
    };

    enum class Outcome { UpdateAvailable, UpToDate, Failed };

    static constexpr auto kCheckInterval = std::chrono::hours(24);

    // `network` is used for every fetch; the updater does not own it.
    Updater(themes::SettingsStore &store, core::Scheduler &clock, QNetworkAccessManager *network,
            const QString &currentVersion, const QUrl &feedUrl, QObject *parent = nullptr);
    ~Updater() override;

    // Made on first use over the standard store, the real clock and the maker's feed; it shows
    // its findings in message boxes.
    static Updater &shared();

    // The one switch for all network access, off until the program's normal start turns it on.
    static void setNetworkAllowed(bool allowed);
    static bool networkAllowed();

    // Starts the automatic schedule (when enabled) and allows checks. Called once, at a normal
    // start only.
    void start();
    bool isStarted() const { return m_started; }

    // True once started, with the network allowed and no check under way.
    bool canCheck() const;
    // A check asked for by the user: every outcome is reported, "up to date" included.
    void checkNow();

    bool automaticallyChecks() const;
    void setAutomaticallyChecks(bool on);
    // Kept for the settings window; nothing is ever installed by the program itself.
    bool automaticallyDownloads() const;
    void setAutomaticallyDownloads(bool on);

    QDateTime lastCheck() const;
    QString currentVersion() const { return m_currentVersion; }

    // Newer than zero when `a` is a later version than `b`. Numbers compare as numbers, trailing
    // zeros are insignificant ("1.0" == "1.0.0"), and letters mark a pre-release that comes
    // before the plain release ("1.0b2" < "1.0" < "1.0.1").
    static int compareVersions(const QString &a, const QString &b);
    // Every usable release of a feed, in feed order. Items for other systems, without a version,
    // and everything after a syntax error are left out; a broken feed gives an empty list.
    static QList<Release> parseAppcast(const QByteArray &feed);
    // The newest release of `releases` later than `current`, if any.
    static std::optional<Release> newerRelease(const QList<Release> &releases,
                                               const QString &current);
    // An automatic check is due when none was ever made, a day has passed since the last, or
    // the last lies in the future (the clock was set back).
    static bool isCheckDue(const QDateTime &lastCheck, const QDateTime &now);

Q_SIGNALS:
    void canCheckChanged(bool canCheck);
    void automaticallyChecksChanged(bool on);
    void automaticallyDownloadsChanged(bool on);
    void checkStarted(bool userInitiated);
    // `release` is set for UpdateAvailable; `error` for Failed.
    void checkFinished(quorvel::app::Updater::Outcome outcome,
                       const quorvel::app::Updater::Release &release, const QString &error,
                       bool userInitiated);

private:
    void check(bool userInitiated);
    void finish(QNetworkReply *reply, bool userInitiated);
    void scheduleNext();
    void setBusy(bool busy);
    void showOutcome(Outcome outcome, const Release &release, const QString &error,
                     bool userInitiated);

    themes::SettingsStore &m_store;
    core::Scheduler &m_clock;
    QPointer<QNetworkAccessManager> m_network;
    QString m_currentVersion;
    QUrl m_feedUrl;
    core::ScheduledWork m_nextCheck;
    QPointer<QNetworkReply> m_reply;
    bool m_started = false;
    bool m_busy = false;
    bool m_lastCanCheck = false;
};

} // namespace quorvel::app

Q_DECLARE_METATYPE(quorvel::app::Updater::Release)
