// The link supervision follows the steady clock, not the time of day: the
// built panel runs under libfaketime, and the test moves the panel's wall
// clock a day forward or back (by rewriting libfaketime's timestamp file)
// while its steady clock runs on untouched (FAKETIME_DONT_FAKE_MONOTONIC=1),
// as when a user or a time service sets the clock.
//
// The unit is a socket that answers each heartbeat half a second after it
// came, so that every answer falls between two ticks. What the panel judged is
// seen from outside: a link judged lost shows as a re-sync (contrast, then
// gain) when the unit answers again. A silence of one heartbeat leaves the
// last answer 1.5 s old at the next tick (still heard); a silence of two makes
// it 2.5 s old (lost): the panel judges the link lost 2 to 3 s after the last
// answer, whatever the wall clock did meanwhile.

#include "support/bytes.h"
#include "support/panel_process.h"

#include <QDate>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

using namespace veloxa;
using namespace veloxa::test;

namespace {

const QByteArray kHeartbeat = bytes("7F");

// The sanitizer runtime this test runs with, if any: the panel is built with
// the same, and it must come first in LD_PRELOAD, before libfaketime.
QString sanitizerRuntime()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    // A file of /proc has no size: read it whole, not up to atEnd().
    const QList<QByteArray> lines = maps.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype path = line.indexOf('/');
        if (path >= 0 && line.contains("/libasan.so"))
            return QString::fromUtf8(line.mid(path).trimmed());
    }
    return {};
}

// The panel's wall clock: an offset from the real time in libfaketime's
// notation ("+0", "+1d", "-1d"), replaced whole so that it never reads half a file.
struct FakedWallClock {
    QTemporaryDir folder;
    QString file = folder.path() + QStringLiteral("/faketime.rc");

    bool set(const QByteArray &offset) const
    {
        QSaveFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(offset + '\n') > 0 && out.commit();
    }

    void addTo(QProcessEnvironment &environment) const
    {
        const QString asan = sanitizerRuntime();
        const QString faketime = QStringLiteral(VELOXA_LIBFAKETIME);
        environment.insert(QStringLiteral("LD_PRELOAD"), asan.isEmpty() ? faketime : asan + u':' + faketime);
        environment.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), file);
        environment.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    }
};

} // namespace

class TestClockJump : public QObject {
    Q_OBJECT

private slots:
    void linkFollowsTheSteadyClock_data()
    {
        QTest::addColumn<QByteArrayList>("jumps"); // one between each two heartbeats from the 2nd on
        QTest::addColumn<int>("unanswered"); // heartbeats left unanswered after the 2nd
        QTest::addColumn<int>("resyncs");
        QTest::newRow("answering: a day forward, then back") << QByteArrayList{"+1d", "+0"} << 0 << 0;
        QTest::newRow("answering: a day back, then forward") << QByteArrayList{"-1d", "+0"} << 0 << 0;
        QTest::newRow("silent 1.5 s across a day forward") << QByteArrayList{"+1d"} << 1 << 0;
        QTest::newRow("silent 1.5 s across a day back") << QByteArrayList{"-1d"} << 1 << 0;
        QTest::newRow("silent 2.5 s across a day forward") << QByteArrayList{"+1d"} << 2 << 1;
        QTest::newRow("silent 2.5 s across a day back") << QByteArrayList{"-1d"} << 2 << 1;
    }
    void linkFollowsTheSteadyClock()
    {
        QFETCH(QByteArrayList, jumps);
        QFETCH(int, unanswered);
        QFETCH(int, resyncs);
        QVERIFY2(QFile::exists(QStringLiteral(VELOXA_LIBFAKETIME)),
                 "libfaketime is missing: scripts/deps installs the Debian package faketime");

        const QString address = QStringLiteral("127.0.0.101"); // an address no other test binds
        PanelEnvironment environment;
        environment.seed({{"IP Address", address}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(address)));
        FakedWallClock wallClock;
        QVERIFY(wallClock.set("+0"));

        // The command log, each line headed by the panel's own date.
        QProcessEnvironment processEnvironment = environment.processEnvironment();
        wallClock.addTo(processEnvironment);
        processEnvironment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veloxa.link.debug=true"));
        processEnvironment.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                                  QStringLiteral("%{time yyyy-MM-dd} %{message}"));
        QProcess panel;
        QString log;
        connect(&panel, &QProcess::readyReadStandardError, &panel,
                [&] { log += QString::fromUtf8(panel.readAllStandardError()); });
        panel.setProcessEnvironment(processEnvironment);
        panel.start(QStringLiteral(VELOXA_GUI_PATH));

        // Heartbeats answered half a second late, but for the silence; the
        // jumps fall 0.7 s after a heartbeat, between its answer and the next tick.
        const int total = 2 + unanswered + 3;
        QList<qint64> heartbeatMs;
        for (qsizetype taken = 0; heartbeatMs.size() < total; ++taken) {
            const QNetworkDatagram datagram = unit.next(10000);
            QVERIFY2(datagram.isValid(), qPrintable(log));
            if (datagram.data() != kHeartbeat)
                continue;
            heartbeatMs << unit.arrivalMs.at(taken);
            const qsizetype n = heartbeatMs.size();
            if (n <= 2 || n > 2 + unanswered)
                QTimer::singleShot(500, &unit.socket, [&unit] { unit.answer(); });
            if (n >= 2 && n - 2 < jumps.size())
                QTimer::singleShot(700, &unit.socket, [&wallClock, jump = jumps.at(n - 2)] { wallClock.set(jump); });
        }
        QTest::qWait(700); // the answer to the last heartbeat and whatever it brings
        stopPolitely(panel);
        log += QString::fromUtf8(panel.readAllStandardError());

        // Start-up's contrast and gain, the re-sync at the first answer, and
        // one more for each time the link was judged lost.
        QList<QByteArray> commands;
        for (const QByteArray &payload : unit.payloads())
            if (payload != kHeartbeat)
                commands << payload;
        QList<QByteArray> expected;
        for (int i = 0; i < 2 + resyncs; ++i)
            expected << bytes("63 50") << bytes("67 E0");
        QCOMPARE(hexList(commands), hexList(expected));

        // The heartbeat kept its rhythm through the jumps (loose bounds: a
        // timer on the wall clock would stop for a day or fire at once).
        for (qsizetype i = 1; i < heartbeatMs.size(); ++i) {
            const qint64 gap = heartbeatMs.at(i) - heartbeatMs.at(i - 1);
            QVERIFY2(gap > 300 && gap < 2000, qPrintable(QStringLiteral("heartbeat %1 after %2 ms").arg(i).arg(gap)));
        }
        // The panel's wall clock did jump: its log shows the day it jumped to.
        for (const QByteArray &jump : std::as_const(jumps)) {
            const int days = jump == "+1d" ? 1 : jump == "-1d" ? -1 : 0;
            const QString day = QDate::currentDate().addDays(days).toString(Qt::ISODate);
            QVERIFY2(log.contains(day + QStringLiteral(" sent to ")),
                     qPrintable(day + QStringLiteral(" not in:\n") + log));
        }
    }
};

QTEST_GUILESS_MAIN(TestClockJump)
#include "test_clock_jump.moc"
