// The built panel as a screen reader meets it on the AT-SPI bus: on a
// virtual X display, with a private session bus and the accessibility bus
// and registry started here, read through pyatspi (tests/atspi/panel_tree.py).
// The panel talks to a socket playing the unit on 127.0.0.121.

#include "support/panel_process.h"
#include "support/unit_socket.h"
#include "support/x_display.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

using namespace veloxa;

namespace {

constexpr int kStartMs = 20000;

struct Node {
    QString role;
    QString name;
    QString description;
};

QJsonObject parsed(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class TestAtspi : public QObject {
    Q_OBJECT

private:
    test::VirtualDisplay m_display;
    QProcess m_bus;
    QProcess m_atspi;
    QProcess m_panel;
    test::PanelEnvironment m_environment;
    test::FakeUnit m_unit;
    bool m_answering = false;
    QProcessEnvironment m_session;

    // A line the program prints first: its display number, its bus address.
    static QString firstLine(QProcess &process)
    {
        if (!QTest::qWaitFor([&] { return process.canReadLine(); }, kStartMs))
            return {};
        return QString::fromUtf8(process.readLine()).trimmed();
    }

    void startHelper(QProcess &helper, const QStringList &arguments)
    {
        helper.setProcessEnvironment(m_session);
        helper.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(VELOXA_ATSPI_HELPER)} + arguments);
    }

    QList<Node> tree()
    {
        QProcess helper;
        startHelper(helper, {QStringLiteral("tree")});
        QList<Node> nodes;
        if (!QTest::qWaitFor([&] { return helper.state() == QProcess::NotRunning; }, kStartMs))
            return nodes;
        for (const QByteArray &line : helper.readAllStandardOutput().split('\n')) {
            const QJsonObject node = parsed(line);
            if (node.contains(QStringLiteral("role")))
                nodes.append({node.value(QStringLiteral("role")).toString(),
                              node.value(QStringLiteral("name")).toString(),
                              node.value(QStringLiteral("description")).toString()});
        }
        return nodes;
    }

    // The description of the text box of that name.
    QString descriptionOf(const QString &name)
    {
        for (const Node &node : tree())
            if (node.name == name && node.role == QLatin1String("text"))
                return node.description;
        return QStringLiteral("<no %1>").arg(name);
    }

private slots:
    void initTestCase()
    {
        if (!test::isolatedNetwork())
            QSKIP("needs a network namespace with the loopback as its only interface");
        if (!test::VirtualDisplay::available()
            || QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("Xvfb and dbus-daemon are needed");
        if (!QFileInfo(QStringLiteral("/usr/libexec/at-spi-bus-launcher")).isExecutable())
            QSKIP("at-spi2-core is not installed");
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                              {QStringLiteral("-c"), QStringLiteral("import pyatspi")})
            != 0)
            QSKIP("python3-pyatspi is not installed");

        QVERIFY2(m_display.start(kStartMs), "Xvfb told no display");
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        const QString address = firstLine(m_bus);
        QVERIFY2(address.startsWith(QLatin1String("unix:")), qPrintable(address));

