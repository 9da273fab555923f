// The bytes of every command, the word and byte encodings, and the decoder
// that turns bytes back into commands (used by the simulated unit).

#include "core/link/datagrams.h"
#include "core/link/decoder.h"
#include "support/bytes.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTest>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

using namespace veloxa::link;
using veloxa::test::bytes;
using veloxa::test::hex;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

// A row of a builder table: what the builder gave and what it should give
// (a null `expected` means the builder must refuse).
void addBuilt(const char *name, const std::optional<QByteArray> &built, const char *expected)
{
    QTest::newRow(name) << built.has_value() << built.value_or(QByteArray()) << (expected != nullptr)
                        << (expected ? bytes(expected) : QByteArray());
}

void addBuilt(const char *name, const QByteArray &built, const char *expected)
{
    addBuilt(name, std::optional<QByteArray>(built), expected);
}

QByteArray shown(const DecodeResult &result)
{
    if (!result.command)
        return "refused: " + result.error.toUtf8();
    return "accepted as " + describe(*result.command).toUtf8();
}

} // namespace

class TestDatagrams : public QObject {
    Q_OBJECT

private slots:
    void builders_data();
    void builders();
    void encodeWord_data();
    void encodeWord();
    void encodeByte_data();
    void encodeByte();
    void everyBuiltValueCommandDecodes();

    void decodeFields_data();
    void decodeFields();
    void decodeRejects_data();
    void decodeRejects();
    void allShortDatagrams();
    void randomFieldsRoundTrip();
    void randomBytesNeverMisdecode();
    void encodeHandBuiltOutOfRange();
    void describeAndHex();
};

