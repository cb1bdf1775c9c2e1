#include "findbar.h"

#include "core/documentmodel.h"
#include "core/documenttext.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QScopedValueRollback>
#include <QToolButton>

#include <algorithm>

namespace quorvel::app {

using core::DocumentModel;

namespace {

constexpr int kTopMargin = 10;
constexpr int kTrailingMargin = 18;

QToolButton *button(QWidget *parent, const QString &icon, const QString &fallback,
                    const QString &name, const QString &help)
{
    auto *b = new QToolButton(parent);
    b->setAutoRaise(true);
    // Reached by Tab from the fields; a click leaves the focus where it was.
    b->setFocusPolicy(Qt::TabFocus);
    // The glyph ("Aa", an arrow) says nothing to a screen reader.
    b->setAccessibleName(name);
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
    // It floats over the page: an opaque card lifted by a soft shadow, never a see-through strip.
    setAttribute(Qt::WA_StyledBackground);
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 3);
    setGraphicsEffect(shadow);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(10, 7, 10, 7);
    column->setSpacing(5);
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    column->addLayout(row);

    auto *icon = new QLabel(this);
    const QIcon glass = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (!glass.isNull())
        icon->setPixmap(glass.pixmap(16, 16));
    icon->setVisible(!glass.isNull());
    row->addWidget(icon);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setAccessibleName(tr("Find"));
    m_field->setToolTip(tr("The text to find (Return: next match, Shift+Return: previous, "
                           "Escape: close)"));
    m_field->setFixedWidth(200);
    m_field->setFrame(false);
    m_field->setClearButtonEnabled(false);
    m_field->installEventFilter(this);
    row->addWidget(m_field);

    m_result = new QLabel(this);
    m_result->setAccessibleName(tr("Matches"));
    m_result->setMinimumWidth(44);
    m_result->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont small = m_result->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_result->setFont(small);
    row->addWidget(m_result);

    const auto option = [this, row](const QString &label, const QString &name, const QString &help) {
        auto *b = button(this, QString(), label, name, help);
        b->setCheckable(true);
        row->addWidget(b);
        connect(b, &QToolButton::toggled, this, [this] { Q_EMIT optionsEdited(options()); });
        return b;
    };
    m_matchCase = option(QStringLiteral("Aa"), tr("Match Case"), tr("Match Case"));
    m_wholeWord = option(QStringLiteral("\u2039ab\u203A"), tr("Whole Word"), tr("Whole Word"));
    m_regex = option(QStringLiteral(".*"), tr("Regular Expression"),
                     tr("Regular Expression: a Perl-style pattern; ^ and $ match at each line.\n"
                        "In the replacement, $1 to $99 put back what a group in parentheses "
                        "caught,\n$0 the whole match and $$ a dollar sign."));

    auto *previous = button(this, QStringLiteral("go-up"), QStringLiteral("\u2191"),
                            tr("Previous Match"), tr("Previous (Shift+F3)"));
    auto *next = button(this, QStringLiteral("go-down"), QStringLiteral("\u2193"),
                        tr("Next Match"), tr("Next (F3)"));
    auto *close = button(this, QStringLiteral("window-close"), QStringLiteral("\u2715"),
                         tr("Close Find"), tr("Close (Esc)"));
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(close);

    m_replaceLine = new QWidget(this);
    auto *replaceRow = new QHBoxLayout(m_replaceLine);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceRow->setSpacing(6);
    // Under the find field, whether or not the glass shows.
    if (!glass.isNull())
        replaceRow->addSpacing(16 + row->spacing());
    m_replaceField = new QLineEdit(m_replaceLine);
    m_replaceField->setPlaceholderText(tr("Replace"));
    m_replaceField->setAccessibleName(tr("Replace"));
    m_replaceField->setFixedWidth(200);
    m_replaceField->setFrame(false);
    m_replaceField->setToolTip(tr("Return replaces the current match and goes to the next"));
    m_replaceField->installEventFilter(this);
    replaceRow->addWidget(m_replaceField);
    m_replace = new QPushButton(tr("&Replace"), m_replaceLine);
    m_replace->setToolTip(tr("Replace the current match and go to the next (Return)"));
    m_replaceAll = new QPushButton(tr("Replace &All"), m_replaceLine);
    m_replaceAll->setToolTip(tr("Replace every match, as one step that Undo takes back (Alt+A)"));
    for (QPushButton *b : {m_replace, m_replaceAll}) {
        b->setFocusPolicy(Qt::TabFocus);
        b->setAutoDefault(false);
        replaceRow->addWidget(b);
    }
    // Tab goes along the find line, then along the replace line.
    QWidget *order[] = {m_field, m_matchCase, m_wholeWord, m_regex, previous, next, close,
                        m_replaceField, m_replace, m_replaceAll};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    replaceRow->addStretch(1);
    column->addWidget(m_replaceLine);
    m_replaceLine->hide();

    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setFont(small);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_message);
    m_message->hide();

