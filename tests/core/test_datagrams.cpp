// The bytes of every command the panel builds and the word and byte
// encodings they are made of; what is built decodes to the values it was
// built from. The decoder on any bytes is test_decoder.

#include "core/link/datagrams.h"
#include "core/link/decoder.h"
#include "support/bytes.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTest>

#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

using namespace veloxa::link;
using veloxa::test::bytes;
using veloxa::test::hex;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

const QString kRefused = QStringLiteral("<refused>");

// A row of a builder table: what the builder gave and what it should give
// (a null `expected` means the builder must refuse).
void addBuilt(const char *name, const std::optional<QByteArray> &built, const char *expected)
{
    QTest::newRow(name) << (built ? hex(*built) : kRefused) << (expected ? hex(bytes(expected)) : kRefused);
}

// The commands that carry tuning words, by topic.
void addTuningWordRows()
{
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
}

// The fixed commands and those that carry a slider's value or an option.
void addValueRows()
{
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

} // namespace

class TestDatagrams : public QObject {
    Q_OBJECT

private slots:
    void builders_data()
    {
        QTest::addColumn<QString>("built");
        QTest::addColumn<QString>("expected");
        addTuningWordRows();
        addValueRows();
    }
    // The row's builder gave what it should, or refused where it should.
    void builders()
    {
        QFETCH(QString, built);
        QFETCH(QString, expected);
        QCOMPARE(built, expected);
        // One to 17 bytes, written "XX" with a blank between.
        QVERIFY(built == kRefused || (built.size() >= 2 && built.size() <= 17 * 3 - 1));
    }

    void encodeWord_data()
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
    void encodeWord()
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

    void encodeByte_data()
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
    void encodeByte()
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
    void everyBuiltValueCommandDecodes()
    {
        QList<int> inputs = {INT_MIN, INT_MIN + 1, -(1 << 26), INT_MAX, (1 << 27), (1 << 27) + 1, 1 << 26};
        for (int i = -600; i <= 600; ++i)
            inputs << i;

        int built = 0;
        for (int input : inputs) {
            for (const auto &[name, datagram, kind, expectedValue] :
                 {std::tuple{"gainCommand", gainCommand(input), CommandKind::Gain, input},
                  std::tuple{"contrastCommand", contrastCommand(input), CommandKind::Contrast, input},
                  std::tuple{"polarityCommand", polarityCommand(input), CommandKind::Polarity, input},
                  std::tuple{"powerCommand", std::optional(powerCommand(input)), CommandKind::Power,
                             input == 0 ? 1 : 0}}) {
                if (!datagram)
                    continue;
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
            }
        }
        // 8 gain positions, 256 contrast values, 2 polarities, every power input.
        QCOMPARE(built, 8 + 256 + 2 + static_cast<int>(inputs.size()));
    }

    // Random field values: building then decoding gives the fields back, and
    // encoding the decoded command gives the same bytes.
    void randomFieldsRoundTrip()
    {
        QRandomGenerator random(4711);
        for (int i = 0; i < 5000; ++i) {
            DecodedCommand frequency{CommandKind::Frequency};
            frequency.ftw = random.generate();
            DecodedCommand ramp{CommandKind::RampStart};
            ramp.step = random.generate();
            ramp.rate = static_cast<quint16>(random.bounded(0, 65536));
            ramp.stopFtw = random.generate();
            DecodedCommand addedFrequency = frequency;
            addedFrequency.kind = CommandKind::SequenceAddFrequency;
            DecodedCommand addedRamp = ramp;
            addedRamp.kind = CommandKind::SequenceAddRamp;

            const Datagram frequencyBytes = *frequencyCommand(frequency.ftw);
            const Datagram rampBytes = *rampStartCommand(ramp.step, ramp.rate, ramp.stopFtw);
            const std::pair<Datagram, DecodedCommand> built[] = {{frequencyBytes, frequency},
                                                                 {rampBytes, ramp},
                                                                 {sequenceAdd(frequencyBytes), addedFrequency},
                                                                 {sequenceAdd(rampBytes), addedRamp}};
            for (const auto &[datagram, expected] : built) {
                const DecodeResult result = decode(datagram);
                QVERIFY2(result.command, qPrintable(hex(datagram) + QLatin1String(": ") + result.error));
                QVERIFY2(*result.command == expected,
                         qPrintable(hex(datagram) + QLatin1String(" decodes as ") + describe(*result.command)));
                QCOMPARE(encode(*result.command), datagram);
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestDatagrams)
#include "test_datagrams.moc"
