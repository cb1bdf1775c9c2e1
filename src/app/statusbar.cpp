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
    // The accent as text: the link colour, which reads on the bar in every theme.
    m_saveState = label(QPalette::Link);
    m_words->setToolTip(tr("Words as the page shows them, code included. Not counted: Markdown "
                           "markup, link addresses, images and their alternative text, footnote "
                           "marks and the front matter."));
    m_characters->setToolTip(tr("Characters as the page shows them, including spaces (one for a "
                                "run of them) but not line breaks. Markdown markup, link "
                                "addresses, images and the front matter are not counted."));
    m_minutes->setToolTip(tr("Reading time of the whole note, at 200 words a minute."));
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

// What one count is asked to read, and what it found.
struct StatusBar::Job
{
    quint64 generation = 0;
    quint64 noteGeneration = 0;
    std::optional<QString> note; // absent when the note's counts are still true
    std::optional<Selection> selection;

    // How much Markdown or text the count reads.
    qsizetype size() const
    {
        qsizetype n = note ? note->size() : 0;
        if (selection)
            n += selection->markdown && selection->to >= 0 ? selection->to : selection->text.size();
        return n;
    }

    Result run() const;
};

struct StatusBar::Result
{
    quint64 generation = 0;
    quint64 noteGeneration = 0;
    std::optional<TextCounts> note;
    std::optional<TextCounts> selection;
};

StatusBar::Result StatusBar::Job::run() const
{
    Result result{generation, noteGeneration, {}, {}};
    if (note)
        result.note = countMarkdown(*note);
    if (selection) {
        result.selection = selection->markdown
            ? countMarkdown(selection->text, selection->from, selection->to)
            : countText(selection->text);
    }
    return result;
}

void StatusBar::setSelectionSource(SelectionSource source)
{
    m_selectionSource = std::move(source);
    selectionChanged();
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
    ++m_noteGeneration;
    changed();
}

void StatusBar::selectionChanged()
{
    changed();
}

void StatusBar::changed()
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
    Job job;
    job.generation = m_generation;
    job.noteGeneration = m_noteGeneration;
    if (m_noteCounted != m_noteGeneration)
        job.note = m_model.text().text();
    if (m_selectionSource)
        job.selection = m_selectionSource();
    if (job.size() <= kBackgroundThreshold) {
        takeCounts(job.run());
        return;
    }
    m_running = true;
    QThreadPool::globalInstance()->start([mailbox = m_mailbox, job = std::move(job)] {
        const Result result = job.run();
        QMutexLocker lock(&mailbox->mutex);
        if (StatusBar *bar = mailbox->bar)
            QMetaObject::invokeMethod(
                bar, [bar, result] { bar->takeCounts(result); }, Qt::QueuedConnection);
    });
}

void StatusBar::takeCounts(const Result &result)
{
    m_running = false;
    // The note's counts hold as long as its text has not changed, whatever the selection did
    // meanwhile.
    const bool noteCurrent = result.noteGeneration == m_noteGeneration;
    if (result.note && noteCurrent) {
        m_noteCounted = result.noteGeneration;
        m_counts = *result.note;
    }
    if (result.generation != m_generation) {
        // The text or the selection moved on while it was counted: these numbers were never
        // true of what the user sees, so count again once it rests.
        if (isVisible() && !m_recount->isActive())
            m_recount->start();
        return;
    }
    m_counted = result.generation;
    m_selectionCounts = result.selection;
    showCounts();
    Q_EMIT countsChanged();
}

void StatusBar::showCounts()
{
    if (m_selectionCounts) {
        // "12 of 340 words": the selection's, of the note's.
        m_words->setText(tr("%1 of %2").arg(countedNumber(m_selectionCounts->words),
                                            countedPhrase(m_counts.words, tr("word"))));
        m_characters->setText(tr("%1 of %2").arg(countedNumber(m_selectionCounts->characters),
                                                 countedPhrase(m_counts.characters,
                                                               tr("character"))));
    } else {
        m_words->setText(countedPhrase(m_counts.words, tr("word")));
        m_characters->setText(countedPhrase(m_counts.characters, tr("character")));
    }
    // A long note is counted in the background: until it has been, no number is shown
    // ("0 words" would be wrong). An empty note is just "0 words": no characters to speak of,
    // nothing to read.
    const bool counted = m_noteCounted != 0;
    m_words->setVisible(counted);
    m_characters->setVisible(counted && m_counts.characters > 0);
    m_minutes->setVisible(counted && m_counts.words > 0);
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
