// The headless export's command line and the checks it makes before a page starts: the bytes
// are the arguments, split at NUL bytes; paths are taken in a fixed folder that holds the kinds
// of file a careless or hostile command line names.
#include "check.h"

#include "app/commandline.h"
#include "core/filereader.h"
#include "core/filewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdint>

using quorvel::app::CommandLine;
using quorvel::core::FileReader;
using quorvel::core::FileWriter;

namespace {

constexpr qint64 kLimit = 4096;

struct Scratch
{
    QTemporaryDir dir;

    Scratch()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("sub")));
        QFile note(dir.filePath(QStringLiteral("note.md")));
        if (!note.open(QIODevice::WriteOnly) || note.write("# Note\n") != 7)
            std::abort();
        note.close();
        QFile big(dir.filePath(QStringLiteral("big.md")));
        if (!big.open(QIODevice::WriteOnly) || !big.resize(kLimit + 1))
            std::abort();
        QFile::link(dir.filePath(QStringLiteral("note.md")), dir.filePath(QStringLiteral("link")));
        ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600);
    }
};

bool sameFile(const QString &a, const QString &b)
{
    struct stat x{}, y{};
    return ::stat(QFile::encodeName(a).constData(), &x) == 0
        && ::stat(QFile::encodeName(b).constData(), &y) == 0 && x.st_dev == y.st_dev
        && x.st_ino == y.st_ino;
}

bool isRegular(const QString &path)
{
    struct stat info{};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Scratch scratch;
    QStringList args;
    for (const QByteArray &part : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))
                                      .split('\0'))
        args.append(QString::fromUtf8(part));
    if (args.size() > 8)
        return 0;
    const CommandLine line = CommandLine::parse(args);
    if (line.mode != CommandLine::Mode::Export)
        return 0;
    FUZZ_CHECK(args.contains(QStringLiteral("--export")), "an export only when asked for");

    // Confined to the scratch folder: only the kinds of file matter, not the machine's files.
    const QString input = scratch.dir.filePath(line.input.section(u'/', -1));
    const QString output = scratch.dir.filePath(line.output.section(u'/', -1));
    const auto bytes = FileReader::read(input, kLimit);
    if (bytes) {
        FUZZ_CHECK(isRegular(input), "only a regular file is read");
        FUZZ_CHECK(bytes.value().size() <= kLimit, "never more than the limit");
    }
    const auto refusal = FileWriter::refusal(output, input);
    if (!refusal && QFile::exists(output)) {
        FUZZ_CHECK(isRegular(output), "only a regular file is written over");
        FUZZ_CHECK(!sameFile(output, input), "never the input");
    }
    return 0;
}
