// Start-up and shut-down of the real window, with a recording channel and a
// store in memory: the order of the steps, what is sent, read and stored.

#include "gui/window/window_position.h"
#include "support/panel_harness.h"

#include <QScreen>

using namespace veloxa;
using test::PanelHarness;

namespace {

// A store that lets the test look at the panel at the moment of each write.
class WatchedStore final : public settings::SettingsStore {
public:
    settings::ReadResult read(const QString &name) const override { return inner.read(name); }
    bool write(const QString &name, const QString &text) override
    {
        if (onWrite)
            onWrite(name);
        return inner.write(name, text);
    }
    settings::MemoryStore inner;
    std::function<void(const QString &)> onWrite;
};

using WatchedPanel = test::Panel<link::RecordingChannel, WatchedStore>;

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithEmptyStore()
    {
        WatchedPanel panel;
        QStringList events;
        panel.store.onWrite = [&](const QString &name) {
            events << QStringLiteral("write %1 (destination %2, timer %3)")
                          .arg(name)
                          .arg(panel.channel.hasDestination ? "set" : "unset")
                          .arg(panel.form->controls().tmrHB.isActive() ? "on" : "off");
        };
        panel.lifecycle->startUp();

        QVERIFY(panel.form->isVisible());
        QCOMPARE(panel.form->controls().lblRev.text(), QStringLiteral("Rev:2.1.2"));
        QCOMPARE(test::hexList(panel.channel.sent), QStringLiteral("63 50 | 67 E0"));
        QCOMPARE(panel.channel.attempts, 2); // nothing tried before the destination
        QCOMPARE(panel.channel.destinationHost, QStringLiteral("192.168.1.133"));
        QCOMPARE(panel.channel.destinationPort, 37829);
        QCOMPARE(panel.channel.destinationCalls, 1);
        QCOMPARE(events,
                 QStringList({"write Display Contrast (destination set, timer off)",
                              "write Gain (CP current) (destination set, timer off)"}));
        QVERIFY(panel.form->controls().tmrHB.isActive());
        QCOMPARE(panel.store.inner.values.value(settings::names::DisplayContrast), QStringLiteral("80"));
        QCOMPARE(panel.store.inner.values.value(settings::names::Gain), QStringLiteral("7"));
        QCOMPARE(panel.form->controls().sldContrast.toolTip(), QStringLiteral("80%"));
        QCOMPARE(panel.form->controls().sldGain.toolTip(), QStringLiteral("7"));
        // The eleven reads, in order: position, then the nine restored values.
        QCOMPARE(panel.store.inner.reads,
                 QStringList({"Left", "Top", "Display Contrast", "Gain (CP current)", "Polarity", "Frequency",
                              "System Clock", "IP Address", "Ramp Rate", "Ramp Step", "Ramp Stop Freq"}));
        // Initial states are untouched.
        QCOMPARE(panel.form->controls().txtFreq.text(), QStringLiteral("12.34"));
        QCOMPARE(panel.form->controls().lblLaserFreq.text(), QStringLiteral("(Laser Freq)"));
        QCOMPARE(window::backgroundOf(panel.form->controls().txtIP), window::kLinkLostTint);
    }

    void portIsReadFromItsBox_data()
    {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<int>("port");
        QTest::newRow("as shown") << "37829" << 37829;
        QTest::newRow("half to even, down") << "37828.5" << 37828;
        QTest::newRow("half to even, up") << "37829.5" << 37830;
        QTest::newRow("leading number") << "37829x" << 37829;
    }
    void portIsReadFromItsBox()
    {
        QFETCH(QString, portText);
        QFETCH(int, port);
        WatchedPanel panel;
        panel.form->controls().txtPort.assign(portText);
        panel.lifecycle->startUp();
        QCOMPARE(panel.channel.destinationPort, port);
    }