void TestDatagrams::builders_data()
{
    QTest::addColumn<bool>("built");
    QTest::addColumn<QByteArray>("actual");
    QTest::addColumn<bool>("shouldBuild");
    QTest::addColumn<QByteArray>("expected");

    // Frequency command: A5 00 and the tuning word, least significant byte first.
    addBuilt("frequency 52999896", frequencyCommand(52999896), "A5 00 D8 B6 28 03");
    addBuilt("frequency 52999896.43", frequencyCommand(52999896.43), "A5 00 D8 B6 28 03");
    addBuilt("frequency 0", frequencyCommand(0), "A5 00 00 00 00 00");
    addBuilt("frequency 429496729", frequencyCommand(429496729), "A5 00 99 99 99 19");
    addBuilt("frequency 2147483643", frequencyCommand(2147483643), "A5 00 FB FF FF 7F");
    addBuilt("frequency 2^31", frequencyCommand(2147483648.0), "A5 00 00 00 00 80");
    addBuilt("frequency 2^32 - 1", frequencyCommand(4294967295.0), "A5 00 FF FF FF FF");
    addBuilt("frequency 2^32 - 0.5", frequencyCommand(4294967295.5), "A5 00 FF FF FF FF");
    addBuilt("frequency 2^32", frequencyCommand(4294967296.0), nullptr);
    addBuilt("frequency 2^33", frequencyCommand(8589934592.0), nullptr);
    addBuilt("frequency -1", frequencyCommand(-1), nullptr);
    addBuilt("frequency -0.5", frequencyCommand(-0.5), nullptr);
    addBuilt("frequency NaN", frequencyCommand(kNaN), nullptr);
    addBuilt("frequency inf", frequencyCommand(kInf), nullptr);

    // Ramp-start command: AC 00 00, step (4), 00, rate (2), 00 00, stop tuning word (4).
    addBuilt("ramp 1 1 64424509", rampStartCommand(1, 1, 64424509), "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03");
    addBuilt("ramp fields in place", rampStartCommand(0x04030201, 0x0605, 0x0A090807),
             "AC 00 00 01 02 03 04 00 05 06 00 00 07 08 09 0A");
    addBuilt("ramp largest values", rampStartCommand(4294967295.0, 65535, 4294967295.0),
             "AC 00 00 FF FF FF FF 00 FF FF 00 00 FF FF FF FF");
    addBuilt("ramp zeros", rampStartCommand(0, 0, 0), "AC 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    addBuilt("ramp stop 2^31", rampStartCommand(1, 1, 2147483648.0), "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 80");
    addBuilt("ramp fractions rounded down", rampStartCommand(2.999, 65535.9, 64424509.99),
             "AC 00 00 02 00 00 00 00 FF FF 00 00 3D 0A D7 03");
    addBuilt("ramp step 2^32", rampStartCommand(4294967296.0, 1, 1), nullptr);
    addBuilt("ramp rate 2^16", rampStartCommand(1, 65536, 1), nullptr);
    addBuilt("ramp stop 2^32", rampStartCommand(1, 1, 4294967296.0), nullptr);
    addBuilt("ramp step -1", rampStartCommand(-1, 1, 1), nullptr);
    addBuilt("ramp rate -0.5", rampStartCommand(1, -0.5, 1), nullptr);
    addBuilt("ramp stop NaN", rampStartCommand(1, 1, kNaN), nullptr);
    addBuilt("ramp rate -inf", rampStartCommand(1, -kInf, 1), nullptr);

    // Sequence-add prefix before a complete command.
    addBuilt("sequence-add frequency", sequenceAdd(*frequencyCommand(52999896)), "C1 A5 00 D8 B6 28 03");
    addBuilt("sequence-add frequency 0", sequenceAdd(*frequencyCommand(0)), "C1 A5 00 00 00 00 00");
    addBuilt("sequence-add ramp", sequenceAdd(*rampStartCommand(1, 1, 64424509)),
             "C1 AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03");
    addBuilt("sequence-add ADwin wait", sequenceAdd(adwinWaitCommand()), "C1 A4");
    addBuilt("ADwin wait alone", adwinWaitCommand(), "A4");

    // Fixed commands.
    addBuilt("sequence-clear", sequenceClearCommand(), "C0");
    addBuilt("sequence-execute", sequenceExecuteCommand(), "C4 00");
    addBuilt("sequence-restart", sequenceRestartCommand(), "C5");
    addBuilt("ramp-stop", rampStopCommand(), "AB");
    addBuilt("register-dump", registerDumpCommand(), "B0");
    addBuilt("heartbeat", heartbeatCommand(), "7F");

    // Gain: 32 times the slider position, as a 32-bit signed product.
    addBuilt("gain 0", gainCommand(0), "67 00");
    addBuilt("gain 1", gainCommand(1), "67 20");
    addBuilt("gain 5", gainCommand(5), "67 A0");
    addBuilt("gain 7", gainCommand(7), "67 E0");
    addBuilt("gain 8", gainCommand(8), nullptr);
    addBuilt("gain -1", gainCommand(-1), nullptr);
    addBuilt("gain 2^26 (product 2^31)", gainCommand(1 << 26), nullptr);
    addBuilt("gain 2^27 (product wraps to 0)", gainCommand(1 << 27), nullptr);
    addBuilt("gain 2^27 + 1 (product wraps to 32)", gainCommand((1 << 27) + 1), nullptr);
    addBuilt("gain -2^26 (product INT_MIN)", gainCommand(-(1 << 26)), nullptr);
    addBuilt("gain INT_MAX", gainCommand(INT_MAX), nullptr);
    addBuilt("gain INT_MIN", gainCommand(INT_MIN), nullptr);

    // Contrast: the slider position itself.
    addBuilt("contrast 0", contrastCommand(0), "63 00");
    addBuilt("contrast 80", contrastCommand(80), "63 50");
    addBuilt("contrast 99", contrastCommand(99), "63 63");
    addBuilt("contrast 255", contrastCommand(255), "63 FF");
    addBuilt("contrast 256", contrastCommand(256), nullptr);
    addBuilt("contrast -1", contrastCommand(-1), nullptr);
    addBuilt("contrast INT_MAX", contrastCommand(INT_MAX), nullptr);
    addBuilt("contrast INT_MIN", contrastCommand(INT_MIN), nullptr);

    // Power: option 0 ("On") sends 01, any other option 00.
    addBuilt("power index 0", powerCommand(0), "A0 01");
    addBuilt("power index 1", powerCommand(1), "A0 00");
    addBuilt("power index 5", powerCommand(5), "A0 00");
    addBuilt("power index -1", powerCommand(-1), "A0 00");

    // Polarity: the option's index, "+" 0 and "--" 1; there is no other option.
    addBuilt("polarity +", polarityCommand(0), "70 00");
    addBuilt("polarity --", polarityCommand(1), "70 01");
    addBuilt("polarity 2", polarityCommand(2), nullptr);
    addBuilt("polarity -1", polarityCommand(-1), nullptr);
    addBuilt("polarity 256", polarityCommand(256), nullptr);
}

void TestDatagrams::builders()
{
    QFETCH(bool, built);
    QFETCH(QByteArray, actual);
    QFETCH(bool, shouldBuild);
    QFETCH(QByteArray, expected);

    if (!shouldBuild) {
        QVERIFY2(!built, qPrintable(QStringLiteral("built %1, expected a refusal").arg(hex(actual))));
        return;
    }
    QVERIFY2(built, "the builder refused");
    QCOMPARE(hex(actual), hex(expected));
    QVERIFY(actual.size() >= 1 && actual.size() <= 17);
}

void TestDatagrams::encodeWord_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("encodes");
    QTest::addColumn<QByteArray>("expected");

    const auto ok = [](const char *name, double value, int width, const char *expected) {
        QTest::newRow(name) << value << width << true << bytes(expected);
    };
    const auto fails = [](const char *name, double value, int width) {
        QTest::newRow(name) << value << width << false << QByteArray();
    };

    ok("0 in 2", 0, 2, "00 00");
    ok("0 in 4", 0, 4, "00 00 00 00");
    ok("-0 in 2", -0.0, 2, "00 00");
    ok("1 in 2", 1, 2, "01 00");
    ok("256 in 2", 256, 2, "00 01");
    ok("65535 in 2", 65535, 2, "FF FF");
    ok("65535.9 in 2", 65535.9, 2, "FF FF");
    ok("just below 65536 in 2", 65535.999999999993, 2, "FF FF");
    ok("2.999 in 2", 2.999, 2, "02 00");
    ok("0.999 in 4", 0.999, 4, "00 00 00 00");
    ok("tiny in 4", 1e-300, 4, "00 00 00 00");
    ok("65536 in 4", 65536, 4, "00 00 01 00");
    ok("0x01020304 in 4", 16909060, 4, "04 03 02 01");
    ok("52999896 in 4", 52999896, 4, "D8 B6 28 03");
    ok("2^31 in 4", 2147483648.0, 4, "00 00 00 80");
    ok("2^32 - 1 in 4", 4294967295.0, 4, "FF FF FF FF");
    ok("2^32 - 0.001 in 4", 4294967295.999, 4, "FF FF FF FF");

    fails("-1 in 2", -1, 2);
    fails("-1 in 4", -1, 4);
    fails("-0.5 in 2", -0.5, 2);
    fails("-0.5 in 4", -0.5, 4);
    fails("tiny negative in 4", -1e-300, 4);
    fails("65536 in 2", 65536, 2);
    fails("2^32 in 4", 4294967296.0, 4);
    fails("2^32 + 0.5 in 4", 4294967296.5, 4);
    fails("2^32 in 2", 4294967296.0, 2);
    fails("1e300 in 4", 1e300, 4);
    fails("largest double in 4", kMax, 4);
    fails("-largest double in 4", -kMax, 4);
    fails("NaN in 2", kNaN, 2);
    fails("NaN in 4", kNaN, 4);
    fails("inf in 4", kInf, 4);
    fails("-inf in 4", -kInf, 4);
    fails("width 0", 1, 0);
    fails("width 1", 1, 1);
    fails("width 3", 1, 3);
    fails("width 8", 1, 8);
}

