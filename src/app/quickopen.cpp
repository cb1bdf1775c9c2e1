#include "quickopen.h"

#include "core/documentmodel.h"
#include "documentcontroller.h"
#include "documentwindow.h"
#include "notelist.h"
#include "vault/searchindex.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quorvel::app {

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 420;

} // namespace

QuickOpen *QuickOpen::showFor(QWidget *window, const QString &documentPath)
{
    if (documentPath.isEmpty())
        return nullptr;
    auto *popup = new QuickOpen(window, vault::SearchIndex::forDocument(documentPath));
    const QRect frame = window->geometry();
    const int width = qMin(kWidth, frame.width() - 40);
    popup->setGeometry(frame.left() + (frame.width() - width) / 2, frame.top() + 60, width,
                       qMin(kHeight, frame.height() - 80));
    popup->show();
    popup->m_field->setFocus(Qt::PopupFocusReason);
    popup->ask();
    return popup;
}

QuickOpen::QuickOpen(QWidget *window, vault::SearchIndex &index)
    : QFrame(window, Qt::Popup), m_index(&index)
{
    setObjectName(QStringLiteral("quickOpen"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The popup wears the colours of the window it opened from.
    setAttribute(Qt::WA_WindowPropagation);
    setPalette(window->palette());
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Open a note by name"));
    m_field->setAccessibleName(tr("Quick open"));
    m_field->setAccessibleDescription(tr("Part of a note's name or path; Return opens the first match"));
    m_field->installEventFilter(this);
    m_results = new NoteListView(this);
    m_results->setAccessibleName(tr("Matching notes"));
    m_results->setAccessibleDescription(tr("Recent notes first; Return opens one"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);
    column->addWidget(m_field);
    column->addWidget(m_results, 1);

    connect(m_field, &QLineEdit::textChanged, this, &QuickOpen::ask);
    connect(m_results, &NoteListView::chosen, this, [this](const NoteRow &row) { open(row.path); });
    connect(&index, &vault::SearchIndex::quickOpened, this,
            [this](quint64 request, const QStringList &paths) {
                if (request != m_request)
                    return;
                QList<NoteRow> rows;
                for (const QString &path : paths)
                    rows.append(NoteListView::rowFor(path, m_index->root()));
                m_results->setRows(rows);
                m_answered = request;
                Q_EMIT refreshed();
                if (std::exchange(m_openWhenFound, false) && !rows.isEmpty())
                    open(rows.first().path);
            });
}

void QuickOpen::ask()
{
    if (!m_index)
        return;
    m_request = m_index->quickOpen(m_field->text(), DocumentController::shared().recentDocuments());
}

void QuickOpen::open(const QString &path)
{
    close();
    core::DocumentModel::openNote(path);
}

bool QuickOpen::eventFilter(QObject *watched, QEvent *event)
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
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Until the answer to what was typed last is there, the list shows an older one.
            if (const NoteRow *row = m_results->currentOrFirst(); row && m_answered == m_request)
                open(row->path);
            else
                m_openWhenFound = true;
            return true;
        case Qt::Key_Escape:
            close();
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace quorvel::app
