#pragma once

#include <QString>

namespace quorvel::core {

// Diagnostics for the preview and the bridge, written to standard error only while the
// environment holds QUORVEL_DEBUG.
bool debugEnabled();
void previewLog(const QString &line);
void bridgeLog(const QString &line);
void appLog(const QString &line);

} // namespace quorvel::core
