#pragma once
// The bytes of every command the panel sends to the unit.
//
// A command is one datagram whose first byte is its opcode. Builders that
// carry a value return std::nullopt when the value does not fit its field;
// nothing partial is ever built.

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace veloxa::link {

using Datagram = QByteArray;

namespace opcode {
constexpr std::uint8_t Heartbeat = 0x7F;
constexpr std::uint8_t Contrast = 0x63; // 'c'
constexpr std::uint8_t Gain = 0x67; // 'g'
constexpr std::uint8_t Polarity = 0x70; // 'p'
constexpr std::uint8_t Power = 0xA0;
constexpr std::uint8_t AdwinWait = 0xA4;
constexpr std::uint8_t Frequency = 0xA5;
constexpr std::uint8_t RampStop = 0xAB;
constexpr std::uint8_t RampStart = 0xAC;
constexpr std::uint8_t RegisterDump = 0xB0;
constexpr std::uint8_t SequenceClear = 0xC0;
constexpr std::uint8_t SequenceAdd = 0xC1;
constexpr std::uint8_t SequenceExecute = 0xC4;
constexpr std::uint8_t SequenceRestart = 0xC5;
} // namespace opcode

// A word of `width` bytes (2 or 4), least significant byte first. A fraction
// is rounded down; a value below 0, at or above 256^width, or not finite fails.
std::optional<QByteArray> encodeWord(double value, int width);

// A byte value 0..255; anything else fails.
std::optional<char> encodeByte(long long value);

std::optional<Datagram> frequencyCommand(double ftw);
std::optional<Datagram> rampStartCommand(double step, double rate, double stopFtw);
Datagram rampStopCommand();
Datagram registerDumpCommand();
Datagram heartbeatCommand();
Datagram powerCommand(int index); // index 0 ("On") -> 0x01, any other -> 0x00
std::optional<Datagram> polarityCommand(int index); // the index itself as the byte
std::optional<Datagram> gainCommand(int position); // 32 x position as the byte
std::optional<Datagram> contrastCommand(int value); // the value as the byte
Datagram sequenceClearCommand();
Datagram adwinWaitCommand(); // only ever sent behind the sequence-add prefix
Datagram sequenceExecuteCommand();
Datagram sequenceRestartCommand();

// 0xC1 followed by a complete command, which the unit adds to its sequence.
Datagram sequenceAdd(const Datagram &command);

} // namespace veloxa::link
