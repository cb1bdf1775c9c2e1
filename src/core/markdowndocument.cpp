#include "markdowndocument.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

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

QString readError(const QString &path, const QFile &file)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file %1 couldn\u2019t be opened because there is no such file.")
            .arg(quotedName(path));
    if (!info.isReadable() || file.error() == QFileDevice::PermissionsError)
        return QStringLiteral("The file %1 couldn\u2019t be opened because you don\u2019t have "
                              "permission to view it.")
            .arg(quotedName(path));
    return QStringLiteral("The file %1 couldn\u2019t be opened: %2")
        .arg(quotedName(path), file.errorString());
}

} // namespace

MarkdownDocument::MarkdownDocument(const QString &text, QObject *parent)
    : QObject(parent)
    , m_text(text)
{
}

Result<std::unique_ptr<MarkdownDocument>> MarkdownDocument::open(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return Result<std::unique_ptr<MarkdownDocument>>::failure(corruptFileError(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<std::unique_ptr<MarkdownDocument>>::failure(readError(path, file));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Result<std::unique_ptr<MarkdownDocument>>::failure(readError(path, file));
    auto text = decode(bytes, path);
    if (!text)
        return Result<std::unique_ptr<MarkdownDocument>>::failure(text.error());
    return std::make_unique<MarkdownDocument>(std::move(text).value());
}

std::optional<QString> MarkdownDocument::decodeUtf8(const QByteArray &bytes)
{
    // Keep a leading byte-order mark as a character, so that saving writes it back.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

Result<QString> MarkdownDocument::decode(const QByteArray &bytes, const QString &fileName)
{
    if (auto text = decodeUtf8(bytes))
        return *text;
    // Every byte sequence is valid ISO Latin-1, so this cannot fail; the check stays for the
    // day another fallback takes its place.
    QStringDecoder latin1(QStringDecoder::Latin1);
    QString text = latin1.decode(bytes);
    if (latin1.hasError())
        return Result<QString>::failure(
            QStringLiteral("The file %1 couldn\u2019t be opened because the text encoding of its "
                           "contents can\u2019t be determined.")
                .arg(quotedName(fileName)));
    return text;
}

void MarkdownDocument::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    Q_EMIT textChanged(m_text);
}

QByteArray MarkdownDocument::fileData() const
{
    return m_text.toUtf8();
}

} // namespace quorvel::core