void TestDatagrams::encodeWord()
{
    QFETCH(double, value);
    QFETCH(int, width);
    QFETCH(bool, encodes);
    QFETCH(QByteArray, expected);

    const std::optional<QByteArray> word = veloxa::link::encodeWord(value, width);
    QCOMPARE(word.has_value(), encodes);
    if (word)
        QCOMPARE(hex(*word), hex(expected));
}

void TestDatagrams::encodeByte_data()
{
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<bool>("encodes");
    QTest::addColumn<int>("expected");

    QTest::newRow("0") << 0LL << true << 0x00;
    QTest::newRow("1") << 1LL << true << 0x01;
    QTest::newRow("127") << 127LL << true << 0x7F;
    QTest::newRow("128") << 128LL << true << 0x80;
    QTest::newRow("255") << 255LL << true << 0xFF;
    QTest::newRow("256") << 256LL << false << 0;
    QTest::newRow("-1") << -1LL << false << 0;
    QTest::newRow("-256") << -256LL << false << 0;
    QTest::newRow("2^32") << 4294967296LL << false << 0;
    QTest::newRow("LLONG_MAX") << LLONG_MAX << false << 0;
    QTest::newRow("LLONG_MIN") << LLONG_MIN << false << 0;
}

void TestDatagrams::encodeByte()
{
    QFETCH(qlonglong, value);
    QFETCH(bool, encodes);
    QFETCH(int, expected);

    const std::optional<char> byte = veloxa::link::encodeByte(value);
    QCOMPARE(byte.has_value(), encodes);
    if (byte)
        QCOMPARE(static_cast<int>(static_cast<unsigned char>(*byte)), expected);
}

