// A wikilink's target in a fixed vault: the first byte picks the note it is written in, the rest
// is the target as typed.
#include "check.h"

#include "vault/vaultindex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdint>

using quorvel::vault::VaultIndex;

namespace {

struct Vault
{
    QTemporaryDir dir;
    QStringList sources;

    Vault()
    {
        const QStringList files{".obsidian/app.json", "Home.md", "a.md", "sub/a.md",
                                "sub/deep/Deep Note.md", "2024.03.05.md", "Archive/old.TXT",
                                "%41.md", "sub/[x].md", "\u00fcber.md", "folder.md/inner.md",
                                "build/hidden.md", ".hidden.md", "sub/deep/..md"};
        for (const QString &name : files) {
            const QString path = dir.filePath(name);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                std::abort();
        }
        sources = {QString(), dir.filePath("Home.md"), dir.filePath("sub/a.md"),
                   dir.filePath("sub/deep/Deep Note.md"), dir.filePath("gone/x.md")};
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Vault vault;
    if (size == 0)
        return 0;
    const QString &source = vault.sources[data[0] % vault.sources.size()];
    const QString target =
        QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    VaultIndex &index = VaultIndex::index(vault.dir.filePath(QStringLiteral("Home.md")));
    const auto found = index.resolve(target, source);
    FUZZ_CHECK(found == index.resolve(target, source), "the same link finds the same file");
    if (!found)
        return 0;
    FUZZ_CHECK(QDir::isAbsolutePath(*found) && QDir::cleanPath(*found) == *found,
               "an absolute, cleaned path");
    FUZZ_CHECK(found->startsWith(vault.dir.path() + u'/'), "never outside the vault");
    struct stat info{};
    FUZZ_CHECK(::stat(QFile::encodeName(*found).constData(), &info) == 0 && !S_ISDIR(info.st_mode),
               "a link finds a file, not a folder");
    // The file has the name the link gives, with ".md" when the link gives no extension.
    QString name = target;
    while (name.startsWith(u' ') || name.startsWith(u'\t'))
        name.remove(0, 1);
    while (name.endsWith(u' ') || name.endsWith(u'\t'))
        name.chop(1);
    name = name.mid(name.lastIndexOf(u'/') + 1).toLower();
    const QString fileName = QFileInfo(*found).fileName().toLower();
    FUZZ_CHECK(fileName == name || fileName == name + QStringLiteral(".md"),
               "the file has the link's name");
    return 0;
}
