#include "markdownhighlighter.h"

#include <QPalette>
#include <QRegularExpression>

namespace quorvel::editor {

namespace {

enum State { Normal = -1, InFence = 1, InFrontMatter = 2 };

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t),
                            float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}

} // namespace

MarkdownHighlighter::MarkdownHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document)
{
    setPalette(QPalette());
}

void MarkdownHighlighter::setPalette(const QPalette &palette)
{
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    m_marker.setForeground(mix(text, base, 0.5));
    m_heading.setForeground(text);
    m_heading.setFontWeight(QFont::Bold);
    m_code.setForeground(mix(text, QColor(0xB0, 0x50, 0x30), 0.35));
    m_link.setForeground(mix(text, palette.color(QPalette::Link), 0.55));
    m_emphasis.setFontItalic(true);
    m_strong.setFontWeight(QFont::Bold);
    if (document())
        rehighlight();
}

void MarkdownHighlighter::highlightBlock(const QString &text)
{
    const int previous = previousBlockState();
    const bool first = !currentBlock().previous().isValid();
    setCurrentBlockState(Normal);
    if ((first && text == u"---") || previous == InFrontMatter) {
        setFormat(0, int(text.size()), m_marker);
        if (first || (text != u"---" && text != u"..."))
            setCurrentBlockState(InFrontMatter);
        return;
    }
    // One huge line (a minified file) would be scanned whole at every keystroke in it.
    if (text.size() > kMaxBlockCharacters)
        return;
    const QStringView trimmed = QStringView(text).trimmed();
    const bool fence = trimmed.startsWith(u"```") || trimmed.startsWith(u"~~~");
    if (previous == InFence) {
        setFormat(0, int(text.size()), m_code);
        if (!fence)
            setCurrentBlockState(InFence);
        return;
    }
    if (fence) {
        setFormat(0, int(text.size()), m_code);
        setCurrentBlockState(InFence);
        return;
    }
    static const QRegularExpression heading(QStringLiteral("^ {0,3}(#{1,6})(\\s|$)"));
    if (const auto m = heading.match(text); m.hasMatch()) {
        setFormat(0, int(text.size()), m_heading);
        setFormat(int(m.capturedStart(1)), int(m.capturedLength(1)), m_marker);
        return;
    }
    static const QRegularExpression marker(QStringLiteral("^\\s*(?:>\\s*)*(?:[-*+]|\\d{1,9}[.)])?\\s"));
    if (const auto m = marker.match(text); m.hasMatch() && m.capturedLength() > 0)
        setFormat(0, int(m.capturedLength()), m_marker);
    static const QRegularExpression inlineCode(QStringLiteral("(`+)[^`]+?\\1"));
    static const QRegularExpression link(QStringLiteral("!?\\[[^\\]]*\\]\\([^)]*\\)|<https?://[^>]+>"));
    static const QRegularExpression emphasis(
        QStringLiteral("(\\*\\*|__)(?=\\S).+?\\1|(?<![*\\w])([*_])(?=\\S)[^*_]+?\\2(?![*\\w])"));
    for (auto it = emphasis.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        // Strong keeps its own weight: `**w**` in italics would read as the other kind.
        setFormat(int(m.capturedStart()), int(m.capturedLength()),
                  m.capturedLength(1) > 0 ? m_strong : m_emphasis);
    }
    for (auto it = link.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        setFormat(int(m.capturedStart()), int(m.capturedLength()), m_link);
    }
    for (auto it = inlineCode.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        setFormat(int(m.capturedStart()), int(m.capturedLength()), m_code);
    }
}

} // namespace quorvel::editor
