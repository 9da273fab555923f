#pragma once

#include <QElapsedTimer>

#include <chrono>

namespace veloxa::link {

// Elapsed time for the link supervision: steady for the life of the program,
// blind to the time of day. Tests put a hand-driven clock in its place.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual std::chrono::nanoseconds now() const = 0;
};

class SteadyClock final : public MonotonicClock {
public:
    SteadyClock() { m_timer.start(); }
    std::chrono::nanoseconds now() const override { return std::chrono::nanoseconds(m_timer.nsecsElapsed()); }

private:
    QElapsedTimer m_timer;
};

} // namespace veloxa::link
