#include "debuglog.h"

#include <QtGlobal>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

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

bool startupTraceEnabled()
{
    static const bool enabled = qEnvironmentVariableIsSet("QUORVEL_TRACE_STARTUP");
    return enabled;
}

void startupMark(const char *phase, const QString &detail)
{
    if (!startupTraceEnabled())
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    static std::mutex lock;
    static std::vector<const char *> seen;
    const std::lock_guard guard(lock);
    for (const char *earlier : seen)
        if (std::strcmp(earlier, phase) == 0)
            return;
    seen.push_back(phase);
    const long long micros = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    std::fprintf(stderr, "quorvel-startup %s %lld%s%s\n", phase, micros,
                 detail.isEmpty() ? "" : " ", detail.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace quorvel::core
