#pragma once

#include "core/manualscheduler.h"
#include "core/documentmodel.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>

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
