#pragma once
// What the unit takes and what the panel starts with: the one place for the
// ranges and defaults that the window, restoring, veloxa2-ctl and the
// simulated unit share.

#include <cstdint>
#include <string_view>

namespace veloxa::unit {

// Where the unit listens unless told otherwise.
inline constexpr std::string_view kDefaultHost = "192.168.1.133";
inline constexpr std::uint16_t kPort = 37829;

// The DDS system clock, MHz.
inline constexpr double kClockMinMHz = 100.0;
inline constexpr double kClockMaxMHz = 1000.0;

// A 2-byte and a 4-byte word: the ramp's rate and step, and a tuning word.
inline constexpr double kWord16Values = 65536.0; // 2^16
inline constexpr double kWord32Values = 4294967296.0; // 2^32
inline constexpr double kMaxRate = kWord16Values - 1; // 65535
inline constexpr double kMaxStep = kWord32Values - 1; // 4294967295

// Gain (charge-pump current) positions and display contrast values.
inline constexpr int kGainMax = 7;
inline constexpr int kContrastMax = 99;

// A stored DDS frequency is taken back below this many MHz.
inline constexpr double kStoredFrequencyBelowMHz = 10000.0;

// What the controls hold on a first start.
namespace initial {
inline constexpr std::string_view kFrequency = "12.34";
inline constexpr std::string_view kClock = "1000";
inline constexpr std::string_view kRampRate = "1";
inline constexpr std::string_view kRampStep = "1";
inline constexpr std::string_view kStopFrequency = "15";
inline constexpr int kGain = 7;
inline constexpr int kContrast = 80;
} // namespace initial

} // namespace veloxa::unit
