#include "findbar.h"

#include "core/documentmodel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QToolButton>

namespace quorvel::app {

using core::DocumentModel;

namespace {

constexpr int kTopMargin = 10;
constexpr int kTrailingMargin = 18;

QToolButton *button(QWidget *parent, const QString &icon, const QString &fallback,
                    const QString &help)
{
    auto *b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    const QIcon themed = QIcon::fromTheme(icon);
    // Without an icon theme (a bare desktop, offscreen) a glyph still says what it does.
    if (themed.isNull())
        b->setText(fallback);
    else
        b->setIcon(themed);
    b->setToolTip(help);
    return b;
}

} // namespace

FindRow::FindRow(QWidget *anchor)
    : QFrame(anchor->parentWidget())
    , m_anchor(anchor)
{
    setObjectName(QStringLiteral("findRow"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 7, 10, 7);
    row->setSpacing(6);

    auto *icon = new QLabel(this);
    const QIcon glass = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (!glass.isNull())
        icon->setPixmap(glass.pixmap(16, 16));
    icon->setVisible(!glass.isNull());
    row->addWidget(icon);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setFixedWidth(200);
    m_field->setFrame(false);
    m_field->setClearButtonEnabled(false);
    m_field->installEventFilter(this);
    row->addWidget(m_field);

    m_result = new QLabel(this);
    m_result->setMinimumWidth(44);
    m_result->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont small = m_result->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_result->setFont(small);
    row->addWidget(m_result);

    auto *previous = button(this, QStringLiteral("go-up"), QStringLiteral("\u2191"),
                            tr("Previous (Shift+F3)"));
    auto *next = button(this, QStringLiteral("go-down"), QStringLiteral("\u2193"),
                        tr("Next (F3)"));
    auto *close = button(this, QStringLiteral("window-close"), QStringLiteral("\u2715"),
                         tr("Close (Esc)"));
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(close);

    connect(m_field, &QLineEdit::textEdited, this, &FindRow::queryEdited);
    connect(previous, &QToolButton::clicked, this, &FindRow::previousRequested);
    connect(next, &QToolButton::clicked, this, &FindRow::nextRequested);
    connect(close, &QToolButton::clicked, this, &FindRow::closeRequested);

    anchor->installEventFilter(this);
    applyStyle();
    hide();
}

QString FindRow::resultText() const
{
    return m_result->text();
}

void FindRow::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindRow::showResult(const QString &query, int count, int index)
{
    m_noMatch = !query.isEmpty() && count == 0;
    if (query.isEmpty())
        m_result->clear();
    else if (count == 0)
        m_result->setText(tr("None"));
    else
        m_result->setText(QStringLiteral("%1/%2").arg(index).arg(count));
    applyStyle();
}

bool FindRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_anchor) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
            place();
    } else if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            Q_EMIT closeRequested();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (key->modifiers() & Qt::ShiftModifier)
                Q_EMIT previousRequested();
            else
                Q_EMIT nextRequested();
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void FindRow::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
    else if (event->type() == QEvent::ShowToParent) {
        place();
        raise();
    }
}

void FindRow::place()
{
    adjustSize();
    const QRect area = m_anchor->geometry();
    move(area.right() + 1 - kTrailingMargin - width(), area.top() + kTopMargin);
}

void FindRow::applyStyle()
{
    if (m_styling)
        return;
    const QScopedValueRollback guard(m_styling, true);
    // The window's palette changes with the theme; the row follows it.
    const QPalette p = palette();
    QColor stroke = p.color(QPalette::WindowText);
    stroke.setAlphaF(0.12f);
    const QColor secondary = p.color(QPalette::PlaceholderText);
    const QString style = QStringLiteral(
        "#findRow { background: %1; border: 1px solid %2; border-radius: 9px; }"
        " #findRow QLineEdit { background: transparent; }");
    const QString sheet = style.arg(p.color(QPalette::Window).name(), stroke.name(QColor::HexArgb));
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    QPalette label = m_result->palette();
    label.setColor(QPalette::WindowText, m_noMatch ? QColor(0xD7, 0x3A, 0x31) : secondary);
    m_result->setPalette(label);
}

FindBar::FindBar(DocumentModel &model, QWidget *anchor)
    : FindRow(anchor)
    , m_model(model)
{
    setObjectName(QStringLiteral("findRow"));
    field()->setText(model.findQuery());
    connect(this, &FindRow::queryEdited, this, [this](const QString &query) {
        m_model.setFindQuery(query);
        m_model.runFind();
    });
    connect(this, &FindRow::nextRequested, &model, &DocumentModel::findNext);
    connect(this, &FindRow::previousRequested, &model, &DocumentModel::findPrevious);
    connect(this, &FindRow::closeRequested, &model, &DocumentModel::closeFind);
    connect(&model, &DocumentModel::findQueryChanged, this, [this](const QString &query) {
        if (field()->text() != query)
            field()->setText(query);
        updateResult();
    });
    connect(&model, &DocumentModel::findResultChanged, this, &FindBar::updateResult);
    connect(&model, &DocumentModel::showFindChanged, this, &FindBar::updateVisibility);
    connect(&model, &DocumentModel::modeChanged, this, &FindBar::updateVisibility);
    connect(&model, &DocumentModel::findFocusRequested, this, [this] {
        updateVisibility();
        if (isVisible())
            focusField();
    });
    updateResult();
    updateVisibility();
}

void FindBar::updateVisibility()
{
    setVisible(m_model.showFind() && m_model.mode() != DocumentModel::Mode::Source);
}

void FindBar::updateResult()
{
    showResult(m_model.findQuery(), m_model.findCount(), m_model.findIndex());
}

} // namespace quorvel::app
