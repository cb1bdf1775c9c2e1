#include "reloadbanner.h"

#include "core/documentmodel.h"
#include "core/documentfile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QSequentialAnimationGroup>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace quorvel::app {

namespace {

// Two arrows chasing each other round an exclamation mark. It breathes a few times when the
// change arrives, to draw the eye, then rests: a loop that ran for as long as the banner shows
// would repaint sixty times a second and keep a core busy in a window nobody is using.
class PulseIcon : public QWidget
{
public:
    explicit PulseIcon(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(30, 30);
        constexpr int kHalfBreath = 700; // ms
        auto *grow = new QVariantAnimation(this);
        grow->setStartValue(1.0);
        grow->setEndValue(1.12);
        grow->setDuration(kHalfBreath);
        grow->setEasingCurve(QEasingCurve::InOutSine);
        auto *shrink = new QVariantAnimation(this);
        shrink->setStartValue(1.12);
        shrink->setEndValue(1.0);
        shrink->setDuration(kHalfBreath);
        shrink->setEasingCurve(QEasingCurve::InOutSine);
        for (auto *a : {grow, shrink})
            connect(a, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
                m_scale = v.toDouble();
                update();
            });
        m_pulse = new QSequentialAnimationGroup(this);
        m_pulse->addAnimation(grow);
        m_pulse->addAnimation(shrink);
        m_pulse->setLoopCount(kBreaths);
    }

    static constexpr int kBreaths = 3;

    // Starts the breaths over, so that a second change draws the eye again.
    void setPulsing(bool on)
    {
        m_pulse->stop();
        if (on) {
            m_pulse->start();
        } else if (m_scale != 1.0) {
            m_scale = 1.0;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(width() / 2.0, height() / 2.0);
        p.scale(m_scale, m_scale);
        const QColor orange(0xF0, 0x8A, 0x24);
        QPen pen(orange, 2.4, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        const QRectF ring(-10, -10, 20, 20);
        p.drawArc(ring, 20 * 16, 140 * 16);
        p.drawArc(ring, 200 * 16, 140 * 16);
        p.setBrush(orange);
        p.setPen(Qt::NoPen);
        for (double angle : {20.0, 200.0}) {
            p.save();
            p.rotate(-angle);
            QPainterPath head;
            head.moveTo(10, -1);
            head.lineTo(14, 4);
            head.lineTo(6, 4);
            head.closeSubpath();
            p.drawPath(head);
            p.restore();
        }
        p.drawRoundedRect(QRectF(-1.3, -6, 2.6, 8), 1.2, 1.2);
        p.drawEllipse(QPointF(0, 5), 1.5, 1.5);
    }

private:
    QSequentialAnimationGroup *m_pulse = nullptr;
    double m_scale = 1.0;
};

// The locale's short time without seconds, which some locales' short format still carries.
QString shortTime(const QTime &time)
{
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    return QLocale().toString(time, format);
}

} // namespace

ReloadBanner::ReloadBanner(core::DocumentModel &model, core::DocumentFile &file, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_file(file)
{
    setAutoFillBackground(true);
    // A shade deeper than the bars: it asks for attention without leaving the theme.
    setBackgroundRole(QPalette::AlternateBase);
    setObjectName(QStringLiteral("reloadBanner"));
    auto *icon = new PulseIcon(this);

    m_title = new QLabel(this);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() + 1.5);
    m_title->setFont(titleFont);
    m_detail = new QLabel(this);
    m_detail->setWordWrap(true);
    m_detail->setForegroundRole(QPalette::PlaceholderText);

    auto *text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(m_title);
    text->addWidget(m_detail);

    m_ignore = new QPushButton(tr("Ignore"), this);
    m_reload = new QPushButton(style()->standardIcon(QStyle::SP_BrowserReload), tr("Reload"), this);
    m_reload->setDefault(true);
    m_reload->setToolTip(tr("Reload (Return, Ctrl+R)"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 9, 14, 9);
    row->setSpacing(12);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addLayout(text, 1);
    row->addWidget(m_ignore, 0, Qt::AlignVCenter);
    row->addWidget(m_reload, 0, Qt::AlignVCenter);
    m_saveAgain = new QPushButton(tr("Save Again"), this);
    m_saveAgain->setToolTip(tr("Write this text to the file\u2019s old name (Ctrl+S)"));
    row->addWidget(m_saveAgain, 0, Qt::AlignVCenter);

    // Return reloads only while the banner has the focus: in the editor it is a new line.
    auto *enter = new QShortcut(QKeySequence(Qt::Key_Return), this);
    enter->setContext(Qt::WidgetWithChildrenShortcut);
    connect(enter, &QShortcut::activated, m_reload, &QPushButton::click);

    connect(m_ignore, &QPushButton::clicked, this, [this] { m_file.ignoreExternalChange(); });
    connect(m_reload, &QPushButton::clicked, this, [this] { m_model.reloadFromDisk(); });
    connect(m_saveAgain, &QPushButton::clicked, this, [this] { m_model.saveNow(); });
    connect(&m_file, &core::DocumentFile::fileMissingChanged, this, &ReloadBanner::refresh);
    connect(&m_file, &core::DocumentFile::fileReplacedByChanged, this, &ReloadBanner::refresh);
    connect(&m_file, &core::DocumentFile::externalContentChanged, this, &ReloadBanner::refresh);
    connect(&m_file, &core::DocumentFile::externalChangeDateChanged, this,
            &ReloadBanner::refresh);
    connect(&m_model, &core::DocumentModel::dirtyChanged, this, &ReloadBanner::refresh);

    m_slide = new QVariantAnimation(this);
    m_slide->setDuration(250);
    m_slide->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_slide, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &v) { setMaximumHeight(v.toInt()); });
    connect(m_slide, &QVariantAnimation::finished, this, [this] {
        if (!m_shown)
            hide();
        else
            setMaximumHeight(QWIDGETSIZE_MAX);
    });
    const auto showOrHide = [this, icon] {
        const bool present = m_file.externalContent().has_value() || m_file.fileMissing()
            || !m_file.fileReplacedBy().isEmpty();
        icon->setPulsing(present);
        slide(present);
    };
    connect(&m_file, &core::DocumentFile::externalContentChanged, this, showOrHide);
    connect(&m_file, &core::DocumentFile::fileMissingChanged, this, showOrHide);
    connect(&m_file, &core::DocumentFile::fileReplacedByChanged, this, showOrHide);
    hide();
    refresh();
}