// Whatever a byte-valued builder produces is a datagram the decoder accepts,
// with the value given back.
void TestDatagrams::everyBuiltValueCommandDecodes()
{
    QList<int> inputs = {INT_MIN, INT_MIN + 1, -(1 << 26), INT_MAX, (1 << 27), (1 << 27) + 1, 1 << 26};
    for (int i = -600; i <= 600; ++i)
        inputs << i;

    int built = 0;
    for (int input : inputs) {
        const auto check = [&](const char *name, const std::optional<Datagram> &datagram, CommandKind kind,
                               int expectedValue) {
            if (!datagram)
                return;
            ++built;
            const DecodeResult result = decode(*datagram);
            QVERIFY2(result.command.has_value(),
                     qPrintable(QStringLiteral("%1(%2) built %3, which decodes as: %4")
                                    .arg(QLatin1String(name))
                                    .arg(input)
                                    .arg(hex(*datagram), result.error)));
            QCOMPARE(result.command->kind, kind);
            QCOMPARE(static_cast<int>(result.command->value), expectedValue);
            QCOMPARE(hex(encode(*result.command)), hex(*datagram));
        };
        check("gainCommand", gainCommand(input), CommandKind::Gain, input);
        if (QTest::currentTestFailed())
            return;
        check("contrastCommand", contrastCommand(input), CommandKind::Contrast, input);
        if (QTest::currentTestFailed())
            return;
        check("polarityCommand", polarityCommand(input), CommandKind::Polarity, input);
        if (QTest::currentTestFailed())
            return;
        check("powerCommand", powerCommand(input), CommandKind::Power, input == 0 ? 1 : 0);
        if (QTest::currentTestFailed())
            return;
    }
    // 8 gain positions, 256 contrast values, 2 polarities, every power input.
    QCOMPARE(built, 8 + 256 + 2 + static_cast<int>(inputs.size()));
}

