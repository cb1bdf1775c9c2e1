#pragma once

#include <QByteArray>

// The n-th text the crash saver writes. Sizes jump up and down (from a line to tens of KiB), so
// that a torn save would show as a wrong length or a mix of two versions; the first line names
// the version, so that the test knows which one the file must equal byte for byte.
inline QByteArray crashVersion(int n)
{
    QByteArray text = QByteArray("# version ").append(QByteArray::number(n)).append('\n');
    const int size = 64 + int((quint64(n) * 7919) % 40000);
    const QByteArray line =
        QByteArray("line of version ").append(QByteArray::number(n)).append('\n');
    while (text.size() < size)
        text += line;
    return text;
}

inline int crashVersionNumber(const QByteArray &text)
{
    const qsizetype end = text.indexOf('\n');
    return text.startsWith("# version ") && end > 0 ? text.mid(10, end - 10).toInt() : -1;
}
