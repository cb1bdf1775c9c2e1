#include "blockformat.h"

#include <QRegularExpression>

namespace quorvel::editor {

namespace {

// A line as its block markers divide it: indentation, quote marks, then one heading or list
// marker (with the spaces after it), then the content.
struct Markers
{
    int quoteAt = 0; // where the quote marks start, after the indentation
    int quoteLength = 0;
    int markerLength = 0;
    BlockKind kind = BlockKind::Paragraph;
    int level = 0;
    QString bullet; // "-", "*" or "+" of a bullet or task item
};

Markers markersOf(const QString &line)
{
    static const QRegularExpression quote(QStringLiteral("^([ \\t]*)((?:> ?)*)"));
    static const QRegularExpression marker(QStringLiteral(
        "^(?:(#{1,6})(?:[ \\t]+|$)|([-*+])[ \\t]+\\[[ xX]\\](?:[ \\t]+|$)|([-*+])(?:[ \\t]+|$)"
        "|\\d{1,9}[.)](?:[ \\t]+|$))"));
    Markers m;
    const auto q = quote.match(line);
    m.quoteAt = int(q.capturedLength(1));
    m.quoteLength = int(q.capturedLength(2));
    const auto k = marker.match(QStringView(line).mid(m.quoteAt + m.quoteLength));
    if (!k.hasMatch() || k.capturedLength() == 0)
        return m;
    m.markerLength = int(k.capturedLength());
    if (k.hasCaptured(1)) {
        m.kind = BlockKind::Heading;
        m.level = int(k.capturedLength(1));
    } else if (k.hasCaptured(2)) {
        m.kind = BlockKind::Task;
        m.bullet = k.captured(2);
    } else if (k.hasCaptured(3)) {
        m.kind = BlockKind::Bullet;
        m.bullet = k.captured(3);
    } else {
        m.kind = BlockKind::Numbered;
    }
    return m;
}

bool isBlank(const QString &line)
{
    return line.trimmed().isEmpty();
}

bool has(const Markers &m, BlockFormat format)
{
    if (format.kind == BlockKind::Quote)
        return m.quoteLength > 0;
    return m.kind == format.kind && (format.kind != BlockKind::Heading || m.level == format.level);
}

QString markerFor(BlockFormat format, const Markers &old, int number)
{
    const QString bullet = old.bullet.isEmpty() ? QStringLiteral("-") : old.bullet;
    switch (format.kind) {
    case BlockKind::Heading:
        return QString(format.level, u'#') + u' ';
    case BlockKind::Bullet:
        return bullet + u' ';
    case BlockKind::Numbered:
        return QString::number(number) + QStringLiteral(". ");
    case BlockKind::Task:
        return bullet + QStringLiteral(" [ ] ");
    case BlockKind::Paragraph:
    case BlockKind::Quote:
        break;
    }
    return {};
}

} // namespace

QList<LineEdit> blockFormatEdits(const QStringList &lines, BlockFormat format)
{
    QList<int> targets;
    for (int i = 0; i < lines.size(); ++i) {
        if (!isBlank(lines.at(i)))
            targets.append(i);
    }
    if (targets.isEmpty() && !lines.isEmpty())
        targets.append(0);

    bool all = format.kind != BlockKind::Paragraph;
    for (int i : targets)
        all = all && has(markersOf(lines.at(i)), format);

    QList<LineEdit> edits;
    int number = 0;
    for (int i : targets) {
        const Markers m = markersOf(lines.at(i));
        const int markerAt = m.quoteAt + m.quoteLength;
        const auto change = [&](int column, int length, const QString &inserted) {
            if (lines.at(i).mid(column, length) != inserted)
                edits.append({i, column, length, inserted});
        };
        if (format.kind == BlockKind::Quote) {
            // Quote marks are a container: the heading or list inside keeps its marker.
            if (all)
                change(m.quoteAt, lines.at(i).mid(m.quoteAt, 2) == u"> " ? 2 : 1, {});
            else if (!m.quoteLength)
                change(m.quoteAt, 0, QStringLiteral("> "));
            continue;
        }
        if (format.kind == BlockKind::Paragraph) {
            change(m.quoteAt, m.quoteLength + m.markerLength, {});
            continue;
        }
        change(markerAt, m.markerLength, all ? QString() : markerFor(format, m, ++number));
    }
    return edits;
}

} // namespace quorvel::editor
