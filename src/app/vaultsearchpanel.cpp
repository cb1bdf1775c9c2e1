#include "vaultsearchpanel.h"

#include "notelist.h"
#include "textcounts.h"
#include "vault/searchindex.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorvel::app {

namespace {

// Each key starts a search only once typing pauses this long.
constexpr int kTypingMs = 120;
constexpr int kPadding = 14;
// Results shown at most: a query that matches more is made narrower, not scrolled.
constexpr int kShown = 50;
constexpr int kFollowPassMs = 2000;

QFont sized(QFont font, double pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPointSizeF(pixels * 72.0 / 96.0);
    font.setWeight(weight);
    return font;
}

} // namespace

VaultSearchPanel::VaultSearchPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("vaultSearchPanel"));
    auto *title = new QLabel(tr("SEARCH"), this);
    QFont titleFont = sized(font(), 11, QFont::DemiBold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    title->setFont(titleFont);
    title->setForegroundRole(QPalette::PlaceholderText);
    auto *close = new QToolButton(this);
    close->setText(QStringLiteral("\u2715"));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close (Esc)"));
    close->setAccessibleName(tr("Close search"));
    close->setAccessibleDescription(tr("Closes the search panel"));
    connect(close, &QToolButton::clicked, this, &VaultSearchPanel::closeRequested);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(kPadding, 8, 6, 4);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(close);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Search notes"));
    m_field->setClearButtonEnabled(true);
    m_field->setAccessibleName(tr("Search notes in the vault"));
    m_field->setAccessibleDescription(tr("Words, \"a phrase\", prefix*, -without; Return opens the first result"));
    m_field->setToolTip(tr("Words, \"a phrase\", prefix*, -without"));
    m_field->installEventFilter(this);
    auto *fieldRow = new QHBoxLayout;
    fieldRow->setContentsMargins(10, 0, 10, 4);
    fieldRow->addWidget(m_field);

    m_summary = new QLabel(this);
    m_summary->setFont(sized(font(), 11));
    m_summary->setForegroundRole(QPalette::PlaceholderText);
    m_summary->setContentsMargins(kPadding, 0, kPadding, 4);
    m_summary->setWordWrap(true);

    m_results = new NoteListView(this);
    m_results->setAccessibleName(tr("Search results"));
    m_results->setAccessibleDescription(tr("The notes that match, best first; Return opens one"));
    connect(m_results, &NoteListView::chosen, this,
            [this](const NoteRow &row) { Q_EMIT noteChosen(row.path, row.heading); });

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(header);
    column->addLayout(fieldRow);
    column->addWidget(m_summary);
    column->addWidget(m_results, 1);

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingMs);
    connect(m_typing, &QTimer::timeout, this, &VaultSearchPanel::ask);
    connect(m_field, &QLineEdit::textChanged, m_typing, qOverload<>(&QTimer::start));
    showSummary();
}

void VaultSearchPanel::setDocument(const QString &path)
{
    vault::SearchIndex *index = path.isEmpty() ? nullptr : &vault::SearchIndex::forDocument(path);
    if (index == m_index)
        return;
    if (m_index)
        m_index->disconnect(this);
    m_index = index;
    m_field->setEnabled(index);
    if (index) {
        connect(index, &vault::SearchIndex::searched, this,
                [this](quint64 request, const QList<vault::SearchHit> &hits) {
                    if (request != m_request)
                        return;
                    QList<NoteRow> rows;
                    for (const vault::SearchHit &hit : hits) {
                        NoteRow row = NoteListView::rowFor(hit.path, m_index->root());
                        if (!hit.heading.isEmpty())
                            row.detail = row.detail.isEmpty() ? hit.heading
                                                              : row.detail + u" \u203A " + hit.heading;
                        row.text = hit.snippet;
                        row.heading = hit.heading;
                        rows.append(row);
                    }
                    m_found = int(rows.size());
                    m_results->setRows(rows);
                    showSummary();
                    if (std::exchange(m_openWhenFound, false) && !rows.isEmpty())
                        Q_EMIT noteChosen(rows.first().path, rows.first().heading);
                });
        // Notes changed: the results shown may be out of date.
        // While a pass over the vault runs, each slice of it changes notes; asking after each
        // would keep the index answering instead of indexing.
        connect(index, &vault::SearchIndex::updated, this, [this] {
            if (isVisible() && !m_field->text().trimmed().isEmpty() && !m_typing->isActive())
                m_typing->start(m_index->total() > 0 ? kFollowPassMs : kTypingMs * 4);
        });
        connect(index, &vault::SearchIndex::progressChanged, this, &VaultSearchPanel::showSummary);
    }
    ask();
}

void VaultSearchPanel::activate()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void VaultSearchPanel::ask()
{
    const QString query = m_field->text();
    if (!m_index || query.trimmed().isEmpty()) {
        ++m_request;
        m_found = -1;
        m_results->setRows({});
        showSummary();
        return;
    }
    m_openWhenFound = false;
    m_request = m_index->search(query, kShown);
}

void VaultSearchPanel::showSummary()
{
    QString text;
    if (!m_index)
        text = tr("Save the note to search the notes beside it.");
    else if (m_found == 0)
        text = tr("No notes match.");
    else if (m_found >= kShown)
        text = tr("The best %1 notes").arg(kShown);
    else if (m_found > 0)
        text = countedPhrase(m_found, tr("note"));
    if (m_index && m_index->total() > 0)
        text += (text.isEmpty() ? QString() : QStringLiteral(" \u2014 "))
                + tr("indexing %1 of %2\u2026").arg(QLocale().toString(m_index->done()),
                                                     QLocale().toString(m_index->total()));
    m_summary->setText(text);
    m_summary->setVisible(!text.isEmpty());
}

bool VaultSearchPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Down:
            m_results->step(1);
            return true;
        case Qt::Key_Up:
            m_results->step(-1);
            return true;
        case Qt::Key_PageDown:
            m_results->step(8);
            return true;
        case Qt::Key_PageUp:
            m_results->step(-8);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // What is typed is searched now, not after the pause.
            if (m_typing->isActive()) {
                m_typing->stop();
                ask();
                m_openWhenFound = true;
                return true;
            }
            if (const NoteRow *row = m_results->currentOrFirst())
                Q_EMIT noteChosen(row->path, row->heading);
            return true;
        case Qt::Key_Escape:
            Q_EMIT closeRequested();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quorvel::app
