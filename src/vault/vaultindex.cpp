#include "vaultindex.h"

#include "folderlistings.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QStringDecoder>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace quorvel::vault {

namespace {

constexpr qint64 kRebuildAfterMs = 10'000;

bool exists(const QString &path)
{
    return FolderListings::statExists(path);
}

// A name links to a note, never to a folder: "[[.]]" or "[[sub]]" must not find the vault's
// root or its subfolder (which the index, holding files only, never does either).
bool isFolder(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder part of an absolute, cleaned path ("/" for an item in "/").
QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString join(const QString &folder, const QString &name)
{
    if (folder.endsWith(u'/'))
        return QDir::cleanPath(folder + name);
    return QDir::cleanPath(folder + u'/' + name);
}

// Whether the cleaned absolute `path` lies under `root`. A name written with ".." (or an
// absolute one) must not reach a file outside the vault: "[[../../etc/passwd]]" would open it.
bool isUnder(const QString &path, const QString &root)
{
    if (root == u'/')
        return path.startsWith(u'/');
    return path.startsWith(root) && path.size() > root.size() && path.at(root.size()) == u'/';
}

// "2024.03.05" has an extension too: anything after the last dot of the last component counts.
QStringList candidates(const QString &target)
{
    const QStringView last = QStringView(target).mid(target.lastIndexOf(u'/') + 1);
    const qsizetype dot = last.lastIndexOf(u'.');
    if (dot >= 0 && dot + 1 < last.size())
        return {target};
    return {target, target + QStringLiteral(".md")};
}

// None when an escape is malformed or the bytes are not UTF-8, so that a name holding a literal
// "%" still finds its file.
std::optional<QString> percentDecoded(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%') {
            out += bytes[i];
            continue;
        }
        const int high = i + 2 < bytes.size() ? hex(bytes[i + 1]) : -1;
        const int low = high >= 0 ? hex(bytes[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        out += char(high * 16 + low);
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(out);
    if (utf8.hasError())
        return std::nullopt;
    return decoded;
}

QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

using NameMap = QHash<QString, QList<QString>>;

// One pass over the tree with readdir: the entry's type comes with its name, so only entries
// whose type the file system leaves unknown, and symbolic links, cost a stat. A symbolic link to
// a folder is treated as the folder it names and so neither indexed nor entered: following it
// could walk in circles or out of the vault. Subfolders are entered after their parent has been
// read to its end, so one directory is open at a time however deep the tree.
class Walker
{
public:
    // What `previous` (the last build) holds again is shared with it, not copied: while a build
    // runs both are alive, and on a vault of 100,000 files a second copy of every name and path
    // was some 25 MB.
    Walker(NameMap &names, const NameMap &previous) : m_names(names), m_previous(previous) { }

    // False when `folder` cannot be read.
    bool walk(const QString &folder)
    {
        const QByteArray native = QFile::encodeName(folder);
        DIR *dir = ::opendir(native.constData());
        if (!dir)
            return false;
        const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
        std::vector<QString> subfolders;
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            if (name[0] == '.')
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat st;
                isFolder = ::fstatat(::dirfd(dir), name, &st, 0) == 0 && S_ISDIR(st.st_mode);
                if (isFolder && entry->d_type == DT_LNK)
                    continue;
            }
            const QString decoded = QFile::decodeName(name);
            if (isFolder) {
                if (!VaultIndex::skipped().contains(decoded))
                    subfolders.push_back(prefix + decoded);
                continue;
            }
            QString key = decoded.toLower();
            QString path = prefix + decoded;
            const auto known = m_previous.constFind(key);
            if (known != m_previous.cend()) {
                key = known.key();
                const qsizetype at = known->indexOf(path);
                if (at >= 0)
                    path = known->at(at);
            }
            QList<QString> &paths = m_names[key];
            paths.append(path);
            // The last path of a name that holds just what it held before: the list itself.
            if (known != m_previous.cend() && paths.size() == known->size() && paths == *known)
                paths = *known;
        }
        ::closedir(dir);
        for (const QString &subfolder : subfolders)
            walk(subfolder);
        return true;
    }

private:
    NameMap &m_names;
    const NameMap &m_previous;
};

} // namespace

const QSet<QString> &VaultIndex::skipped()
{
    static const QSet<QString> names{
        QStringLiteral("node_modules"), QStringLiteral(".build"),    QStringLiteral("build"),
        QStringLiteral("dist"),         QStringLiteral(".git"),      QStringLiteral(".obsidian"),
        QStringLiteral(".opencode"),    QStringLiteral(".claude"),
    };
    return names;
}

std::optional<QString> VaultIndex::vaultRoot(const QString &documentPath)
{
    QString folder = folderOf(QDir::cleanPath(documentPath));
    while (!folder.isEmpty() && folder != u'/') {
        if (exists(folder + QStringLiteral("/.obsidian")))
            return folder;
        folder = folderOf(folder);
    }
    return std::nullopt;
}

