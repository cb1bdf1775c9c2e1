#include "textencoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace quorvel::core {

namespace {

constexpr char16_t kByteOrderMark = 0xFEFF;

std::optional<QStringConverter::Encoding> qtEncoding(TextEncoding::Kind kind)
{
    switch (kind) {
    case TextEncoding::Kind::Utf8:
        return QStringConverter::Utf8;
    case TextEncoding::Kind::Latin1:
        return QStringConverter::Latin1;
    case TextEncoding::Kind::Utf16LE:
        return QStringConverter::Utf16LE;
    case TextEncoding::Kind::Utf16BE:
        return QStringConverter::Utf16BE;
    }
    return std::nullopt;
}

// The text only when it encodes back to exactly these bytes. A stateful decoder keeps a cut
// sequence at the end "for later" and reports no error, and UTF-16 decoding reports neither an
// odd byte at the end nor a lone surrogate: the round trip catches what the flags miss.
std::optional<QString> decodeExactly(const QByteArray &bytes, TextEncoding encoding)
{
    // A UTF-8 byte-order mark stays a character of the text, as it always has, so that the save
    // writes it back. UTF-16's is left out, as the save always writes one: a mark the user could
    // delete would make the saved file unreadable as text, and its echo differ from the window.
    QStringDecoder::Flags flags = QStringDecoder::Flag::Stateless;
    if (encoding.isUtf8())
        flags |= QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder decoder(*qtEncoding(encoding.kind()), flags);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || encoding.encode(text) != bytes)
        return std::nullopt;
    return text;
}

} // namespace

QString TextEncoding::name() const
{
    switch (m_kind) {
    case Kind::Latin1:
        return QStringLiteral("ISO Latin-1");
    case Kind::Utf16LE:
        return QStringLiteral("UTF-16 LE");
    case Kind::Utf16BE:
        return QStringLiteral("UTF-16 BE");
    case Kind::Utf8:
        break;
    }
    return QStringLiteral("UTF-8");
}

std::optional<DecodedText> TextEncoding::decode(const QByteArray &bytes, TextEncoding preferred)
{
    for (const auto &[mark, kind] : {std::pair{"\xff\xfe", Kind::Utf16LE},
                                     std::pair{"\xfe\xff", Kind::Utf16BE}}) {
        if (bytes.size() < 2 || bytes[0] != mark[0] || bytes[1] != mark[1])
            continue;
        const auto text = decodeExactly(bytes, kind);
        if (text && !QStringView(*text).left(kBinaryProbe / 2).contains(QChar(u'\0')))
            return DecodedText{*text, kind};
    }
    if (QByteArrayView(bytes).first(std::min(bytes.size(), kBinaryProbe)).contains('\0'))
        return std::nullopt;
    if (preferred.kind() != Kind::Latin1) {
        if (auto text = decodeExactly(bytes, Kind::Utf8))
            return DecodedText{*text, Kind::Utf8};
    }
    return DecodedText{QString::fromLatin1(bytes), Kind::Latin1};
}

std::optional<QByteArray> TextEncoding::encode(const QString &text) const
{
    switch (m_kind) {
    case Kind::Latin1:
        if (std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 0xFF; }))
            return std::nullopt;
        return text.toLatin1();
    case Kind::Utf16LE:
    case Kind::Utf16BE: {
        QStringEncoder encoder(*qtEncoding(m_kind), QStringEncoder::Flag::Stateless);
        return QByteArray(encoder.encode(QChar(kByteOrderMark) + text));
    }
    case Kind::Utf8:
        break;
    }
    return text.toUtf8();
}

} // namespace quorvel::core
