#include "filethemes.h"

#include "settingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QVariantMap>

#include <algorithm>
#include <sys/stat.h>

namespace quorvel::themes {

namespace {

const QString kFileThemesKey = QStringLiteral("fileThemes");
const QString kLastAssignedKey = QStringLiteral("lastAssignedTheme");

// The UUID of the file system on device `dev`, from the links udev keeps in /dev/disk/by-uuid;
// "volume" when there is none (containers, tmpfs, network file systems).
QString volumeUuid(dev_t dev)
{
    static QHash<dev_t, QString> cache;
    if (auto it = cache.constFind(dev); it != cache.constEnd())
        return *it;
    QString uuid = QStringLiteral("volume");
    QDirIterator it(QStringLiteral("/dev/disk/by-uuid"), QDir::System | QDir::Files);
    while (it.hasNext()) {
        it.next();
        struct stat device{};
        if (::stat(QFile::encodeName(it.filePath()).constData(), &device) == 0
            && device.st_rdev == dev) {
            uuid = it.fileName();
            break;
        }
    }
    cache.insert(dev, uuid);
    return uuid;
}

} // namespace

FileThemes::FileThemes(SettingsStore &store)
    : m_store(store)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(0);
    QObject::connect(&m_saveTimer, &QTimer::timeout, [this] { save(); });
    load();
}

FileThemes::~FileThemes()
{
    flush();
}

void FileThemes::flush()
{
    if (m_saveTimer.isActive()) {
        m_saveTimer.stop();
        save();
    }
}

void FileThemes::scheduleSave()
{
    m_saveTimer.start();
}

FileThemes &FileThemes::shared()
{
    static FileThemes *instance = [] {
        auto *memory = new FileThemes(SettingsStore::standard());
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         [memory] { memory->flush(); });
        return memory;
    }();
    return *instance;
}

QString FileThemes::standardizedPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

std::optional<QString> FileThemes::identifier(const QString &path)
{
    struct stat info{};
    if (::stat(QFile::encodeName(standardizedPath(path)).constData(), &info) != 0)
        return std::nullopt;
    return volumeUuid(info.st_dev) + u':' + QString::number(quint64(info.st_ino));
}

QString FileThemes::key(const QString &path)
{
    return identifier(path).value_or(u"path:" + standardizedPath(path));
}

void FileThemes::load()
{
    const QList<QVariantMap> records = m_store.records(kFileThemesKey);
    for (const QVariantMap &record : records) {
        const QVariant id = record.value(QStringLiteral("id"));
        if (id.typeId() != QMetaType::QString || id.toString().isEmpty())
            continue;
        addEntry(id.toString(), record);
    }
    if (!records.isEmpty())
        return;
    // Earlier versions kept the memory as one serialized map, which a user cannot read; it is
    // read this once and written back in the text form at the next turn of the event loop.
    const QVariant stored = m_store.value(kFileThemesKey);
    if (stored.typeId() != QMetaType::QVariantMap)
        return;
    scheduleSave();
    const QVariantMap map = stored.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it->typeId() != QMetaType::QVariantMap)
            return m_entries.clear();
    }
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        addEntry(it.key(), it->toMap());
}

// Takes an entry whose theme and path are text; a time that is not a number counts as never.
void FileThemes::addEntry(const QString &id, const QVariantMap &fields)
{
    const QVariant theme = fields.value(QStringLiteral("theme"));
    const QVariant path = fields.value(QStringLiteral("path"));
    if (theme.typeId() != QMetaType::QString || path.typeId() != QMetaType::QString)
        return;
    bool ok = false;
    const double opened = fields.value(QStringLiteral("opened")).toDouble(&ok);
    m_entries.insert(id, {theme.toString(), path.toString(), ok ? opened : 0});
}

void FileThemes::save()
{
    // In the order of their keys, so that each entry keeps its number from save to save and
    // opening a file changes only its own lines, not the numbering of all the others.
    QStringList ids = m_entries.keys();
    ids.sort();
    QList<QVariantMap> records;
    records.reserve(ids.size());
    for (const QString &id : std::as_const(ids)) {
        const Entry &entry = *m_entries.constFind(id);
        records.append(QVariantMap{{QStringLiteral("id"), id},
                                   {QStringLiteral("theme"), entry.theme},
                                   {QStringLiteral("path"), entry.path},
                                   {QStringLiteral("opened"), entry.opened}});
    }
    m_store.setRecords(kFileThemesKey, records);
}

double FileThemes::now() const
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

std::optional<ThemeKind> FileThemes::theme(const QString &path)
{
    const QString standardized = standardizedPath(path);
    const auto id = identifier(standardized);
    if (id) {
        if (auto it = m_entries.constFind(*id); it != m_entries.constEnd()) {
            if (const auto theme = themeFromStoredName(it->theme)) {
                remember(*theme, *id, standardized);
                return theme;
            }
        }
    }
    const Entry *newest = nullptr;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.path == standardized && (!newest || entry.opened > newest->opened))
            newest = &entry;
    }
    if (!newest)
        return std::nullopt;
    const auto theme = themeFromStoredName(newest->theme);
    if (!theme)
        return theme;
    // The file at this path has a new inode (a safe save, an atomic write, a delete and write):
    // its old ones are free, and the file system hands a freed inode to the next new file soon
    // (ext4 does within the same folder), which would then open in this file's theme.
    if (id)
        m_entries.removeIf([&](const auto &entry) {
            return entry.value().path == standardized && entry.key() != *id;
        });
    remember(*theme, id.value_or(u"path:" + standardized), standardized);
    return theme;
}

void FileThemes::remember(ThemeKind theme, const QString &id, const QString &path)
{
    // Two writes within one clock tick must still order, or the cut could drop the newer one.
    m_lastStamp = std::max(now(), m_lastStamp + 1e-6);
    m_entries.insert(id, {storedName(theme), path, m_lastStamp});
    if (m_entries.size() >= kLimit + 1) {
        QList<std::pair<QString, double>> byAge;
        byAge.reserve(m_entries.size());
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            byAge.append({it.key(), it->opened});
        std::stable_sort(byAge.begin(), byAge.end(),
                         [](const auto &a, const auto &b) { return a.second < b.second; });
        for (qsizetype i = 0; i < byAge.size() - kKeptAfterCut; ++i)
            m_entries.remove(byAge[i].first);
    }
    scheduleSave();
}

void FileThemes::rekey(const QString &oldId, ThemeKind theme, const QString &newId,
                       const QString &path)
{
    if (oldId != newId)
        m_entries.remove(oldId);
    remember(theme, newId, path);
}

ThemeKind FileThemes::nextTheme(const QSet<ThemeKind> &avoiding, ThemeKind first)
{
    const auto &rotation = themeRotation();
    const qsizetype n = rotation.size();
    qsizetype start = 0;
    const auto last = themeFromStoredName(m_store.string(kLastAssignedKey).value_or(QString()));
    if (last && rotation.contains(*last))
        start = rotation.indexOf(*last) + 1;
    else if (rotation.contains(first))
        start = rotation.indexOf(first);

    ThemeKind chosen = rotation[start % n];
    for (qsizetype k = 0; k < n; ++k) {
        const ThemeKind candidate = rotation[(start + k) % n];
        if (!avoiding.contains(candidate)) {
            chosen = candidate;
            break;
        }
    }
    m_store.setValue(kLastAssignedKey, storedName(chosen));
    return chosen;
}

} // namespace quorvel::themes
