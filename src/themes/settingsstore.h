#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class QSettings;

namespace quorvel::themes {

// The user defaults store: one INI file under the XDG config folder. The INI format keeps no
// types, so the typed readers accept a value written by us (kept in memory with its type) as
// well as its text form, and refuse anything that cannot be taken as the asked type; callers
// then fall back to their defaults instead of taking garbage.
class SettingsStore
{
public:
    explicit SettingsStore(const QString &iniPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // ~/.config/Quorvel/Quorvel.conf, or under $XDG_CONFIG_HOME when set; created on first use.
    static SettingsStore &standard();

    QString fileName() const;
    bool contains(const QString &key) const;
    QVariant value(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    std::optional<double> number(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;

    // Writes through to the file at once, so that a crash right after a change keeps it.
    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // A list of records kept as an INI array: a [name] section of "1\field=value" lines and a
    // size, which a user can read and edit, unlike a serialized map. Values come back as text
    // unless written in this run. setRecords replaces the whole list, and a plain value stored
    // under the same name (as older versions did) with it.
    QList<QVariantMap> records(const QString &name) const;
    void setRecords(const QString &name, const QList<QVariantMap> &records);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace quorvel::themes
