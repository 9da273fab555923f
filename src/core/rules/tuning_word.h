#pragma once
// The tuning word and the commands the panel's actions build from the boxes'
// texts: the frequency update, ramp start and the sequence's entries.

#include "core/link/datagrams.h"

#include <QString>

#include <optional>

namespace veloxa::rules {

// The DDS frequency tuning word for a frequency text and a system clock text,
// both in MHz, in double precision and in this order:
//   F = |leading number of the frequency| x 1e6, S = whole-text clock x 1e6,
//   Q = S / 2^32, FTW = floor(F / Q).
// Fails when the clock text is not a number or is 0. The result may lie outside
// the 32-bit word; building the command then fails.
std::optional<double> tuningWordFromTexts(const QString &frequencyText, const QString &clockText);

// The frequency command for these texts, or nothing when any step fails.
// The frequency update and the sequence entry both build theirs here.
std::optional<link::Datagram> buildFrequencyCommand(const QString &frequencyText, const QString &clockText);

// The ramp-start command from the boxes' texts: the step and the rate by their
// whole-text readings, the stop tuning word from the stop and clock texts.
// Nothing when a reading fails or a value does not fit its word. Ramp start
// and the sequence's ramp entry both build theirs here.
std::optional<link::Datagram> buildRampStartCommand(const QString &stepText, const QString &rateText,
                                                    const QString &stopText, const QString &clockText);

// The sequence's entries: the command behind the sequence-add prefix.
std::optional<link::Datagram> buildSequenceFrequencyEntry(const QString &frequencyText, const QString &clockText);
std::optional<link::Datagram> buildSequenceRampEntry(const QString &stepText, const QString &rateText,
                                                     const QString &stopText, const QString &clockText);

} // namespace veloxa::rules
