#include "selftest.h"

#include "app/application.h"
#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "app/headlessrun.h"
#include "core/documentmodel.h"
#include "core/documenttext.h"
#include "editor/editorcontroller.h"
#include "editor/markdowntextview.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"
#include "themes/appearance.h"
#include "themes/filethemes.h"
#include "themes/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPalette>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>
#include <QVariantMap>
#include <QWebEnginePage>

#include <cstdio>
#include <memory>

namespace quorvel::selftest {

using namespace std::chrono_literals;
using app::DocumentController;
using app::DocumentWindow;
using Mode = core::DocumentModel::Mode;

namespace {

constexpr int kSourceBursts = 6;
constexpr int kVisualBursts = 4;
constexpr int kReloadSteps = 3;
constexpr int kPerBurst = 3;

void say(const QString &line)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

// An unreadable file counts as empty, as another program reading it would find nothing.
QString readUtf8(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool writeUtf8(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(text.toUtf8()) == text.toUtf8().size();
}

bool move(const QString &from, const QString &to)
{
    // rename(2), not QFile::rename: that falls back to a copy, which would hand the file a new
    // identity and test something else. It also replaces `to`, as a safe save does.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData())
        == 0;
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The theme memory's scratch world: a folder of files and a store of their own, beside the
// user's settings but never the same file. Both are gone when this is, however the checks ended.
class ThemeScratch
{
public:
    ThemeScratch()
        : m_folder(QDir::temp().filePath(QStringLiteral("quorvel-selftest-")
                                         + QUuid::createUuid().toString(QUuid::WithoutBraces)))
        , m_storePath(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                          .filePath(QStringLiteral("Quorvel/Quorvel.selftest.conf")))
    {
        QFile::remove(m_storePath);
        m_store = std::make_unique<themes::SettingsStore>(m_storePath);
        m_themes = std::make_unique<themes::FileThemes>(*m_store);
        m_ready = QDir().mkpath(path(QStringLiteral("sub")));
    }

    ~ThemeScratch()
    {
        // The memory writes itself on destruction, and the store on its own: both first.
        m_themes.reset();
        m_store.reset();
        QFile::remove(m_storePath);
        QDir(m_folder).removeRecursively();
    }

    bool ready() const { return m_ready; }
    QString path(const QString &name) const { return QDir(m_folder).filePath(name); }
    themes::FileThemes &themes() { return *m_themes; }

private:
    QString m_folder;
    QString m_storePath;
    std::unique_ptr<themes::SettingsStore> m_store;
    std::unique_ptr<themes::FileThemes> m_themes;
    bool m_ready = false;
};

using Check = std::function<void(bool ok, const QString &label)>;

// The file keeps its theme through what users and other programs do to files; each operation
// that fails ends the checks there, since the ones after it would look at the wrong file.
void checkFileThemes(const Check &check)
{
    ThemeScratch scratch;
    themes::FileThemes &memory = scratch.themes();
    QString file = scratch.path(QStringLiteral("a.md"));
    if (!scratch.ready() || !writeUtf8(file, QStringLiteral("one")))
        return check(false, QStringLiteral("themes: a new file has none"));
    check(!memory.theme(file), QStringLiteral("themes: a new file has none"));

    const auto id = themes::FileThemes::identifier(file);
    check(id.has_value(), QStringLiteral("themes: the file has a document identifier"));
    if (!id)
        return;
    // Not the first of the rotation, so that a memory that hands out defaults cannot pass.
    const themes::ThemeKind remembered = themes::ThemeKind::Sage;
    memory.remember(remembered, *id, themes::FileThemes::standardizedPath(file));
    // Looks the theme up at `at`, where the operation left the file.
    const auto kept = [&](bool done, const QString &at, const QString &label) {
        check(done && memory.theme(at) == remembered, label);
        return done;
    };

    const QString renamed = scratch.path(QStringLiteral("renamed.md"));
    if (!kept(move(file, renamed), renamed, QStringLiteral("themes: kept after a rename")))
        return;
    file = scratch.path(QStringLiteral("sub/moved.md"));
    if (!kept(move(renamed, file), file, QStringLiteral("themes: kept after a move")))
        return;
    const QString swap = scratch.path(QStringLiteral("swap.md"));
    if (!kept(writeUtf8(swap, QStringLiteral("two")) && move(swap, file), file,
              QStringLiteral("themes: kept after a safe save")))
        return;
    if (!kept(writeAtomically(file, "three"), file,
              QStringLiteral("themes: kept after another program's atomic write")))
        return;
    if (!kept(QFile::remove(file) && writeUtf8(file, QStringLiteral("four")), file,
              QStringLiteral("themes: kept after a delete and rewrite")))
        return;
    const QString copy = scratch.path(QStringLiteral("copy.md"));
    check(QFile::copy(file, copy) && !memory.theme(copy),
          QStringLiteral("themes: a copy has none"));

    // A store without history starts at the settings' theme, or at the rotation's first when
    // that theme is not handed out (system).
    const auto &rotation = themes::themeRotation();
    const themes::ThemeKind settings = themes::Appearance::shared().theme();
    const themes::ThemeKind first = memory.nextTheme({}, settings);
    check(first == (rotation.contains(settings) ? settings : rotation.first()),
          QStringLiteral("themes: the first one is the theme of Settings"));
    const qsizetype at = rotation.indexOf(first);
    const themes::ThemeKind onScreen = rotation[(at + 1) % rotation.size()];
    check(memory.nextTheme({onScreen}, settings) == rotation[(at + 2) % rotation.size()],
          QStringLiteral("themes: the rotation skips a theme on screen"));
}

// The page's first editable paragraph: `inserts` times "y" typed at the caret, then where the
// caret is. The paragraph is looked up again each time, since a render may replace its element.
QString paragraphProbe(int inserts)
{
    return QStringLiteral(R"JS((() => {
  const root = document.getElementById('content');
  const paragraph = () => root && [...root.querySelectorAll('p')].find((p) => p.isContentEditable);
  for (let i = 0; i < %1; i += 1) document.execCommand('insertText', false, 'y');
  const p = paragraph();
  const selection = window.getSelection();
  const range = selection.rangeCount ? selection.getRangeAt(0) : null;
  const inside = Boolean(p && range && p.contains(range.startContainer));
  let offset = -1;
  if (inside) {
    const before = document.createRange();
    before.selectNodeContents(p);
    before.setEnd(range.startContainer, range.startOffset);
    offset = before.toString().length;
  }
  return { inside, length: p ? p.textContent.length : -1, offset };
})())JS")
        .arg(inserts);
}

// Puts the caret at the end of the first editable paragraph; its length, or -1 without one.
const QString kCaretToParagraphEnd = QStringLiteral(R"JS((() => {
  const root = document.getElementById('content');
  const p = root && [...root.querySelectorAll('p')].find((el) => el.isContentEditable);
  if (!p) return -1;
  // Focus first: focusing an editable element moves the caret to its start.
  root.focus();
  const range = document.createRange();
  range.selectNodeContents(p);
  range.collapse(false);
  const selection = window.getSelection();
  selection.removeAllRanges();
  selection.addRange(range);
  return p.textContent.length;
})())JS");

