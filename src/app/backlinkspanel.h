#pragma once

#include <QPointer>
#include <QWidget>

class QTimer;

namespace quorvel::vault {
class SearchIndex;
}

namespace quorvel::app {

class NoteListView;

// Under the outline: the notes that link to this one, each with the line around its link, and
// the notes that name it without a link. Choosing one opens it at the heading above the link.
class BacklinksPanel : public QWidget
{
    Q_OBJECT

public:
    // Folded away with the outline, it stays hidden whatever it finds.
    void setFolded(bool folded);
    explicit BacklinksPanel(QWidget *parent = nullptr);

    // The note shown; empty for an untitled document, which nothing can link to.
    void setDocument(const QString &path);
    NoteListView *list() const { return m_list; }
    int linkedCount() const { return m_linked; }
    int unlinkedCount() const { return m_unlinked; }

Q_SIGNALS:
    void noteChosen(const QString &path, const QString &heading);
    void refreshed();

private:
    void ask();

    QString m_path;
    QPointer<vault::SearchIndex> m_index;
    bool m_folded = false;
    NoteListView *m_list = nullptr;
    QTimer *m_later = nullptr;
    quint64 m_request = 0;
    int m_linked = 0;
    int m_unlinked = 0;
};

} // namespace quorvel::app
