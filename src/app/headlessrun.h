#pragma once

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace quorvel::app {

// Runs a headless mode to its `finished(int)` and ends the process with that status, without
// tearing the web engine down: the mode's output is written and closed by then, and tearing
// down would only add a tenth of a second to every run.
template <typename Mode>
[[noreturn]] void runToTheEnd(QApplication &app, Mode &mode)
{
    int status = 2;
    QObject::connect(&mode, &Mode::finished, &app, [&status](int code) {
        status = code;
        QCoreApplication::exit(code);
    });
    // Inside the event loop, so that an early end (bad arguments) can still end it.
    QTimer::singleShot(0, &mode, &Mode::run);
    app.exec();
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace quorvel::app
