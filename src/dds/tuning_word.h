#pragma once

#include "link/datagrams.h"

#include <QString>

#include <optional>

namespace veloxa::dds {

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

} // namespace veloxa::dds