    void positionChecks_data()
    {
        // The offscreen screen: its size and twips per pixel come from the
        // platform, so the bounds are computed, not assumed.
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("top");
        QTest::addColumn<bool>("leftTaken");
        QTest::addColumn<bool>("topTaken");
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const double tpp = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInchX();
        const auto twips = [tpp](double pixels) { return QString::number(pixels * tpp, 'f', 0); };
        const double leftBound = 2.0 * screen.width() - window::FormMain::kClientWidth;
        const double topBound = double(screen.height()) - window::FormMain::kClientHeight;

        QTest::newRow("zero") << "0" << "0" << false << false;
        QTest::newRow("negative") << "-15" << "-15" << false << false;
        QTest::newRow("one twip") << "1" << "1" << true << true;
        QTest::newRow("at the bounds") << twips(leftBound) << twips(topBound) << false << false;
        QTest::newRow("just inside") << twips(leftBound - 1) << twips(topBound - 1) << true << true;
        QTest::newRow("not numbers") << "abc" << "" << false << false;
        QTest::newRow("leading numbers") << "150px" << "300 twips" << true << true;
    }
    void positionChecks()
    {
        QFETCH(QString, left);
        QFETCH(QString, top);
        QFETCH(bool, leftTaken);
        QFETCH(bool, topTaken);
        settings::MemoryStore store;
        store.values.insert(settings::names::Left, left);
        store.values.insert(settings::names::Top, top);
        const window::ScreenFacts screens = window::currentScreens();
        const window::StoredPosition accepted = window::acceptedPosition(
            store, screens, QSize(window::FormMain::kClientWidth, window::FormMain::kClientHeight));
        QCOMPARE(accepted.left.has_value(), leftTaken);
        QCOMPARE(accepted.top.has_value(), topTaken);
        QCOMPARE(store.reads, QStringList({"Left", "Top"}));
    }

    void storedPositionMovesTheWindow()
    {
        WatchedPanel panel;
        const double tpp = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInchX();
        panel.store.inner.values.insert(settings::names::Left, QString::number(100 * tpp));
        panel.store.inner.values.insert(settings::names::Top, QString::number(50 * tpp));
        panel.lifecycle->startUp();
        QCOMPARE(panel.form->frameGeometry().topLeft(), QPoint(100, 50));
    }

    void positionOffEveryScreenKeepsOnlyTheEdgeThatFits()
    {
        // "Left" passes its check (less than twice the primary width) but
        // would put the title bar where no screen is now; "Top" still counts.
        WatchedPanel panel;
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const double tpp = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInchX();
        panel.store.inner.values.insert(settings::names::Left, QString::number((screen.width() + 50) * tpp));
        panel.store.inner.values.insert(settings::names::Top, QString::number(10 * tpp));
        panel.form->show();
        const QPoint placed = panel.form->frameGeometry().topLeft();
        panel.lifecycle->startUp();
        QCOMPARE(panel.form->frameGeometry().topLeft(), QPoint(placed.x(), 10));
    }

    void restoredTopLeft_data()
    {
        QTest::addColumn<std::optional<int>>("left");
        QTest::addColumn<std::optional<int>>("top");
        QTest::addColumn<QPoint>("corner");
        const auto row = [](const char *name, std::optional<int> left, std::optional<int> top, QPoint corner) {
            QTest::newRow(name) << left << top << corner;
        };
        // The system placed the window at (50, 60); two screens side by side.
        row("both fit", 100, 200, {100, 200});
        row("left only", 100, {}, {100, 60});
        row("top only", {}, 200, {50, 200});
        row("on the second screen", 1000, 100, {1000, 100});
        row("left past the second screen, top kept", 1500, 200, {50, 200});
        row("top below the screens, left kept", 300, 700, {300, 60});
        row("top below the second screen only", 1000, 500, {1000, 60});
        row("neither fits", 1600, -40, {50, 60});
    }

    void restoredTopLeft()
    {
        QFETCH(std::optional<int>, left);
        QFETCH(std::optional<int>, top);
        QFETCH(QPoint, corner);
        const QList<QRect> screens = {QRect(0, 0, 800, 600), QRect(880, 0, 640, 480)};
        QCOMPARE(window::restoredTopLeft(QRect(50, 60, 311, 380), {left, top}, screens), corner);
    }

