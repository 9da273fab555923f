#pragma once
// The rules that keep the panel's boxes usable, as plain functions: a box's
// text (and the clock box's text where a rule needs it) in, the corrected
// text out, or nothing when the rule leaves the text alone. Each function is
// one correction step; a box's handler runs its steps in order, reading the
// box anew for each, and a correction is an assignment that runs the
// handler again, nested. Every rule reaches a fixed point: a corrected text
// passes the same step unchanged.

#include <QString>

#include <optional>
#include <span>

namespace veloxa::rules {

using Correction = std::optional<QString>;

// --- The system clock box --------------------------------------------------
// A text that is not a number as a whole, or whose whole reading differs from
// its leading number, becomes the magnitude of its leading number.
Correction clockNotANumber(const QString &clock);
// Above 1000 becomes "1000".
Correction clockCap(const QString &clock);
// When the box is left: a leading number below 100 becomes "100".
Correction clockLowerBound(const QString &clock);

// --- Boxes kept within half the clock: the DDS frequency, the ramp's stop ---
// Above +f/2 the box becomes f/2; below -f/2 it becomes -f/2, f being the
// clock box's whole-text reading. Both rest while the clock is not a number
// or negative (possible only while the clock box has the focus): with a
// negative clock they would undo each other without end. The bounds are
// compared as written, so a box clamped to a bound that 15 digits round up is
// not clamped again.
Correction aboveHalfClock(const QString &box, const QString &clock);
Correction belowMinusHalfClock(const QString &box, const QString &clock);

// The laser offset caption for a DDS frequency in MHz: "(394.88MHz)" below
// 31.25 MHz (negative values included), "(3.2GHz)" from 31.25 MHz up.
QString laserOffsetCaption(double ddsMHz);
// The caption for the frequency box's text: 32 x its leading number, which is
// the number the frequency update sends.
QString laserOffsetCaption(const QString &frequency);

// --- The ramp's rate and step boxes ----------------------------------------
// Their steps in order: below 0 becomes "0"; above `largest` becomes
// `largest`; a fraction is rounded down. A text such as "2.5x" is not a
// number as a whole and has no whole reading to round down: it stays.
Correction wholeNotNegative(const QString &box);
Correction wholeAtMost(const QString &box, double largest);
Correction wholeRoundedDown(const QString &box);
// When the box is left: an empty text becomes "0".
Correction emptyBox(const QString &box);

// --- Each box's steps -------------------------------------------------------
// The boxes that have rules, and the steps of each as one list, which the
// window's handlers run and the tests hold the rules to. A step reads the
// box's text and the clock box's text; the steps that need no clock ignore it.
enum class Box { Frequency, Clock, Rate, Step, Stop };
using BoxStep = Correction (*)(const QString &box, const QString &clock);
// The steps every change of the box runs, in order.
std::span<const BoxStep> changeSteps(Box box);
// The step that leaving the box runs; null for a box with none.
BoxStep leaveStep(Box box);

} // namespace veloxa::rules
