#include "backlinkspanel.h"

#include "notelist.h"
#include "vault/searchindex.h"

#include <QTimer>
#include <QVBoxLayout>

namespace quorvel::app {

namespace {

// Changes arrive in bursts; the list follows them this often, and less often while a pass
// over the whole vault runs.
constexpr int kFollowMs = 600;
constexpr int kFollowPassMs = 3000;

} // namespace

BacklinksPanel::BacklinksPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("backlinksPanel"));
    m_list = new NoteListView(this);
    m_list->setAccessibleName(tr("Backlinks"));
    m_list->setAccessibleDescription(tr("The notes that link to this one, and those that name it without a link"));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    connect(m_list, &NoteListView::chosen, this,
            [this](const NoteRow &row) { Q_EMIT noteChosen(row.path, row.heading); });
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_list);
    m_later = new QTimer(this);
    m_later->setSingleShot(true);
    m_later->setInterval(kFollowMs);
    connect(m_later, &QTimer::timeout, this, &BacklinksPanel::ask);
}

void BacklinksPanel::setDocument(const QString &path)
{
    m_path = path;
    vault::SearchIndex *index = path.isEmpty() ? nullptr : &vault::SearchIndex::forDocument(path);
    if (index != m_index) {
        if (m_index)
            m_index->disconnect(this);
        m_index = index;
        if (index) {
            connect(index, &vault::SearchIndex::backlinksFound, this,
                    [this](quint64 request, const vault::Backlinks &found) {
                        if (request != m_request)
                            return;
                        const auto rowsOf = [this](const QList<vault::LinkingNote> &notes) {
                            QList<NoteRow> rows;
                            for (const vault::LinkingNote &note : notes) {
                                NoteRow row = NoteListView::rowFor(note.path, m_index->root());
                                row.detail.clear();
                                row.text = note.context;
                                row.heading = note.heading;
                                rows.append(row);
                            }
                            return rows;
                        };
                        m_linked = int(found.linked.size());
                        m_unlinked = int(found.unlinked.size());
                        QList<NoteRow> rows;
                        rows.append({{}, tr("BACKLINKS  %1").arg(m_linked), {}, {}, {}});
                        rows.append(rowsOf(found.linked));
                        if (m_unlinked > 0) {
                            rows.append({{}, tr("UNLINKED MENTIONS  %1").arg(m_unlinked), {}, {}, {}});
                            rows.append(rowsOf(found.unlinked));
                        }
                        m_list->setRows(rows);
                        Q_EMIT refreshed();
                    });
            connect(index, &vault::SearchIndex::updated, this, [this] {
                if (!m_later->isActive())
                    m_later->start(m_index->total() > 0 ? kFollowPassMs : kFollowMs);
            });
        }
    }
    ask();
}

void BacklinksPanel::setFolded(bool folded)
{
    m_folded = folded;
    setVisible(!m_folded && m_index != nullptr);
}

void BacklinksPanel::ask()
{
    setVisible(!m_folded && m_index != nullptr);
    if (!m_index) {
        m_list->setRows({});
        return;
    }
    m_request = m_index->backlinks(m_path);
}

} // namespace quorvel::app