void TestDatagrams::decodeFields_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint>("ftw");
    QTest::addColumn<uint>("step");
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("stopFtw");
    QTest::addColumn<uint>("value");

    const auto row = [](const char *name, const char *datagram, CommandKind kind, uint ftw = 0, uint step = 0,
                        uint rate = 0, uint stopFtw = 0, uint value = 0) {
        QTest::newRow(name) << bytes(datagram) << static_cast<int>(kind) << ftw << step << rate << stopFtw << value;
    };

    row("frequency", "A5 00 D8 B6 28 03", CommandKind::Frequency, 52999896);
    row("frequency 2^31", "A5 00 00 00 00 80", CommandKind::Frequency, 0x80000000u);
    row("frequency largest", "A5 00 FF FF FF FF", CommandKind::Frequency, 0xFFFFFFFFu);
    row("ramp start", "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03", CommandKind::RampStart, 0, 1, 1, 64424509);
    row("ramp start fields", "AC 00 00 01 02 03 04 00 05 06 00 00 07 08 09 0A", CommandKind::RampStart, 0, 0x04030201u,
        0x0605u, 0x0A090807u);
    row("ramp start largest", "AC 00 00 FF FF FF FF 00 FF FF 00 00 FF FF FF FF", CommandKind::RampStart, 0, 0xFFFFFFFFu,
        0xFFFFu, 0xFFFFFFFFu);
    row("ramp-stop", "AB", CommandKind::RampStop);
    row("register-dump", "B0", CommandKind::RegisterDump);
    row("heartbeat", "7F", CommandKind::Heartbeat);
    row("power on", "A0 01", CommandKind::Power, 0, 0, 0, 0, 1);
    row("power off", "A0 00", CommandKind::Power, 0, 0, 0, 0, 0);
    row("polarity +", "70 00", CommandKind::Polarity, 0, 0, 0, 0, 0);
    row("polarity --", "70 01", CommandKind::Polarity, 0, 0, 0, 0, 1);
    row("gain 0", "67 00", CommandKind::Gain, 0, 0, 0, 0, 0);
    row("gain 5", "67 A0", CommandKind::Gain, 0, 0, 0, 0, 5);
    row("gain 7", "67 E0", CommandKind::Gain, 0, 0, 0, 0, 7);
    row("contrast 80", "63 50", CommandKind::Contrast, 0, 0, 0, 0, 80);
    row("contrast 99", "63 63", CommandKind::Contrast, 0, 0, 0, 0, 99);
    row("contrast 255", "63 FF", CommandKind::Contrast, 0, 0, 0, 0, 255);
    row("sequence-clear", "C0", CommandKind::SequenceClear);
    row("sequence-add frequency", "C1 A5 00 D8 B6 28 03", CommandKind::SequenceAddFrequency, 52999896);
    row("sequence-add ramp", "C1 AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03", CommandKind::SequenceAddRamp, 0, 1,
        1, 64424509);
    row("sequence-add ADwin wait", "C1 A4", CommandKind::SequenceAddAdwinWait);
    row("sequence-execute", "C4 00", CommandKind::SequenceExecute);
    row("sequence-restart", "C5", CommandKind::SequenceRestart);
}

void TestDatagrams::decodeFields()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);
    QFETCH(uint, ftw);
    QFETCH(uint, step);
    QFETCH(uint, rate);
    QFETCH(uint, stopFtw);
    QFETCH(uint, value);

    const DecodeResult result = decode(datagram);
    QVERIFY2(result.command.has_value(), qPrintable(result.error));
    QVERIFY(result.error.isEmpty());
    const DecodedCommand &command = *result.command;
    QCOMPARE(static_cast<int>(command.kind), kind);
    QCOMPARE(command.ftw, ftw);
    QCOMPARE(command.step, step);
    QCOMPARE(static_cast<uint>(command.rate), rate);
    QCOMPARE(command.stopFtw, stopFtw);
    QCOMPARE(static_cast<uint>(command.value), value);
    QCOMPARE(hex(encode(command)), hex(datagram));
}