void typeCharacter(QWidget *view, QChar c)
{
    const auto key = Qt::Key(c.toUpper().unicode());
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(view, &press);
    QCoreApplication::sendEvent(view, &release);
}

// Shortened for tests of the time-out itself; anything unreadable keeps the default.
std::chrono::milliseconds timeout()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("QUORVEL_SELFTEST_TIMEOUT").toDouble(&ok);
    if (ok && seconds > 0 && seconds <= 3600)
        return std::chrono::milliseconds(qint64(seconds * 1000));
    return SelfTest::kTimeout;
}

QString marker(int step)
{
    return QStringLiteral("Added by another program, step %1.").arg(step);
}

} // namespace

SelfTest::SelfTest(const QString &path, QObject *parent)
    : QObject(parent)
    , m_url(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()))
    , m_scratchFolder(QDir::temp().filePath(QStringLiteral("quorvel-selftest-")
                                            + QUuid::createUuid().toString(QUuid::WithoutBraces)))
{
}

SelfTest::~SelfTest()
{
    m_windowThemes.reset();
    m_windowAppearance.reset();
    m_windowStore.reset();
    QDir(m_scratchFolder).removeRecursively();
}

void SelfTest::check(bool ok, const QString &label)
{
    if (m_done)
        return;
    if (!ok)
        m_failures.append(label);
    say((ok ? QStringLiteral("ok ") : QStringLiteral("FAIL ")) + label);
}

