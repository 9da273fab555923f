// Keys with modifiers as a real X server delivers them (xdotool through
// XTEST), typed into the built panel on a virtual display: in the stop box
// every key that types character 13 starts the ramp, and no other Enter does;
// the window's title names the unit of a panel started with --unit.
// The panel talks to a socket playing the unit on 127.0.0.122.

#include "support/bytes.h"
#include "support/panel_process.h"
#include "support/x_display.h"

#include <QPoint>

using namespace veloxa;

namespace {

constexpr int kWaitMs = 20000;
// The initial ramp and the polarity repeat with "+" selected.
const char kRampStart[] = "AC 00 00 01 00 00 00 00 01 00 00 00 3D 0A D7 03 | 70 00";
// The centres of the stop box and of the Stop button in the window: the ramp
// frame's place plus their own (design pixels).
const QPoint kStopBox(132 + 92 + 38, 52 + 74 + 11);
const QPoint kStopButton(132 + 90 + 40, 52 + 100 + 12);

} // namespace

class TestXKeys : public QObject {
    Q_OBJECT

private:
    test::VirtualDisplay m_display;
    test::PanelEnvironment m_environment;
    test::FakeUnit m_unit;
    QProcess m_panel;
    QString m_window;

    bool xdotool(const QStringList &arguments, QString *output = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(m_display.environment(QProcessEnvironment::systemEnvironment()));
        process.start(QStringLiteral("xdotool"), arguments);
        if (!process.waitForFinished(kWaitMs) || process.exitCode() != 0)
            return false;
        if (output)
            *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        return true;
    }

    bool clickAt(QPoint where)
    {
        return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), m_window, QString::number(where.x()),
                        QString::number(where.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

    // What reached the unit since `from`, the heartbeats left out.
    QString commandsSince(qsizetype from) const
    {
        QList<QByteArray> commands;
        for (const QByteArray &payload : m_unit.payloads().mid(from))
            if (payload != QByteArray("\x7f"))
                commands.append(payload);
        return test::hexList(commands);
    }

private slots:
    void initTestCase()
    {
        if (!test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        if (!test::VirtualDisplay::available() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("Xvfb and xdotool are needed");
        QVERIFY2(m_display.start(kWaitMs), "Xvfb told no display");
        QVERIFY(m_unit.bind(QHostAddress(QStringLiteral("127.0.0.122"))));
        m_environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.122")}});
        m_panel.setProcessEnvironment(m_display.environment(m_environment.processEnvironment()));
        m_panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_panel.start(QStringLiteral(VELOXA_GUI_PATH));
        // Start-up is over once its contrast and gain are in.
        QTRY_VERIFY_WITH_TIMEOUT(m_unit.received.size() >= 2, kWaitMs);

        QVERIFY(xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--name"), QStringLiteral("^Veloxa2 GUI$")},
                        &m_window));
        m_window = m_window.section(QLatin1Char('\n'), 0, 0);
        // No window manager runs: the test gives the window the X focus.
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window}));
    }

    void cleanupTestCase() { test::stopPolitely(m_panel); }

    // A click puts the focus into the stop box, the key is typed there, and a
    // click on Stop follows: its ramp-stop datagram shows that the key before
    // it has been handled.
    void keysInTheStopBox_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("starts");
        QTest::newRow("Return") << "Return" << true;
        QTest::newRow("Ctrl+M") << "ctrl+m" << true;
        QTest::newRow("Ctrl+Shift+M") << "ctrl+shift+m" << true;
        QTest::newRow("keypad Enter") << "KP_Enter" << true;
        QTest::newRow("Ctrl+Return") << "ctrl+Return" << false;
        QTest::newRow("Alt+Return") << "alt+Return" << false;
        QTest::newRow("Ctrl+Alt+M") << "ctrl+alt+m" << false;
        QTest::newRow("Ctrl+J") << "ctrl+j" << false;
    }
    void keysInTheStopBox()
    {
        QFETCH(QString, key);
        QFETCH(bool, starts);
        const QString expected = starts ? QLatin1String(kRampStart) + QStringLiteral(" | AB") : QStringLiteral("AB");
        const qsizetype from = m_unit.received.size();

        QVERIFY(clickAt(kStopBox));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key}));
        QVERIFY(clickAt(kStopButton));
        QTRY_VERIFY_WITH_TIMEOUT(commandsSince(from).endsWith(QLatin1String("AB")), kWaitMs);
        QCOMPARE(commandsSince(from), expected);
    }

    // The first panel's window was found by its plain title; one started for a
    // unit names it after a dash.
    void titleNamesTheUnit()
    {
        m_environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.122")}}, QStringLiteral("lab-3"));
        QProcess unitPanel;
        unitPanel.setProcessEnvironment(m_display.environment(m_environment.processEnvironment()));
        unitPanel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        unitPanel.start(QStringLiteral(VELOXA_GUI_PATH), {QStringLiteral("--unit"), QStringLiteral("lab-3")});
        QString found;
        QVERIFY(xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--name"), QStringLiteral("^Veloxa2 GUI - lab-3$")},
                        &found));
        QVERIFY(found != m_window);
        test::stopPolitely(unitPanel);
    }
};

QTEST_GUILESS_MAIN(TestXKeys)
#include "test_x_keys.moc"
