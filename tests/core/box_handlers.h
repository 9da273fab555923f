#pragma once
// The number boxes' handlers as the window runs them, on the core's lists of
// each box's steps: a handler runs its box's steps in order, each reading the
// box anew; a correction is assigned at once and runs the handler again,
// nested, before the next step reads the box. With it, test_rule_fixed_points
// checks known and random texts and the fuzz target fuzz_rules the fuzzer's,
// against what every text a box settles on must satisfy.

#include "core/rules/box_rules.h"
#include "core/rules/text_numbers.h"
#include "core/rules/tuning_word.h"
#include "core/unit/limits.h"

#include <QString>

#include <array>
#include <utility>

namespace veloxa::test {

using rules::Box;
inline constexpr std::array kEveryBox{Box::Frequency, Box::Clock, Box::Rate, Box::Step, Box::Stop};

inline QString nameOf(Box box)
{
    static const std::array<QString, kEveryBox.size()> names{QStringLiteral("frequency"), QStringLiteral("clock"),
                                                             QStringLiteral("rate"), QStringLiteral("step"),
                                                             QStringLiteral("stop")};
    return names.at(static_cast<std::size_t>(box));
}

// The deepest chain of corrections is two (a clock such as "-2000x" takes its
// magnitude, then the cap); a handler that runs more often than this is
// undoing its own corrections and would go on for ever.
inline constexpr int kMostRuns = 4;

struct Settled {
    QString text;
    int runs = 0; // of the change handler
};

inline void runHandler(Box which, const QString &clock, Settled &box)
{
    ++box.runs;
    for (const rules::BoxStep step : rules::changeSteps(which)) {
        if (box.runs > kMostRuns)
            return; // the checks report it
        if (const auto corrected = step(box.text, clock)) {
            box.text = *corrected;
            runHandler(which, clock, box);
        }
    }
}

// A text assigned to the box.
inline Settled settle(Box box, const QString &text, const QString &clock)
{
    Settled settled{text};
    runHandler(box, clock, settled);
    return settled;
}

// The box left holding `text`: its step for leaving, whose correction runs
// the change handler (no run when it leaves the text alone).
inline Settled leave(Box box, const QString &text, const QString &clock)
{
    Settled left{text};
    if (const rules::BoxStep step = rules::leaveStep(box)) {
        if (const auto corrected = step(text, clock)) {
            left.text = *corrected;
            runHandler(box, clock, left);
        }
    }
    return left;
}

// What is wrong with a text the box has settled on (and, `left`, has been
// left holding); empty when nothing is.
inline QString boundsProblem(Box box, const QString &text, const QString &clock, bool left)
{
    const double leading = rules::leading(text);
    const auto whole = rules::whole(text);
    switch (box) {
    case Box::Frequency:
    case Box::Stop: {
        const auto clockMHz = rules::whole(clock);
        if (clockMHz && *clockMHz >= 0.0
            && (leading > rules::asWritten(*clockMHz / 2.0) || leading < rules::asWritten(*clockMHz * -1.0 / 2.0)))
            return QStringLiteral("beyond half the clock");
        // With a clock the clock box can be left holding, the tuning word fits
        // the commands' 32-bit word: the frequency update and ramp start can send.
        const auto ftw = rules::tuningWordFromTexts(text, clock);
        if (clockMHz && *clockMHz >= unit::kClockMinMHz && *clockMHz <= unit::kClockMaxMHz
            && (!ftw || *ftw >= unit::kWord32Values))
            return QStringLiteral("no tuning word within the word");
        return {};
    }
    case Box::Clock:
        if (!whole || *whole != leading || *whole > unit::kClockMaxMHz || (left && *whole < unit::kClockMinMHz))
            return QStringLiteral("not a clock within its bounds");
        return {};
    case Box::Rate:
    case Box::Step: {
        const double largest = box == Box::Rate ? unit::kMaxRate : unit::kMaxStep;
        if (leading < 0.0 || leading > largest || (whole && !numbers::isWhole(*whole)) || (left && text.isEmpty()))
            return QStringLiteral("not a whole number within the word");
        return {};
    }
    }
    return {};
}

// Whether a settled text passes the change steps and the leaving step
// untouched: assigned again it runs the handler once and stays.
inline bool isFixedPoint(Box box, const QString &text, const QString &clock, bool left)
{
    const Settled again = settle(box, text, clock);
    return again.runs == 1 && again.text == text && (!left || leave(box, text, clock).runs == 0);
}

// `text` assigned to the box at this clock text settles after a few runs on a
// fixed point within the box's bounds; left, the box settles again on one.
// Empty when it does, else what went wrong.
inline QString settlingProblem(Box box, const QString &text, const QString &clock)
{
    const auto describe = [&](const QString &what, const Settled &settled) {
        return QStringLiteral("%1 box <- \"%2\" at clock \"%3\": %4 (\"%5\", %6 runs)")
            .arg(nameOf(box), text, clock, what, settled.text)
            .arg(settled.runs);
    };
    const Settled settled = settle(box, text, clock);
    const Settled left = leave(box, settled.text, clock);
    for (const auto &[state, isLeft] : {std::pair{settled, false}, std::pair{left, true}}) {
        const QString when = isLeft ? QStringLiteral("left, ") : QString();
        if (state.runs > kMostRuns)
            return describe(when + QStringLiteral("still correcting"), state);
        if (!isFixedPoint(box, state.text, clock, isLeft))
            return describe(when + QStringLiteral("not a fixed point"), state);
        if (const QString problem = boundsProblem(box, state.text, clock, isLeft); !problem.isEmpty())
            return describe(when + problem, state);
    }
    return {};
}

} // namespace veloxa::test
