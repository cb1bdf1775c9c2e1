#pragma once

#include "themes/themekind.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QApplication;

namespace quorvel::core {
class DocumentModel;
struct ModelEnvironment;
} // namespace quorvel::core
namespace quorvel::themes {
class Appearance;
class FileThemes;
class SettingsStore;
} // namespace quorvel::themes

namespace quorvel::app {
class DocumentWindow;
} // namespace quorvel::app

namespace quorvel::selftest {

// `--selftest FILE`: the real program, driven from inside the process. It checks the per-file
// theme memory on scratch files of its own, opens FILE in an ordinary window, types into it in
// source and visual mode with pauses that let autosave run, and changes the file as another
// program would. FILE is modified, so it must be a scratch copy.
//
// Each check writes one line on standard error, "ok <label>" or "FAIL <label>", and the run ends
// with finished(status), emitted once: 0 every check passed ("SELF-TEST OK"); 2 some failed
// ("SELF-TEST: n failure(s)"); 1 the file could not be opened or its window's model not found;
// 3 the run had not ended kTimeout after run() (QUORVEL_SELFTEST_TIMEOUT, in seconds, sets
// another). Main thread only; the caller exits on finished.
//
// The window works on a copy of the user's settings, removed at the end, so that what it writes
// (the file's theme, the rotation's place, recent documents, the mode) leaves the user's as they
// were; automatic reloading is off in the copy, since the reload steps test the banner. The
// windows it opens refer to the copy, so the test must outlive them; the program exits while
// both are alive.
class SelfTest : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kTimeout{60};
    // How much longer than its fixed pause a check waits for the event it looks at (an autosave,
    // the banner, a page's answer) before it looks anyway: a loaded machine is slow, not broken.
    static constexpr std::chrono::seconds kGrace{5};

    explicit SelfTest(const QString &path, QObject *parent = nullptr);
    ~SelfTest() override;

    // Starts the run and returns; the rest happens on the event loop.
    void run();
    void check(bool ok, const QString &label);
    void finish();

    const QStringList &failures() const { return m_failures; }

Q_SIGNALS:
    void finished(int status);

private:
    using Step = std::function<void()>;
    using Condition = std::function<bool()>;
    using Answer = std::function<void(const QVariant &result)>;

    void end(int status, const QString &message);
    // Runs `step` after `delay` unless the run has ended meanwhile.
    void after(std::chrono::milliseconds delay, Step step);
    bool proceeding();
    // After `delay`, runs `step` as soon as `ready` holds, or kGrace later regardless.
    void afterReady(std::chrono::milliseconds delay, Condition ready, Step step);
    void whenReady(Condition ready, std::chrono::steady_clock::time_point giveUp, Step step);
    // Runs a script in the window's page; `answer` gets its result, or an invalid value when the
    // page has not answered within kGrace (a page that never loaded answers nothing).
    void askPage(const QString &script, Answer answer);

    void phaseSource();
    void checkWindowTheme();
    void sourceBurst(int burst);
    void checkSourceAfterAutosave();
    void phaseVisual();
    void visualBurst(int burst);
    void checkVisualAfterAutosave();
    void phaseReloadStep(int step);
    void checkReloadStep(int step);

    core::ModelEnvironment scratchEnvironment();
    app::DocumentWindow *window() const;
    QString filePath() const { return m_url.toLocalFile(); }
    QString diskText() const;
    bool savedState() const;

    QUrl m_url;
    QString m_scratchFolder;
    std::unique_ptr<themes::SettingsStore> m_windowStore;
    std::unique_ptr<themes::Appearance> m_windowAppearance;
    std::unique_ptr<themes::FileThemes> m_windowThemes;
    QStringList m_failures;
    QPointer<core::DocumentModel> m_model;
    bool m_modelFound = false;
    bool m_done = false;

    // What the source bursts start from.
    int m_sourceStart = 0;
    std::optional<QDateTime> m_autosaveBefore;
    std::optional<themes::ThemeKind> m_themeBefore;
    // The length of the first paragraph before the visual bursts; -1 when there is none.
    int m_paragraphStart = -1;
};

// The whole `--selftest FILE` run on `application`, with the real preview and no alerts; it ends
// the process with the run's status and never returns.
int runSelfTest(QApplication &application, const QString &path);

} // namespace quorvel::selftest