void TestDatagrams::decodeRejects_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("reason");

    const auto row = [](const char *name, const QByteArray &datagram, const char *reason) {
        QTest::newRow(name) << datagram << QString::fromLatin1(reason);
    };
    const QByteArray ramp = bytes("AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03");
    const auto rampWith = [&](int offset, char byte) {
        QByteArray changed = ramp;
        changed[offset] = byte;
        return changed;
    };

    row("empty", QByteArray(), "empty datagram");
    row("unknown 00", bytes("00"), "unknown opcode 0x00");
    row("unknown FF", bytes("FF"), "unknown opcode 0xff");
    row("unknown A1 with bytes", bytes("A1 00 00"), "unknown opcode 0xa1");
    row("unknown 7E", bytes("7E"), "unknown opcode 0x7e");

    row("frequency short", bytes("A5 00 D8 B6 28"), "frequency command needs 6 bytes, got 5");
    row("frequency long", bytes("A5 00 D8 B6 28 03 00"), "frequency command needs 6 bytes, got 7");
    row("frequency opcode only", bytes("A5"), "frequency command needs 6 bytes, got 1");
    row("frequency constant", bytes("A5 01 D8 B6 28 03"), "frequency command: byte 1 must be 0x00, is 0x01");

    row("ramp short", ramp.left(15), "ramp-start command needs 16 bytes, got 15");
    row("ramp long", ramp + '\0', "ramp-start command needs 16 bytes, got 17");
    row("ramp constant 1", rampWith(1, 0x01), "ramp-start command: byte 1 must be 0x00");
    row("ramp constant 2", rampWith(2, '\x80'), "ramp-start command: byte 2 must be 0x00, is 0x80");
    row("ramp constant 7", rampWith(7, 0x01), "ramp-start command: byte 7 must be 0x00");
    row("ramp constant 10", rampWith(10, 0x01), "ramp-start command: byte 10 must be 0x00");
    row("ramp constant 11", rampWith(11, '\xFF'), "ramp-start command: byte 11 must be 0x00, is 0xff");

    row("ramp-stop long", bytes("AB 00"), "ramp-stop command needs 1 bytes, got 2");
    row("register-dump long", bytes("B0 00"), "register-dump command needs 1 bytes, got 2");
    row("heartbeat long", bytes("7F 7F"), "heartbeat command needs 1 bytes, got 2");
    row("sequence-clear long", bytes("C0 00"), "sequence-clear command needs 1 bytes, got 2");
    row("sequence-restart long", bytes("C5 00"), "sequence-restart command needs 1 bytes, got 2");

    row("power short", bytes("A0"), "power command needs 2 bytes, got 1");
    row("power long", bytes("A0 01 00"), "power command needs 2 bytes, got 3");
    row("power 2", bytes("A0 02"), "power command: value 0x02 is neither 0x00 nor 0x01");
    row("power FF", bytes("A0 FF"), "power command: value 0xff is neither");
    row("polarity short", bytes("70"), "polarity command needs 2 bytes, got 1");
    row("polarity 2", bytes("70 02"), "polarity command: value 0x02 is neither 0x00 nor 0x01");
    row("polarity 80", bytes("70 80"), "polarity command: value 0x80 is neither");
    row("gain short", bytes("67"), "gain command needs 2 bytes, got 1");
    row("gain long", bytes("67 E0 00"), "gain command needs 2 bytes, got 3");
    row("gain 01", bytes("67 01"), "gain command: byte 0x01 is not a multiple of 0x20");
    row("gain 10", bytes("67 10"), "gain command: byte 0x10 is not a multiple of 0x20");
    row("gain FF", bytes("67 FF"), "gain command: byte 0xff is not a multiple of 0x20");
    row("contrast short", bytes("63"), "contrast command needs 2 bytes, got 1");
    row("contrast long", bytes("63 50 00"), "contrast command needs 2 bytes, got 3");

    row("sequence-execute short", bytes("C4"), "sequence-execute command needs 2 bytes, got 1");
    row("sequence-execute long", bytes("C4 00 00"), "sequence-execute command needs 2 bytes, got 3");
    row("sequence-execute constant", bytes("C4 01"), "sequence-execute command: byte 1 must be 0x00, is 0x01");

    row("ADwin wait alone", bytes("A4"), "ADwin-wait command outside the sequence-add prefix");
    row("ADwin wait with byte", bytes("A4 00"), "ADwin-wait command outside the sequence-add prefix");
    row("sequence-add alone", bytes("C1"), "sequence-add prefix without a command");
    row("sequence-add ADwin wait long", bytes("C1 A4 00"), "ADwin-wait command needs 1 bytes, got 2");
    row("sequence-add frequency short", bytes("C1 A5 00 D8 B6 28"), "frequency command needs 6 bytes, got 5");
    row("sequence-add frequency constant", bytes("C1 A5 07 D8 B6 28 03"), "frequency command: byte 1 must be 0x00");
    row("sequence-add ramp short", "\xC1" + ramp.left(15), "ramp-start command needs 16 bytes, got 15");
    row("sequence-add ramp constant", "\xC1" + rampWith(10, 0x01), "ramp-start command: byte 10 must be 0x00");
    row("sequence-add unknown", bytes("C1 00"), "sequence-add prefix before opcode 0x00, which cannot be added");
    row("sequence-add heartbeat", bytes("C1 7F"), "sequence-add prefix before opcode 0x7f");
    row("sequence-add ramp-stop", bytes("C1 AB"), "sequence-add prefix before opcode 0xab");
    row("sequence-add polarity", bytes("C1 70 00"), "sequence-add prefix before opcode 0x70");
    row("sequence-add clear", bytes("C1 C0"), "sequence-add prefix before opcode 0xc0");
    row("sequence-add execute", bytes("C1 C4 00"), "sequence-add prefix before opcode 0xc4");
    row("sequence-add nested", bytes("C1 C1 A4"), "sequence-add prefix before opcode 0xc1");
}

