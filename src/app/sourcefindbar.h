#pragma once

#include "core/documentmodel.h"
#include "findbar.h"

#include <QList>
#include <QTimer>

namespace quorvel::core {
class DocumentText;
}

namespace quorvel::editor {
class MarkdownTextView;
}

namespace quorvel::app {

// The find bar of the source view: searches the document's text with the row's options, marks
// the matches on screen and selects the current one in the editor. Replace is an edit of the
// text of exactly the match's span, so nothing else of the file changes.
class SourceFindBar : public FindRow
{
    Q_OBJECT

public:
    // `editor` shows `text` (each "\r\n" of the text as one line break).
    SourceFindBar(editor::MarkdownTextView *editor, core::DocumentText &text, QWidget *anchor);

    void perform(core::DocumentModel::TextFinderAction action);
    void setQuery(const QString &query);
    void step(int step);
    void close();
    // Replaces the current match and selects the next one.
    void replace();
    // Every match at once, as one step of the document's history.
    void replaceAll();

    int count() const { return int(m_matches.size()); }
    // 1-based, 0 without a match.
    int index() const { return m_current + 1; }
    // The match selections shown now: those on and around the screen.
    int highlighted() const { return m_highlighted; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A match in the text, and where the editor shows it.
    struct Match
    {
        qsizetype start = 0;
        qsizetype length = 0;
        int from = 0;
        int to = 0;
    };

    // From the first match at or after `from` (a text offset); from the caret without one.
    void search(std::optional<qsizetype> from = std::nullopt);
    void select(int current);
    void highlight();

    editor::MarkdownTextView *m_editor;
    core::DocumentText &m_text;
    QString m_query;
    QList<Match> m_matches; // ascending
    int m_current = -1;
    int m_highlighted = 0;
    bool m_stale = false;
    // Typing coalesces into one search after the burst; the event loop turn is enough.
    QTimer m_research;
    QTimer m_remark;
};

} // namespace quorvel::app