VaultIndex &VaultIndex::index(const QString &documentPath)
{
    const QString root =
        vaultRoot(documentPath).value_or(folderOf(QDir::cleanPath(documentPath)));
    static QMutex lock;
    // Never freed: callers keep references for the life of the process.
    static QHash<QString, VaultIndex *> indexes;
    const QMutexLocker locker(&lock);
    VaultIndex *&index = indexes[root];
    if (!index)
        index = new VaultIndex(root);
    return *index;
}

VaultIndex::VaultIndex(QString root) : m_root(std::move(root)) { }

void VaultIndex::build()
{
    // Read the tree without the lock so lookups go on meanwhile; of two builds at once, the
    // later to finish wins, and either is a whole, valid picture of the tree.
    NameMap names;
    NameMap previous;
    {
        const QMutexLocker locker(&m_lock);
        names.reserve(m_byName.size());
        previous = m_byName;
    }
    if (!Walker(names, previous).walk(m_root))
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QMutexLocker locker(&m_lock);
    m_byName.swap(names);
    m_builtAt = now;
    // `names` now holds the old map and is freed after the lock is let go.
}

void VaultIndex::rebuild()
{
    build();
}

QStringList VaultIndex::files()
{
    bool built = false;
    {
        const QMutexLocker locker(&m_lock);
        built = m_builtAt.has_value();
    }
    if (!built)
        build();
    QStringList all;
    const QMutexLocker locker(&m_lock);
    for (const QList<QString> &paths : std::as_const(m_byName))
        all.append(paths);
    all.sort();
    return all;
}

QList<QString> VaultIndex::matches(const QString &name) const
{
    QList<QString> found;
    const QMutexLocker locker(&m_lock);
    for (const QString &candidate : candidates(name))
        found.append(m_byName.value(candidate));
    return found;
}

std::optional<QString> VaultIndex::resolve(const QString &rawTarget, const QString &sourcePath)
{
    const QString target = trimmed(rawTarget);
    if (target.isEmpty())
        return std::nullopt;
    const QStringList names = candidates(target);
    const QString sourceFolder =
        sourcePath.isEmpty() ? QString() : folderOf(QDir::cleanPath(sourcePath));

    {
        FolderListings::Batch direct(FolderListings::shared());
        for (const QString &name : names) {
            const QString underRoot = join(m_root, name);
            if (isUnder(underRoot, m_root) && direct.exists(underRoot) && !isFolder(underRoot))
                return underRoot;
            if (!sourceFolder.isEmpty()) {
                const QString besideSource = join(sourceFolder, name);
                if (besideSource != underRoot && isUnder(besideSource, m_root)
                    && direct.exists(besideSource) && !isFolder(besideSource))
                    return besideSource;
            }
        }
    }

    const auto stale = [this] {
        const QMutexLocker locker(&m_lock);
        return !m_builtAt
            || m_builtAt->msecsTo(QDateTime::currentDateTimeUtc()) > kRebuildAfterMs;
    };
    const auto neverBuilt = [this] {
        const QMutexLocker locker(&m_lock);
        return !m_builtAt;
    };
    if (neverBuilt())
        build();

    const QString name = target.mid(target.lastIndexOf(u'/') + 1).toLower();
    QList<QString> found = matches(name);
    if (found.isEmpty() && stale()) {
        build();
        found = matches(name);
    }
    if (found.isEmpty())
        return std::nullopt;

    // Names match in any case, but a note named exactly as written wins over one that only
    // matches in another case, wherever each stands.
    const QString lastPart = target.mid(target.lastIndexOf(u'/') + 1);
    QList<QString> exact;
    for (const QString &path : std::as_const(found)) {
        const QStringView fileName = QStringView(path).mid(path.lastIndexOf(u'/') + 1);
        if (fileName == lastPart || fileName == QString(lastPart + QStringLiteral(".md")))
            exact.append(path);
    }
    if (!exact.isEmpty())
        found = exact;

    if (!sourceFolder.isEmpty()) {
        for (const QString &path : std::as_const(found)) {
            if (folderOf(path) == sourceFolder)
                return path;
        }
    }
    const QString *shortest = &found.first();
    for (const QString &path : std::as_const(found)) {
        if (path.size() < shortest->size())
            shortest = &path;
    }
    return *shortest;
}

std::optional<QString> VaultIndex::linkTarget(const QUrl &resolved, const QString &written,
                                              const QString &sourcePath)
{
    const QString direct = QDir::cleanPath(resolved.toLocalFile());
    if (exists(direct))
        return direct;
    if (sourcePath.isEmpty())
        return std::nullopt;

    QString text = written;
    const auto cut = std::find_if(text.cbegin(), text.cend(),
                                  [](QChar c) { return c == u'#' || c == u'?'; });
    text.truncate(cut - text.cbegin());
    if (const std::optional<QString> decoded = percentDecoded(text))
        text = *decoded;
    return index(sourcePath).resolve(text, sourcePath);
}

} // namespace quorvel::vault