QString ReloadBanner::title() const
{
    return m_title->text();
}

QString ReloadBanner::detail() const
{
    return m_detail->text();
}

void ReloadBanner::refresh()
{
    const QString replacedBy = m_file.fileReplacedBy();
    const bool missing =
        (m_file.fileMissing() && !m_file.externalContent()) || !replacedBy.isEmpty();
    m_ignore->setVisible(!missing);
    m_reload->setVisible(!missing);
    m_saveAgain->setVisible(missing);
    if (!replacedBy.isEmpty()) {
        m_title->setText(tr("This file was replaced"));
        m_detail->setText(tr("Another program put %1 where it was. Nothing is saved through it; "
                             "Save Again puts your text there as an ordinary file.")
                              .arg(replacedBy));
        return;
    }
    if (missing) {
        m_title->setText(tr("This file was moved or deleted"));
        m_detail->setText(tr("It is no longer where it was. Your text stays here and is not "
                             "saved on its own; Save Again writes it back under its old name."));
        return;
    }
    QString when;
    if (const auto date = m_file.externalChangeDate())
        when = tr(" at ") + shortTime(date->time());
    m_title->setText(tr("This file changed on disk") + when);
    m_detail->setText(
        m_model.hasUnsavedChanges()
            ? tr("Changed by another program. Reload shows its version and overwrites your "
                 "unsaved changes.")
            : tr("Changed by another program (Obsidian, an agent, a script). Reload shows the "
                 "new version, Ctrl+R."));
}

void ReloadBanner::slide(bool in)
{
    if (in == m_shown)
        return;
    m_shown = in;
    const int full = sizeHint().height();
    m_slide->stop();
    m_slide->setStartValue(in ? 0 : height());
    m_slide->setEndValue(in ? full : 0);
    if (in) {
        setMaximumHeight(0);
        show();
    }
    m_slide->start();
}

} // namespace quorvel::app
