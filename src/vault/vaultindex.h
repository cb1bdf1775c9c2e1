#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

namespace quorvel::vault {

// Which file a link names, for one vault: the folder tree that holds a `.obsidian` folder
// (or, for a note outside any vault, the note's own folder). Every file under the root is known
// by its name, case-insensitively; the index is built on its first name lookup and rebuilt
// when a lookup misses and the last build is more than ten seconds old. Indexes are shared per
// root for the life of the process. Safe to use from several threads at once.
class VaultIndex
{
public:
    // Folder names whose contents are never indexed.
    static const QSet<QString> &skipped();

    // The nearest enclosing folder of the document that holds a `.obsidian` item; none when
    // there is no such folder below "/".
    static std::optional<QString> vaultRoot(const QString &documentPath);
    // The index of the document's vault (its own folder when it is in none), shared per root.
    static VaultIndex &index(const QString &documentPath);

    QString root() const { return m_root; }

    // Reads the tree again now: a file renamed, moved or made by the program itself is known
    // at once, not after the rebuild delay.
    void rebuild();
    // Every file under the root, as the last build saw it (built first when it never was).
    QStringList files();

    // The file `target` names, seen from `sourcePath` (a document, or empty): a direct path under
    // the root or the source's folder first, then by name through the index, with the same-
    // folder and shortest-path tie-breaks. An absolute, cleaned path, or none.
    std::optional<QString> resolve(const QString &target, const QString &sourcePath = {});

    // The file a relative Markdown link points at: `resolved` when something exists there, else
    // the link as `written` (before any "#" or "?", percent escapes decoded) resolved in the
    // vault of `sourcePath`. An absolute, cleaned path, or none.
    static std::optional<QString> linkTarget(const QUrl &resolved, const QString &written,
                                             const QString &sourcePath);

private:
    // Tests and benchmarks make fresh, uncached indexes and age the last build through it, so
    // neither has to wait out the rebuild delay on the wall clock.
    friend struct VaultIndexProbe;

    explicit VaultIndex(QString root);
    void build();
    QList<QString> matches(const QString &name) const;

    const QString m_root;
    mutable QMutex m_lock; // guards m_byName and m_builtAt
    QHash<QString, QList<QString>> m_byName;
    std::optional<QDateTime> m_builtAt;
};

} // namespace quorvel::vault