void SelfTest::finish()
{
    if (m_failures.isEmpty())
        return end(0, QStringLiteral("SELF-TEST OK"));
    end(2, QStringLiteral("SELF-TEST: %1 failure(s)").arg(m_failures.size()));
}

void SelfTest::end(int status, const QString &message)
{
    if (std::exchange(m_done, true))
        return;
    // The program exits without tearing anything down: the scratch store goes now.
    if (m_windowThemes)
        m_windowThemes->flush();
    QDir(m_scratchFolder).removeRecursively();
    say(message);
    Q_EMIT finished(status);
}

void SelfTest::after(std::chrono::milliseconds delay, Step step)
{
    QTimer::singleShot(delay, this, [this, step = std::move(step)] {
        if (proceeding())
            step();
    });
}

bool SelfTest::proceeding()
{
    if (m_done)
        return false;
    // The window was closed under the run (possible when it runs on a display).
    if (m_modelFound && !m_model) {
        end(1, QStringLiteral("model not found"));
        return false;
    }
    return true;
}

void SelfTest::afterReady(std::chrono::milliseconds delay, Condition ready, Step step)
{
    after(delay, [this, ready = std::move(ready), step = std::move(step)] {
        whenReady(ready, std::chrono::steady_clock::now() + kGrace, step);
    });
}

void SelfTest::whenReady(Condition ready, std::chrono::steady_clock::time_point giveUp, Step step)
{
    if (ready() || std::chrono::steady_clock::now() >= giveUp)
        return step();
    after(50ms, [this, ready = std::move(ready), giveUp, step = std::move(step)] {
        whenReady(ready, giveUp, step);
    });
}

void SelfTest::askPage(const QString &script, Answer answer)
{
    auto *controller = m_model ? preview::PreviewController::of(*m_model) : nullptr;
    auto *view = controller ? controller->webView() : nullptr;
    if (!view || !view->page())
        return answer(QVariant());
    auto answered = std::make_shared<bool>(false);
    const auto once = [this, answered, answer](const QVariant &result) {
        if (std::exchange(*answered, true) || !proceeding())
            return;
        answer(result);
    };
    view->page()->runJavaScript(script, [self = QPointer(this), once](const QVariant &result) {
        if (self)
            once(result);
    });
    after(kGrace, [once] { once(QVariant()); });
}

void SelfTest::run()
{
    checkFileThemes([this](bool ok, const QString &label) { check(ok, label); });

    // A path that does not exist would open as a new, empty note: nothing to test on. Reading it
    // first also keeps the controller's own report of a failed open off standard error.
    const auto readable = core::DocumentText::open(filePath());
    if (!readable)
        return end(1, QStringLiteral("cannot open: ") + readable.error());
    QString openError;
    auto &controller = DocumentController::shared();
    controller.setModelEnvironment(scratchEnvironment());
    const auto failed = connect(&controller, &DocumentController::openFailed, this,
                                [&openError](const QString &, const QString &message) {
                                    openError = message;
                                });
    auto *opened = controller.openDocument(filePath(), true);
    disconnect(failed);

    QTimer::singleShot(timeout(), this, [this] { end(3, QStringLiteral("timed out")); });
    if (!opened)
        return end(1, QStringLiteral("cannot open: ") + openError);
    after(2s, [this] { phaseSource(); });
}

core::ModelEnvironment SelfTest::scratchEnvironment()
{
    // The window starts from a copy of the user's settings and writes only to that copy.
    const QString copy = QDir(m_scratchFolder).filePath(QStringLiteral("window.conf"));
    QDir().mkpath(m_scratchFolder);
    QFile::copy(themes::SettingsStore::standard().fileName(), copy);
    m_windowStore = std::make_unique<themes::SettingsStore>(copy);
    m_windowAppearance = std::make_unique<themes::Appearance>(*m_windowStore);
    // With automatic reloading an outside change never shows the banner the reload steps test.
    m_windowAppearance->setAutoReload(false);
    m_windowThemes = std::make_unique<themes::FileThemes>(*m_windowStore);
    return {core::Scheduler::main(), *m_windowStore, *m_windowAppearance, *m_windowThemes};
}

