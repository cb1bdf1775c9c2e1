#include "notelist.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace quorvel::app {

namespace {

constexpr int kPadding = 14;
constexpr int kRowPadding = 6;
constexpr int kLineGap = 2;

enum { RowRole = Qt::UserRole + 1 };

QFont sized(QFont font, double pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPointSizeF(pixels * 72.0 / 96.0);
    font.setWeight(weight);
    return font;
}

QFont titleFont(const QFont &base) { return sized(base, 13, QFont::DemiBold); }
QFont detailFont(const QFont &base) { return sized(base, 11); }
QFont textFont(const QFont &base) { return sized(base, 12); }
QFont sectionFont(const QFont &base)
{
    QFont f = sized(base, 11, QFont::DemiBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    return f;
}

// A name or a line may hold anything a file system allows; on screen it stays one line.
QString oneLine(QString text)
{
    for (QChar &c : text)
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    return text;
}

// One line of text with its marked matches in bold on a tint, cut with an ellipsis at `width`.
void drawMarked(QPainter *p, const QRect &area, QString text, const QFont &font,
                const QColor &colour, const QColor &tint)
{
    QFont bold = font;
    bold.setWeight(QFont::Bold);
    int x = area.left();
    const QFontMetrics plainMetrics(font), boldMetrics(bold);
    // A match far into the line would be cut off: the words before it give way to an ellipsis,
    // so that the match shows with a few words of its own line before it.
    if (const qsizetype first = text.indexOf(QChar(1)); first > 0) {
        QString before = oneLine(text.left(first));
        const int room = area.width() / 3;
        if (plainMetrics.horizontalAdvance(before) > room) {
            const QString ellipsis = QStringLiteral("\u2026");
            while (!before.isEmpty() && plainMetrics.horizontalAdvance(ellipsis + before) > room)
                before.remove(0, 1);
            text = ellipsis + before + text.mid(first);
        }
    }
    bool marked = false;
    qsizetype at = 0;
    while (at <= text.size() && x < area.right()) {
        qsizetype end = at;
        while (end < text.size() && text[end] != QChar(1) && text[end] != QChar(2))
            ++end;
        const QString run = oneLine(text.mid(at, end - at));
        const QFontMetrics &metrics = marked ? boldMetrics : plainMetrics;
        const int room = area.right() - x;
        QString shown = run;
        if (metrics.horizontalAdvance(run) > room)
            shown = metrics.elidedText(run, Qt::ElideRight, room);
        const int width = metrics.horizontalAdvance(shown);
        if (marked && !shown.isEmpty()) {
            p->setPen(Qt::NoPen);
            p->setBrush(tint);
            p->drawRoundedRect(QRectF(x - 1, area.top(), width + 2, area.height()), 3, 3);
        }
        p->setFont(marked ? bold : font);
        p->setPen(colour);
        p->drawText(QRect(x, area.top(), width + 1, area.height()), Qt::AlignLeft | Qt::AlignVCenter,
                    shown);
        x += width;
        if (shown != run)
            break;
        if (end < text.size())
            marked = text[end] == QChar(1);
        at = end + 1;
    }
}

class NoteDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const auto row = index.data(RowRole).value<const NoteRow *>();
        if (!row)
            return;
        QRect area = option.rect;
        if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
            area.setRight(qMin(area.right(), view->viewport()->width() - 1));
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const QPalette &palette = option.palette;
        const QColor secondary = palette.color(QPalette::PlaceholderText);
        if (row->isSection()) {
            p->setFont(sectionFont(option.font));
            p->setPen(secondary);
            p->drawText(area.adjusted(kPadding, 0, -kPadding, 0), Qt::AlignLeft | Qt::AlignBottom,
                        row->title);
            p->restore();
            return;
        }
        const bool current = option.state & QStyle::State_Selected;
        if (current || (option.state & QStyle::State_MouseOver)) {
            QColor wash = palette.color(QPalette::WindowText);
            wash.setAlphaF(current ? 0.12f : 0.07f);
            p->setPen(Qt::NoPen);
            p->setBrush(wash);
            p->drawRoundedRect(QRectF(area).adjusted(4, 1, -4, -1), 5, 5);
        }
        QRect line = area.adjusted(kPadding, kRowPadding, -10, 0);
        const auto next = [&line](const QFont &font) {
            QRect r = line;
            r.setHeight(QFontMetrics(font).height());
            line.setTop(r.bottom() + 1 + kLineGap);
            return r;
        };
        const QFont title = titleFont(option.font);
        const QRect titleRect = next(title);
        p->setFont(title);
        p->setPen(palette.color(QPalette::WindowText));
        p->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(title).elidedText(oneLine(row->title), Qt::ElideRight, titleRect.width()));
        if (!row->detail.isEmpty()) {
            const QFont detail = detailFont(option.font);
            const QRect r = next(detail);
            p->setFont(detail);
            p->setPen(secondary);
            p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                        QFontMetrics(detail).elidedText(oneLine(row->detail), Qt::ElideMiddle, r.width()));
        }
        if (!row->text.isEmpty()) {
            const QFont text = textFont(option.font);
            QColor tint = palette.color(QPalette::Highlight);
            tint.setAlphaF(0.25f);
            drawMarked(p, next(text), row->text, text, palette.color(QPalette::WindowText), tint);
        }
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const auto row = index.data(RowRole).value<const NoteRow *>();
        if (!row)
            return {1, 1};
        if (row->isSection())
            return {1, QFontMetrics(sectionFont(option.font)).height() + 16};
        int height = 2 * kRowPadding + QFontMetrics(titleFont(option.font)).height();
        if (!row->detail.isEmpty())
            height += kLineGap + QFontMetrics(detailFont(option.font)).height();
        if (!row->text.isEmpty())
            height += kLineGap + QFontMetrics(textFont(option.font)).height();
        return {1, height};
    }
};

} // namespace