    connect(m_field, &QLineEdit::textEdited, this, &FindRow::queryEdited);
    connect(previous, &QToolButton::clicked, this, &FindRow::previousRequested);
    connect(next, &QToolButton::clicked, this, &FindRow::nextRequested);
    connect(close, &QToolButton::clicked, this, &FindRow::closeRequested);
    connect(m_replace, &QPushButton::clicked, this, &FindRow::replaceRequested);
    connect(m_replaceAll, &QPushButton::clicked, this, &FindRow::replaceAllRequested);

    anchor->installEventFilter(this);
    applyStyle();
    hide();
}

QString FindRow::resultText() const
{
    return m_result->text();
}

QString FindRow::message() const
{
    return m_message->isHidden() ? QString() : m_message->text();
}

void FindRow::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindRow::focusReplaceField()
{
    if (m_field->text().isEmpty() || !replaceShown()) {
        focusField();
        return;
    }
    m_replaceField->setFocus(Qt::ShortcutFocusReason);
    m_replaceField->selectAll();
}

core::FindOptions FindRow::options() const
{
    return {m_matchCase->isChecked(), m_wholeWord->isChecked(), m_regex->isChecked()};
}

void FindRow::setOptions(core::FindOptions options)
{
    const QSignalBlocker a(m_matchCase), b(m_wholeWord), c(m_regex);
    m_matchCase->setChecked(options.matchCase);
    m_wholeWord->setChecked(options.wholeWord);
    m_regex->setChecked(options.regularExpression);
}

bool FindRow::replaceShown() const
{
    return !m_replaceLine->isHidden();
}

void FindRow::setReplaceShown(bool shown)
{
    if (shown == replaceShown())
        return;
    m_replaceLine->setVisible(shown);
    if (!shown && !m_messageIsError)
        showMessage(QString(), false);
    // Hidden too: the row is placed by its size, and shows where it was placed.
    place();
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

void FindRow::showError(const QString &error)
{
    if (!error.isEmpty() || m_messageIsError)
        showMessage(error, true);
}

void FindRow::showNote(const QString &note)
{
    showMessage(note, false);
}

void FindRow::clearNote()
{
    if (!m_messageIsError && !m_message->isHidden())
        showMessage(QString(), false);
}

void FindRow::showMessage(const QString &text, bool error)
{
    m_messageIsError = error && !text.isEmpty();
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
    applyStyle();
    place();
}

std::optional<core::TextSearch> FindRow::validSearch(const QString &query)
{
    clearNote();
    core::TextSearch search(query, options());
    showError(search.error());
    if (!search.isValid())
        return std::nullopt;
    return search;
}

bool FindRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_anchor) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
            place();
    } else if ((watched == m_field || watched == m_replaceField)
               && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            Q_EMIT closeRequested();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (watched == m_replaceField)
                Q_EMIT replaceRequested();
            else if (key->modifiers() & Qt::ShiftModifier)
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

// Escape on a button reached by Tab closes the bar as it does in the fields: the buttons leave the
// key to their row.
void FindRow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Q_EMIT closeRequested();
        return;
    }
    QFrame::keyPressEvent(event);
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
    // A line shown or hidden while the row was hidden is not in the layout's sizes yet.
    layout()->invalidate();
    layout()->activate();
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
    QColor hover = p.color(QPalette::WindowText);
    hover.setAlphaF(0.08f);
    QColor checked = p.color(QPalette::Highlight);
    checked.setAlphaF(0.30f);
    const QColor secondary = p.color(QPalette::PlaceholderText);
    const QString style = QStringLiteral(
        "#findRow { background: %1; border: 1px solid %2; border-radius: 9px; }"
        " #findRow QLineEdit { background: transparent; }"
        " #findRow QToolButton { border: none; border-radius: 4px; padding: 2px 4px; }"
        " #findRow QToolButton:hover { background: %3; }"
        " #findRow QToolButton:checked { background: %4; }");
    const QString sheet = style.arg(p.color(QPalette::Window).name(), stroke.name(QColor::HexArgb),
                                    hover.name(QColor::HexArgb), checked.name(QColor::HexArgb));
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    if (auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(graphicsEffect())) {
        // Black at a fifth on a light page; a dark page needs more to show any lift at all.
        QColor dark(Qt::black);
        dark.setAlphaF(p.color(QPalette::Window).lightness() < 128 ? 0.55f : 0.18f);
        shadow->setColor(dark);
    }
    const QColor red(0xD7, 0x3A, 0x31);
    QPalette label = m_result->palette();
    label.setColor(QPalette::WindowText, m_noMatch ? red : secondary);
    m_result->setPalette(label);
    QPalette message = m_message->palette();
    message.setColor(QPalette::WindowText, m_messageIsError ? red : secondary);
    m_message->setPalette(message);
}