DocumentWindow *SelfTest::window() const
{
    return m_model ? qobject_cast<DocumentWindow *>(m_model->window()) : nullptr;
}

QString SelfTest::diskText() const
{
    return readUtf8(filePath());
}

// The last edit is on disk and the window knows it.
bool SelfTest::savedState() const
{
    return m_model && m_model->file()->lastAutosave() != m_autosaveBefore
        && diskText() == m_model->text().text() && !m_model->hasUnsavedChanges()
        && !m_model->dirty();
}

void SelfTest::phaseSource()
{
    for (auto *model : core::DocumentModel::liveModels()) {
        if (model->fileUrl() == m_url)
            m_model = model;
    }
    if (!m_model || !window())
        return end(1, QStringLiteral("model not found"));
    m_modelFound = true;
    checkWindowTheme();
    m_themeBefore = m_model->environment().fileThemes.theme(filePath());
    m_model->setMode(Mode::Source);
    after(800ms, [this] {
        m_sourceStart = window()->sourceEditor()->textCursor().position();
        m_autosaveBefore = m_model->file()->lastAutosave();
        sourceBurst(1);
    });
}

void SelfTest::checkWindowTheme()
{
    if (!m_model->environment().appearance.themePerFile())
        return;
    check(m_model->fileTheme().has_value(),
          QStringLiteral("themes: the window has its file's theme"));
    const themes::ThemeKind theme = m_model->theme();
    if (theme == themes::ThemeKind::System)
        return;
    const bool dark = window()->palette().color(QPalette::Window).lightness() < 128;
    check(dark == (themes::windowAppearance(theme) == themes::WindowAppearance::Dark),
          QStringLiteral("themes: window appearance matches ") + themes::storedName(theme));
}

void SelfTest::sourceBurst(int burst)
{
    auto *view = window()->sourceEditor();
    for (int i = 0; i < kPerBurst; ++i)
        typeCharacter(view, u'x');
    const int expected = m_sourceStart + kPerBurst * burst;
    const int at = view->textCursor().position();
    check(at == expected, QStringLiteral("source burst %1: cursor at %2, expected %3")
                              .arg(burst)
                              .arg(at)
                              .arg(expected));
    // Each pause is longer than the autosave delay: a save runs while the caret must stay put.
    if (burst < kSourceBursts)
        return after(1400ms, [this, burst] { sourceBurst(burst + 1); });
    afterReady(1600ms, [this] { return savedState(); }, [this] { checkSourceAfterAutosave(); });
}

void SelfTest::checkSourceAfterAutosave()
{
    auto *view = window()->sourceEditor();
    const int expected = m_sourceStart + kPerBurst * kSourceBursts;
    const int at = view->textCursor().position();
    check(at == expected, QStringLiteral("source after autosave : cursor at %1, expected %2")
                              .arg(at)
                              .arg(expected));
    check(m_model->file()->lastAutosave() != m_autosaveBefore, QStringLiteral("source: a save happened"));
    check(!m_model->file()->externalContent(), QStringLiteral("source: no spurious banner"));
    const QString disk = diskText();
    check(disk.contains(QString(kPerBurst * kSourceBursts, u'x')),
          QStringLiteral("source: the 18 typed characters are on disk"));
    const QString shown = view->rawText();
    check(editor::editorForm(disk) == shown,
          QStringLiteral("source: disk = editor (%1 characters)").arg(shown.size()));
    check(!m_model->hasUnsavedChanges(), QStringLiteral("source: document clean after autosave"));
    check(!m_model->dirty(), QStringLiteral("source: status bar says Saved after autosave"));
    const auto theme = m_model->environment().fileThemes.theme(filePath());
    check(theme == m_themeBefore
              && (theme || !m_model->environment().appearance.themePerFile()),
          QStringLiteral("themes: kept after Quorvel's autosave"));
    phaseVisual();
}

