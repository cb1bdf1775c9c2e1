#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

namespace quorvel::core {

// A handle on delayed work. Copies share the work; cancelling any of them cancels it.
class ScheduledWork
{
public:
    struct State;

    ScheduledWork() = default;
    explicit ScheduledWork(std::shared_ptr<State> state);

    void cancel();
    bool isPending() const;

private:
    std::shared_ptr<State> m_state;
};

// Delayed, cancellable work on the main thread. Everything that waits (autosave, checks after a
// save, debounces) goes through it, so that tests drive time with ManualScheduler instead of
// sleeping.
class Scheduler
{
public:
    virtual ~Scheduler() = default;

    virtual ScheduledWork after(std::chrono::milliseconds delay, std::function<void()> work) = 0;
    virtual QDateTime now() const = 0;

    // The real one, on QTimer; must be used from the main thread.
    static Scheduler &main();
};

} // namespace quorvel::core