void TestDatagrams::decodeRejects()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, reason);

    const DecodeResult result = decode(datagram);
    QVERIFY2(!result.command.has_value(), shown(result));
    QVERIFY2(result.error.contains(reason, Qt::CaseInsensitive),
             qPrintable(QStringLiteral("reason \"%1\" does not say \"%2\"").arg(result.error, reason)));
}

// Every datagram of one or two bytes: exactly the commands of that length are
// accepted, and each comes back as the same bytes.
void TestDatagrams::allShortDatagrams()
{
    QSet<QByteArray> expected;
    for (const char *one : {"7F", "AB", "B0", "C0", "C5"})
        expected.insert(bytes(one));
    for (const char *two : {"A0 00", "A0 01", "70 00", "70 01", "C4 00", "C1 A4"})
        expected.insert(bytes(two));
    for (int position = 0; position < 8; ++position)
        expected.insert(QByteArray("\x67") + static_cast<char>(position * 32));
    for (int value = 0; value < 256; ++value)
        expected.insert(QByteArray("\x63") + static_cast<char>(value));

    QSet<QByteArray> accepted;
    for (int length = 1; length <= 2; ++length) {
        const int count = length == 1 ? 0x100 : 0x10000;
        for (int n = 0; n < count; ++n) {
            QByteArray datagram;
            if (length == 2)
                datagram += static_cast<char>(n >> 8);
            datagram += static_cast<char>(n & 0xFF);
            const DecodeResult result = decode(datagram);
            QVERIFY2(result.command.has_value() == result.error.isEmpty(), qPrintable(hex(datagram)));
            if (!result.command)
                continue;
            accepted.insert(datagram);
            QCOMPARE(hex(encode(*result.command)), hex(datagram));
        }
    }
    const QSet<QByteArray> unexpected = accepted - expected;
    const QSet<QByteArray> missing = expected - accepted;
    const auto listed = [](const QSet<QByteArray> &set) {
        QStringList texts;
        for (const QByteArray &datagram : set)
            texts << hex(datagram);
        texts.sort();
        return texts.join(QLatin1String(" | "));
    };
    QVERIFY2(unexpected.isEmpty(), qPrintable(QStringLiteral("accepted ") + listed(unexpected)));
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("refused ") + listed(missing)));
}

// Random field values: building then decoding gives the fields back, and
// encoding the decoded command gives the same bytes.
void TestDatagrams::randomFieldsRoundTrip()
{
    QRandomGenerator random(4711);
    for (int i = 0; i < 5000; ++i) {
        const quint32 ftw = random.generate();
        const quint32 step = random.generate();
        const auto rate = static_cast<quint16>(random.bounded(0, 65536));
        const quint32 stop = random.generate();

        const Datagram frequency = *frequencyCommand(ftw);
        const Datagram ramp = *rampStartCommand(step, rate, stop);

        const DecodeResult decodedFrequency = decode(frequency);
        QVERIFY2(decodedFrequency.command, qPrintable(decodedFrequency.error));
        QCOMPARE(decodedFrequency.command->kind, CommandKind::Frequency);
        QCOMPARE(decodedFrequency.command->ftw, ftw);
        QCOMPARE(encode(*decodedFrequency.command), frequency);

        const DecodeResult decodedRamp = decode(ramp);
        QVERIFY2(decodedRamp.command, qPrintable(decodedRamp.error));
        QCOMPARE(decodedRamp.command->kind, CommandKind::RampStart);
        QCOMPARE(decodedRamp.command->step, step);
        QCOMPARE(decodedRamp.command->rate, rate);
        QCOMPARE(decodedRamp.command->stopFtw, stop);
        QCOMPARE(encode(*decodedRamp.command), ramp);

        const DecodeResult addedFrequency = decode(sequenceAdd(frequency));
        QVERIFY2(addedFrequency.command, qPrintable(addedFrequency.error));
        QCOMPARE(addedFrequency.command->kind, CommandKind::SequenceAddFrequency);
        QCOMPARE(addedFrequency.command->ftw, ftw);
        QCOMPARE(encode(*addedFrequency.command), sequenceAdd(frequency));

        const DecodeResult addedRamp = decode(sequenceAdd(ramp));
        QVERIFY2(addedRamp.command, qPrintable(addedRamp.error));
        QCOMPARE(addedRamp.command->kind, CommandKind::SequenceAddRamp);
        QCOMPARE(addedRamp.command->step, step);
        QCOMPARE(addedRamp.command->rate, rate);
        QCOMPARE(addedRamp.command->stopFtw, stop);
        QCOMPARE(encode(*addedRamp.command), sequenceAdd(ramp));
    }
}

