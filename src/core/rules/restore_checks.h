#pragma once
// The checks a stored setting passes before start-up puts it back: the
// stored text in (nothing for a setting that was not found), the value to
// assign out, or nothing when the setting is not taken. Numbers are judged
// by the text's leading number and put back written as numbers, not as the
// stored text; only the IP address goes back as text.

#include <QString>

#include <optional>

namespace veloxa::rules {

using Stored = std::optional<QString>;

// Slider positions, rounded half to even; a value the slider could not hold
// is not taken.
std::optional<int> acceptedContrast(const Stored &stored); // 0 <= v < 100
std::optional<int> acceptedGain(const Stored &stored); // 0 <= v <= 7

// True when "--" is to be selected: the text is exactly "False".
bool polarityIsMinus(const Stored &stored);

std::optional<QString> acceptedFrequency(const Stored &stored); // 0 < v < 10000
std::optional<QString> acceptedClock(const Stored &stored); // 100 <= v <= 1000
// Without leading and trailing blanks (tabs and line breaks stay), 8 to 15 characters.
std::optional<QString> acceptedIpAddress(const Stored &stored);
std::optional<QString> acceptedRampRate(const Stored &stored); // 0 <= v <= 65536
std::optional<QString> acceptedRampStep(const Stored &stored); // 0 <= v <= 2^32
// |v| below half the clock box's whole-text reading; nothing while the clock
// is not a number.
std::optional<QString> acceptedStopFrequency(const Stored &stored, const QString &clock);

// A window edge in twips: 0 < v < upperBound, compared in single precision.
std::optional<float> acceptedEdge(const Stored &stored, float upperBound);

// The channel's port from the port box: its leading number rounded half to
// even; nothing outside 0..65535.
std::optional<int> destinationPort(const QString &portText);

} // namespace veloxa::rules