void SelfTest::phaseVisual()
{
    m_model->setMode(Mode::Visual);
    m_autosaveBefore = m_model->file()->lastAutosave();
    after(1500ms, [this] {
        askPage(kCaretToParagraphEnd, [this](const QVariant &length) {
            m_paragraphStart = length.isValid() ? length.toInt() : -1;
            visualBurst(1);
        });
    });
}

void SelfTest::visualBurst(int burst)
{
    askPage(paragraphProbe(kPerBurst), [this, burst](const QVariant &result) {
        const QVariantMap caret = result.toMap();
        const int length = caret.value(QStringLiteral("length"), -1).toInt();
        check(m_paragraphStart >= 0 && caret.value(QStringLiteral("inside")).toBool()
                  && length == m_paragraphStart + kPerBurst * burst,
              QStringLiteral("visual burst %1: cursor in the paragraph, length %2")
                  .arg(burst)
                  .arg(length));
        if (burst < kVisualBursts)
            return after(1600ms, [this, burst] { visualBurst(burst + 1); });
        afterReady(2000ms, [this] { return savedState(); },
                   [this] { checkVisualAfterAutosave(); });
    });
}

void SelfTest::checkVisualAfterAutosave()
{
    askPage(paragraphProbe(0), [this](const QVariant &result) {
        const QVariantMap caret = result.toMap();
        const int length = caret.value(QStringLiteral("length"), -1).toInt();
        check(m_paragraphStart >= 0 && caret.value(QStringLiteral("inside")).toBool()
                  && length == m_paragraphStart + kPerBurst * kVisualBursts,
              QStringLiteral("visual after autosave : cursor still in the paragraph, length %1")
                  .arg(length));
        const QString disk = diskText();
        check(disk.contains(QString(kPerBurst * kVisualBursts, u'y')),
              QStringLiteral("visual: the 12 typed characters are on disk"));
        check(disk == m_model->text().text(), QStringLiteral("visual: disk = document"));
        check(!m_model->file()->externalContent(), QStringLiteral("visual: no spurious banner"));
        phaseReloadStep(0);
    });
}

void SelfTest::phaseReloadStep(int step)
{
    if (step >= kReloadSteps)
        return finish();
    if (m_model->mode() != Mode::Visual)
        m_model->setMode(Mode::Visual);
    after(1000ms, [this, step] {
        // Another program: a plain overwrite in place, no temporary file and no rename.
        writeUtf8(filePath(), diskText() + u'\n' + marker(step) + u'\n');
        afterReady(1500ms, [this] { return m_model->file()->externalContent().has_value(); },
                   [this, step] {
                       check(m_model->file()->externalContent().has_value(),
                             QStringLiteral("reload %1: banner shown for the outside change")
                                 .arg(step));
                       m_model->reloadFromDisk();
                       checkReloadStep(step);
                   });
    });
}

void SelfTest::checkReloadStep(int step)
{
    // Leaving the visual mode right away, a moment later, or not at all: each asks the page for
    // its pending edit at another point of the reload.
    if (step == 1)
        m_model->setMode(Mode::Read);
    else if (step == 2)
        after(1200ms, [this] { m_model->setMode(Mode::Read); });
    const QString wanted = marker(step);
    afterReady(
        2500ms,
        [this, wanted] {
            return diskText().contains(wanted) && m_model->text().text().contains(wanted)
                && !m_model->dirty();
        },
        [this, step, wanted] {
            const QString prefix = QStringLiteral("reload %1").arg(step);
            check(diskText().contains(wanted), prefix + u": the outside change is still on disk");
            check(m_model->text().text().contains(wanted),
                  prefix + u": the window shows the outside change");
            check(!m_model->dirty(), prefix + u": nothing left unsaved");
            phaseReloadStep(step + 1);
        });
}

// Nothing of the run is kept but the file under test, and every save of it is done by the time
// the test ends.
int runSelfTest(QApplication &application, const QString &path)
{
    app::installControllers();
    // A modal alert would stop the run until its time-out; the test reports failures itself.
    DocumentController::shared().setAlertsEnabled(false);
    SelfTest test(path);
    app::runToTheEnd(application, test);
}

} // namespace quorvel::selftest
