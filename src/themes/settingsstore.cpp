#include "settingsstore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace quorvel::themes {

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

SettingsStore &SettingsStore::standard()
{
    static SettingsStore store(
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("Quorvel/Quorvel.conf")));
    return store;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

bool SettingsStore::contains(const QString &key) const
{
    return m_settings->contains(key);
}

QVariant SettingsStore::value(const QString &key) const
{
    return m_settings->value(key);
}

std::optional<QString> SettingsStore::string(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

std::optional<double> SettingsStore::number(const QString &key) const
{
    const QVariant v = value(key);
    double d = 0;
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        d = v.toDouble(&ok);
        break;
    case QMetaType::QString:
        d = v.toString().trimmed().toDouble(&ok);
        break;
    default:
        break;
    }
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<bool> SettingsStore::boolean(const QString &key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString s = v.toString().trimmed().toLower();
    if (s == u"true" || s == u"1")
        return true;
    if (s == u"false" || s == u"0")
        return false;
    return std::nullopt;
}

void SettingsStore::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}

void SettingsStore::remove(const QString &key)
{
    m_settings->remove(key);
    m_settings->sync();
}

QList<QVariantMap> SettingsStore::records(const QString &name) const
{
    // The records that are there, in their order, whatever the array's "size" says: a file
    // edited by hand or damaged may say 2147483647 (which had the store reserve gigabytes and
    // walk two billion empty groups) or -1 (which hid every record).
    m_settings->beginGroup(name);
    QList<std::pair<qint64, QString>> indexes;
    const QStringList groups = m_settings->childGroups();
    for (const QString &group : groups) {
        bool number = false;
        const qint64 index = group.toLongLong(&number);
        if (number && index > 0)
            indexes.append({index, group});
    }
    std::sort(indexes.begin(), indexes.end());
    QList<QVariantMap> list;
    list.reserve(indexes.size());
    for (const auto &[index, group] : std::as_const(indexes)) {
        m_settings->beginGroup(group);
        QVariantMap record;
        const QStringList fields = m_settings->childKeys();
        for (const QString &field : fields)
            record.insert(field, m_settings->value(field));
        m_settings->endGroup();
        list.append(record);
    }
    m_settings->endGroup();
    return list;
}

void SettingsStore::setRecords(const QString &name, const QList<QVariantMap> &records)
{
    // Removing first drops records beyond the new size, which would otherwise linger unread.
    m_settings->remove(name);
    m_settings->beginWriteArray(name, int(records.size()));
    for (qsizetype i = 0; i < records.size(); ++i) {
        m_settings->setArrayIndex(int(i));
        const QVariantMap &record = records[i];
        for (auto it = record.cbegin(); it != record.cend(); ++it)
            m_settings->setValue(it.key(), it.value());
    }
    m_settings->endArray();
    m_settings->sync();
}

} // namespace quorvel::themes
