#pragma once

#include "result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace quorvel::core {

// The one copy of a document's text that gets saved. Nothing is normalised: line endings, a
// byte-order mark and every other character stay as read.
class MarkdownDocument : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)

public:
    explicit MarkdownDocument(const QString &text = QString(), QObject *parent = nullptr);

    // Reads a file: UTF-8, else ISO Latin-1. A folder or anything but a regular file fails with
    // the corrupt-file error; an unreadable file with the reason.
    static Result<std::unique_ptr<MarkdownDocument>> open(const QString &path);
    static Result<QString> decode(const QByteArray &bytes, const QString &fileName);
    // Strict UTF-8 only, as outside changes are read; nothing when the bytes are not UTF-8.
    static std::optional<QString> decodeUtf8(const QByteArray &bytes);

    const QString &text() const { return m_text; }
    void setText(const QString &text);

    // What a save writes: always UTF-8, whatever the file was read as.
    QByteArray fileData() const;

Q_SIGNALS:
    void textChanged(const QString &text);

private:
    QString m_text;
};

} // namespace quorvel::core
