// Polarity, DDS power, gain and contrast: the command each sends, what is
// stored, and the sliders' hints.

#include "support/panel_harness.h"

using namespace veloxa;

class TestLockControls : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::PanelHarness> harness;

private slots:
    void init()
    {
        harness = std::make_unique<test::PanelHarness>();
        harness->startAndClear();
    }
    void cleanup() { harness.reset(); }

    void optionClicks_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("sent");
        QTest::newRow("polarity --") << "optDdsPolarity_1" << "70 01";
        QTest::newRow("polarity + (already selected)") << "optDdsPolarity_0" << "70 00";
        QTest::newRow("power off") << "optDdsPower_1" << "A0 00";
        QTest::newRow("power on (already selected)") << "optDdsPower_0" << "A0 01";
    }
    void optionClicks()
    {
        QFETCH(QString, option);
        QFETCH(QString, sent);
        test::PanelHarness::click(harness->form->findChild<QRadioButton *>(option));
        QCOMPARE(harness->sentHex(), sent);
        QVERIFY(harness->store.writes.isEmpty());
        // A second click on the now selected option sends again.
        test::PanelHarness::click(harness->form->findChild<QRadioButton *>(option));
        QCOMPARE(harness->sentHex(), sent + QLatin1String(" | ") + sent);
    }

    void arrowKeysSendLikeClicks()
    {
        QRadioButton *on = harness->form->controls().optDdsPower.option(0);
        on->setFocus();
        QTest::keyClick(on, Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(harness->sentHex(), QStringLiteral("A0 00 | A0 01"));
    }

    void selectingFromCodeSendsNothing()
    {
        harness->form->controls().optDdsPolarity.select(1);
        harness->form->controls().optDdsPower.select(1);
        QCOMPARE(harness->channel.attempts, 0);
        QVERIFY(harness->form->controls().optDdsPolarity.isSelected(1));
    }

    // One row a slider: the bytes of every value are test_datagrams' table.
    void sliders_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("hint");
        QTest::newRow("gain 5") << "sldGain" << 5 << "67 A0" << "Gain (CP current)" << "5";
        QTest::newRow("contrast 50") << "sldContrast" << 50 << "63 32" << "Display Contrast" << "50%";
    }
    void sliders()
    {
        QFETCH(QString, slider);
        QFETCH(int, value);
        QFETCH(QString, sent);
        QFETCH(QString, setting);
        QFETCH(QString, hint);
        auto *track = harness->form->findChild<controls::Slider *>(slider);
        QVERIFY(track->assign(value));
        QCOMPARE(harness->sentHex(), sent);
        QCOMPARE(harness->store.writes.size(), 1);
        QCOMPARE(harness->store.writes.at(0).first, setting);
        QCOMPARE(harness->store.writes.at(0).second, QString::number(value)); // the value, not the byte
        QCOMPARE(track->toolTip(), hint);
    }

    void sliderMovedByKeySendsEachStep()
    {
        controls::Slider *contrast = &harness->form->controls().sldContrast;
        contrast->setFocus();
        QTest::keyClick(contrast, Qt::Key_PageUp);
        QTest::keyClick(contrast, Qt::Key_Left);
        QCOMPARE(harness->sentHex(), QStringLiteral("63 55 | 63 54"));
        QCOMPARE(harness->store.values.value(settings::names::DisplayContrast), QStringLiteral("84"));
    }

    void failedSendKeepsHintButStores_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::newRow("gain") << "sldGain";
        QTest::newRow("contrast") << "sldContrast";
    }
    void failedSendKeepsHintButStores()
    {
        QFETCH(QString, slider);
        auto *track = harness->form->findChild<controls::Slider *>(slider);
        const QString hintBefore = track->toolTip();
        QVERIFY(!hintBefore.isEmpty()); // start-up set it
        harness->channel.failSends = true;
        QVERIFY(track->assign(3));
        QCOMPARE(track->toolTip(), hintBefore);
        QCOMPARE(harness->store.writes.size(), 1);
        QCOMPARE(harness->store.writes.at(0).second, QStringLiteral("3"));
    }

    void failedStoreStillSends()
    {
        harness->store.failWrites = true;
        QVERIFY(harness->form->controls().sldGain.assign(2));
        QCOMPARE(harness->sentHex(), QStringLiteral("67 40"));
        QCOMPARE(harness->form->controls().sldGain.toolTip(), QStringLiteral("2"));
    }

    void polarityRepeatFollowsSelection()
    {
        dds::LockControls &lock = harness->form->lockControls();
        QVERIFY(lock.polarityRepeat());
        harness->form->controls().optDdsPolarity.select(1);
        QVERIFY(lock.polarityRepeat());
        QCOMPARE(harness->sentHex(), QStringLiteral("70 00 | 70 01"));
    }
};

QTEST_MAIN(TestLockControls)
#include "test_lock.moc"
