// The decoder that turns bytes back into commands (what the simulated unit
// and the link log read): the fields of every command, the reason for every
// refusal, every datagram of one or two bytes and random bytes, and encoding
// a decoded command again.

#include "core/link/datagrams.h"
#include "core/link/decoder.h"
#include "support/bytes.h"

#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <tuple>

using namespace veloxa::link;
using veloxa::test::bytes;
using veloxa::test::hex;

namespace {

QByteArray shown(const DecodeResult &result)
{
    if (!result.command)
        return "refused: " + result.error.toUtf8();
    return "accepted as " + describe(*result.command).toUtf8();
}

} // namespace

Q_DECLARE_METATYPE(veloxa::link::DecodedCommand)

class TestDecoder : public QObject {
    Q_OBJECT

private slots:
    void decodeFields_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<DecodedCommand>("expected");
        const auto row = [](const char *name, const char *datagram, CommandKind kind, uint ftw = 0, uint step = 0,
                            uint rate = 0, uint stopFtw = 0, uint value = 0) {
            QTest::newRow(name) << bytes(datagram) << DecodedCommand{kind,    ftw,
                                                                     step,    static_cast<std::uint16_t>(rate),
                                                                     stopFtw, static_cast<std::uint8_t>(value)};
        };

        row("frequency", "A5 00 D8 B6 28 03", CommandKind::Frequency, 52999896);
        row("frequency 2^31", "A5 00 00 00 00 80", CommandKind::Frequency, 0x80000000u);
        row("frequency largest", "A5 00 FF FF FF FF", CommandKind::Frequency, 0xFFFFFFFFu);
        row("ramp start", "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03", CommandKind::RampStart, 0, 1, 1, 64424509);
        row("ramp start fields", "AC 00 00 01 02 03 04 00 05 06 00 00 07 08 09 0A", CommandKind::RampStart, 0,
            0x04030201u, 0x0605u, 0x0A090807u);
        row("ramp start largest", "AC 00 00 FF FF FF FF 00 FF FF 00 00 FF FF FF FF", CommandKind::RampStart, 0,
            0xFFFFFFFFu, 0xFFFFu, 0xFFFFFFFFu);
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
        row("sequence-add ramp", "C1 AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03", CommandKind::SequenceAddRamp, 0,
            1, 1, 64424509);
        row("sequence-add ADwin wait", "C1 A4", CommandKind::SequenceAddAdwinWait);
        row("sequence-execute", "C4 00", CommandKind::SequenceExecute);
        row("sequence-restart", "C5", CommandKind::SequenceRestart);
    }
    void decodeFields()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(DecodedCommand, expected);
        const DecodeResult result = decode(datagram);
        QVERIFY2(result.command.has_value(), qPrintable(result.error));
        QVERIFY(result.error.isEmpty());
        QVERIFY2(*result.command == expected,
                 qPrintable(describe(*result.command) + QLatin1String(", expected ") + describe(expected)));
        QCOMPARE(hex(encode(*result.command)), hex(datagram));
    }

    void decodeRejects_data()
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
    void decodeRejects()
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
    void allShortDatagrams()
    {
        QSet<QByteArray> expected;
        for (const char *command : {"7F", "AB", "B0", "C0", "C5", "A0 00", "A0 01", "70 00", "70 01", "C4 00", "C1 A4"})
            expected.insert(bytes(command));
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
            QList<QByteArray> sorted = set.values();
            std::sort(sorted.begin(), sorted.end());
            return veloxa::test::hexList(sorted);
        };
        QVERIFY2(unexpected.isEmpty(), qPrintable(QStringLiteral("accepted ") + listed(unexpected)));
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("refused ") + listed(missing)));
    }

    // Random byte strings of 0 to 20 bytes, biased towards opcodes and zero bytes
    // so that commands turn up often: whatever the decoder accepts re-encodes to
    // the same bytes, and whatever it refuses comes with a reason.
    void randomBytesNeverMisdecode()
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
    void encodeHandBuiltOutOfRange()
    {
        // The kind, its opcode, the largest value it carries and the byte per value.
        for (const auto &[kind, opcode, largest, byteStep] :
             {std::tuple{CommandKind::Polarity, '\x70', 1, 1}, std::tuple{CommandKind::Gain, '\x67', 7, 32}}) {
            for (int value = 0; value < 256; ++value) {
                DecodedCommand command{kind};
                command.value = static_cast<std::uint8_t>(value);
                const Datagram built = encode(command);
                if (value <= largest)
                    QCOMPARE(hex(built), hex(QByteArray(1, opcode) + static_cast<char>(value * byteStep)));
                else
                    QVERIFY2(built.isEmpty(),
                             qPrintable(QString::number(value) + QLatin1String(" gave ") + hex(built)));
            }
        }
    }

    void describeAndHex()
    {
        const DecodeResult result = decode(bytes("A5 00 D8 B6 28 03"));
        QVERIFY(result.command);
        QCOMPARE(describe(*result.command), QStringLiteral("frequency FTW=52999896 (0x0328B6D8)"));
        QCOMPARE(hexBytes(bytes("A5 00 D8 B6 28 03")), QStringLiteral("A5 00 D8 B6 28 03"));
        QCOMPARE(hexBytes(QByteArray()), QString());
    }
};

QTEST_APPLESS_MAIN(TestDecoder)
#include "test_decoder.moc"
