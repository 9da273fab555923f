#pragma once

#include "core/link/clock.h"

namespace veloxa::test {

// A clock that moves only when the test says so.
class FakeClock final : public link::MonotonicClock {
public:
    std::chrono::nanoseconds now() const override { return m_now; }
    void advance(std::chrono::nanoseconds by) { m_now += by; }

private:
    std::chrono::nanoseconds m_now{std::chrono::hours(1)};
};

} // namespace veloxa::test