    void titleBarReachable_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<bool>("reachable");
        QTest::newRow("on the screen") << QRect(100, 100, 311, 380) << true;
        QTest::newRow("a sliver on the first screen") << QRect(780, 500, 311, 380) << false;
        QTest::newRow("grip left on the right edge") << QRect(750, 100, 311, 380) << true;
        QTest::newRow("on the second screen") << QRect(900, 100, 311, 380) << true;
        QTest::newRow("below every screen") << QRect(100, 700, 311, 380) << false;
        QTest::newRow("above the screen") << QRect(100, -30, 311, 380) << false;
    }
    void titleBarReachable()
    {
        QFETCH(QRect, frame);
        QFETCH(bool, reachable);
        const QList<QRect> screens = {QRect(0, 0, 800, 600), QRect(880, 0, 640, 480)};
        QCOMPARE(window::titleBarReachable(frame, screens), reachable);
    }

    void shutDownStoresSixValuesAfterClosingTheChannel()
    {
        WatchedPanel panel;
        panel.lifecycle->startUp();
        panel.form->move(30, 40);
        panel.form->controls().txtIP.assign(QStringLiteral("10.1.2.3"));
        panel.form->controls().txtFreq.assign(QStringLiteral("-7.5"));
        panel.form->controls().txtSysClk.assign(QStringLiteral("250"));
        panel.form->controls().optDdsPolarity.select(1);

        QStringList events;
        panel.store.onWrite = [&](const QString &name) {
            events << name + (panel.channel.closed ? QString() : QStringLiteral(" (channel open!)"));
        };
        panel.store.inner.writes.clear();
        panel.form->close();

        QCOMPARE(events, QStringList({"Left", "Top", "IP Address", "Frequency", "System Clock", "Polarity"}));
        const double tpp = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInchX();
        const auto &writes = panel.store.inner.writes;
        QCOMPARE(writes.at(0).second, QString::number(qRound(panel.form->frameGeometry().left() * tpp)));
        QCOMPARE(writes.at(1).second, QString::number(qRound(panel.form->frameGeometry().top() * tpp)));
        QCOMPARE(writes.at(2).second, QStringLiteral("10.1.2.3"));
        QCOMPARE(writes.at(3).second, QStringLiteral("-7.5"));
        QCOMPARE(writes.at(4).second, QStringLiteral("250"));
        QCOMPARE(writes.at(5).second, QStringLiteral("False"));
        QCOMPARE(panel.programEnded, 1);
        QVERIFY(!panel.form->controls().tmrHB.isActive());
    }

    // The control endpoint closes first, before the channel and the store.
    void firstAtShutDownRunsBeforeAnythingElse()
    {
        WatchedPanel panel;
        panel.lifecycle->startUp();
        QStringList events;
        panel.lifecycle->setFirstAtShutDown([&] {
            events << (panel.channel.closed ? QStringLiteral("first, channel closed")
                                            : QStringLiteral("first, channel open"));
        });
        panel.store.onWrite = [&](const QString &name) { events << name; };
        panel.form->close();
        panel.lifecycle->shutDown();
        QCOMPARE(events.value(0), QStringLiteral("first, channel open"));
        QCOMPARE(events.size(), 1 + 6);
    }

    void shutDownRunsOnceAndThenNothingIsHandled()
    {
        WatchedPanel panel;
        panel.lifecycle->startUp();
        panel.lifecycle->shutDown();
        panel.lifecycle->shutDown();
        panel.form->close();
        QCOMPARE(panel.programEnded, 1);
        QCOMPARE(panel.store.inner.writes.size(), 2 + 6);

        panel.channel.sent.clear();
        panel.channel.attempts = 0;
        panel.form->controls().txtFreq.assign(QStringLiteral("20"));
        panel.form->controls().sldGain.assign(1);
        panel.channel.simulateArrival();
        QCOMPARE(panel.channel.attempts, 0);
        QCOMPARE(panel.store.inner.writes.size(), 2 + 6);
    }

    void shutDownWithFailingStoreStillEnds()
    {
        WatchedPanel panel;
        panel.lifecycle->startUp();
        panel.store.inner.failWrites = true;
        panel.form->close();
        QCOMPARE(panel.programEnded, 1);
        QVERIFY(panel.channel.closed);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
