#pragma once
// Turns any byte string into the command it is, or says why it is not one.
// Accepts exactly what the builders of datagrams.h can produce.

#include "core/link/datagrams.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace veloxa::link {

enum class CommandKind {
    Frequency,
    RampStart,
    RampStop,
    RegisterDump,
    Heartbeat,
    Power,
    Polarity,
    Gain,
    Contrast,
    SequenceClear,
    SequenceAddFrequency,
    SequenceAddRamp,
    SequenceAddAdwinWait,
    SequenceExecute,
    SequenceRestart,
};

struct DecodedCommand {
    CommandKind kind = CommandKind::Heartbeat;
    std::uint32_t ftw = 0; // frequency commands: the tuning word
    std::uint32_t step = 0; // ramp start: step in FTW units
    std::uint16_t rate = 0; // ramp start: periods of four clock cycles per step
    std::uint32_t stopFtw = 0; // ramp start: stop tuning word
    std::uint8_t value = 0; // power (1 on, 0 off), polarity index, gain position 0..7, contrast

    bool operator==(const DecodedCommand &) const = default;
};

struct DecodeResult {
    std::optional<DecodedCommand> command;
    QString error; // why the bytes are not a command; empty when they are
};

DecodeResult decode(const QByteArray &bytes);

// The bytes the panel sends for this command.
Datagram encode(const DecodedCommand &command);

// One readable line, e.g. "frequency FTW=52999896 (0x0328B6D8)".
QString describe(const DecodedCommand &command);

// "A5 00 D8 B6 28 03"
QString hexBytes(const QByteArray &bytes);

} // namespace veloxa::link
