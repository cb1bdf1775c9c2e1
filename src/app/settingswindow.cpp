#include "editor/spellchecker.h"
#include "settingswindow.h"

#include "chromepalette.h"

#include "typography.h"

#include "support.h"
#include "updater.h"
#include "themes/appearance.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QCompleter>
#include <QLocale>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace quorvel::app {

using namespace Qt::StringLiterals;

using themes::Appearance;
using themes::PaperSize;
using themes::ThemeKind;

namespace {

constexpr int kTabWidth = 460;
constexpr int kPadding = 20;

QFormLayout *newForm(QWidget *page)
{
    auto *form = new QFormLayout(page);
    form->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(10);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    return form;
}

// The quiet sentence under a group that says what its switches mean.
QLabel *explanation(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    // The tab is of fixed width, so the sentence's height is known now; the window, of fixed
    // size, then needs no height-for-width pass to fit it.
    const int width = kTabWidth - 2 * kPadding - 8;
    label->setFixedSize(width, label->heightForWidth(width));
    return label;
}

// Buttons keep the width of their text instead of stretching across the form.
QPushButton *button(const QString &text, const QString &name)
{
    auto *made = new QPushButton(text);
    made->setObjectName(name);
    made->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Fusion's buttons hug their text; a little air makes them read as buttons.
    made->setMinimumWidth(std::max(110, made->sizeHint().width() + 24));
    return made;
}

// Breathing room between groups of a form.
void addGap(QFormLayout *form)
{
    form->addItem(new QSpacerItem(0, 6, QSizePolicy::Minimum, QSizePolicy::Fixed));
}

// Slider positions are whole steps; the value goes back through one rounding so that
// 1.2 + 8 × 0.05 is stored as 1.6, not 1.6000000000000003.
double valueAt(int position, double min, double step)
{
    return std::round((min + position * step) * 1e6) / 1e6;
}

int positionOf(double value, double min, double max, double step)
{
    const int steps = int(std::lround((max - min) / step));
    return std::clamp(int(std::lround((value - min) / step)), 0, steps);
}

} // namespace

