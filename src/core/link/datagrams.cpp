#include "core/link/datagrams.h"

#include <cmath>

namespace veloxa::link {
namespace {

Datagram single(std::uint8_t code)
{
    return Datagram(1, static_cast<char>(code));
}

std::optional<Datagram> withByte(std::uint8_t code, long long value)
{
    const auto byte = encodeByte(value);
    if (!byte)
        return std::nullopt;
    Datagram datagram = single(code);
    datagram += *byte;
    return datagram;
}

} // namespace

std::optional<QByteArray> encodeWord(double value, int width)
{
    if (width != 2 && width != 4)
        return std::nullopt;
    const double limit = width == 2 ? 65536.0 : 4294967296.0;
    if (!std::isfinite(value) || value < 0.0 || value >= limit)
        return std::nullopt;
    auto whole = static_cast<std::uint32_t>(std::floor(value));
    QByteArray bytes;
    for (int k = 0; k < width; ++k) {
        bytes += static_cast<char>(whole & 0xFFu);
        whole >>= 8;
    }
    return bytes;
}

std::optional<char> encodeByte(long long value)
{
    if (value < 0 || value > 255)
        return std::nullopt;
    return static_cast<char>(static_cast<std::uint8_t>(value));
}

std::optional<Datagram> frequencyCommand(double ftw)
{
    const auto word = encodeWord(ftw, 4);
    if (!word)
        return std::nullopt;
    Datagram datagram = single(opcode::Frequency);
    datagram += '\0';
    datagram += *word;
    return datagram;
}

std::optional<Datagram> rampStartCommand(double step, double rate, double stopFtw)
{
    const auto stepWord = encodeWord(step, 4);
    const auto rateWord = encodeWord(rate, 2);
    const auto stopWord = encodeWord(stopFtw, 4);
    if (!stepWord || !rateWord || !stopWord)
        return std::nullopt;
    Datagram datagram = single(opcode::RampStart);
    datagram += QByteArray(2, '\0');
    datagram += *stepWord;
    datagram += '\0';
    datagram += *rateWord;
    datagram += QByteArray(2, '\0');
    datagram += *stopWord;
    return datagram;
}

Datagram rampStopCommand()
{
    return single(opcode::RampStop);
}
Datagram registerDumpCommand()
{
    return single(opcode::RegisterDump);
}
Datagram heartbeatCommand()
{
    return single(opcode::Heartbeat);
}

Datagram powerCommand(int index)
{
    Datagram datagram = single(opcode::Power);
    datagram += static_cast<char>(index == 0 ? 0x01 : 0x00);
    return datagram;
}

std::optional<Datagram> polarityCommand(int index)
{
    // There are two options, "+" (index 0) and "--" (index 1); the byte is the
    // index, and no other byte is a polarity the unit knows.
    if (index != 0 && index != 1)
        return std::nullopt;
    return withByte(opcode::Polarity, index);
}

std::optional<Datagram> gainCommand(int position)
{
    // The product is formed as a 32-bit signed number; out-of-range products
    // (including ones that would overflow) fail like any other bad byte value.
    const long long product = 32LL * position;
    if (product > INT32_MAX || product < INT32_MIN)
        return std::nullopt;
    return withByte(opcode::Gain, product);
}

std::optional<Datagram> contrastCommand(int value)
{
    return withByte(opcode::Contrast, value);
}

Datagram sequenceClearCommand()
{
    return single(opcode::SequenceClear);
}
Datagram adwinWaitCommand()
{
    return single(opcode::AdwinWait);
}

Datagram sequenceExecuteCommand()
{
    Datagram datagram = single(opcode::SequenceExecute);
    datagram += '\0';
    return datagram;
}

Datagram sequenceRestartCommand()
{
    return single(opcode::SequenceRestart);
}

Datagram sequenceAdd(const Datagram &command)
{
    return single(opcode::SequenceAdd) + command;
}

} // namespace veloxa::link
