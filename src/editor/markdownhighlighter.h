#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

namespace quorvel::editor {

// Quiet colours for the Markdown marks, one block at a time; a fence carries its state to the
// next block.
class MarkdownHighlighter : public QSyntaxHighlighter
{
    Q_OBJECT

public:
    // Above this many characters a keystroke would cost more in colouring than it is worth.
    static constexpr int kMaxCharacters = 2'000'000;
    static constexpr int kMaxBlockCharacters = 20'000;

    explicit MarkdownHighlighter(QTextDocument *document);

    // Derives the colours from the editor's text and background.
    void setPalette(const QPalette &palette);

protected:
    void highlightBlock(const QString &text) override;

private:
    QTextCharFormat m_marker, m_heading, m_code, m_link, m_emphasis, m_strong;
};

} // namespace quorvel::editor
