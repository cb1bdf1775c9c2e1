#include "manualscheduler.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace quorvel::core {

struct ScheduledWork::State
{
    std::function<void()> work;
    bool pending = true;
    QPointer<QTimer> timer;

    void run()
    {
        if (!pending)
            return;
        pending = false;
        // Release the closure before running it, so that what it captured does not outlive it.
        auto work = std::move(this->work);
        this->work = nullptr;
        work();
    }
};

ScheduledWork::ScheduledWork(std::shared_ptr<State> state)
    : m_state(std::move(state))
{
}

void ScheduledWork::cancel()
{
    if (!m_state || !m_state->pending)
        return;
    m_state->pending = false;
    m_state->work = nullptr;
    if (m_state->timer) {
        m_state->timer->stop();
        m_state->timer->deleteLater();
    }
}

bool ScheduledWork::isPending() const
{
    return m_state && m_state->pending;
}

namespace {

class TimerScheduler : public Scheduler
{
public:
    ScheduledWork after(std::chrono::milliseconds delay, std::function<void()> work) override
    {
        auto state = std::make_shared<ScheduledWork::State>();
        state->work = std::move(work);
        auto *timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        state->timer = timer;
        QObject::connect(timer, &QTimer::timeout, timer, [timer, state] {
            timer->deleteLater();
            state->run();
        });
        timer->start(delay);
        return ScheduledWork(state);
    }

    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace

Scheduler &Scheduler::main()
{
    static TimerScheduler scheduler;
    return scheduler;
}

ManualScheduler::ManualScheduler(QDateTime start)
    : m_now(std::move(start))
{
}

ScheduledWork ManualScheduler::after(std::chrono::milliseconds delay, std::function<void()> work)
{
    auto state = std::make_shared<ScheduledWork::State>();
    state->work = std::move(work);
    m_entries.push_back({m_now.addMSecs(delay.count()), m_nextOrder++, state});
    return ScheduledWork(state);
}

void ManualScheduler::advance(std::chrono::milliseconds by)
{
    const QDateTime target = m_now.addMSecs(by.count());
    for (;;) {
        std::erase_if(m_entries, [](const Entry &e) { return !e.state->pending; });
        auto next = std::min_element(m_entries.begin(), m_entries.end(),
                                     [](const Entry &a, const Entry &b) {
                                         return a.due != b.due ? a.due < b.due : a.order < b.order;
                                     });
        if (next == m_entries.end() || next->due > target)
            break;
        const auto state = next->state;
        m_now = next->due;
        m_entries.erase(next);
        state->run();
    }
    m_now = target;
}

int ManualScheduler::pendingCount() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(),
                             [](const Entry &e) { return e.state->pending; }));
}

} // namespace quorvel::core
