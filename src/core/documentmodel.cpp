#include "documentmodel.h"

#include "debuglog.h"
#include "documentviews.h"
#include "filewatcher.h"
#include "documenttext.h"
#include "documentfile.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quorvel::core {

namespace {

const QString kLastModeKey = QStringLiteral("lastMode");
const QString kLastShowOutlineKey = QStringLiteral("lastShowOutline");

QList<QPointer<DocumentModel>> &registry()
{
    static QList<QPointer<DocumentModel>> refs;
    return refs;
}

DocumentWorkspace &installedWorkspace()
{
    static DocumentWorkspace w;
    return w;
}

ControllerFactory &factory()
{
    static ControllerFactory f;
    return f;
}

class NullPreview : public DocumentPreview
{
public:
    void flushEdits() override {}
    void prepareForReload() override {}
    void scrollToFraction(double) override {}
};

class NullEditor : public DocumentEditor
{
};

} // namespace

ModelEnvironment ModelEnvironment::standard()
{
    return {Scheduler::main(), themes::SettingsStore::standard(), themes::Appearance::shared(),
            themes::FileThemes::shared()};
}

DocumentModel::Mode DocumentModel::rememberedMode(const themes::SettingsStore &store)
{
    return modeFromStoredName(store.string(kLastModeKey).value_or(QString())).value_or(Mode::Read);
}