// Random byte strings of 0 to 20 bytes, biased towards opcodes and zero bytes
// so that commands turn up often: whatever the decoder accepts re-encodes to
// the same bytes, and whatever it refuses comes with a reason.
void TestDatagrams::randomBytesNeverMisdecode()
{
    static const char opcodes[] = "\x7F\x63\x67\x70\xA0\xA4\xA5\xAB\xAC\xB0\xC0\xC1\xC4\xC5";
    QRandomGenerator random(2718281);
    const auto randomByte = [&] {
        switch (random.bounded(0, 3)) {
        case 0: return '\0';
        case 1: return opcodes[random.bounded(0, static_cast<int>(sizeof opcodes) - 1)];
        default: return static_cast<char>(random.bounded(0, 256));
        }
    };

    QSet<int> kindsSeen;
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        QByteArray datagram;
        const int length = random.bounded(0, 21);
        for (int k = 0; k < length; ++k)
            datagram += randomByte();

        const DecodeResult result = decode(datagram);
        if (!result.command) {
            QVERIFY2(!result.error.isEmpty(), qPrintable(hex(datagram)));
            continue;
        }
        QVERIFY2(result.error.isEmpty(), qPrintable(hex(datagram)));
        ++accepted;
        kindsSeen.insert(static_cast<int>(result.command->kind));
        const Datagram again = encode(*result.command);
        QVERIFY2(again == datagram, qPrintable(hex(datagram) + QStringLiteral(" re-encodes as ") + hex(again)));
        QVERIFY(datagram.size() >= 1 && datagram.size() <= 17);
    }
    QVERIFY2(accepted > 1000, QByteArray::number(accepted));
    // All but the ramp kinds (five fixed zero bytes and a 16-byte length) show up.
    QVERIFY2(kindsSeen.size() >= 12, QByteArray::number(kindsSeen.size()));
}

// A command put together by hand with a value no datagram carries encodes to
// nothing rather than to a wrong datagram (or undefined behaviour).
void TestDatagrams::encodeHandBuiltOutOfRange()
{
    for (int value = 0; value < 256; ++value) {
        DecodedCommand polarity;
        polarity.kind = CommandKind::Polarity;
        polarity.value = static_cast<std::uint8_t>(value);
        const Datagram polarityBytes = encode(polarity);
        if (value <= 1)
            QCOMPARE(hex(polarityBytes), hex(QByteArray("\x70") + static_cast<char>(value)));
        else
            QVERIFY2(polarityBytes.isEmpty(),
                     qPrintable(QString::number(value) + QLatin1String(" gave ") + hex(polarityBytes)));

        DecodedCommand gain;
        gain.kind = CommandKind::Gain;
        gain.value = static_cast<std::uint8_t>(value);
        const Datagram gainBytes = encode(gain);
        if (value <= 7)
            QCOMPARE(hex(gainBytes), hex(QByteArray("\x67") + static_cast<char>(value * 32)));
        else
            QVERIFY2(gainBytes.isEmpty(),
                     qPrintable(QString::number(value) + QLatin1String(" gave ") + hex(gainBytes)));
    }
}

void TestDatagrams::describeAndHex()
{
    const DecodeResult result = decode(bytes("A5 00 D8 B6 28 03"));
    QVERIFY(result.command);
    QCOMPARE(describe(*result.command), QStringLiteral("frequency FTW=52999896 (0x0328B6D8)"));
    QCOMPARE(hexBytes(bytes("A5 00 D8 B6 28 03")), QStringLiteral("A5 00 D8 B6 28 03"));
    QCOMPARE(hexBytes(QByteArray()), QString());
}

QTEST_APPLESS_MAIN(TestDatagrams)
#include "test_datagrams.moc"
