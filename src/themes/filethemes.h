#pragma once

#include "themekind.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <optional>

namespace quorvel::themes {

class SettingsStore;

// Remembers the theme each file was given, under the file's identity on disk (its inode on its
// file system) so that a rename or a move keeps it, with the path as the fallback that carries a
// theme across an atomic replacement or a delete-and-write by another program. Hands out themes
// to new files from the rotation, passing over themes other windows show.
class FileThemes
{
public:
    static constexpr int kLimit = 5000;
    static constexpr int kKeptAfterCut = 4500;

    explicit FileThemes(SettingsStore &store);
    ~FileThemes();

    static FileThemes &shared();

    // "<file system UUID or 'volume'>:<inode>", or nothing when the file cannot be looked at.
    static std::optional<QString> identifier(const QString &path);
    // The key an entry for the file is written under: its identifier, else "path:" and the path.
    static QString key(const QString &path);
    // Absolute, with dot segments resolved; symbolic links are not followed.
    static QString standardizedPath(const QString &path);

    // The remembered theme; refreshes the entry (path and time) when one is found.
    std::optional<ThemeKind> theme(const QString &path);
    void remember(ThemeKind theme, const QString &id, const QString &path);
    // Moves an entry to a new key, dropping the old one: our own saves replace the file's inode.
    void rekey(const QString &oldId, ThemeKind theme, const QString &newId, const QString &path);
    ThemeKind nextTheme(const QSet<ThemeKind> &avoiding, ThemeKind first);

    // Writes what is not yet in the store. Writes are otherwise made at the next turn of the event
    // loop, so that a run of changes (a cut, a batch of windows) writes the memory once.
    void flush();

    int count() const { return int(m_entries.size()); }
    bool contains(const QString &id) const { return m_entries.contains(id); }

private:
    struct Entry
    {
        QString theme;
        QString path;
        double opened = 0;
    };

    void load();
    void addEntry(const QString &id, const QVariantMap &fields);
    void save();
    void scheduleSave();
    double now() const;

    SettingsStore &m_store;
    QHash<QString, Entry> m_entries;
    double m_lastStamp = 0;
    QTimer m_saveTimer;
};

} // namespace quorvel::themes
