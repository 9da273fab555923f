#pragma once
// A watchdog on the built panel's event loop, observed from outside: the
// panel's heartbeat timer ticks every 1000 ms on its one thread, so two
// consecutive heartbeats (0x7F) more than 2 s apart at the fake unit mean the
// loop was held for more than a second. The times are those at which the test
// took the datagrams in (FakeUnit::arrivalMs): keep the test's own event loop
// running (QTRY_*, qWait, work on other threads) while the panel is watched.
// LoopWatch watches the test's own event loop the same way, from inside.

#include "support/panel_process.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace veloxa::test {

inline constexpr qint64 kHeartbeatIntervalMs = 1000;
inline constexpr qint64 kLongestHeartbeatGapMs = 2 * kHeartbeatIntervalMs;

struct HeartbeatTimes {
    QList<qint64> atMs; // when each heartbeat came in, on the unit's clock
    qint64 longestGapMs = 0;
    qint64 gapEndsAtMs = -1; // when the heartbeat ending the longest gap came (-1: none)
};

// The heartbeats among what the unit has taken in. Tolerates a test that
// cleared `received` (the arrival times are paired from the end).
inline HeartbeatTimes heartbeatTimes(const FakeUnit &unit)
{
    HeartbeatTimes times;
    const qsizetype offset = unit.arrivalMs.size() - unit.received.size();
    for (qsizetype i = 0; i < unit.received.size() && offset >= 0; ++i) {
        const QByteArray data = unit.received.at(i).data();
        if (data.size() == 1 && static_cast<quint8>(data.at(0)) == 0x7F)
            times.atMs.append(unit.arrivalMs.at(offset + i));
    }
    for (qsizetype i = 1; i < times.atMs.size(); ++i) {
        const qint64 gap = times.atMs.at(i) - times.atMs.at(i - 1);
        if (gap > times.longestGapMs) {
            times.longestGapMs = gap;
            times.gapEndsAtMs = times.atMs.at(i);
        }
    }
    return times;
}

// Empty while the panel's loop is seen running: at least `atLeast`
// heartbeats came, no two consecutive ones are more than 2 s apart, and the
// last one is at most 2 s old now. Otherwise what went wrong, for QVERIFY2.
// Call it while the panel still runs (before stopping it).
inline QString heartbeatStall(const FakeUnit &unit, int atLeast = 2)
{
    const HeartbeatTimes times = heartbeatTimes(unit);
    if (times.atMs.size() < atLeast)
        return QStringLiteral("only %1 heartbeats came, %2 expected").arg(times.atMs.size()).arg(atLeast);
    if (times.longestGapMs > kLongestHeartbeatGapMs)
        return QStringLiteral("the panel's event loop stalled: %1 ms between heartbeats (the one at %2 ms)")
            .arg(times.longestGapMs)
            .arg(times.gapEndsAtMs);
    const qint64 sinceLast = unit.clock.elapsed() - times.atMs.constLast();
    if (sinceLast > kLongestHeartbeatGapMs)
        return QStringLiteral("the panel's event loop stalls: no heartbeat for %1 ms").arg(sinceLast);
    return {};
}

// What the unit heard besides the heartbeats and the link's re-syncs (the
// given contrast, then gain); `odd` tells of a contrast without its gain, or
// of another contrast or gain command.
inline QList<QByteArray> withoutLinkTraffic(const QList<QByteArray> &payloads, const QByteArray &contrast,
                                            const QByteArray &gain, QString &odd)
{
    QList<QByteArray> rest;
    for (qsizetype i = 0; i < payloads.size(); ++i) {
        const QByteArray &datagram = payloads.at(i);
        if (datagram == QByteArray("\x7F"))
            continue;
        if (datagram == contrast) {
            if (i + 1 >= payloads.size() || payloads.at(i + 1) != gain)
                odd = QStringLiteral("contrast without gain at %1").arg(i);
            ++i;
            continue;
        }
        if (datagram.startsWith(contrast.left(1)) || datagram.startsWith(gain.left(1)))
            odd = QStringLiteral("%1 at %2").arg(QString::fromLatin1(datagram.toHex(' ').toUpper())).arg(i);
        rest.append(datagram);
    }
    return rest;
}

// A 10 ms timer on the test's own event loop until stop(): the worst gap
// between its ticks, the one up to stop() included, is the longest the loop
// was held. `onTick` runs at each tick.
struct LoopWatch {
    QElapsedTimer clock;
    QTimer timer;
    qint64 lastMs = 0;
    qint64 worstGapMs = 0;

    explicit LoopWatch(std::function<void()> onTick = {})
    {
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, &timer, [this, onTick = std::move(onTick)] {
            measure();
            if (onTick)
                onTick();
        });
        timer.start(10);
    }
    void measure()
    {
        worstGapMs = std::max(worstGapMs, clock.elapsed() - lastMs);
        lastMs = clock.elapsed();
    }
    void stop()
    {
        measure();
        timer.stop();
    }
};

} // namespace veloxa::test
