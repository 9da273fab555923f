// The single-copy lock after a crash: a lock file left by a copy that was
// killed, even one killed between creating the file and writing its owner
// into it, must not keep the panel from ever starting again; a lock that a
// running copy holds is never taken.

#include "gui/app/single_copy.h"
#include "support/panel_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>

using namespace veloxa;
using namespace veloxa::test;

namespace {

void backdate(const QString &path, int seconds)
{
    const QByteArray name = QFile::encodeName(path);
    const time_t then = ::time(nullptr) - seconds;
    const utimbuf times{then, then};
    QVERIFY(::utime(name.constData(), &times) == 0);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A pid that names no running process: that of a child that has ended.
qint64 endedPid()
{
    QProcess child;
    child.start(QStringLiteral("true"), {});
    child.waitForFinished(10000);
    return child.processId() > 0 ? child.processId() : 999999;
}

} // namespace

class SingleCopyCrashTest : public QObject {
    Q_OBJECT

private slots:
    void takeOver_data()
    {
        QTest::addColumn<QString>("left");      // what the lock file holds before
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("heldOpen");     // a process holds the file (flock)
        QTest::addColumn<bool>("taken");

        QTest::newRow("no lock file") << "none" << 0 << false << true;
        QTest::newRow("empty, left by a killed copy") << "empty" << 60 << false << true;
        QTest::newRow("empty, two seconds old") << "empty" << 2 << false << true;
        QTest::newRow("empty, being created now") << "empty" << 0 << false << false;
        QTest::newRow("empty, old, but held") << "empty" << 60 << true << false;
        QTest::newRow("names nobody, old") << "unreadable" << 60 << false << true;
        QTest::newRow("names an ended process") << "ended" << 0 << false << true;
        QTest::newRow("held by a running copy") << "running" << 60 << false << false;
    }

    void takeOver()
    {
        QFETCH(QString, left);
        QFETCH(int, ageSeconds);
        QFETCH(bool, heldOpen);
        QFETCH(bool, taken);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("veloxa2-gui-test.lock"));
        QLockFile running(path);
        if (left == QLatin1String("empty")) {
            QVERIFY(writeFile(path, {}));
        } else if (left == QLatin1String("unreadable")) {
            QVERIFY(writeFile(path, "not a lock\n"));
        } else if (left == QLatin1String("ended")) {
            QVERIFY(writeFile(path, QByteArray::number(endedPid()) + "\nveloxa2-gui\n" +
                                        QSysInfo::machineHostName().toUtf8() + '\n'));
        } else if (left == QLatin1String("running")) {
            QVERIFY(running.tryLock(0));
        }
        if (left != QLatin1String("none") && ageSeconds > 0)
            backdate(path, ageSeconds);
        int holder = -1;
        if (heldOpen) {
            holder = ::open(QFile::encodeName(path).constData(), O_RDONLY);
            QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
        }

        QLockFile lock(path);
        QCOMPARE(app::takeSingleCopyLock(lock), taken);
        QCOMPARE(lock.isLocked(), taken);
        qint64 pid = 0;
        QString hostName;
        QString appName;
        if (taken) {
            QVERIFY(lock.getLockInfo(&pid, &hostName, &appName));
            QCOMPARE(pid, QCoreApplication::applicationPid());
        } else {
            QVERIFY(QFile::exists(path)); // nobody else's lock is removed
        }
        if (holder >= 0)
            ::close(holder);
    }

    // The built panel, killed, its lock file then emptied (as a kill between
    // creating and filling it leaves it): the next start must run.
    void panelStartsAfterAnEmptiedLock()
    {
        if (!isolatedNetwork())
            QSKIP("runs the panel: needs an isolated network namespace (scripts/test sets one up)");
        const QString unitAddress = QStringLiteral("127.0.0.81");
        PanelEnvironment environment;
        environment.seed({{"IP Address", unitAddress}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(unitAddress)));

        QProcess crashed;
        environment.start(crashed, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2, 15000);
        const QStringList locks = QDir(environment.runtime.path()).entryList({QStringLiteral("*.lock")}, QDir::Files);
        QCOMPARE(locks.size(), 1);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(5000));
        const QString lockPath = environment.runtime.filePath(locks.constFirst());
        QVERIFY(writeFile(lockPath, {}));
        backdate(lockPath, 60);

        unit.received.clear();
        QProcess next;
        environment.start(next, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2 || next.state() == QProcess::NotRunning, 15000);
        QCOMPARE(next.state(), QProcess::Running);
        QCOMPARE(unit.received.constFirst().data(), QByteArray("\x63\x50"));
        stopPolitely(next);
        QCOMPARE(next.exitStatus(), QProcess::NormalExit);
        QCOMPARE(next.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(SingleCopyCrashTest)
#include "test_single_copy_crash.moc"
