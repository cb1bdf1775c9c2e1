#pragma once

#include <QFrame>
#include <QPointer>

class QLineEdit;
class QTimer;

namespace quorvel::vault {
class SearchIndex;
}

namespace quorvel::app {

class NoteListView;

// A popup over the window that finds a note of the vault by a few letters of its name or path,
// the notes opened lately first. Return opens the note chosen (else the first), Escape or a
// click elsewhere closes it.
class QuickOpen : public QFrame
{
    Q_OBJECT

public:
    // Opens the popup over `window`, for the vault of the note at `documentPath`.
    static QuickOpen *showFor(QWidget *window, const QString &documentPath);

    QLineEdit *field() const { return m_field; }
    NoteListView *results() const { return m_results; }

Q_SIGNALS:
    void refreshed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QuickOpen(QWidget *window, vault::SearchIndex &index);
    void ask();
    void open(const QString &path);

    QPointer<vault::SearchIndex> m_index;
    QLineEdit *m_field = nullptr;
    NoteListView *m_results = nullptr;
    quint64 m_request = 0;
    quint64 m_answered = 0;
    bool m_openWhenFound = false;
};

} // namespace quorvel::app
