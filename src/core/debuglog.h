#pragma once

#include <QString>

namespace quorvel::core {

// Diagnostics for the preview and the bridge, written to standard error only while the
// environment holds QUORVEL_DEBUG.
bool debugEnabled();
void previewLog(const QString &line);
void bridgeLog(const QString &line);
void appLog(const QString &line);

// Start-up phases, each written once to standard error with the wall-clock time in microseconds
// (so that a bench outside can line them up with its own clock), only while the environment
// holds QUORVEL_TRACE_STARTUP. Costs a test of a flag otherwise.
bool startupTraceEnabled();
void startupMark(const char *phase, const QString &detail = {});

} // namespace quorvel::core
