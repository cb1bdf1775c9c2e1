#pragma once

#include "scheduler.h"

#include <vector>

namespace quorvel::core {

// A clock that moves only when told: advance() runs, in order of their due time, every piece
// of work that falls due, including work scheduled while advancing.
class ManualScheduler : public Scheduler
{
public:
    explicit ManualScheduler(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(9, 0)));

    ScheduledWork after(std::chrono::milliseconds delay, std::function<void()> work) override;
    QDateTime now() const override { return m_now; }

    void advance(std::chrono::milliseconds by);
    int pendingCount() const;

private:
    struct Entry
    {
        QDateTime due;
        quint64 order;
        std::shared_ptr<ScheduledWork::State> state;
    };
    QDateTime m_now;
    quint64 m_nextOrder = 0;
    std::vector<Entry> m_entries;
};

} // namespace quorvel::core
