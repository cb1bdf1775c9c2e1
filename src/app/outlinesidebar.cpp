#include "outlinesidebar.h"

#include "core/documentmodel.h"
#include "textcounts.h"

#include <QAbstractButton>
#include <QAbstractListModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <functional>

namespace quorvel::app {

namespace {

// Sizes are given for a 96 dpi screen, where a design point is a pixel; Qt's points are three
// quarters of that, and staying in points keeps the user's font scaling.
QFont sized(QFont font, double pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPointSizeF(pixels * 72.0 / 96.0);
    font.setWeight(weight);
    return font;
}

constexpr double kRowPixels = 13;
constexpr double kHeaderPixels = 11;
constexpr double kPlaceholderPixels = 12;
constexpr int kPadding = 14;
constexpr int kListBottomPadding = 12;
constexpr int kToggleMs = 150;

QColor secondary(const QPalette &palette)
{
    return palette.color(QPalette::PlaceholderText);
}


QFont rowFont(const QFont &base, int level)
{
    return sized(base, kRowPixels, OutlineSidebar::rowStyle(level).weight);
}

enum { LevelRole = Qt::UserRole + 1 };

// The outline as the list shows it. It keeps its own copy (shared, so cheap) so that the view
// never reads a list that changed under it.
class OutlineListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setOutline(const core::Outline &outline)
    {
        beginResetModel();
        m_outline = outline;
        endResetModel();
    }
    const core::OutlineItem &item(int row) const { return m_outline.at(row); }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_outline.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_outline.size())
            return {};
        const core::OutlineItem &item = m_outline.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return item.text;
        case LevelRole:
            return item.level;
        default:
            return {};
        }
    }

private:
    core::Outline m_outline;
};

// One heading as a flat button: the text on one line in its level's weight and colour, indented
// by level, lit while the pointer or the keyboard is on it.
class OutlineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *p, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const int level = index.data(LevelRole).toInt();
        const OutlineSidebar::RowStyle style = OutlineSidebar::rowStyle(level);
        QRect row = option.rect;
        // Rows span the viewport, never beyond it, so the text ends where the column does.
        if (const auto *view = qobject_cast<const QAbstractItemView *>(option.widget))
            row.setRight(qMin(row.right(), view->viewport()->width() - 1));

        p->save();
        const bool focused = (option.state & QStyle::State_HasFocus)
                             && (option.state & QStyle::State_Active);
        if ((option.state & QStyle::State_MouseOver) || focused) {
            QColor wash = option.palette.color(QPalette::WindowText);
            wash.setAlphaF(focused ? 0.12f : 0.07f);
            p->setRenderHint(QPainter::Antialiasing);
            p->setPen(Qt::NoPen);
            p->setBrush(wash);
            p->drawRoundedRect(QRectF(row).adjusted(4, 1, -4, -1), 5, 5);
        }
        const QFont font = rowFont(option.font, level);
        const QRect text = row.adjusted(style.leading, 0, -OutlineSidebar::kRowTrailing, 0);
        p->setFont(font);
        p->setPen(style.primary ? option.palette.color(QPalette::WindowText)
                                : secondary(option.palette));
        p->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight,
                                                  text.width()));
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        // Every row is as tall as the boldest; the width is the view's, so it asks for none.
        const QFontMetrics metrics(rowFont(option.font, 1));
        return {1, metrics.height() + 2 * OutlineSidebar::kRowVerticalPadding};
    }
};

// Return, Enter and Space choose the current heading as a click does.
class OutlineView : public QListView
{
public:
    explicit OutlineView(QWidget *parent)
        : QListView(parent)
    {
        setViewportMargins(0, 0, 0, kListBottomPadding);
    }

    std::function<void(const QModelIndex &)> choose;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (currentIndex().isValid() && choose) {
                choose(currentIndex());
                return;
            }
            break;
        default:
            break;
        }
        QListView::keyPressEvent(event);
    }
};

// "OUTLINE", the number of headings and a chevron that points down while the list is open and
// turns to point right as it closes.
class OutlineHeader : public QAbstractButton
{
public:
    explicit OutlineHeader(QWidget *parent)
        : QAbstractButton(parent)
    {
        setText(QObject::tr("OUTLINE"));
        setFocusPolicy(Qt::TabFocus);
        setAccessibleDescription(QObject::tr("Shows or hides the list of headings"));
        m_turn = new QVariantAnimation(this);
        m_turn->setDuration(kToggleMs);
        m_turn->setEasingCurve(QEasingCurve::InOutQuad);
        connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
            m_angle = v.toDouble();
            update();
        });
    }

    void setCount(int count)
    {
        m_count = count;
        setAccessibleName(QObject::tr("Outline, ") + countedPhrase(count, QObject::tr("heading")));
        updateGeometry();
        update();
    }

    // Collapsed, the header is a rail as wide as its chevron: the words would not fit, and a
    // column of nothing under them would only take the page's room.
    void setRail(bool rail)
    {
        m_rail = rail;
        setToolTip(rail ? QObject::tr("Show the outline") : QString());
        updateGeometry();
        update();
    }

    void setCollapsed(bool collapsed, bool animated)
    {
        const double target = collapsed ? -90.0 : 0.0;
        m_turn->stop();
        if (!animated) {
            m_angle = target;
            update();
            return;
        }
        m_turn->setStartValue(m_angle);
        m_turn->setEndValue(target);
        m_turn->start();
    }

    QSize sizeHint() const override
    {
        const QFontMetrics title(titleFont()), count(countFont());
        const int width = kPadding + title.horizontalAdvance(text()) + 6
                          + count.horizontalAdvance(QString::number(m_count)) + 8 + kChevron
                          + kPadding;
        return {width, qMax(title.height(), count.height()) + 16};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor colour = secondary(palette());
        if (hasFocus()) {
            QColor wash = palette().color(QPalette::WindowText);
            wash.setAlphaF(0.1f);
            p.setPen(Qt::NoPen);
            p.setBrush(wash);
            p.drawRoundedRect(QRectF(rect()).adjusted(4, 2, -4, -2), 5, 5);
        }
        p.setPen(colour);
        if (m_rail) {
            drawChevron(p, colour, width() / 2.0);
            return;
        }
        const QFont title = titleFont();
        QRect area = rect().adjusted(kPadding, 0, -kPadding, 0);
        p.setFont(title);
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text());
        area.setLeft(area.left() + QFontMetrics(title).horizontalAdvance(text()) + 6);
        p.setFont(countFont());
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, QString::number(m_count));
        drawChevron(p, colour, width() - kPadding - kChevron / 2.0);
    }

