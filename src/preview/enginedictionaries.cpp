#include "enginedictionaries.h"

#include "core/debuglog.h"
#include "core/filereader.h"
#include "core/filewriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

#include <cstdio>
#include <memory>

namespace quorvel::preview {

namespace {

constexpr int kConvertTimeoutMs = 60'000;
constexpr int kTakeDelayMs = 400;

} // namespace

QString EngineDictionaries::folder()
{
    // Before the application object exists, so from the environment and not the app's name.
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/Quorvel/dictionaries");
}

void EngineDictionaries::prepareEnvironment()
{
    if (qEnvironmentVariableIsSet("QTWEBENGINE_DICTIONARIES_PATH"))
        return;
    // The engine looks for the folder once, when it starts: it must be there even before the
    // first dictionary is made in it.
    QDir().mkpath(folder());
    qputenv("QTWEBENGINE_DICTIONARIES_PATH", QFile::encodeName(folder()));
}

QString EngineDictionaries::converter()
{
    const QString path = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath)
        + QStringLiteral("/qwebengine_convert_dict");
    return QFileInfo(path).isExecutable() ? path : QString();
}

QString EngineDictionaries::engineName(const QString &language)
{
    return QString(language).replace(u'_', u'-');
}

EngineDictionaries::EngineDictionaries(QObject *parent)
    : QObject(parent)
{
}

QString EngineDictionaries::stamp(const Entry &entry) const
{
    // What the file was made from: the system's dictionary as it is now, and the words.
    const QFileInfo dic(entry.dic);
    const QFileInfo aff(entry.dic.chopped(4) + QStringLiteral(".aff"));
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QFile::encodeName(dic.absoluteFilePath()));
    hash.addData(QByteArray(QByteArray::number(dic.size()) + ' '
                 + QByteArray::number(dic.lastModified().toMSecsSinceEpoch()) + ' '
                 + QByteArray::number(aff.size()) + ' '
                 + QByteArray::number(aff.lastModified().toMSecsSinceEpoch())));
    hash.addData(m_words.join(u'\n').toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

void EngineDictionaries::use(QWebEngineProfile *profile, const QString &language,
                             const QString &dic, const QStringList &words)
{
    m_words = words;
    Entry &entry = m_entries[profile];
    entry.language = language;
    entry.dic = dic;
    if (entry.building) {
        entry.again = true;
        return;
    }
    build(profile);
}

void EngineDictionaries::setWords(const QStringList &words)
{
    if (words == m_words)
        return;
    m_words = words;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->building)
            it->again = true;
        else
            build(it.key());
    }
}

void EngineDictionaries::setEnabled(bool on)
{
    m_enabled = on;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!on)
            it.key()->setSpellCheckEnabled(false);
        else if (!it->building)
            take(it.key());
    }
}

void EngineDictionaries::build(QWebEngineProfile *profile)
{
    Entry &entry = m_entries[profile];
    const QString language = entry.language;
    const QString name = engineName(language);
    const QDir dir(folder());
    const QString made = dir.filePath(name + QStringLiteral(".bdic"));
    const QString stampFile = dir.filePath(name + QStringLiteral(".stamp"));
    const QString wanted = stamp(entry);
    const auto stored = core::FileReader::read(stampFile, 1024);
    if (stored && QString::fromLatin1(stored.value()).trimmed() == wanted && QFileInfo(made).isFile()) {
        take(profile);
        return;
    }
    const QString tool = converter();
    if (tool.isEmpty()) {
        Q_EMIT failed(language, tr("The dictionary converter of the web engine is not installed."));
        return;
    }
    // Made beside the final file, so that moving it into place is a rename on one disk.
    QDir().mkpath(dir.path());
    auto work = std::make_shared<QTemporaryDir>(dir.filePath(QStringLiteral("build-XXXXXX")));
    if (!work->isValid()) {
        Q_EMIT failed(language, tr("No folder for the dictionary could be made in %1.").arg(dir.path()));
        return;
    }
    // The converter reads name.aff and name.dic and takes extra words from name.dic_delta.
    const QString base = work->filePath(name);
    const QString aff = entry.dic.chopped(4) + QStringLiteral(".aff");
    if (!QFile::link(QFileInfo(entry.dic).absoluteFilePath(), base + QStringLiteral(".dic"))
        || !QFile::link(QFileInfo(aff).absoluteFilePath(), base + QStringLiteral(".aff"))) {
        Q_EMIT failed(language, tr("The dictionary %1 could not be read.").arg(entry.dic));
        return;
    }
    QStringList delta;
    for (const QString &word : m_words) {
        // One plain word a line; a slash would be read as the start of affix flags.
        if (!word.contains(u'/') && !word.contains(u'\n'))
            delta.append(word);
    }
    if (const auto written = core::FileWriter::write(base + QStringLiteral(".dic_delta"),
                                                     (delta.join(u'\n') + u'\n').toUtf8());
        !written) {
        Q_EMIT failed(language, written.error());
        return;
    }
    entry.building = true;
    auto *process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    const auto done = [this, process, work, profile, language, base, made, wanted](bool ran) {
        process->deleteLater();
        const auto it = m_entries.find(profile);
        if (it == m_entries.end())
            return;
        it->building = false;
        const bool again = std::exchange(it->again, false);
        const QString output = base + QStringLiteral(".bdic");
        if (!ran || QFileInfo(output).size() == 0) {
            const QString said = QString::fromLocal8Bit(process->readAll()).trimmed();
            core::previewLog(QStringLiteral("dictionary conversion failed: ") + said);
            Q_EMIT failed(language, tr("The dictionary for %1 could not be converted.").arg(language));
        } else if (std::rename(QFile::encodeName(output).constData(), QFile::encodeName(made).constData())
                   != 0) {
            Q_EMIT failed(language, tr("The dictionary could not be stored in %1.").arg(folder()));
        } else {
            // The stamp last: a crash before it leaves a file that is made again next time.
            core::FileWriter::write(QDir(folder()).filePath(engineName(language) + QStringLiteral(".stamp")),
                                    wanted.toLatin1() + '\n');
            if (!again)
                take(profile);
        }
        if (again)
            build(profile);
    };
    connect(process, &QProcess::finished, this, [done](int code, QProcess::ExitStatus status) {
        done(status == QProcess::NormalExit && code == 0);
    });
    connect(process, &QProcess::errorOccurred, this, [done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(false);
    });
    process->start(tool, {base + QStringLiteral(".dic"), base + QStringLiteral(".bdic")});
    QTimer::singleShot(kConvertTimeoutMs, process, [process] { process->kill(); });
}

void EngineDictionaries::take(QWebEngineProfile *profile)
{
    const Entry &entry = m_entries[profile];
    if (!m_enabled)
        return;
    // The engine reads a dictionary's file when its language is set: cleared and set again,
    // the new file is read and the pages' words are checked anew.
    profile->setSpellCheckLanguages({});
    profile->setSpellCheckLanguages({engineName(entry.language)});
    profile->setSpellCheckEnabled(true);
    // The engine loads the file on a thread of its own and says nothing when it is done; pages
    // asked to check again at once would still check with nothing (seen: no marks at all).
    QTimer::singleShot(kTakeDelayMs, this, [this, language = entry.language] { Q_EMIT ready(language); });
}

} // namespace quorvel::preview
