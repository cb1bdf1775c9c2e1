#pragma once

class QApplication;
class QString;

namespace quorvel::app {

// The `--selftest FILE` run, to the end of the process. The self-test is built on this library,
// so the program hands it in.
using SelfTestRun = int (*)(QApplication &app, const QString &file);

// Prepares the process before Qt starts: the offscreen platform when there is no display and the
// run is a command-line mode, and the web engine's sandbox off when running as root.
void prepareEnvironment(int argc, char **argv);

// Gives every new document model the real preview (a web view with the page).
void installControllers();
// Menus, message boxes and dialogs wear the colours of the window they belong to.
void followOwnerPalettes(QApplication &app);

// The whole program after main(): reads the command line and runs the chosen mode.
int runApplication(int argc, char **argv, SelfTestRun selfTest);

} // namespace quorvel::app