SettingsWindow::SettingsWindow(Appearance &appearance, Updater &updater, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_appearance(appearance)
    , m_updater(updater)
{
    setWindowTitle(tr("Preferences"));
    setObjectName(QStringLiteral("settingsWindow"));

    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(false);
    m_tabs->setFixedWidth(kTabWidth);
    m_tabs->addTab(appearanceTab(),
                   QIcon::fromTheme(QStringLiteral("preferences-desktop-theme"),
                                    QIcon::fromTheme(QStringLiteral("preferences-desktop-color"))),
                   tr("Appearance"));
    m_tabs->addTab(exportTab(), QIcon::fromTheme(QStringLiteral("x-office-document")),
                   tr("PDF Export"));
    m_tabs->addTab(updatesTab(), QIcon::fromTheme(QStringLiteral("system-software-update")),
                   tr("Updates"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_tabs);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The window is as tall as the tab it shows: the short tabs would otherwise sit in the
    // tallest one's height, over a large empty area.
    connect(m_tabs, &QTabWidget::currentChanged, this, &SettingsWindow::fitCurrentTab);

    auto *close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    // Every change, from here or from a menu, brings the whole window in line: a dozen
    // controls cost nothing to set again.
    const auto follow = [this](auto signal) {
        connect(&m_appearance, signal, this, &SettingsWindow::refresh);
    };
    follow(&Appearance::themeChanged);
    follow(&Appearance::themePerFileChanged);
    follow(&Appearance::fontSizeChanged);
    follow(&Appearance::contentWidthChanged);
    follow(&Appearance::lineHeightChanged);
    follow(&Appearance::fontFamilyChanged);
    follow(&Appearance::showStatusBarChanged);
    follow(&Appearance::editorFontSizeChanged);
    follow(&Appearance::autoReloadChanged);
    follow(&Appearance::checkSpellingChanged);
    follow(&Appearance::spellingLanguageChanged);
    follow(&Appearance::paperSizeChanged);
    follow(&Appearance::landscapeChanged);
    follow(&Appearance::marginMMChanged);
    // Preferences are the settings' own window, so they wear the settings' theme.
    const auto wearTheme = [this] { setPalette(chromePalette(m_appearance.theme())); };
    connect(&m_appearance, &Appearance::themeChanged, this, wearTheme);
    wearTheme();
    connect(&m_updater, &Updater::automaticallyChecksChanged, this, &SettingsWindow::refresh);
    connect(&m_updater, &Updater::automaticallyDownloadsChanged, this, &SettingsWindow::refresh);
    connect(&m_updater, &Updater::canCheckChanged, this, &SettingsWindow::refresh);
    refresh();
}

SettingsWindow::~SettingsWindow() = default;

SettingsWindow *SettingsWindow::showShared()
{
    static QPointer<SettingsWindow> window;
    if (!window)
        window = new SettingsWindow(Appearance::shared(), Updater::shared());
    // Opened from a window, it opens over the middle of that window, not wherever the desktop
    // puts a new one.
    if (QWidget *from = QApplication::activeWindow(); from && from != window && !window->isVisible()) {
        window->adjustSize();
        window->move(from->frameGeometry().center() - window->rect().center());
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void SettingsWindow::refresh()
{
    for (const auto &refresher : m_refreshers)
        refresher();
    // A row shown or hidden changes the tab's height; the layouts hear of it once the event
    // loop has run.
    QTimer::singleShot(0, this, &SettingsWindow::fitCurrentTab);
}

void SettingsWindow::fitCurrentTab()
{
    QWidget *page = m_tabs->currentWidget();
    if (!page)
        return;
    // The tab bar and frame around the pages, measured against the pages' own stack.
    const int around = m_tabs->minimumSizeHint().height()
                       - page->parentWidget()->minimumSizeHint().height();
    m_tabs->setFixedHeight(around + page->sizeHint().height());
}

void SettingsWindow::addSlider(QFormLayout *form, const QString &name, double min, double max,
                               double step, std::function<QString(double)> label,
                               std::function<double()> read, std::function<void(double)> write)
{
    auto *title = new QLabel;
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(name);
    slider->setRange(0, int(std::lround((max - min) / step)));
    slider->setSingleStep(1);
    slider->setPageStep(std::max(1, slider->maximum() / 10));
    form->addRow(title, slider);
    connect(slider, &QSlider::valueChanged, this,
            [=](int position) { write(valueAt(position, min, step)); });
    m_refreshers.push_back([=] {
        const QSignalBlocker quiet(slider);
        // The label tells the setting as it is, even beyond the slider's reach (the View menu's
        // Larger Text has no top): the slider then rests at its end.
        title->setText(label(read()));
        slider->setValue(positionOf(read(), min, max, step));
    });
}

QWidget *SettingsWindow::appearanceTab()
{
    auto *page = new QWidget;
    QFormLayout *form = newForm(page);

    auto *perFile = new QCheckBox(tr("Give each file its own theme"));
    perFile->setObjectName(QStringLiteral("themePerFile"));
    form->addRow(perFile);
    connect(perFile, &QCheckBox::toggled, &m_appearance, &Appearance::setThemePerFile);

    auto *theme = new QComboBox(page);
    theme->hide();
    theme->setObjectName(QStringLiteral("theme"));
    for (ThemeKind kind : themes::allThemes())
        theme->addItem(themes::label(kind), themes::storedName(kind));
    auto *themeLabel = new QLabel(tr("Theme"), page);
    themeLabel->hide();
    themeLabel->setBuddy(theme);
    connect(theme, &QComboBox::activated, this, [this](int index) {
        m_appearance.setTheme(themes::allThemes().at(std::size_t(index)));
    });

    auto *perFileNote = explanation(
        tr("A file gets a theme the first time it opens and keeps it, even once edited, renamed "
           "or moved. View > Theme changes the front window's file."));
    perFileNote->setObjectName(QStringLiteral("themePerFileNote"));
    perFileNote->setParent(page);
    perFileNote->hide();
    constexpr int kThemeRow = 1;

    m_refreshers.push_back([=, this] {
        const QSignalBlocker quiet(perFile), quietTheme(theme);
        perFile->setChecked(m_appearance.themePerFile());
        const auto &all = themes::allThemes();
        theme->setCurrentIndex(int(std::find(all.begin(), all.end(), m_appearance.theme()) - all.begin()));
        // The picker and the sentence take turns in one row. The row is rebuilt rather than
        // hidden: Qt 6.4's form gives a row shown again after a first hidden layout no height.
        const bool perFileOn = m_appearance.themePerFile();
        QWidget *wanted = perFileOn ? static_cast<QWidget *>(perFileNote) : theme;
        if (form->indexOf(wanted) >= 0)
            return;
        if (form->indexOf(theme) >= 0 || form->indexOf(perFileNote) >= 0) {
            const QFormLayout::TakeRowResult taken = form->takeRow(kThemeRow);
            for (QLayoutItem *item : {taken.labelItem, taken.fieldItem}) {
                if (item && item->widget())
                    item->widget()->hide();
                delete item;
            }
        }
        if (perFileOn) {
            form->insertRow(kThemeRow, perFileNote);
            perFileNote->show();
        } else {
            form->insertRow(kThemeRow, themeLabel, theme);
            themeLabel->show();
            theme->show();
        }
    });
    addGap(form);

    auto *font = new QLineEdit;
    font->setObjectName(QStringLiteral("fontFamily"));
    // Suggested from the fonts this machine has: a name it lacks would quietly fall back.
    const QStringList families = QFontDatabase::families();
    QStringList examples;
    for (const QString &family : {u"Noto Serif"_s, u"Source Serif 4"_s, u"DejaVu Serif"_s,
                                  u"Liberation Serif"_s, u"Noto Sans"_s, u"DejaVu Sans"_s,
                                  u"Liberation Sans"_s, u"Cantarell"_s}) {
        if (families.contains(family) && examples.size() < 2)
            examples.append(family);
    }
    font->setPlaceholderText(examples.isEmpty() ? tr("a font family")
                                                : tr("e.g. %1").arg(examples.join(u", ")));
    auto *completer = new QCompleter(families, font);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    font->setCompleter(completer);
    font->setClearButtonEnabled(true);
    form->addRow(tr("Text font (empty = theme font)"), font);
    connect(font, &QLineEdit::textChanged, &m_appearance, &Appearance::setFontFamily);
    m_refreshers.push_back([=, this] {
        if (font->text() != m_appearance.fontFamily()) {
            const QSignalBlocker quiet(font);
            font->setText(m_appearance.fontFamily());
        }
    });

    Appearance &a = m_appearance;
    addSlider(form, QStringLiteral("fontSize"), 11, 28, 1,
              [](double v) { return tr("Text size: %1 px").arg(qint64(v)); },
              [&a] { return a.fontSize(); }, [&a](double v) { a.setFontSize(v); });
    addSlider(form, QStringLiteral("contentWidth"), 520, 1800, 20,
              [](double v) { return tr("Content width: %1 px").arg(qint64(v)); },
              [&a] { return a.contentWidth(); }, [&a](double v) { a.setContentWidth(v); });
    addSlider(form, QStringLiteral("lineHeight"), 1.2, 2.2, 0.05,
              [](double v) { return tr("Line spacing: %1").arg(v, 0, 'f', 2); },
              [&a] { return a.lineHeight(); }, [&a](double v) { a.setLineHeight(v); });
    addSlider(form, QStringLiteral("editorFontSize"), 10, 22, 0.5,
              [](double v) { return tr("Editor font size: %1 pt").arg(v, 0, 'f', 1); },
              [&a] { return a.editorFontSize(); }, [&a](double v) { a.setEditorFontSize(v); });
    addGap(form);

    auto *statusBar = new QCheckBox(tr("Show status bar"));
    statusBar->setObjectName(QStringLiteral("showStatusBar"));
    form->addRow(statusBar);
    connect(statusBar, &QCheckBox::toggled, &m_appearance, &Appearance::setShowStatusBar);
    auto *autoReload = new QCheckBox(tr("Reload without asking when there are no local changes"));
    autoReload->setObjectName(QStringLiteral("autoReload"));
    form->addRow(autoReload);
    connect(autoReload, &QCheckBox::toggled, &m_appearance, &Appearance::setAutoReload);
    form->addRow(explanation(tr("Otherwise, a banner offers to reload when the file changes on "
                                "disk. Saving is automatic, one second after the last keystroke.")));
    auto *spelling = new QCheckBox(tr("Check spelling while typing"));
    spelling->setObjectName(QStringLiteral("checkSpelling"));
    form->addRow(spelling);
    connect(spelling, &QCheckBox::toggled, &m_appearance, &Appearance::setCheckSpelling);
    auto *language = new QComboBox;
    language->setObjectName(QStringLiteral("spellingLanguage"));
    language->addItem(tr("The system's language"), QString());
    for (const QString &name : editor::SpellChecker::installedLanguages()) {
        const QLocale locale(name);
        language->addItem(locale.language() == QLocale::C
                              ? name
                              : QStringLiteral("%1 (%2)").arg(QLocale::languageToString(locale.language()),
                                                              QLocale::territoryToString(locale.territory())),
                          name);
    }
    form->addRow(tr("Spelling language"), language);
    connect(language, &QComboBox::activated, this, [this, language](int index) {
        m_appearance.setSpellingLanguage(language->itemData(index).toString());
    });
    form->addRow(explanation(tr("A note can ask for its own language in its front matter, as "
                                "\u201Clang: de\u201D.")));
    m_refreshers.push_back([=, this] {
        const QSignalBlocker quietLanguage(language);
        const int at = language->findData(m_appearance.spellingLanguage());
        language->setCurrentIndex(at < 0 ? 0 : at);
        language->setEnabled(m_appearance.checkSpelling());
    });
    m_refreshers.push_back([=, this] {
        const QSignalBlocker quiet(statusBar), quietReload(autoReload), quietSpelling(spelling);
        statusBar->setChecked(m_appearance.showStatusBar());
        autoReload->setChecked(m_appearance.autoReload());
        spelling->setChecked(m_appearance.checkSpelling());
    });
    addGap(form);

    auto *reset = button(tr("Reset Typography"), QStringLiteral("resetTypography"));
    form->addRow(QString(), reset);
    connect(reset, &QPushButton::clicked, this, [this] { typography::reset(m_appearance); });
    return page;
}

QWidget *SettingsWindow::exportTab()
{
    auto *page = new QWidget;
    QFormLayout *form = newForm(page);

    auto *paper = new QComboBox;
    paper->setObjectName(QStringLiteral("paperSize"));
    for (const auto &[size, name] : {std::pair{PaperSize::A4, tr("A4")},
                                     std::pair{PaperSize::Letter, tr("Letter")},
                                     std::pair{PaperSize::A5, tr("A5")}})
        paper->addItem(name, QVariant::fromValue(int(size)));
    form->addRow(tr("Paper size"), paper);
    connect(paper, &QComboBox::activated, this, [this, paper](int index) {
        m_appearance.setPaperSize(PaperSize(paper->itemData(index).toInt()));
    });

    auto *portrait = new QRadioButton(tr("Portrait"));
    portrait->setObjectName(QStringLiteral("portrait"));
    auto *landscape = new QRadioButton(tr("Landscape"));
    landscape->setObjectName(QStringLiteral("landscape"));
    auto *orientation = new QButtonGroup(page);
    orientation->addButton(portrait);
    orientation->addButton(landscape);
    auto *row = new QHBoxLayout;
    row->setSpacing(16);
    row->addWidget(portrait);
    row->addWidget(landscape);
    row->addStretch();
    form->addRow(tr("Orientation"), row);
    connect(landscape, &QRadioButton::toggled, &m_appearance, &Appearance::setLandscape);

    m_refreshers.push_back([=, this] {
        const QSignalBlocker quiet(paper), quietLandscape(landscape), quietPortrait(portrait);
        paper->setCurrentIndex(paper->findData(int(m_appearance.paperSize())));
        (m_appearance.landscape() ? landscape : portrait)->setChecked(true);
    });

    Appearance &a = m_appearance;
    addSlider(form, QStringLiteral("marginMM"), 5, 40, 1,
              [](double v) { return tr("Margins: %1 mm").arg(qint64(v)); },
              [&a] { return a.marginMM(); }, [&a](double v) { a.setMarginMM(v); });
    addGap(form);
    form->addRow(explanation(tr("Word: requires pandoc (sudo apt install pandoc, or your "
                                "system's package manager). Mermaid diagrams aren't converted "
                                "to .docx.")));
    return page;
}

QWidget *SettingsWindow::updatesTab()
{
    auto *page = new QWidget;
    QFormLayout *form = newForm(page);

    auto *checks = new QCheckBox(tr("Check for updates automatically"));
    checks->setObjectName(QStringLiteral("automaticallyChecks"));
    form->addRow(checks);
    connect(checks, &QCheckBox::toggled, &m_updater, &Updater::setAutomaticallyChecks);
    auto *downloads = new QCheckBox(tr("Open the download page of a new version by itself"));
    downloads->setObjectName(QStringLiteral("automaticallyDownloads"));
    form->addRow(downloads);
    connect(downloads, &QCheckBox::toggled, &m_updater, &Updater::setAutomaticallyDownloads);
    const QString host = QUrl(support::siteBase()).host();
    form->addRow(explanation(
        tr("Once a day, Quorvel asks %1 whether a new version exists. It installs nothing: "
           "the new version comes from its download page or your package manager.")
            .arg(host)));
    addGap(form);

    auto *checkNow = button(tr("Check Now"), QStringLiteral("checkNow"));
    auto *version = new QLabel(support::versionLabel());
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(version, checkNow);
    connect(checkNow, &QPushButton::clicked, &m_updater, &Updater::checkNow);

    m_refreshers.push_back([=, this] {
        const QSignalBlocker quiet(checks), quietDownloads(downloads);
        checks->setChecked(m_updater.automaticallyChecks());
        downloads->setChecked(m_updater.automaticallyDownloads());
        // Off, but still showing what it will be once checking is back on.
        downloads->setEnabled(m_updater.automaticallyChecks());
        checkNow->setEnabled(m_updater.canCheck());
    });

    auto *divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    form->addRow(divider);

    auto *support = button(tr("Support Quorvel…"), QStringLiteral("supportQuorvel"));
    form->addRow(tr("Quorvel is free for everyone."), support);
    connect(support, &QPushButton::clicked, this, [] { support::openSupport(); });
    form->addRow(explanation(tr("If it's useful to you, a donation of the amount you choose "
                                "helps keep it that way.")));
    return page;
}

} // namespace quorvel::app
