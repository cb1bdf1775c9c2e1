#pragma once

#include "result.h"
#include "textencoding.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace quorvel::core {

// The one copy of a document's text that gets saved, and the encoding it is saved in. Nothing is
// normalised: line endings, a byte-order mark and every other character stay as read.
class MarkdownDocument : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)

public:
    explicit MarkdownDocument(const QString &text = QString(), TextEncoding encoding = {},
                              QObject *parent = nullptr);

    // Reads a file in the encoding its bytes have (TextEncoding::decode). A folder or anything
    // but a regular file fails with the corrupt-file error, a file that is not text (a program,
    // an image) with its own message, an unreadable file with the reason.
    static Result<std::unique_ptr<MarkdownDocument>> open(const QString &path);

    const QString &text() const { return m_text; }
    void setText(const QString &text);
    // Puts `inserted` in place of the `removed` characters at `start`, in the text's own buffer:
    // a keystroke in a large note costs the size of the change, not a copy of the note, as long
    // as nobody else holds on to the text. False when nothing changed.
    bool replace(qsizetype start, qsizetype removed, QStringView inserted);

    TextEncoding encoding() const { return m_encoding; }
    void setEncoding(TextEncoding encoding);

    // What a save writes: the text in its encoding; nothing when the encoding cannot hold one of
    // its characters, for the caller to ask before converting the file.
    std::optional<QByteArray> fileData() const;

Q_SIGNALS:
    void textChanged(const QString &text);
    void encodingChanged(quorvel::core::TextEncoding encoding);

private:
    QString m_text;
    TextEncoding m_encoding;
};

} // namespace quorvel::core
