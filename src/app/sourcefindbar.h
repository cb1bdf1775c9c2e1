#pragma once

#include "core/documentmodel.h"
#include "findbar.h"

#include <QList>
#include <QTimer>

class QPlainTextEdit;

namespace quorvel::app {

// The find bar of the source view: searches the editor's text, letter case aside as the page
// does, marks the matches on screen and selects the current one in the editor.
class SourceFindBar : public FindRow
{
    Q_OBJECT

public:
    SourceFindBar(QPlainTextEdit *editor, QWidget *anchor);

    void perform(core::DocumentModel::TextFinderAction action);
    void setQuery(const QString &query);
    void step(int step);
    void close();

    int count() const { return int(m_matches.size()); }
    // 1-based, 0 without a match.
    int index() const { return m_current + 1; }
    // The match selections shown now: those on and around the screen.
    int highlighted() const { return m_highlighted; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void select(int current);
    void highlight();

    QPlainTextEdit *m_editor;
    QString m_query;
    QList<int> m_matches; // start positions, ascending
    int m_current = -1;
    int m_highlighted = 0;
    bool m_stale = false;
    // Typing coalesces into one search after the burst; the event loop turn is enough.
    QTimer m_research;
    QTimer m_remark;
};

} // namespace quorvel::app
