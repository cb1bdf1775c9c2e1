#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvel::core {

struct DecodedText;

// The encoding a file was read in. A save writes the text back in it, so that every byte the user
// did not edit stays as it was: a file read as ISO Latin-1 is not rewritten as UTF-8.
class TextEncoding
{
public:
    enum class Kind { Utf8, Latin1, Utf16LE, Utf16BE };

    // How much of a file is looked at for NUL bytes, which no text file holds.
    static constexpr qsizetype kBinaryProbe = 8 * 1024;

    constexpr TextEncoding(Kind kind = Kind::Utf8)
        : m_kind(kind)
    {
    }

    Kind kind() const { return m_kind; }
    bool isUtf8() const { return m_kind == Kind::Utf8; }
    // For the user: "UTF-8", "ISO Latin-1", "UTF-16 LE", "UTF-16 BE".
    QString name() const;

    // Reads a file's bytes. UTF-16 when they start with its byte-order mark; else ISO Latin-1
    // when `preferred` is, as every byte is valid there; else UTF-8 when every sequence is valid,
    // a cut one at the end included; else ISO Latin-1. Each decodes to a text that encodes back
    // to the same bytes. Nothing for bytes that are not text: NUL in the first kBinaryProbe bytes.
    static std::optional<DecodedText> decode(const QByteArray &bytes,
                                             TextEncoding preferred = {});

    // The text's bytes; nothing when it holds a character this encoding cannot (beyond U+00FF
    // in ISO Latin-1). UTF-16 starts with its byte-order mark, which decoding took off the text:
    // without it a reader could not tell the file from a binary one.
    std::optional<QByteArray> encode(const QString &text) const;

    bool operator==(const TextEncoding &) const = default;

private:
    Kind m_kind;
};

struct DecodedText
{
    QString text;
    TextEncoding encoding;
};

} // namespace quorvel::core
