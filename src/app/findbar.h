#pragma once

#include "core/textsearch.h"

#include <QFrame>

#include <optional>

class QLabel;
class QLineEdit;
class QToolButton;
class QPushButton;
class QWidget;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

// The floating row of a find: field, result, options, previous, next, close, and under it the
// replace field with its buttons when asked for. It floats over the top right corner of
// `anchor` (a sibling), following it as it moves and resizes. What a search means is left to
// the subclass.
class FindRow : public QFrame
{
    Q_OBJECT

public:
    explicit FindRow(QWidget *anchor);

    QLineEdit *field() const { return m_field; }
    QLineEdit *replaceField() const { return m_replaceField; }
    QPushButton *replaceButton() const { return m_replace; }
    QPushButton *replaceAllButton() const { return m_replaceAll; }
    QString resultText() const;
    QLabel *resultLabel() const { return m_result; }
    // The line under the fields: a bad pattern, or what a Replace All did.
    QString message() const;
    // Focuses the field with its text selected, so that typing replaces the last query.
    void focusField();

    core::FindOptions options() const;
    void setOptions(core::FindOptions options);
    bool replaceShown() const;
    void setReplaceShown(bool shown);
    // Focuses the replace field with its text selected; the find field while it is empty.
    void focusReplaceField();

Q_SIGNALS:
    void queryEdited(const QString &query);
    void optionsEdited(quorvel::core::FindOptions options);
    void nextRequested();
    void previousRequested();
    void closeRequested();
    void replaceRequested();
    void replaceAllRequested();

protected:
    void showResult(const QString &query, int count, int index);
    // A bad pattern, in red; empty clears it.
    void showError(const QString &error);
    void showNote(const QString &note);
    // A note says what the last Replace All did: any later change makes it old news.
    void clearNote();
    // The query read with the options; a bad pattern is said in the row.
    std::optional<core::TextSearch> validSearch(const QString &query);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void place();
    void applyStyle();
    void showMessage(const QString &text, bool error);

    QWidget *m_anchor;
    QLineEdit *m_field;
    QLabel *m_result;
    QToolButton *m_matchCase;
    QToolButton *m_wholeWord;
    QToolButton *m_regex;
    QWidget *m_replaceLine;
    QLineEdit *m_replaceField;
    QPushButton *m_replace;
    QPushButton *m_replaceAll;
    QLabel *m_message;
    bool m_messageIsError = false;
    bool m_noMatch = false;
    // Setting the style sheet changes the palette, which would style again.
    bool m_styling = false;
};

// The find bar of the rendered modes: the model's find state, searched in the page. Replace
// works in the Markdown source, never in the page: the page's current match is the source's
// match of the same number when both count the same (a match the page cannot see, in a link's
// address say, makes them differ, and then replacing starts at the top of the source); after a
// replacement the next one is the source's next match after it, and the page is moved to it.
class FindBar : public FindRow
{
    Q_OBJECT

public:
    FindBar(core::DocumentModel &model, QWidget *anchor);

    void replace();
    void replaceAll();

private:
    void updateVisibility();
    void updateResult();
    bool prepareToReplace();

    core::DocumentModel &m_model;
    // Where the next replacement is looked for once one was made, until the user moves in the
    // page or changes the query.
    std::optional<qsizetype> m_replaceFrom;
};

} // namespace quorvel::app
