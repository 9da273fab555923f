// The ramp's rate, step and stop frequency boxes, ramp start and ramp stop,
// driven through the real window: keys typed into the boxes, focus moved,
// buttons clicked; checked by the boxes' texts, the store's write log and the
// datagrams the recording channel saw.

#include "core/link/decoder.h"
#include "support/panel_harness.h"
#include "support/typing.h"

#include <QtTest>

#include <memory>
#include <tuple>

using namespace veloxa;
using test::bytes;
using test::hex;
using test::hexList;

namespace {

using Writes = QList<QPair<QString, QString>>;

// The texts written under `name`, in the order they were written.
QStringList writtenTexts(const Writes &writes, const QString &name)
{
    QStringList texts;
    for (const auto &write : writes)
        if (write.first == name)
            texts << write.second;
    return texts;
}

// The ramp-start datagram of the initial texts: step 1, rate 1, stop 15 MHz at
// a 1000 MHz clock (tuning word 64424509 = 0x03D70A3D).
const char *const kInitialRampStart = "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03";

} // namespace

class TestRamp : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::PanelHarness> h;

    // "rate", "step" or "stop".
    controls::TextBox *box(const QString &which) const
    {
        auto &c = h->form->controls();
        return which == QLatin1String("rate") ? &c.txtRampRate
            : which == QLatin1String("step")  ? &c.txtRampStep
                                              : &c.txtStopFreq;
    }

    static QString settingOf(const QString &which)
    {
        return which == QLatin1String("rate") ? settings::names::RampRate
            : which == QLatin1String("step")  ? settings::names::RampStep
                                              : settings::names::RampStopFreq;
    }

