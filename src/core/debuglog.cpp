#include "debuglog.h"

#include <QtGlobal>

#include <cstdio>

namespace quorvel::core {

bool debugEnabled()
{
    static const bool enabled = qEnvironmentVariableIsSet("QUORVEL_DEBUG");
    return enabled;
}

namespace {
void write(const char *prefix, const QString &line)
{
    if (!debugEnabled())
        return;
    std::fprintf(stderr, "%s%s\n", prefix, line.toUtf8().constData());
    std::fflush(stderr);
}
} // namespace

void previewLog(const QString &line)
{
    write("[preview] ", line);
}

void bridgeLog(const QString &line)
{
    write("[bridge] ", line);
}

void appLog(const QString &line)
{
    write("[app] ", line);
}

} // namespace quorvel::core