DocumentModel::DocumentModel(ModelEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_env(environment)
    , m_ownText(std::make_unique<DocumentText>())
{
    m_mode = rememberedMode(m_env.store);
    m_showOutline = m_env.store.boolean(kLastShowOutlineKey).value_or(false);

    auto &refs = registry();
    refs.removeIf([](const QPointer<DocumentModel> &ref) { return ref.isNull(); });
    refs.append(this);

    connect(&m_env.appearance, &themes::Appearance::themePerFileChanged, this, [this](bool on) {
        if (on)
            resolveFileTheme();
    });
}

DocumentModel::~DocumentModel() = default;

const QList<DocumentModel::Mode> &DocumentModel::allModes()
{
    static const QList<Mode> modes{Mode::Read, Mode::Visual, Mode::Split, Mode::Source};
    return modes;
}

QString DocumentModel::storedName(Mode mode)
{
    switch (mode) {
    case Mode::Visual:
        return QStringLiteral("visual");
    case Mode::Split:
        return QStringLiteral("split");
    case Mode::Source:
        return QStringLiteral("source");
    case Mode::Read:
        break;
    }
    return QStringLiteral("read");
}

std::optional<DocumentModel::Mode> DocumentModel::modeFromStoredName(QStringView name)
{
    for (Mode mode : allModes()) {
        if (name == storedName(mode))
            return mode;
    }
    return std::nullopt;
}

const QList<QPointer<DocumentModel>> &DocumentModel::liveRefs()
{
    return registry();
}

QList<DocumentModel *> DocumentModel::liveModels()
{
    QList<DocumentModel *> models;
    for (const auto &ref : registry()) {
        if (ref)
            models.append(ref.data());
    }
    return models;
}

void DocumentModel::setControllerFactory(ControllerFactory f)
{
    factory() = std::move(f);
}

void DocumentModel::setWorkspace(DocumentWorkspace w)
{
    installedWorkspace() = std::move(w);
}

const DocumentWorkspace &DocumentModel::workspace()
{
    return installedWorkspace();
}

void DocumentModel::setMode(Mode mode, bool remember)
{
    const Mode previous = m_mode;
    if (remember)
        m_env.store.setValue(kLastModeKey, storedName(mode));
    if (previous == mode)
        return;
    m_mode = mode;
    Q_EMIT modeChanged(mode);
    // Leaving the editable page must not strand the edit it has not sent yet.
    if (previous == Mode::Visual)
        preview().flushEdits();
}

void DocumentModel::setShowOutline(bool show, bool remember)
{
    if (remember)
        m_env.store.setValue(kLastShowOutlineKey, show);
    if (show == m_showOutline)
        return;
    m_showOutline = show;
    Q_EMIT showOutlineChanged(show);
}

void DocumentModel::setPresentation(bool on)
{
    if (on == m_presentation)
        return;
    m_presentation = on;
    if (on)
        m_outlineBeforePresentation = m_showOutline;
    setShowOutline(on ? false : m_outlineBeforePresentation, false);
    Q_EMIT presentationChanged(on);
}

void DocumentModel::setOutline(const Outline &outline)
{
    if (outline == m_outline)
        return;
    m_outline = outline;
    Q_EMIT outlineChanged();
}

void DocumentModel::setFileUrl(const QUrl &url)
{
    if (url == m_fileUrl)
        return;
    m_fileUrl = url;
    Q_EMIT fileUrlChanged(url);
}

void DocumentModel::setDirty(bool dirty)
{
    if (dirty == m_dirty)
        return;
    m_dirty = dirty;
    Q_EMIT dirtyChanged(dirty);
}

void DocumentModel::setShowFind(bool show)
{
    if (show == m_showFind)
        return;
    m_showFind = show;
    Q_EMIT showFindChanged(show);
}

void DocumentModel::setFindQuery(const QString &query)
{
    if (query == m_findQuery)
        return;
    m_findQuery = query;
    Q_EMIT findQueryChanged(query);
}

void DocumentModel::setFindOptions(FindOptions options)
{
    if (options == m_findOptions)
        return;
    m_findOptions = options;
    Q_EMIT findOptionsChanged();
    if (m_showFind && !m_findQuery.isEmpty())
        runFind();
}

void DocumentModel::setFindResult(int count, int index)
{
    if (count == m_findCount && index == m_findIndex)
        return;
    m_findCount = count;
    m_findIndex = index;
    Q_EMIT findResultChanged(count, index);
}

void DocumentModel::requestFindFocus()
{
    ++m_findFocusRequest;
    Q_EMIT findFocusRequested();
}

void DocumentModel::find()
{
    if (m_mode == Mode::Source) {
        Q_EMIT textFinderActionRequested(TextFinderAction::Show);
        return;
    }
    setShowFind(true);
    requestFindFocus();
    // An empty field has nothing to look for; the page keeps whatever it shows.
    if (!m_findQuery.isEmpty())
        runFind();
}

void DocumentModel::runFind()
{
    preview().find(m_findQuery, m_findOptions, [weak = QPointer(this)](int count, int index) {
        if (weak)
            weak->setFindResult(count, index);
    });
}

void DocumentModel::findNext()
{
    if (m_mode == Mode::Source)
        Q_EMIT textFinderActionRequested(TextFinderAction::Next);
    else
        findStep(1);
}

void DocumentModel::findPrevious()
{
    if (m_mode == Mode::Source)
        Q_EMIT textFinderActionRequested(TextFinderAction::Previous);
    else
        findStep(-1);
}

void DocumentModel::findStep(int step)
{
    // The first press only brings the bar back: the user sees where the search stands before
    // it moves.
    if (!m_showFind) {
        find();
        return;
    }
    preview().findStep(step, [weak = QPointer(this)](int count, int index) {
        if (weak)
            weak->setFindResult(count, index);
    });
}

void DocumentModel::closeFind()
{
    setShowFind(false);
    setFindResult(0, 0);
    preview().findClear();
    if (m_window)
        preview().takeFocus();
}

void DocumentModel::setFileTheme(std::optional<themes::ThemeKind> theme)
{
    if (theme == m_fileTheme)
        return;
    m_fileTheme = theme;
    Q_EMIT fileThemeChanged();
    applyWindowAppearance();
}

themes::ThemeKind DocumentModel::theme() const
{
    if (m_env.appearance.themePerFile() && m_fileTheme)
        return *m_fileTheme;
    return m_env.appearance.theme();
}

void DocumentModel::setWindow(QObject *window)
{
    if (window == m_window)
        return;
    m_window = window;
    if (window)
        applyWindowAppearance();
}

DocumentText &DocumentModel::text() const
{
    return m_document ? m_document->text() : *m_ownText;
}

void DocumentModel::setDocumentFile(DocumentFile *document)
{
    if (m_document)
        disconnect(m_document, nullptr, this, nullptr);
    m_document = document;
    if (!document)
        return;
    // One edited flag: the file's.
    connect(document, &DocumentFile::editedChanged, this, &DocumentModel::setDirty);
    setDirty(document->isDocumentEdited());
    // A save through a temporary file, ours or another program's, gives the file a new inode.
    connect(document, &DocumentFile::saved, this, &DocumentModel::refreshThemeKey);
    connect(document, &DocumentFile::replacedOnDisk, this, &DocumentModel::refreshThemeKey);
    connect(document, &DocumentFile::aboutToReload, this, [this] { preview().prepareForReload(); });
    connect(document, &DocumentFile::attentionRequested, this, &DocumentModel::attentionRequested);
    // The window follows the file's path with its title, the folder the page loads from and
    // the theme, which goes with the file.
    connect(document, &DocumentFile::filePathChanged, this, [this](const QString &path) {
        setFileUrl(QUrl::fromLocalFile(path));
        resolveFileTheme();
        if (m_env.appearance.themePerFile())
            recordFileTheme();
    });
    if (!document->isUntitled())
        setFileUrl(QUrl::fromLocalFile(document->filePath()));
}

bool DocumentModel::hasUnsavedChanges() const
{
    const auto *document = file();
    return document && document->isDocumentEdited();
}

DocumentPreview &DocumentModel::preview()
{
    if (!m_preview) {
        if (factory().preview)
            m_preview = factory().preview(*this);
        if (!m_preview)
            m_preview = std::make_unique<NullPreview>();
    }
    return *m_preview;
}

DocumentEditor &DocumentModel::editor()
{
    if (!m_editor) {
        if (factory().editor)
            m_editor = factory().editor(*this);
        if (!m_editor)
            m_editor = std::make_unique<NullEditor>();
    }
    return *m_editor;
}

QString DocumentModel::displayName() const
{
    if (m_fileUrl.isEmpty())
        return QStringLiteral("Untitled");
    const QString name = QFileInfo(filePath()).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QUrl DocumentModel::docDirUrl() const
{
    if (m_fileUrl.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(QFileInfo(filePath()).absolutePath() + u'/');
}

void DocumentModel::editorScrolled(double fraction)
{
    if (m_mode == Mode::Split)
        preview().scrollToFraction(fraction);
}

void DocumentModel::previewScrolled(double fraction)
{
    if (m_mode == Mode::Split)
        Q_EMIT editorScrollRequested(fraction);
}

// Saving and reloading -------------------------------------------------------------------

void DocumentModel::saveNow()
{
    if (m_mode == Mode::Visual)
        preview().flushEdits();
    if (m_document)
        m_document->saveNow();
}

void DocumentModel::reloadFromDisk()
{
    if (m_document)
        m_document->reloadFromDisk();
}

// Themes ------------------------------------------------------------------------------------

void DocumentModel::applyWindowAppearance()
{
    if (m_window)
        Q_EMIT windowAppearanceChanged(theme());
}

void DocumentModel::resolveFileTheme()
{
    if (!m_env.appearance.themePerFile())
        return;
    if (!m_fileUrl.isEmpty()) {
        if (const auto remembered = m_env.fileThemes.theme(filePath())) {
            m_themeKey = themes::FileThemes::key(filePath());
            setFileTheme(remembered);
            return;
        }
    }
    if (!m_fileTheme) {
        QSet<themes::ThemeKind> shown;
        for (DocumentModel *other : liveModels()) {
            if (other != this && other->m_fileTheme && other->m_window
                && other->m_window->property("visible").toBool())
                shown.insert(*other->m_fileTheme);
        }
        setFileTheme(m_env.fileThemes.nextTheme(shown, m_env.appearance.theme()));
    }
    recordFileTheme();
}

void DocumentModel::chooseTheme(themes::ThemeKind theme)
{
    if (!m_env.appearance.themePerFile()) {
        m_env.appearance.setTheme(theme);
        return;
    }
    setFileTheme(theme);
    recordFileTheme();
}

void DocumentModel::recordFileTheme()
{
    if (m_fileUrl.isEmpty() || !m_fileTheme)
        return;
    const QString path = themes::FileThemes::standardizedPath(filePath());
    m_themeKey = themes::FileThemes::key(path);
    m_env.fileThemes.remember(*m_fileTheme, m_themeKey, path);
}

void DocumentModel::refreshThemeKey()
{
    // A save through a temporary file, ours or another program's, gives the file a new inode;
    // move the theme's entry along so that a later rename still finds it.
    if (m_themeKey.isEmpty() || !m_fileTheme || !m_env.appearance.themePerFile())
        return;
    const QString path = themes::FileThemes::standardizedPath(filePath());
    const QString key = themes::FileThemes::key(path);
    if (key == m_themeKey)
        return;
    m_env.fileThemes.rekey(m_themeKey, *m_fileTheme, key, path);
    m_themeKey = key;
}

} // namespace quorvel::core