FindBar::FindBar(DocumentModel &model, QWidget *anchor)
    : FindRow(anchor)
    , m_model(model)
{
    setObjectName(QStringLiteral("findRow"));
    field()->setText(model.findQuery());
    setOptions(model.findOptions());
    connect(this, &FindRow::queryEdited, this, [this](const QString &query) {
        m_replaceFrom.reset();
        validSearch(query);
        m_model.setFindQuery(query);
        m_model.runFind();
    });
    connect(this, &FindRow::optionsEdited, this, [this](core::FindOptions options) {
        m_replaceFrom.reset();
        validSearch(m_model.findQuery());
        m_model.setFindOptions(options);
    });
    connect(&model, &DocumentModel::findOptionsChanged, this,
            [this] { setOptions(m_model.findOptions()); });
    // Moving in the page says which match is meant.
    connect(this, &FindRow::nextRequested, this, [this] {
        m_replaceFrom.reset();
        m_model.findNext();
    });
    connect(this, &FindRow::previousRequested, this, [this] {
        m_replaceFrom.reset();
        m_model.findPrevious();
    });
    connect(this, &FindRow::closeRequested, &model, &DocumentModel::closeFind);
    connect(&model.text(), &core::DocumentText::edited, this, [this] { clearNote(); });
    connect(this, &FindRow::replaceRequested, this, &FindBar::replace);
    connect(this, &FindRow::replaceAllRequested, this, &FindBar::replaceAll);
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
    // The reading view takes no edits.
    if (m_model.mode() == DocumentModel::Mode::Read)
        setReplaceShown(false);
    const bool shown = m_model.showFind() && m_model.mode() != DocumentModel::Mode::Source;
    // Hidden with the focus inside, Qt hands the focus on as Tab would, and the page then
    // draws its focus ring round its first link. The page takes it back as a click would give it.
    if (!shown && isVisible() && isAncestorOf(QApplication::focusWidget())) {
        if (auto *controller = preview::PreviewController::of(m_model); controller && controller->webView())
            controller->webView()->setFocus(Qt::OtherFocusReason);
    }
    setVisible(shown);
}

void FindBar::updateResult()
{
    showResult(m_model.findQuery(), m_model.findCount(), m_model.findIndex());
}

bool FindBar::prepareToReplace()
{
    if (m_model.mode() == DocumentModel::Mode::Read)
        return false;
    // Typing on the page moments ago must be in the source before the source is searched.
    if (auto *controller = preview::PreviewController::of(m_model))
        controller->flushEditsNow();
    return true;
}

void FindBar::replace()
{
    if (!prepareToReplace())
        return;
    const auto search = validSearch(m_model.findQuery());
    if (!search)
        return;
    core::DocumentText &text = m_model.text();
    const QList<core::TextMatch> matches = search->matches(text.text());
    if (matches.isEmpty())
        return;
    // The page's current match, when it is the source's of the same number.
    const int pageAt = m_model.findCount() == matches.size() ? m_model.findIndex() : 0;
    qsizetype at = 0;
    if (m_replaceFrom) {
        const auto next = std::find_if(matches.cbegin(), matches.cend(),
                                       [from = *m_replaceFrom](const core::TextMatch &m) {
                                           return m.start >= from;
                                       });
        at = next == matches.cend() ? 0 : next - matches.cbegin();
    } else if (pageAt > 0) {
        at = pageAt - 1;
    }
    const auto edit = search->replace(text.text(), matches.at(at), replaceField()->text());
    if (!edit)
        return;
    text.apply(*edit, core::EditOrigin::Program);
    // Past what was put in, so that a replacement that matches again is not replaced again.
    m_replaceFrom = edit->insertedEnd();
    // The page keeps its current match by number when it shows the new text. A replacement
    // that still matches is one match more before the next: the page is moved on to it first,
    // its steps going ahead of the new text.
    const QList<core::TextMatch> after = search->matches(text.text());
    const auto next = std::find_if(after.cbegin(), after.cend(), [&](const core::TextMatch &m) {
        return m.start >= *m_replaceFrom;
    });
    const int nextAt = int(next - after.cbegin()) + 1;
    if (pageAt > 0 && next != after.cend() && nextAt <= matches.size())
        for (int step = pageAt; step < nextAt; ++step)
            m_model.findNext();
}

void FindBar::replaceAll()
{
    if (!prepareToReplace())
        return;
    const auto search = validSearch(m_model.findQuery());
    if (!search)
        return;
    core::DocumentText &text = m_model.text();
    const QList<core::TextEdit> edits = search->replaceAll(text.text(), replaceField()->text());
    text.applyAll(edits, core::EditOrigin::Program);
    m_replaceFrom.reset();
    showNote(edits.isEmpty() ? tr("Nothing to replace") : tr("%n replaced", "", int(edits.size())));
}

} // namespace quorvel::app
