#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;
class QToolButton;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::app {

// The floating row of a find: field, result, previous, next, close. It floats over the top
// right corner of `anchor` (a sibling), following it as it moves and resizes. What a search
// means is left to the subclass.
class FindRow : public QFrame
{
    Q_OBJECT

public:
    explicit FindRow(QWidget *anchor);

    QLineEdit *field() const { return m_field; }
    QString resultText() const;
    QLabel *resultLabel() const { return m_result; }
    // Focuses the field with its text selected, so that typing replaces the last query.
    void focusField();

Q_SIGNALS:
    void queryEdited(const QString &query);
    void nextRequested();
    void previousRequested();
    void closeRequested();

protected:
    void showResult(const QString &query, int count, int index);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void place();
    void applyStyle();

    QWidget *m_anchor;
    QLineEdit *m_field;
    QLabel *m_result;
    bool m_noMatch = false;
    // Setting the style sheet changes the palette, which would style again.
    bool m_styling = false;
};

// The find bar of the rendered modes: the model's find state, searched in the page.
class FindBar : public FindRow
{
    Q_OBJECT

public:
    FindBar(core::DocumentModel &model, QWidget *anchor);

private:
    void updateVisibility();
    void updateResult();

    core::DocumentModel &m_model;
};

} // namespace quorvel::app
