// The window as a user meets it on a first start: every control, its text,
// hint, limits and initial state, the tab order, and the control semantics
// the handlers rely on.

#include "support/panel_harness.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>

using namespace veloxa;

class TestWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::PanelHarness> harness;

    // The name of the widget that has the focus after `key` there.
    static QString focusAfter(Qt::Key key)
    {
        QTest::keyClick(QApplication::focusWidget(), key);
        return QApplication::focusWidget()->objectName();
    }

    static QString textOf(const QWidget *widget)
    {
        if (const auto *box = qobject_cast<const QLineEdit *>(widget))
            return box->text();
        if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            return button->text();
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            return label->text();
        return {};
    }

private slots:
    void init() { harness = std::make_unique<test::PanelHarness>(); }
    void cleanup() { harness.reset(); }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("limit"); // characters, text boxes only; 0: none
        const QString none;
        const QString polarityHint = QStringLiteral("Is tuned laser freq > or < than reference laser?");
        auto row = [](const char *name, const char *kind, const QString &container, const QString &text,
                      const QString &hint, bool enabled = true, int limit = 0) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << container << text << hint
                                << enabled << limit;
        };
        row("txtIP", "TextBox", "IP Address", "192.168.1.133", "The unit's IP address");
        row("txtPort", "TextBox", "Port", "37829", none, false);
        row("cmdHb", "CommandButton", "window", "HB is on", "Stop the heartbeat, for testing.");
        row("cmdDdsReg", "CommandButton", "window", "DDS Reg 0xB0", "If debugging, show all DDS registers");
        row("txtFreq", "TextBox", "DDS Frequency", "12.34", "DDS frequency in MHz");
        row("lblLaserFreq", "QLabel", "DDS Frequency", "(Laser Freq)", "Offset frequency");
        row("cmdUpdateFreq", "CommandButton", "DDS Frequency", "Update 0xA5", "Set frequency.");
        row("txtRampRate", "TextBox", "Ramp", "1", "Number of 4 clock cycles per step", true, 5);
        row("txtRampStep", "TextBox", "Ramp", "1", "Step size in FTW units", true, 10);
        row("txtStopFreq", "TextBox", "Ramp", "15", "Stop frequency (MHz)");
        row("cmdRampStart", "CommandButton", "Ramp", "Start 0xAC", none);
        row("cmdRampStop", "CommandButton", "Ramp", "Stop 0xAB", none);
        row("optDdsPolarity_0", "QRadioButton", "Polarity 'p'", "+", polarityHint);
        row("optDdsPolarity_1", "QRadioButton", "Polarity 'p'", "--", polarityHint);
        row("txtSysClk", "TextBox", "System Clock", "1000", "System clock frequency, after PLL and divider (MHz)");
        row("cmdSeqClear", "CommandButton", "Command Sequence", "Clear Sequence 0xC0", "Clear the command sequence");
        row("cmdSeqFreq", "CommandButton", "Command Sequence", "Add Frequency 0xC1 A5...",
            "Add the indicated frequency to the command sequence");
        row("cmdSeqRamp", "CommandButton", "Command Sequence", "Add Ramp 0xC1 AC...",
            "Add the indicated ramp to the command sequence");
        row("cmdSeqAdwin", "CommandButton", "Command Sequence", "Add Wait For ADWin 0xC1 A4",
            "Add (to the command sequence) the command to wait for a trigger from the ADWin before executing next "
            "command in command sequence");
        row("cmdSeqExecute", "CommandButton", "Command Sequence", "Execute Sequence 0xC4", none);
        row("cmdSeqRestart", "CommandButton", "Command Sequence", "Restart Sequence 0xC5", none);
        row("sldGain", "Slider", "Gain (Icp) 'g'", none, none);
        row("optDdsPower_0", "QRadioButton", "DDS Power 0xA0...", "On", none);
        row("optDdsPower_1", "QRadioButton", "DDS Power 0xA0...", "Off", none);
        row("sldContrast", "Slider", "Contrast 'c'", none, none);
        row("lblRev", "QLabel", "window", "Revision:", none);
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        QFETCH(bool, enabled);
        QFETCH(int, limit);
        QWidget *widget = harness->form->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QVERIFY2(QString::fromLatin1(widget->metaObject()->className()).endsWith(kind),
                 widget->metaObject()->className());
        const auto *frame = qobject_cast<const QGroupBox *>(widget->parentWidget());
        QCOMPARE(frame ? frame->title() : QStringLiteral("window"), container);
        QCOMPARE(textOf(widget), text);
        QCOMPARE(widget->toolTip(), hint);
        QCOMPARE(widget->isEnabled(), enabled);
        if (auto *box = qobject_cast<controls::TextBox *>(widget))
            QCOMPARE(box->characterLimit(), limit);
    }

    void titleIconAndFixedSize()
    {
        const window::FormMain &form = *harness->form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Veloxa2 GUI"));
        QVERIFY(!form.windowIcon().isNull());
        QCOMPARE(form.size(), QSize(311, 380));
        QCOMPARE(form.minimumSize(), form.maximumSize());
    }

    void initialStates()
    {
        window::FormMain &form = *harness->form;
        QCOMPARE(window::backgroundOf(form.controls().txtIP), window::kLinkLostTint);
        QVERIFY(form.controls().optDdsPolarity.isSelected(0));
        QVERIFY(form.controls().optDdsPower.isSelected(0));
        QCOMPARE(form.controls().optDdsPolarity.objectName(), QStringLiteral("optDdsPolarity"));
        QCOMPARE(form.controls().optDdsPower.objectName(), QStringLiteral("optDdsPower"));

        QCOMPARE(form.controls().tmrHB.interval(), 1000);
        QVERIFY(!form.controls().tmrHB.isActive());
        QCOMPARE(form.Enet.objectName(), QStringLiteral("Enet"));
        QVERIFY(!harness->channel.hasDestination);
    }

    void sliderRanges()
    {
        window::FormMain &form = *harness->form;
        struct Range {
            QSlider *slider;
            int minimum, maximum, value, singleStep, pageStep, tick;
        };
        for (const Range &r : {Range{&form.controls().sldGain, 0, 7, 7, 1, 1, 1},
                               Range{&form.controls().sldContrast, 0, 99, 80, 1, 5, 10}}) {
            QCOMPARE(r.slider->minimum(), r.minimum);
            QCOMPARE(r.slider->maximum(), r.maximum);
            QCOMPARE(r.slider->value(), r.value);
            QCOMPARE(r.slider->singleStep(), r.singleStep);
            QCOMPARE(r.slider->pageStep(), r.pageStep);
            QCOMPARE(r.slider->tickInterval(), r.tick);
            QVERIFY(r.slider->tickPosition() != QSlider::NoTicks);
            QCOMPARE(r.slider->orientation(), Qt::Horizontal);
        }
    }

    void frameCaptionFonts()
    {
        const window::FormMain &form = *harness->form;
        // Frame captions ask for "MS Sans Serif" 8.25 pt bold; the controls
        // inside them keep the window's font.
        const auto frames = form.findChildren<QGroupBox *>();
        QCOMPARE(frames.size(), 10);
        for (QGroupBox *frame : frames) {
            QVERIFY2(frame->font().bold(), qPrintable(frame->title()));
            QCOMPARE(frame->font().family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(frame->font().pointSizeF(), 8.25);
            QVERIFY2(frame->toolTip().isEmpty() || frame->title() == QLatin1String("Polarity 'p'"),
                     qPrintable(frame->title()));
            for (QWidget *child : frame->findChildren<QWidget *>()) {
                QVERIFY2(!child->font().bold(), qPrintable(child->objectName()));
                QCOMPARE(child->font().family(), form.font().family());
                QCOMPARE(child->font().pointSizeF(), form.font().pointSizeF());
            }
        }
    }

    void tabOrderWalk()
    {
        harness->startAndClear();
        const QStringList expected = {
            "txtFreq",       "cmdUpdateFreq", "txtRampRate",     "txtRampStep", "txtStopFreq", "cmdRampStart",
            "cmdRampStop",   "cmdSeqClear",   "cmdSeqFreq",      "cmdSeqRamp",  "cmdSeqAdwin", "cmdSeqExecute",
            "cmdSeqRestart", "txtIP",         "txtSysClk",       "cmdHb",       "cmdDdsReg",   "sldContrast",
            "optDdsPower_0", "sldGain",       "optDdsPolarity_0"};
        // The focus starts in the frequency box.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(&harness->form->controls().txtFreq));

        // Tab by tab along the chain, which wraps around to the frequency box.
        QStringList walked;
        for (int i = 0; i < expected.size(); ++i)
            walked << focusAfter(Qt::Key_Tab);
        QCOMPARE(walked, expected.mid(1) << QStringLiteral("txtFreq"));

        // Backwards from the frequency box lands on the selected polarity option.
        QCOMPARE(focusAfter(Qt::Key_Backtab), QStringLiteral("optDdsPolarity_0"));
    }

    void tabIntoOptionGroupLandsOnSelectedOption()
    {
        harness->startAndClear();
        window::FormMain &form = *harness->form;
        form.controls().optDdsPower.select(1);
        form.controls().sldContrast.setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(&form.controls().sldContrast));
        QCOMPARE(focusAfter(Qt::Key_Tab), QStringLiteral("optDdsPower_1"));
        QCOMPARE(focusAfter(Qt::Key_Tab), QStringLiteral("sldGain"));
        QCOMPARE(focusAfter(Qt::Key_Backtab), QStringLiteral("optDdsPower_1"));
    }

    void arrowKeyInOptionGroupIsAClick()
    {
        harness->startAndClear();
        window::FormMain &form = *harness->form;
        QSignalSpy clicks(&form.controls().optDdsPolarity, &controls::OptionGroup::clicked);
        form.controls().optDdsPolarity.option(0)->setFocus();
        QTest::keyClick(form.controls().optDdsPolarity.option(0), Qt::Key_Right);
        QVERIFY(form.controls().optDdsPolarity.isSelected(1));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(form.controls().optDdsPolarity.option(1)));
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.at(0).at(0).toInt(), 1);
        // Now the selected option is the group's tab stop.
        QVERIFY(form.controls().optDdsPolarity.option(1)->focusPolicy() & Qt::TabFocus);
        QVERIFY(!(form.controls().optDdsPolarity.option(0)->focusPolicy() & Qt::TabFocus));
    }

    // Only the rate and step boxes have a character limit (test_ramp types past
    // theirs and assigns longer texts); the frequency box takes any length.
    void frequencyBoxHasNoCharacterLimit()
    {
        harness->startAndClear();
        controls::TextBox *frequency = &harness->form->controls().txtFreq;
        QVERIFY(test::retype(frequency, QStringLiteral("1.23456789012345")));
        QCOMPARE(frequency->text(), QStringLiteral("1.23456789012345"));
    }

    void sliderRefusesOutOfRange_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("after");
        QTest::newRow("below") << -1 << false << 80;
        QTest::newRow("above") << 100 << false << 80;
        QTest::newRow("lowest") << 0 << true << 0;
        QTest::newRow("highest") << 99 << true << 99;
    }
    void sliderRefusesOutOfRange()
    {
        QFETCH(int, value);
        QFETCH(bool, accepted);
        QFETCH(int, after);
        controls::Slider *contrast = &harness->form->controls().sldContrast;
        QSignalSpy changes(contrast, &QSlider::valueChanged);
        QCOMPARE(contrast->assign(value), accepted);
        QCOMPARE(contrast->value(), after);
        QCOMPARE(changes.size(), accepted ? 1 : 0);
    }

    void sliderKeys_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("gain right") << "sldGain" << 3 << int(Qt::Key_Right) << 4;
        QTest::newRow("gain page up") << "sldGain" << 3 << int(Qt::Key_PageUp) << 4;
        QTest::newRow("gain at top") << "sldGain" << 7 << int(Qt::Key_Right) << 7;
        QTest::newRow("gain left") << "sldGain" << 3 << int(Qt::Key_Left) << 2;
        QTest::newRow("gain page down") << "sldGain" << 3 << int(Qt::Key_PageDown) << 2;
        QTest::newRow("gain at bottom") << "sldGain" << 0 << int(Qt::Key_PageDown) << 0;
        QTest::newRow("contrast left") << "sldContrast" << 80 << int(Qt::Key_Left) << 79;
        QTest::newRow("contrast page up") << "sldContrast" << 80 << int(Qt::Key_PageUp) << 85;
        QTest::newRow("contrast page down") << "sldContrast" << 80 << int(Qt::Key_PageDown) << 75;
        QTest::newRow("contrast page to top") << "sldContrast" << 97 << int(Qt::Key_PageUp) << 99;
    }
    void sliderKeys()
    {
        QFETCH(QString, slider);
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, expected);
        harness->startAndClear();
        auto *track = harness->form->findChild<controls::Slider *>(slider);
        track->assign(start);
        track->setFocus();
        QTest::keyClick(track, Qt::Key(key));
        QCOMPARE(track->value(), expected);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