private:
    static constexpr int kChevron = 8;

    void drawChevron(QPainter &p, const QColor &colour, double x)
    {
        p.translate(x, height() / 2.0);
        p.rotate(m_angle);
        QPen pen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath chevron;
        chevron.moveTo(-kChevron / 2.0, -kChevron / 4.0);
        chevron.lineTo(0, kChevron / 4.0);
        chevron.lineTo(kChevron / 2.0, -kChevron / 4.0);
        p.drawPath(chevron);
    }

    QFont titleFont() const
    {
        QFont f = sized(font(), kHeaderPixels, QFont::DemiBold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
        return f;
    }
    QFont countFont() const { return sized(font(), kHeaderPixels); }

    QVariantAnimation *m_turn = nullptr;
    double m_angle = 0;
    int m_count = 0;
    bool m_rail = false;
};

} // namespace

OutlineSidebar::RowStyle OutlineSidebar::rowStyle(int level)
{
    level = qMax(1, level);
    RowStyle style;
    style.leading = kPadding + 16 * (level - 1);
    style.weight = level == 1 ? QFont::DemiBold : level == 2 ? QFont::Medium : QFont::Normal;
    style.primary = level <= 2;
    return style;
}

OutlineSidebar::OutlineSidebar(core::DocumentModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("outlineSidebar"));
    auto *header = new OutlineHeader(this);
    m_header = header;

    auto *items = new OutlineListModel(this);
    auto *view = new OutlineView(this);
    m_list = view;
    view->setAccessibleName(tr("Headings"));
    view->setAccessibleDescription(tr("The note's headings; Return goes to the chosen one"));
    view->setModel(items);
    view->setItemDelegate(new OutlineDelegate(view));
    view->setUniformItemSizes(true);
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setFrameShape(QFrame::NoFrame);
    view->setMouseTracking(true);
    view->viewport()->setAttribute(Qt::WA_Hover);
    // The list lies on the sidebar's own background, as the rest of the window's chrome does.
    view->setAutoFillBackground(false);
    view->viewport()->setAutoFillBackground(false);
    view->setFont(sized(font(), kRowPixels));

    const auto choose = [this, items](const QModelIndex &index) {
        if (index.isValid() && index.row() < items->rowCount())
            Q_EMIT headingChosen(items->item(index.row()));
    };
    view->choose = choose;
    connect(view, &QListView::clicked, this, choose);

    m_empty = new QLabel(tr("No headings in this document."), this);
    m_empty->setFont(sized(font(), kPlaceholderPixels));
    m_empty->setWordWrap(true);
    m_empty->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_empty->setContentsMargins(kPadding, 8, kPadding, 0);
    applyPlaceholderColour();
    setWidthRange();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(m_list, 1);
    column->addWidget(m_empty);
    column->addStretch();

    connect(m_header, &QAbstractButton::clicked, this, [this] { setCollapsed(!m_collapsed); });
    connect(&m_model, &core::DocumentModel::outlineChanged, this, [this, items] {
        items->setOutline(m_model.outline());
        refresh();
    });
    items->setOutline(m_model.outline());
    refresh();
}

void OutlineSidebar::setCollapsed(bool collapsed)
{
    if (collapsed == m_collapsed)
        return;
    m_collapsed = collapsed;
    auto *header = static_cast<OutlineHeader *>(m_header);
    header->setCollapsed(collapsed, isVisible());
    header->setRail(collapsed);
    if (collapsed) {
        m_openWidth = width();
        setFixedWidth(kRailWidth);
    }
    else
        setWidthRange();
    refresh();
    Q_EMIT collapsedChanged(collapsed);
}

QString OutlineSidebar::placeholderText() const
{
    return m_model.outline().isEmpty() ? m_empty->text() : QString();
}

void OutlineSidebar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_empty)
        applyPlaceholderColour();
}

void OutlineSidebar::refresh()
{
    const int count = int(m_model.outline().size());
    static_cast<OutlineHeader *>(m_header)->setCount(count);
    m_list->setVisible(!m_collapsed && count > 0);
    m_empty->setVisible(!m_collapsed && count == 0);
}

void OutlineSidebar::applyPlaceholderColour()
{
    // The label keeps its own colour, so it is worked out again whenever the theme changes.
    QPalette p = m_empty->palette();
    p.setColor(QPalette::WindowText, secondary(palette()));
    m_empty->setPalette(p);
}

void OutlineSidebar::setWidthRange()
{
    setMinimumWidth(kMinimumWidth);
    setMaximumWidth(kMaximumWidth);
}

} // namespace quorvel::app