private slots:
    void init()
    {
        h = std::make_unique<test::PanelHarness>();
        h->startWithoutHeartbeat();
    }

    void cleanup() { h.reset(); }

    // ---- Ramp parameters ------------------------------------------------

    void typedTextIsCorrectedAndStored_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("clock"); // typed into the clock box first; "1000" leaves it alone
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        // The store's write log key by key, when given: every change writes, a
        // correction writes in its nested run and again when the run that made
        // it goes on; the emptied stop box is stored too.
        QTest::addColumn<QStringList>("writes");
        const QString c1000 = QStringLiteral("1000");
        auto row = [](const char *name, const char *which, const QString &clock, const char *typed, const char *text,
                      const QStringList &writes = {}) {
            QTest::newRow(name) << QString::fromLatin1(which) << clock << QString::fromLatin1(typed)
                                << QString::fromLatin1(text) << writes;
        };

        // Which text each rule settles on is test_rules' and test_rule_fixed_points'
        // table; here each box's wiring: its rules key by key, its character
        // limit, the clock it reads, what it stores.
        row("rate -3", "rate", c1000, "-3", "0", {"-", "0", "0"});
        row("rate 65536", "rate", c1000, "65536", "65535", {"6", "65", "655", "6553", "65535", "65535"});
        row("rate sixth character refused", "rate", c1000, "123456", "12345");
        row("rate 2.7 rounded down", "rate", c1000, "2.7", "2", {"2", "2.", "2", "2"});
        row("rate 12abc stays as typed", "rate", c1000, "12abc", "12abc", {"1", "12", "12a", "12ab", "12abc"});
        row("step 4294967296", "step", c1000, "4294967296", "4294967295");
        row("step eleventh character refused", "step", c1000, "12345678901", "1234567890");
        row("step 1e3 stays", "step", c1000, "1e3", "1e3", {"1", "1e", "1e3"});
        row("stop 600", "stop", c1000, "600", "500", {"", "6", "60", "500", "500"});
        row("stop letters stay", "stop", c1000, "abc", "abc", {"", "a", "ab", "abc"});
        row("stop 200 at clock 250", "stop", QStringLiteral("250"), "200", "125");
    }
    void typedTextIsCorrectedAndStored()
    {
        QFETCH(QString, which);
        QFETCH(QString, clock);
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(QStringList, writes);
        if (clock != QLatin1String("1000"))
            h->setClock(clock, &h->form->controls().cmdRampStop);
        h->clear();

        controls::TextBox *target = box(which);
        QVERIFY(test::retype(target, typed));
        QCOMPARE(target->text(), text);
        QVERIFY(h->store.values.contains(settingOf(which)));
        QCOMPARE(h->store.values.value(settingOf(which)), text);
        // The last write is the text the box kept; no other value was written.
        const QStringList written = writtenTexts(h->store.writes, settingOf(which));
        QVERIFY(!written.isEmpty());
        QCOMPARE(written.last(), text);
        QCOMPARE(written.size(), h->store.writes.size());
        if (!writes.isEmpty())
            QCOMPARE(written, writes);
        // The parameter boxes send nothing.
        QCOMPARE(h->channel.attempts, 0);

        // Leaving the box changes nothing more.
        h->clear();
        QVERIFY(test::moveFocusTo(&h->form->controls().cmdRampStop));
        QCOMPARE(target->text(), text);
        QCOMPARE(h->store.writes, Writes());
        QCOMPARE(h->channel.attempts, 0);
    }

    // An emptied rate or step box is stored once left, as 0; the stop box is
    // stored empty at once and has no rule for leaving it empty.
    void emptiedBoxWhenLeft_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("leaveBy");
        for (const char *which : {"rate", "step", "stop"})
            for (const char *leaveBy : {"setFocus", "mouse", "tab"})
                QTest::addRow("%s, %s", which, leaveBy) << which << leaveBy;
    }
    void emptiedBoxWhenLeft()
    {
        QFETCH(QString, which);
        QFETCH(QString, leaveBy);
        controls::TextBox *target = box(which);
        const QString setting = settingOf(which);
        const bool staysEmpty = which == QLatin1String("stop");
        const QString left = staysEmpty ? QString() : QStringLiteral("0");
        const QString none = QStringLiteral("<not stored>");
        const QString before = h->store.values.value(setting, none);

        QVERIFY(test::retype(target, QString()));
        QCOMPARE(target->text(), QString());
        QCOMPARE(h->store.writes, (staysEmpty ? Writes{{setting, QString()}} : Writes()));
        QCOMPARE(h->store.values.value(setting, none), staysEmpty ? QString() : before);

        h->clear();
        if (leaveBy == QLatin1String("setFocus"))
            QVERIFY(test::moveFocusTo(&h->form->controls().cmdRampStop));
        else if (leaveBy == QLatin1String("mouse"))
            QTest::mouseClick(&h->form->controls().txtFreq, Qt::LeftButton);
        else
            QTest::keyClick(target, Qt::Key_Tab);
        QVERIFY(!target->hasFocus());

        QCOMPARE(target->text(), left);
        QCOMPARE(h->store.writes, (staysEmpty ? Writes() : Writes{{setting, left}}));
        QCOMPARE(h->store.values.value(setting, none), left);
        QCOMPARE(h->channel.attempts, 0);
    }

    // The character limit binds the user's keys only: a longer text put in by
    // the program stays, takes no further key, and can still be shortened.
    void longerAssignedTextIsKept_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("assigned");
        QTest::newRow("rate, 6 characters") << "rate" << "000123";
        QTest::newRow("rate, 10 characters") << "rate" << "12abcdefgh";
        QTest::newRow("step, 11 characters") << "step" << "00000000001";
        QTest::newRow("step, 14 characters") << "step" << "4294967295    ";
    }
    void longerAssignedTextIsKept()
    {
        QFETCH(QString, which);
        QFETCH(QString, assigned);
        controls::TextBox *target = box(which);

        target->assign(assigned);
        QCOMPARE(target->text(), assigned);
        QCOMPARE(h->store.values.value(settingOf(which)), assigned);

        QVERIFY(test::moveFocusTo(target));
        QTest::keyClick(target, Qt::Key_End);
        QTest::keyClick(target, Qt::Key_7);
        QCOMPARE(target->text(), assigned);

        QTest::keyClick(target, Qt::Key_Backspace);
        QCOMPARE(target->text(), assigned.chopped(1));
        QCOMPARE(h->store.values.value(settingOf(which)), assigned.chopped(1));
    }

    // "2.5x" has a fractional leading number but is not a number as a whole,
    // so there is no whole reading to round down: it stays as typed. It can
    // only be typed by putting the point in afterwards ("2.5" alone becomes 2).
    void fractionWithTrailingTextStaysAsTyped_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("rate") << "rate";
        QTest::newRow("step") << "step";
    }
    void fractionWithTrailingTextStaysAsTyped()
    {
        QFETCH(QString, which);
        controls::TextBox *target = box(which);

        QVERIFY(test::retype(target, QStringLiteral("25x")));
        QCOMPARE(target->text(), QStringLiteral("25x"));
        QTest::keyClick(target, Qt::Key_Home);
        QTest::keyClick(target, Qt::Key_Right);
        h->clear();
        QTest::keyClick(target, Qt::Key_Period);

        QCOMPARE(target->text(), QStringLiteral("2.5x"));
        QCOMPARE(h->store.writes, (Writes{{settingOf(which), QStringLiteral("2.5x")}}));

        // Assigned from code it is left alone too.
        h->clear();
        target->assign(QStringLiteral("7.9 apples"));
        QCOMPARE(target->text(), QStringLiteral("7.9 apples"));
        QCOMPARE(h->store.writes, (Writes{{settingOf(which), QStringLiteral("7.9 apples")}}));
    }

    // While the clock box is still being typed into it may hold 0, a number
    // below 100 or a negative number. A stop text assigned then (as start-up
    // or other code might) is checked against that clock when the clock is
    // not negative, and left unclamped when it is: with a negative clock the
    // two clamps would undo each other for ever.
    void stopRulesWhileClockIsBeingTyped_data()
    {
        QTest::addColumn<QString>("clockKeys");
        QTest::addColumn<bool>("signAtHome");
        QTest::addColumn<QString>("clockText");
        QTest::addColumn<QString>("assigned");
        QTest::addColumn<QString>("stopText");
        QTest::addColumn<int>("changes"); // changed() of the stop box: 1 when no rule corrected it
        QTest::newRow("clock -5, stop 600") << "5" << true << "-5" << "600" << "600" << 1;
        QTest::newRow("clock -5, stop -600") << "5" << true << "-5" << "-600" << "-600" << 1;
        QTest::newRow("clock -5, stop 0") << "5" << true << "-5" << "0" << "0" << 1;
        QTest::newRow("clock -5, stop empty") << "5" << true << "-5" << "" << "" << 1;
        QTest::newRow("clock -5, stop letters") << "5" << true << "-5" << "abc" << "abc" << 1;
        QTest::newRow("clock -0.5, stop 600") << "0.5" << true << "-0.5" << "600" << "600" << 1;
        QTest::newRow("clock -0, stop 600") << "0" << true << "-0" << "600" << "0" << 2;
        QTest::newRow("clock emptied, stop 600") << "" << false << "0" << "600" << "0" << 2;
        QTest::newRow("clock emptied, stop -600") << "" << false << "0" << "-600" << "0" << 2;
        QTest::newRow("clock 50, stop 600") << "50" << false << "50" << "600" << "25" << 2;
        QTest::newRow("clock 50, stop -600") << "50" << false << "50" << "-600" << "-25" << 2;
        QTest::newRow("clock 50, stop 20") << "50" << false << "50" << "20" << "20" << 1;
    }
    void stopRulesWhileClockIsBeingTyped()
    {
        QFETCH(QString, clockKeys);
        QFETCH(bool, signAtHome);
        QFETCH(QString, clockText);
        QFETCH(QString, assigned);
        QFETCH(QString, stopText);
        QFETCH(int, changes);
        controls::TextBox *clock = &h->form->controls().txtSysClk;
        controls::TextBox *stop = &h->form->controls().txtStopFreq;

        QVERIFY(test::typeOver(clock, clockKeys));
        if (signAtHome) {
            // A lone "-" is repaired to 0 at once, so the sign goes in last.
            QTest::keyClick(clock, Qt::Key_Home);
            QTest::keyClick(clock, Qt::Key_Minus);
        }
        QCOMPARE(clock->text(), clockText);
        QVERIFY(clock->hasFocus());
        h->clear();

        int changed = 0;
        const auto counter = connect(stop, &controls::TextBox::changed, this, [&changed] { ++changed; });
        stop->assign(assigned);
        disconnect(counter);

        QCOMPARE(stop->text(), stopText);
        QCOMPARE(changed, changes);
        QCOMPARE(h->store.values.value(settings::names::RampStopFreq), stopText);
        QCOMPARE(writtenTexts(h->store.writes, settings::names::RampStopFreq).size(), h->store.writes.size());
        QVERIFY(clock->hasFocus());
        QCOMPARE(clock->text(), clockText);

        // Leaving the clock box raises it to 100; the stop text is not
        // checked again until it changes.
        QVERIFY(test::moveFocusTo(&h->form->controls().cmdRampStop));
        QCOMPARE(clock->text(), QStringLiteral("100"));
        QCOMPARE(stop->text(), stopText);
    }

    // ---- Ramp start and stop ---------------------------------------------

    // Start and Add Ramp read the same boxes. The command's bytes for every
    // kind of text are the builder's table (test_rules); here the buttons'
    // wiring: which box is which, the polarity repeat behind Start (none
    // behind the sequence's entry), and stop texts the clock rules leave.
    void rampButtonsReadTheBoxes_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("clock"); // typed last; "1000" leaves the box alone
        QTest::addColumn<QString>("sent");
        const auto row = [](const char *name, const char *button, const char *rate, const char *step, const char *stop,
                            const char *clock, const QString &sent) {
            QTest::newRow(name) << button << rate << step << stop << clock << sent;
        };
        const QString initial = QString::fromLatin1(kInitialRampStart);
        const QString polarity = QStringLiteral(" | 70 00");
        const char *start = "cmdRampStart";
        row("start, initial texts", start, "1", "1", "15", "1000", initial + polarity);
        row("start, step 1e3, rate 300", start, "300", "1e3", "15", "1000",
            "AC 00 00 E8 03 00 00 00 2C 01 00 00 3D 0A D7 03" + polarity);
        row("start, stop 125 at clock 250", start, "1", "1", "125", "250",
            "AC 00 00 01 00 00 00 00 01 00 00 00 00 00 00 80" + polarity);
        // Nothing at all: neither the ramp-start nor the polarity command.
        row("start, rate 12abc", start, "12abc", "1", "15", "1000", "");
        row("start, stop 400 after clock lowered to 400", start, "1", "1", "400", "400", "");
        const char *add = "cmdSeqRamp";
        row("add, initial texts", add, "1", "1", "15", "1000", "C1 " + initial);
        row("add, step 1e3, rate 300", add, "300", "1e3", "15", "1000",
            "C1 AC 00 00 E8 03 00 00 00 2C 01 00 00 3D 0A D7 03");
        row("add, stop 399.99 after clock lowered to 400", add, "1", "1", "399.99", "400",
            "C1 AC 00 00 01 00 00 00 00 01 00 00 00 91 5C FE FF");
        row("add, rate 12abc", add, "12abc", "1", "15", "1000", "");
    }
    void rampButtonsReadTheBoxes()
    {
        QFETCH(QString, button);
        QFETCH(QString, rate);
        QFETCH(QString, step);
        QFETCH(QString, stop);
        QFETCH(QString, clock);
        QFETCH(QString, sent);
        h->typeRampTexts(rate, step, stop, clock, &h->form->controls().cmdRampStop);
        if (QTest::currentTestFailed())
            return;
        h->clear();
        const QString texts = h->boxTexts();

        QTest::mouseClick(h->form->findChild<QPushButton *>(button), Qt::LeftButton);

        QCOMPARE(h->sentHex(), sent);
        QCOMPARE(h->channel.attempts, static_cast<int>(h->channel.sent.size()));
        // The buttons change no box and store nothing.
        QCOMPARE(h->boxTexts(), texts);
        QCOMPARE(h->store.writes, Writes());
    }

    // "--" selected, then "+" again: Start repeats whichever is selected.
    void rampStartRepeatsSelectedPolarity()
    {
        for (const auto &[index, polarity] : {std::pair{1, "70 01"}, std::pair{0, "70 00"}}) {
            h->clear();
            QTest::mouseClick(h->form->controls().optDdsPolarity.option(index), Qt::LeftButton);
            QCOMPARE(h->sentHex(), QString::fromLatin1(polarity));
            h->clear();

            QTest::mouseClick(&h->form->controls().cmdRampStart, Qt::LeftButton);
            QCOMPARE(h->channel.sent, (QList<QByteArray>{bytes(kInitialRampStart), bytes(polarity)}));
            QVERIFY(h->form->controls().optDdsPolarity.isSelected(index));
        }
    }

    // Enter in a ramp box changes nothing there; in the stop box a key that
    // types a carriage return starts the ramp, as a click on Start does.
    void enterInARampBox_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("starts");
        // Each key and whether it types a carriage return (Ctrl+M types character 13 as well).
        const QList<std::tuple<const char *, Qt::Key, Qt::KeyboardModifiers, bool>> keys{
            {"Return", Qt::Key_Return, Qt::NoModifier, true},
            {"Shift+Return", Qt::Key_Return, Qt::ShiftModifier, true},
            {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, false},
            {"Alt+Return", Qt::Key_Return, Qt::AltModifier, false},
            {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, true},
            {"Enter without keypad flag", Qt::Key_Enter, Qt::NoModifier, true},
            {"Shift+keypad Enter", Qt::Key_Enter, Qt::KeypadModifier | Qt::ShiftModifier, true},
            {"Ctrl+keypad Enter", Qt::Key_Enter, Qt::KeypadModifier | Qt::ControlModifier, false},
            {"Alt+keypad Enter", Qt::Key_Enter, Qt::KeypadModifier | Qt::AltModifier, false},
            {"Ctrl+M", Qt::Key_M, Qt::ControlModifier, true},
            {"Ctrl+Shift+M", Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier, true},
        };
        for (const char *which : {"rate", "step", "stop"})
            for (const auto &[name, key, modifiers, typesReturn] : keys)
                QTest::addRow("%s, %s", which, name) << which << int(key) << int(modifiers)
                                                     << (typesReturn && QLatin1String(which) == QLatin1String("stop"));
    }
    void enterInARampBox()
    {
        QFETCH(QString, which);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, starts);
        controls::TextBox *target = box(which);

        QVERIFY(test::retype(&h->form->controls().txtStopFreq, QStringLiteral("-123.5")));
        QVERIFY(test::retype(&h->form->controls().txtRampRate, QStringLiteral("300")));
        QVERIFY(test::moveFocusTo(target));
        h->clear();
        const QString texts = h->boxTexts();

        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(h->boxTexts(), texts);
        QVERIFY(target->hasFocus());
        QCOMPARE(h->store.writes, Writes());
        if (!starts) {
            QCOMPARE(h->channel.attempts, 0);
            return;
        }
        QCOMPARE(h->channel.sent.size(), 2);
        QCOMPARE(hex(h->channel.sent.at(1)), QStringLiteral("70 00"));

        // The same two datagrams as a click on Start.
        QTest::mouseClick(&h->form->controls().cmdRampStart, Qt::LeftButton);
        QCOMPARE(h->channel.sent.size(), 4);
        QCOMPARE(hexList(h->channel.sent.mid(0, 2)), hexList(h->channel.sent.mid(2, 2)));
        const auto decoded = link::decode(h->channel.sent.at(0)).command;
        QVERIFY(decoded);
        QCOMPARE(decoded->kind, link::CommandKind::RampStart);
        QCOMPARE(decoded->rate, std::uint16_t(300));
        QCOMPARE(decoded->stopFtw, std::uint32_t(530428461)); // 123.5 MHz at a 1000 MHz clock
    }

    void rampStopSendsOneByte()
    {
        QTest::mouseClick(&h->form->controls().cmdRampStop, Qt::LeftButton);
        QCOMPARE(h->channel.sent, QList<QByteArray>{bytes("AB")});
        QTest::mouseClick(&h->form->controls().cmdRampStop, Qt::LeftButton);
        QCOMPARE(h->channel.sent, (QList<QByteArray>{bytes("AB"), bytes("AB")}));
        QCOMPARE(h->channel.attempts, 2);
        QCOMPARE(h->store.writes, Writes());
    }

    // A channel that refuses the ramp-start datagram: nothing goes, and the
    // polarity command is not even attempted after it.
    void refusedRampStartSendsNoPolarity()
    {
        h->channel.failSends = true;
        QTest::mouseClick(&h->form->controls().cmdRampStart, Qt::LeftButton);
        QCOMPARE(h->channel.attempts, 1);
        QVERIFY(h->channel.sent.isEmpty());

        QVERIFY(test::moveFocusTo(&h->form->controls().txtStopFreq));
        QTest::keyClick(&h->form->controls().txtStopFreq, Qt::Key_Return);
        QCOMPARE(h->channel.attempts, 2);
        QVERIFY(h->channel.sent.isEmpty());

        h->channel.failSends = false;
        QTest::mouseClick(&h->form->controls().cmdRampStart, Qt::LeftButton);
        QCOMPARE(h->sentHex(), QString::fromLatin1(kInitialRampStart) + QStringLiteral(" | 70 00"));
    }
};

QTEST_MAIN(TestRamp)
#include "test_ramp.moc"