        m_session = m_display.environment(m_environment.processEnvironment());
        m_session.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        m_session.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        m_atspi.setProcessEnvironment(m_session);
        m_atspi.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {QStringLiteral("--launch-immediately")});
        QVERIFY(m_atspi.waitForStarted());

        // The unit, heard only while the test says so.
        QVERIFY(m_unit.bind(QHostAddress(QStringLiteral("127.0.0.121")))); // no other test binds it
        connect(&m_unit.socket, &QUdpSocket::readyRead, this, [this] {
            if (m_answering)
                m_unit.answer();
        });
        m_environment.seed({{QStringLiteral("IP Address"), QStringLiteral("127.0.0.121")},
                            {QStringLiteral("Frequency"), QStringLiteral("12.34")}});
        m_panel.setProcessEnvironment(m_session);
        m_panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_panel.start(QStringLiteral(VELOXA_GUI_PATH));
        QVERIFY(m_panel.waitForStarted());
        QVERIFY2(m_unit.next(kStartMs).isValid(), "the panel sent nothing");
    }

    void cleanupTestCase()
    {
        test::stopPolitely(m_panel);
        for (QProcess *process : {&m_atspi, &m_bus})
            test::stopPolitely(*process);
    }

    // Every control's name and description, and the window, as the bus has them.
    void controls_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        const auto row = [](const char *role, const char *name, const char *description) {
            QTest::newRow(name) << QString::fromLatin1(role) << QString::fromLatin1(name)
                                << QString::fromLatin1(description);
        };
        const char *polarity = "Is tuned laser freq greater than or less than reference laser?";
        row("frame", "Veloxa2 GUI", "");
        row("text", "IP Address", "no answer from the unit");
        row("text", "Port", "");
        row("push button", "Heartbeat", "on");
        row("push button", "DDS Reg 0xB0", "If debugging, show all DDS registers");
        row("text", "DDS Frequency", "Offset frequency 394.88MHz");
        row("push button", "Update 0xA5", "Set frequency.");
        row("text", "Rate", "Number of 4 clock cycles per step");
        row("text", "Step Size (0 - 2^32)", "Step size in FTW units");
        row("text", "Stop f (MHz)", "Stop frequency (MHz)");
        row("push button", "Start 0xAC", "");
        row("push button", "Stop 0xAB", "");
        row("radio button", "plus: tuned laser above the reference", polarity);
        row("radio button", "minus: tuned laser below the reference", polarity);
        row("text", "System Clock", "System clock frequency, after PLL and divider (MHz)");
        row("push button", "Clear Sequence 0xC0", "Clear the command sequence");
        row("push button", "Add Frequency 0xC1 A5...", "Add the indicated frequency to the command sequence");
        row("push button", "Add Ramp 0xC1 AC...", "Add the indicated ramp to the command sequence");
        row("push button", "Add Wait For ADWin 0xC1 A4",
            "Add (to the command sequence) the command to wait for a trigger from the ADWin before executing next "
            "command in command sequence");
        row("push button", "Execute Sequence 0xC4", "");
        row("push button", "Restart Sequence 0xC5", "");
        row("slider", "Gain (Icp) 'g'", "7"); // the sliders' hints: their value
        row("radio button", "On", "");
        row("radio button", "Off", "");
        row("slider", "Contrast 'c'", "80%");
    }
    void controls()
    {
        QFETCH(QString, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QStringList seen;
        for (const Node &node : tree()) {
            if (node.name == name && node.role == role) {
                QCOMPARE(node.description, description);
                return;
            }
            seen << node.role + QStringLiteral(" \"") + node.name + QLatin1Char('"');
        }
        QFAIL(qPrintable(QStringLiteral("no %1 \"%2\" among: %3").arg(role, name, seen.join(QLatin1String(", ")))));
    }

    // The IP box's description follows the unit, each change announced once.
    void ipBoxFollowsTheUnit()
    {
        QProcess watcher;
        startHelper(watcher, {QStringLiteral("watch"), QStringLiteral("30")});
        QVERIFY(QTest::qWaitFor([&] { return watcher.canReadLine(); }, kStartMs));
        QCOMPARE(parsed(watcher.readLine()).value(QStringLiteral("watching")).toBool(), true);
        QList<QJsonObject> events;
        const auto announced = [&](const char *description) {
            return QTest::qWaitFor(
                [&] {
                    while (watcher.canReadLine())
                        events.append(parsed(watcher.readLine()));
                    for (const QJsonObject &event : events)
                        if (event.value(QStringLiteral("name")).toString() == QLatin1String("IP Address")
                            && event.value(QStringLiteral("description")).toString() == QLatin1String(description))
                            return true;
                    return false;
                },
                kStartMs);
        };

        QCOMPARE(descriptionOf(QStringLiteral("IP Address")), QStringLiteral("no answer from the unit"));
        m_answering = true; // the next heartbeat is answered
        QVERIFY(announced("unit heard"));
        QCOMPARE(descriptionOf(QStringLiteral("IP Address")), QStringLiteral("unit heard"));
        // Three more heartbeats, each answered: nothing more to announce.
        const auto heartbeats = [this] { return m_unit.payloads().count(QByteArray("\x7f")); };
        const qsizetype before = heartbeats();
        QVERIFY(QTest::qWaitFor([&] { return heartbeats() >= before + 3; }, kStartMs));
        m_answering = false;
        QVERIFY(announced("no answer from the unit"));
        QCOMPARE(descriptionOf(QStringLiteral("IP Address")), QStringLiteral("no answer from the unit"));
        int ipEvents = 0;
        for (const QJsonObject &event : events)
            ipEvents += event.value(QStringLiteral("name")).toString() == QLatin1String("IP Address");
        QCOMPARE(ipEvents, 2); // heard, then silent: once each
        watcher.kill();
        watcher.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestAtspi)
#include "test_atspi.moc"
