// The six command-sequence buttons, clicked on the real window: one datagram
// per click, byte for byte, built from the boxes as they stand, nothing sent
// when an entry cannot be built, and never a polarity command after it.
// Which ramp box Add Ramp reads for what is test_ramp's, beside Start.

#include "support/panel_harness.h"
#include "support/typing.h"

#include <QtTest>

#include <memory>

using namespace veloxa;
using test::bytes;

namespace {

using Writes = QList<QPair<QString, QString>>;

// The ramp entry of the initial texts: step 1, rate 1, stop 15 MHz, clock 1000 MHz.
const char *const kInitialRampEntry = "C1 AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03";

} // namespace

class TestSequence : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::PanelHarness> h;

    QPushButton *button(const QString &name) const { return h->form->findChild<QPushButton *>(name); }

    void click(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton); }

    // The clock typed and left (for cmdSeqClear), its own rules run to their end.
    void setClock(const QString &text) { h->setClock(text, &h->form->controls().cmdSeqClear); }

private slots:
    void init()
    {
        h = std::make_unique<test::PanelHarness>();
        h->startWithoutHeartbeat();
    }

    void cleanup() { h.reset(); }

    // Each button sends its one datagram per click; a second click sends it
    // again. The add buttons send no polarity command after the entry, also
    // with "--" selected, and no button stores anything or changes a box.
    void buttonSendsItsDatagram_data()
    {
        QTest::addColumn<QString>("buttonName");
        QTest::addColumn<QString>("frequency"); // typed into txtFreq first; empty leaves "12.34"
        QTest::addColumn<bool>("minusPolarity");
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("clear") << "cmdSeqClear" << "" << false << bytes("C0");
        QTest::newRow("add frequency 12.34") << "cmdSeqFreq" << "" << false << bytes("C1 A5 00 D8 B6 28 03");
        QTest::newRow("add frequency typed 12.34") << "cmdSeqFreq" << "12.34" << false << bytes("C1 A5 00 D8 B6 28 03");
        QTest::newRow("add frequency 500") << "cmdSeqFreq" << "500" << false << bytes("C1 A5 00 00 00 00 80");
        QTest::newRow("add frequency, polarity --") << "cmdSeqFreq" << "" << true << bytes("C1 A5 00 D8 B6 28 03");
        QTest::newRow("add ramp") << "cmdSeqRamp" << "" << false << bytes(kInitialRampEntry);
        QTest::newRow("add ramp, polarity --") << "cmdSeqRamp" << "" << true << bytes(kInitialRampEntry);
        QTest::newRow("add wait for ADwin") << "cmdSeqAdwin" << "" << false << bytes("C1 A4");
        QTest::newRow("execute") << "cmdSeqExecute" << "" << false << bytes("C4 00");
        QTest::newRow("restart") << "cmdSeqRestart" << "" << false << bytes("C5");
    }
    void buttonSendsItsDatagram()
    {
        QFETCH(QString, buttonName);
        QFETCH(QString, frequency);
        QFETCH(bool, minusPolarity);
        QFETCH(QByteArray, datagram);
        QPushButton *target = button(buttonName);
        QVERIFY(target);

        if (!frequency.isEmpty()) {
            QVERIFY(test::retype(&h->form->controls().txtFreq, frequency));
            QCOMPARE(h->form->controls().txtFreq.text(), frequency);
        }
        if (minusPolarity) {
            click(h->form->controls().optDdsPolarity.option(1));
            QVERIFY(h->form->controls().optDdsPolarity.isSelected(1));
        }
        h->clear();
        const QString texts = h->boxTexts();

        click(target);
        QCOMPARE(h->sentHex(), test::hex(datagram));
        QCOMPARE(h->channel.attempts, 1);

        click(target);
        QCOMPARE(h->channel.sent, (QList<QByteArray>{datagram, datagram}));
        QCOMPARE(h->channel.attempts, 2);

        QCOMPARE(h->boxTexts(), texts);
        QCOMPARE(h->store.writes, Writes());
    }

    // A frequency left in the box from before the clock was lowered: the
    // entry is built against the clock as it is now, and not at all when its
    // tuning word no longer fits 32 bits.
    void addFrequencyAfterClockChange_data()
    {
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("sent");
        QTest::newRow("200 at clock 100, 2^33") << "200" << "100" << "";
        QTest::newRow("400 at clock 400, 2^32") << "400" << "400" << "";
        QTest::newRow("200 at clock 400, 2^31") << "200" << "400" << "C1 A5 00 00 00 00 80";
    }
    void addFrequencyAfterClockChange()
    {
        QFETCH(QString, frequency);
        QFETCH(QString, clock);
        QFETCH(QString, sent);
        QVERIFY(test::retype(&h->form->controls().txtFreq, frequency));
        QCOMPARE(h->form->controls().txtFreq.text(), frequency);
        setClock(clock);
        // The frequency is not checked against the new clock.
        QCOMPARE(h->form->controls().txtFreq.text(), frequency);
        h->clear();

        click(&h->form->controls().cmdSeqFreq);
        QCOMPARE(h->sentHex(), sent);
        QCOMPARE(h->channel.attempts, int(h->channel.sent.size()));
        QCOMPARE(h->form->controls().txtFreq.text(), frequency);

        // Only the frequency entry failed: the other buttons still send.
        h->clear();
        click(&h->form->controls().cmdSeqAdwin);
        QCOMPARE(h->sentHex(), QStringLiteral("C1 A4"));
    }

    // The panel keeps no account of the sequence: any order of clicks is
    // taken, each sending its datagram in turn.
    void anyOrderOfClicks()
    {
        const QList<QPair<const char *, const char *>> clicks{
            {"cmdSeqExecute", "C4 00"},
            {"cmdSeqRestart", "C5"},
            {"cmdSeqAdwin", "C1 A4"},
            {"cmdSeqExecute", "C4 00"},
            {"cmdSeqClear", "C0"},
            {"cmdSeqClear", "C0"},
            {"cmdSeqRamp", kInitialRampEntry},
            {"cmdSeqFreq", "C1 A5 00 D8 B6 28 03"},
            {"cmdSeqAdwin", "C1 A4"},
            {"cmdSeqExecute", "C4 00"},
        };
        QList<QByteArray> expected;
        for (const auto &[name, datagram] : clicks) {
            QPushButton *target = button(QLatin1String(name));
            QVERIFY(target);
            click(target);
            expected << bytes(datagram);
        }
        QCOMPARE(h->sentHex(), test::hexList(expected));
    }

    // A refused send is tried once and not followed by anything.
    void refusedSendIsTriedOnce_data()
    {
        QTest::addColumn<QString>("buttonName");
        for (const char *name :
             {"cmdSeqClear", "cmdSeqFreq", "cmdSeqRamp", "cmdSeqAdwin", "cmdSeqExecute", "cmdSeqRestart"})
            QTest::newRow(name) << name;
    }
    void refusedSendIsTriedOnce()
    {
        QFETCH(QString, buttonName);
        QPushButton *target = button(buttonName);
        QVERIFY(target);

        h->channel.failSends = true;
        click(target);
        QCOMPARE(h->channel.attempts, 1);
        QVERIFY(h->channel.sent.isEmpty());

        h->channel.failSends = false;
        click(target);
        QCOMPARE(h->channel.attempts, 2);
        QCOMPARE(h->channel.sent.size(), 1);
    }
};

QTEST_MAIN(TestSequence)
#include "test_sequence.moc"
