#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTimer;

namespace quorvel::vault {
class SearchIndex;
}

namespace quorvel::app {

class NoteListView;
struct NoteRow;

// Search across the vault, beside the document: a field, and the notes that match as the user
// types, best first, each with its heading and the words around the matches. The arrows move
// through the results, Return opens the one chosen (else the first) at its heading, Escape
// closes the panel.
class VaultSearchPanel : public QWidget
{
    Q_OBJECT

public:
    explicit VaultSearchPanel(QWidget *parent = nullptr);

    // The vault of the note at `path`; none for an untitled document.
    void setDocument(const QString &path);
    // Shows the panel with its field focused and its text selected, to type over.
    void activate();

    QLineEdit *field() const { return m_field; }
    NoteListView *results() const { return m_results; }
    QLabel *summary() const { return m_summary; }

Q_SIGNALS:
    void closeRequested();
    void noteChosen(const QString &path, const QString &heading);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ask();
    void showSummary();

    QPointer<vault::SearchIndex> m_index;
    QLineEdit *m_field = nullptr;
    QLabel *m_summary = nullptr;
    NoteListView *m_results = nullptr;
    QTimer *m_typing = nullptr;
    quint64 m_request = 0;
    int m_found = -1;
    // Return came before the results: the first opens once they are there.
    bool m_openWhenFound = false;
};

} // namespace quorvel::app
