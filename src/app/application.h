#pragma once

#include <QByteArray>

class QApplication;
class QMessageBox;
class QString;

namespace quorvel::app {

// The `--selftest FILE` run, to the end of the process. The self-test is built on this library,
// so the program hands it in.
using SelfTestRun = int (*)(QApplication &app, const QString &file);

// Prepares the process before Qt starts: the offscreen platform when there is no display and the
// run is a command-line mode, and the web engine's sandbox off when running as root.
void prepareEnvironment(int argc, char **argv);
// The web engine's flags: `given` (from the environment) and ours where `given` does not choose
// otherwise. `sandboxOff` when the engine runs without its sandbox.
QByteArray engineFlags(QByteArray given, bool sandboxOff);

// Gives every new document model the real preview (a web view with the page).
void installControllers();
// Menus, message boxes and dialogs wear the colours of the window they belong to.
void followOwnerPalettes(QApplication &app);
// Message boxes as wide as their texts, up to kAlertTextWidth pixels a line, the message in bold
// over the detail: for every box the application shows (fitAlertsToText), or one.
inline constexpr int kAlertTextWidth = 420;
void fitAlertsToText(QApplication &app);
void fitAlertToText(QMessageBox &box);

// The whole program after main(): reads the command line and runs the chosen mode.
int runApplication(int argc, char **argv, SelfTestRun selfTest);

} // namespace quorvel::app
