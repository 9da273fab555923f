#include "core/link/decoder.h"

namespace veloxa::link {
namespace {

std::uint8_t byteAt(const QByteArray &bytes, qsizetype offset)
{
    return static_cast<std::uint8_t>(bytes.at(offset));
}

std::uint32_t wordAt(const QByteArray &bytes, qsizetype offset, int width)
{
    std::uint32_t value = 0;
    for (int k = width - 1; k >= 0; --k)
        value = (value << 8) | byteAt(bytes, offset + k);
    return value;
}

QString hex8(std::uint32_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

// A command behind the sequence-add prefix; no command, no entry.
Datagram addedToSequence(const std::optional<Datagram> &command)
{
    return command ? sequenceAdd(*command) : Datagram();
}

DecodeResult failure(QString why)
{
    return {std::nullopt, std::move(why)};
}

DecodeResult success(DecodedCommand command)
{
    return {command, QString()};
}

// Checks the length and that the constant bytes at the given offsets are zero.
QString layoutError(const QByteArray &bytes, const char *name, qsizetype length,
                    std::initializer_list<qsizetype> zeroOffsets)
{
    if (bytes.size() != length)
        return QStringLiteral("%1 needs %2 bytes, got %3").arg(QLatin1String(name)).arg(length).arg(bytes.size());
    for (qsizetype offset : zeroOffsets)
        if (byteAt(bytes, offset) != 0)
            return QStringLiteral("%1: byte %2 must be 0x00, is 0x%3")
                .arg(QLatin1String(name))
                .arg(offset)
                .arg(byteAt(bytes, offset), 2, 16, QLatin1Char('0'));
    return {};
}

DecodeResult decodeFrequency(const QByteArray &bytes, CommandKind kind)
{
    if (QString error = layoutError(bytes, "frequency command", 6, {1}); !error.isEmpty())
        return failure(error);
    DecodedCommand command{kind};
    command.ftw = wordAt(bytes, 2, 4);
    return success(command);
}

DecodeResult decodeRampStart(const QByteArray &bytes, CommandKind kind)
{
    if (QString error = layoutError(bytes, "ramp-start command", 16, {1, 2, 7, 10, 11}); !error.isEmpty())
        return failure(error);
    DecodedCommand command{kind};
    command.step = wordAt(bytes, 3, 4);
    command.rate = static_cast<std::uint16_t>(wordAt(bytes, 8, 2));
    command.stopFtw = wordAt(bytes, 12, 4);
    return success(command);
}

DecodeResult decodeSingle(const QByteArray &bytes, const char *name, CommandKind kind)
{
    if (QString error = layoutError(bytes, name, 1, {}); !error.isEmpty())
        return failure(error);
    return success(DecodedCommand{kind});
}

DecodeResult decodeValue(const QByteArray &bytes, const char *name, CommandKind kind)
{
    if (QString error = layoutError(bytes, name, 2, {}); !error.isEmpty())
        return failure(error);
    const std::uint8_t raw = byteAt(bytes, 1);
    DecodedCommand command{kind};
    switch (kind) {
    case CommandKind::Power:
    case CommandKind::Polarity:
        if (raw > 1)
            return failure(QStringLiteral("%1: value 0x%2 is neither 0x00 nor 0x01")
                               .arg(QLatin1String(name))
                               .arg(raw, 2, 16, QLatin1Char('0')));
        command.value = raw;
        break;
    case CommandKind::Gain:
        if (raw % 32 != 0)
            return failure(
                QStringLiteral("gain command: byte 0x%1 is not a multiple of 0x20").arg(raw, 2, 16, QLatin1Char('0')));
        command.value = static_cast<std::uint8_t>(raw / 32);
        break;
    default: command.value = raw; break;
    }
    return success(command);
}

DecodeResult decodeSequenceAdd(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return failure(QStringLiteral("sequence-add prefix without a command"));
    const QByteArray inner = bytes.mid(1);
    switch (byteAt(inner, 0)) {
    case opcode::Frequency: return decodeFrequency(inner, CommandKind::SequenceAddFrequency);
    case opcode::RampStart: return decodeRampStart(inner, CommandKind::SequenceAddRamp);
    case opcode::AdwinWait: return decodeSingle(inner, "ADwin-wait command", CommandKind::SequenceAddAdwinWait);
    default:
        return failure(QStringLiteral("sequence-add prefix before opcode 0x%1, which cannot be added")
                           .arg(byteAt(inner, 0), 2, 16, QLatin1Char('0')));
    }
}

} // namespace

DecodeResult decode(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return failure(QStringLiteral("empty datagram"));
    switch (byteAt(bytes, 0)) {
    case opcode::Frequency: return decodeFrequency(bytes, CommandKind::Frequency);
    case opcode::RampStart: return decodeRampStart(bytes, CommandKind::RampStart);
    case opcode::RampStop: return decodeSingle(bytes, "ramp-stop command", CommandKind::RampStop);
    case opcode::RegisterDump: return decodeSingle(bytes, "register-dump command", CommandKind::RegisterDump);
    case opcode::Heartbeat: return decodeSingle(bytes, "heartbeat command", CommandKind::Heartbeat);
    case opcode::Power: return decodeValue(bytes, "power command", CommandKind::Power);
    case opcode::Polarity: return decodeValue(bytes, "polarity command", CommandKind::Polarity);
    case opcode::Gain: return decodeValue(bytes, "gain command", CommandKind::Gain);
    case opcode::Contrast: return decodeValue(bytes, "contrast command", CommandKind::Contrast);
    case opcode::SequenceClear: return decodeSingle(bytes, "sequence-clear command", CommandKind::SequenceClear);
    case opcode::SequenceAdd: return decodeSequenceAdd(bytes);
    case opcode::SequenceExecute: {
        if (QString error = layoutError(bytes, "sequence-execute command", 2, {1}); !error.isEmpty())
            return failure(error);
        return success(DecodedCommand{CommandKind::SequenceExecute});
    }
    case opcode::SequenceRestart: return decodeSingle(bytes, "sequence-restart command", CommandKind::SequenceRestart);
    case opcode::AdwinWait: return failure(QStringLiteral("ADwin-wait command outside the sequence-add prefix"));
    default: return failure(QStringLiteral("unknown opcode 0x%1").arg(byteAt(bytes, 0), 2, 16, QLatin1Char('0')));
    }
}

Datagram encode(const DecodedCommand &command)
{
    // The fields of a decoded command are in range, so the builders cannot fail
    // for it. A command put together by hand may carry a value no datagram
    // has (a tuning word past 32 bits, a gain of 9); it gives the empty
    // datagram, which is no command.
    switch (command.kind) {
    case CommandKind::Frequency: return frequencyCommand(command.ftw).value_or(Datagram());
    case CommandKind::RampStart:
        return rampStartCommand(command.step, command.rate, command.stopFtw).value_or(Datagram());
    case CommandKind::RampStop: return rampStopCommand();
    case CommandKind::RegisterDump: return registerDumpCommand();
    case CommandKind::Heartbeat: return heartbeatCommand();
    case CommandKind::Power: return powerCommand(command.value == 1 ? 0 : 1);
    case CommandKind::Polarity: return polarityCommand(command.value).value_or(Datagram());
    case CommandKind::Gain: return gainCommand(command.value).value_or(Datagram());
    case CommandKind::Contrast: return contrastCommand(command.value).value_or(Datagram());
    case CommandKind::SequenceClear: return sequenceClearCommand();
    case CommandKind::SequenceAddFrequency: return addedToSequence(frequencyCommand(command.ftw));
    case CommandKind::SequenceAddRamp:
        return addedToSequence(rampStartCommand(command.step, command.rate, command.stopFtw));
    case CommandKind::SequenceAddAdwinWait: return sequenceAdd(adwinWaitCommand());
    case CommandKind::SequenceExecute: return sequenceExecuteCommand();
    case CommandKind::SequenceRestart: return sequenceRestartCommand();
    }
    return {};
}

QString describe(const DecodedCommand &command)
{
    const auto frequency = [&] {
        return QStringLiteral("frequency FTW=%1 (%2)").arg(command.ftw).arg(hex8(command.ftw));
    };
    const auto ramp = [&] {
        return QStringLiteral("ramp-start step=%1 rate=%2 stopFTW=%3 (%4)")
            .arg(command.step)
            .arg(command.rate)
            .arg(command.stopFtw)
            .arg(hex8(command.stopFtw));
    };
    switch (command.kind) {
    case CommandKind::Frequency: return frequency();
    case CommandKind::RampStart: return ramp();
    case CommandKind::RampStop: return QStringLiteral("ramp-stop");
    case CommandKind::RegisterDump: return QStringLiteral("register-dump");
    case CommandKind::Heartbeat: return QStringLiteral("heartbeat");
    case CommandKind::Power: return command.value == 1 ? QStringLiteral("power on") : QStringLiteral("power off");
    case CommandKind::Polarity:
        return command.value == 0 ? QStringLiteral("polarity +") : QStringLiteral("polarity --");
    case CommandKind::Gain:
        return QStringLiteral("gain %1 (byte 0x%2)")
            .arg(command.value)
            .arg(command.value * 32, 2, 16, QLatin1Char('0'));
    case CommandKind::Contrast: return QStringLiteral("contrast %1").arg(command.value);
    case CommandKind::SequenceClear: return QStringLiteral("sequence-clear");
    case CommandKind::SequenceAddFrequency: return QStringLiteral("sequence-add ") + frequency();
    case CommandKind::SequenceAddRamp: return QStringLiteral("sequence-add ") + ramp();
    case CommandKind::SequenceAddAdwinWait: return QStringLiteral("sequence-add ADwin-wait");
    case CommandKind::SequenceExecute: return QStringLiteral("sequence-execute");
    case CommandKind::SequenceRestart: return QStringLiteral("sequence-restart");
    }
    return {};
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace veloxa::link
