// What a screen reader announces for each control of the window: its
// accessible name and description, as the accessibility interface reports
// them. (That a change reaches the accessibility bus as an event is checked by
// test_atspi, against the built panel.)

#include "support/panel_harness.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>

using namespace veloxa;
using namespace std::chrono_literals;

namespace {

QString announced(QWidget *control, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface *interface = QAccessible::queryAccessibleInterface(control);
    return interface ? interface->text(text) : QStringLiteral("<no accessibility interface>");
}

} // namespace

class TestAccessibleNames : public QObject {
    Q_OBJECT

private slots:
    void announcedTexts_data()
    {
        QTest::addColumn<QString>("control"); // an object name, or a frame's caption
        QTest::addColumn<int>("text"); // QAccessible::Text
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *control, const QString &expected, QAccessible::Text text = QAccessible::Name) {
            QTest::addRow("%s, %s", control, text == QAccessible::Name ? "name" : "description")
                << QString::fromUtf8(control) << int(text) << expected;
        };
        // Names of boxes and sliders: the caption of their frame, or the label beside them.
        row("txtIP", "IP Address");
        row("txtPort", "Port");
        row("txtFreq", "DDS Frequency");
        row("txtSysClk", "System Clock");
        row("txtRampRate", "Rate");
        row("txtRampStep", "Step Size (0 - 2^32)");
        row("txtStopFreq", "Stop f (MHz)");
        row("sldGain", "Gain (Icp) 'g'");
        row("sldContrast", "Contrast 'c'");
        // Names of buttons and option buttons: their caption, or in words where
        // it is a symbol or a state.
        row("cmdHb", "Heartbeat");
        row("cmdDdsReg", "DDS Reg 0xB0");
        row("cmdUpdateFreq", "Update 0xA5");
        row("cmdRampStart", "Start 0xAC");
        row("cmdRampStop", "Stop 0xAB");
        row("cmdSeqClear", "Clear Sequence 0xC0");
        row("cmdSeqFreq", "Add Frequency 0xC1 A5...");
        row("cmdSeqRamp", "Add Ramp 0xC1 AC...");
        row("cmdSeqAdwin", "Add Wait For ADWin 0xC1 A4");
        row("cmdSeqExecute", "Execute Sequence 0xC4");
        row("cmdSeqRestart", "Restart Sequence 0xC5");
        row("optDdsPolarity_0", "plus: tuned laser above the reference");
        row("optDdsPolarity_1", "minus: tuned laser below the reference");
        row("optDdsPower_0", "On");
        row("optDdsPower_1", "Off");
        // Descriptions: the hint, in words where it has symbols, or a state.
        const QString polarity = QStringLiteral("Is tuned laser freq greater than or less than reference laser?");
        row("Polarity 'p'", polarity, QAccessible::Description);
        row("optDdsPolarity_0", polarity, QAccessible::Description);
        row("optDdsPolarity_1", polarity, QAccessible::Description);
        row("txtFreq", "Offset frequency Laser Freq", QAccessible::Description);
        row("txtSysClk", "System clock frequency, after PLL and divider (MHz)", QAccessible::Description);
    }
    void announcedTexts()
    {
        QFETCH(QString, control);
        QFETCH(int, text);
        QFETCH(QString, expected);
        test::PanelHarness panel;
        QWidget *widget = panel.form->findChild<QWidget *>(control);
        for (QGroupBox *frame : panel.form->findChildren<QGroupBox *>())
            if (frame->title() == control)
                widget = frame;
        QVERIFY2(widget, qPrintable(control));
        QCOMPARE(::announced(widget, QAccessible::Text(text)), expected);
    }

    // A control added later without a name is caught here.
    void everyControlHasAName()
    {
        test::PanelHarness panel;
        const auto widgets = panel.form->findChildren<QWidget *>();
        int controls = 0;
        for (QWidget *widget : widgets) {
            if (!qobject_cast<QAbstractButton *>(widget) && !qobject_cast<QLineEdit *>(widget)
                && !qobject_cast<QAbstractSlider *>(widget))
                continue;
            ++controls;
            QVERIFY2(!announced(widget).trimmed().isEmpty(), qPrintable(widget->objectName()));
        }
        QCOMPARE(controls, 24);
    }

    // A window named by its title, not a bare client area.
    void windowIsAWindow()
    {
        test::PanelHarness panel;
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(panel.form.get());
        QVERIFY(window);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Veloxa2 GUI"));
    }

    // The IP box's tint in words, in step with the tint.
    void linkState_data()
    {
        QTest::addColumn<QString>("events"); // a: a datagram arrives; t: a tick one second later
        QTest::addColumn<bool>("heard");
        QTest::newRow("before the unit answers") << "" << false;
        QTest::newRow("the unit answers") << "a" << true;
        QTest::newRow("two seconds of silence") << "att" << true;
        QTest::newRow("it falls silent") << "attt" << false;
        QTest::newRow("it is heard again") << "attta" << true;
    }
    void linkState()
    {
        QFETCH(QString, events);
        QFETCH(bool, heard);
        test::PanelHarness panel;
        panel.startAndClear();
        QWidget &ipBox = panel.form->controls().txtIP;
        for (const QChar event : events) {
            if (event == QLatin1Char('a')) {
                panel.channel.simulateArrival();
            } else {
                panel.clock.advance(1s);
                panel.form->linkSupervisor().tick();
            }
        }
        QCOMPARE(::announced(&ipBox, QAccessible::Description),
                 QLatin1String(heard ? window::kUnitHeardText : window::kNoAnswerText));
        QCOMPARE(window::backgroundOf(ipBox) == window::kWhite, heard);
    }

    // The heartbeat button keeps its name; its description follows the caption.
    // (The IP box's is linkState's.)
    void heartbeatStateIsItsDescription()
    {
        test::PanelHarness panel;
        QPushButton &button = panel.form->controls().cmdHb;
        for (const char *state : {"on", "off", "on"}) {
            QCOMPARE(button.text(), QStringLiteral("HB is ") + QLatin1String(state));
            QCOMPARE(announced(&button), QStringLiteral("Heartbeat"));
            QCOMPARE(announced(&button, QAccessible::Description), QLatin1String(state));
            button.click();
        }
    }

    // The laser offset label is heard with the frequency box, as it changes
    // (the caption's own table is test_rules').
    void laserOffsetWithTheFrequencyBox()
    {
        test::PanelHarness panel;
        panel.startWithoutHeartbeat();
        QVERIFY(test::retype(&panel.form->controls().txtFreq, QStringLiteral("40")));
        QCOMPARE(announced(&panel.form->controls().txtFreq, QAccessible::Description),
                 QStringLiteral("Offset frequency 1.28GHz"));
        QCOMPARE(panel.form->controls().lblLaserFreq.text(), QStringLiteral("(1.28GHz)"));
    }
};

QTEST_MAIN(TestAccessibleNames)
#include "test_accessible_names.moc"
