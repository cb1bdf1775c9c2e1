#include "statusbar.h"

#include "core/documentmodel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMutex>
#include <QPainter>
#include <QThreadPool>
#include <QTimer>

namespace quorvel::app {

namespace {

// Type sizes are given for a 96 dpi screen, where a point of the design is a pixel; in Qt's
// points that is three quarters, so the user's font scaling still applies.
constexpr double kFontPixels = 12;
constexpr int kHorizontalPadding = 14;
constexpr int kVerticalPadding = 7;
constexpr int kItemSpacing = 14;

} // namespace

// A background count reports here. The bar clears `bar` under the lock as it goes, so a count
// that finishes late never posts to a freed widget.
struct StatusBar::Mailbox
{
    QMutex mutex;
    StatusBar *bar = nullptr;
};

// A one-line label that gives up its tail rather than widen the bar past the window.
class StatusBar::ElidedLabel : public QLabel
{
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override
    {
        const QSize full = QLabel::minimumSizeHint();
        return {fontMetrics().horizontalAdvance(QStringLiteral("O\u2026")), full.height()};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QRect area = contentsRect();
        p.setPen(palette().color(foregroundRole()));
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

StatusBar::StatusBar(core::DocumentModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_mailbox(std::make_shared<Mailbox>())
{
    m_mailbox->bar = this;
    setObjectName(QStringLiteral("statusBar"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    QFont small = font();
    small.setPointSizeF(kFontPixels * 72.0 / 96.0);
    setFont(small);

    const auto label = [this](QPalette::ColorRole role) {
        auto *l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setForegroundRole(role);
        return l;
    };
    m_mode = label(QPalette::WindowText);
    m_words = label(QPalette::PlaceholderText);
    m_characters = label(QPalette::PlaceholderText);
    m_minutes = label(QPalette::PlaceholderText);
    m_saveState = label(QPalette::Highlight);
    m_file = new ElidedLabel(this);
    m_file->setTextFormat(Qt::PlainText);
    m_file->setForegroundRole(QPalette::PlaceholderText);
    m_file->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);

    auto *row = new QHBoxLayout(this);
    // One more pixel on top keeps the divider out of the padding.
    row->setContentsMargins(kHorizontalPadding, kVerticalPadding + 1, kHorizontalPadding,
                            kVerticalPadding);
    row->setSpacing(kItemSpacing);
    for (QLabel *l : {m_mode, m_words, m_characters, m_minutes})
        row->addWidget(l);
    row->addStretch(1);
    row->addWidget(m_saveState);
    row->addWidget(m_file, 0);

    m_recount = new QTimer(this);
    m_recount->setSingleShot(true);
    m_recount->setInterval(kRecountDelayMs);
    connect(m_recount, &QTimer::timeout, this, &StatusBar::recount);

    connect(&m_model, &core::DocumentModel::modeChanged, this, &StatusBar::showState);
    connect(&m_model, &core::DocumentModel::dirtyChanged, this, &StatusBar::showState);
    connect(&m_model, &core::DocumentModel::fileUrlChanged, this, &StatusBar::showState);
    showState();
    showCounts();
}

StatusBar::~StatusBar()
{
    QMutexLocker lock(&m_mailbox->mutex);
    m_mailbox->bar = nullptr;
}

QStringList StatusBar::itemTexts() const
{
    QStringList texts;
    for (const QLabel *l : std::initializer_list<const QLabel *>{
             m_mode, m_words, m_characters, m_minutes, m_saveState, m_file})
        if (!l->isHidden())
            texts << l->text();
    return texts;
}

void StatusBar::textChanged()
{
    ++m_generation;
    // A hidden bar counts when it is shown again, not on every keystroke meanwhile.
    if (isVisible())
        m_recount->start();
}

void StatusBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_counted != m_generation)
        recount();
}

void StatusBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15f);
    p.fillRect(QRect(0, 0, width(), 1), line);
}

void StatusBar::recount()
{
    if (!isVisible() || m_running)
        return; // a running count asks again when it reports
    const quint64 generation = m_generation;
    const QString text = m_model.text().text();
    if (text.size() <= kBackgroundThreshold) {
        takeCounts(generation, countText(text));
        return;
    }
    m_running = true;
    QThreadPool::globalInstance()->start([mailbox = m_mailbox, text, generation] {
        const TextCounts counts = countText(text);
        QMutexLocker lock(&mailbox->mutex);
        if (StatusBar *bar = mailbox->bar)
            QMetaObject::invokeMethod(
                bar, [bar, generation, counts] { bar->takeCounts(generation, counts); },
                Qt::QueuedConnection);
    });
}

void StatusBar::takeCounts(quint64 generation, TextCounts counts)
{
    m_running = false;
    if (generation != m_generation) {
        // The text moved on while it was counted: these numbers were never true of what the
        // user sees, so count again once it rests.
        if (isVisible() && !m_recount->isActive())
            m_recount->start();
        return;
    }
    m_counted = generation;
    if (counts == m_counts)
        return;
    m_counts = counts;
    showCounts();
    Q_EMIT countsChanged();
}

void StatusBar::showCounts()
{
    m_words->setText(countedPhrase(m_counts.words, tr("word")));
    m_characters->setText(countedPhrase(m_counts.characters, tr("character")));
    m_minutes->setText(tr("%1 min read").arg(readingMinutes(m_counts.words)));
}

void StatusBar::showState()
{
    using Mode = core::DocumentModel::Mode;
    m_mode->setText(m_model.mode() == Mode::Read ? tr("Reading") : tr("Editing"));
    const QUrl url = m_model.fileUrl();
    if (url.isEmpty()) {
        m_saveState->setText(tr("New document, unsaved"));
        m_file->hide();
        return;
    }
    m_saveState->setText(m_model.dirty() ? tr("Unsaved") : tr("Saved"));
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    m_file->setText(tr("Opened: ") + QFileInfo(path).fileName());
    m_file->setToolTip(url.isLocalFile() ? path : url.toString());
    m_file->show();
}

} // namespace quorvel::app