void NoteListModel::setRows(QList<NoteRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int NoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant NoteListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const NoteRow &row = m_rows.at(index.row());
    switch (role) {
    case RowRole:
        return QVariant::fromValue(&row);
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
        QString text = row.text;
        text.remove(QChar(1)).remove(QChar(2));
        return oneLine(row.title + u", " + row.detail + u", " + text);
    }
    case Qt::ToolTipRole:
        return row.path;
    default:
        return {};
    }
}

Qt::ItemFlags NoteListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || m_rows.at(index.row()).isSection())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

NoteListView::NoteListView(QWidget *parent) : QListView(parent), m_model(new NoteListModel(this))
{
    setModel(m_model);
    setItemDelegate(new NoteDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    connect(this, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid() && !m_model->rows().at(index.row()).isSection())
            Q_EMIT chosen(m_model->rows().at(index.row()));
    });
}

void NoteListView::setRows(QList<NoteRow> rows)
{
    m_model->setRows(std::move(rows));
    step(0);
}

void NoteListView::step(int step)
{
    const QList<NoteRow> &rows = m_model->rows();
    int row = currentIndex().isValid() ? currentIndex().row() : -1;
    if (step == 0)
        row = -1;
    const int direction = step < 0 ? -1 : 1;
    int target = row;
    for (int moved = 0, r = row + direction; r >= 0 && r < rows.size(); r += direction) {
        if (rows.at(r).isSection())
            continue;
        target = r;
        if (++moved >= qMax(1, qAbs(step)))
            break;
    }
    if (target >= 0 && target < rows.size()) {
        setCurrentIndex(m_model->index(target));
        scrollTo(m_model->index(target));
    }
}

const NoteRow *NoteListView::currentOrFirst() const
{
    const QList<NoteRow> &rows = m_model->rows();
    if (currentIndex().isValid() && !rows.at(currentIndex().row()).isSection())
        return &rows.at(currentIndex().row());
    for (const NoteRow &row : rows)
        if (!row.isSection())
            return &row;
    return nullptr;
}

NoteRow NoteListView::rowFor(const QString &path, const QString &root)
{
    NoteRow row;
    row.path = path;
    row.title = QFileInfo(path).completeBaseName();
    const QString folder = QDir(root).relativeFilePath(QFileInfo(path).absolutePath());
    row.detail = folder == u"." ? QString() : folder;
    return row;
}

void NoteListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (const NoteRow *row = currentOrFirst()) {
            Q_EMIT chosen(*row);
            return;
        }
    }
    QListView::keyPressEvent(event);
}

} // namespace quorvel::app
