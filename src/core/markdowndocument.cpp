#include "markdowndocument.h"

#include "filereader.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace quorvel::core {

namespace {

QString quotedName(const QString &path)
{
    return u"\u201C" + QFileInfo(path).fileName() + u"\u201D";
}

QString corruptFileError(const QString &path)
{
    return QStringLiteral("The file %1 couldn\u2019t be opened because it isn\u2019t in the correct "
                          "format.")
        .arg(quotedName(path));
}

QString notTextError(const QString &path)
{
    return QStringLiteral("The file %1 couldn\u2019t be opened because it isn\u2019t a text file.")
        .arg(quotedName(path));
}

QString readError(const QString &path, const QString &reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file %1 couldn\u2019t be opened because there is no such file.")
            .arg(quotedName(path));
    if (!info.isReadable() || reason == QString::fromLocal8Bit(std::strerror(EACCES)))
        return QStringLiteral("The file %1 couldn\u2019t be opened because you don\u2019t have "
                              "permission to view it.")
            .arg(quotedName(path));
    return QStringLiteral("The file %1 couldn\u2019t be opened: %2")
        .arg(quotedName(path), reason);
}

} // namespace

MarkdownDocument::MarkdownDocument(const QString &text, TextEncoding encoding, QObject *parent)
    : QObject(parent)
    , m_text(text)
    , m_encoding(encoding)
{
}

Result<std::unique_ptr<MarkdownDocument>> MarkdownDocument::open(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return Result<std::unique_ptr<MarkdownDocument>>::failure(
            QStringLiteral("%1 is a folder, not a file: open a Markdown file inside it.")
                .arg(quotedName(path)));
    if (info.exists() && !info.isFile())
        return Result<std::unique_ptr<MarkdownDocument>>::failure(corruptFileError(path));
    // Read without waiting: what was checked above may have been swapped for a FIFO since,
    // which a plain open would wait on with the window frozen.
    const Result<QByteArray> bytes = FileReader::read(path, FileReader::kDocumentLimit);
    if (!bytes && !QFileInfo(path).isFile() && QFileInfo::exists(path))
        return Result<std::unique_ptr<MarkdownDocument>>::failure(corruptFileError(path));
    if (!bytes)
        return Result<std::unique_ptr<MarkdownDocument>>::failure(readError(path, bytes.error()));
    auto decoded = TextEncoding::decode(bytes.value());
    if (!decoded)
        return Result<std::unique_ptr<MarkdownDocument>>::failure(notTextError(path));
    return std::make_unique<MarkdownDocument>(decoded->text, decoded->encoding);
}

void MarkdownDocument::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    Q_EMIT textChanged(m_text);
}

bool MarkdownDocument::replace(qsizetype start, qsizetype removed, QStringView inserted)
{
    Q_ASSERT(start >= 0 && removed >= 0 && start + removed <= m_text.size());
    if (QStringView(m_text).mid(start, removed) == inserted)
        return false;
    m_text.replace(start, removed, inserted.constData(), inserted.size());
    Q_EMIT textChanged(m_text);
    return true;
}

void MarkdownDocument::setEncoding(TextEncoding encoding)
{
    if (encoding == m_encoding)
        return;
    m_encoding = encoding;
    Q_EMIT encodingChanged(encoding);
}

std::optional<QByteArray> MarkdownDocument::fileData() const
{
    return m_encoding.encode(m_text);
}

} // namespace quorvel::core
