#pragma once

#include "core/manualscheduler.h"
#include "core/documentmodel.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <functional>

using namespace std::chrono_literals;

// A settings store, a settings object and a manual clock of their own, in a scratch folder that
// also holds the test's files.
struct ScratchEnvironment
{
    QTemporaryDir dir;
    quorvel::themes::SettingsStore store{dir.filePath(QStringLiteral("settings.conf"))};
    quorvel::themes::Appearance appearance{store};
    quorvel::themes::FileThemes fileThemes{store};
    quorvel::core::ManualScheduler clock;

    quorvel::core::ModelEnvironment env() { return {clock, store, appearance, fileThemes}; }

    QString path(const QString &name) const { return dir.filePath(name); }

    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a test file");
        return path(name);
    }

    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

// Runs the event loop until `done` holds or `timeoutMs` has passed; true when it holds. Unlike
// QTest::qWaitFor, which sleeps 10 ms between rounds of events, this loop waits on events, so
// the web engine's message pump, which runs on Qt's event loop, is not slowed tenfold.
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}
