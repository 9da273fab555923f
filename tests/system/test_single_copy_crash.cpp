// The single-copy lock: whatever a crashed copy left in the lock file, only a
// copy that is alive ends a start; a lock that a running copy holds (this
// panel's or, through QLockFile, an earlier one's) is never taken. Where no
// lock can be had at all (runtime folder read-only or full), the built panel
// starts anyway and says once that it cannot guard against a second copy.

#include "app/single_copy.h"
#include "support/bytes.h"
#include "support/mount_namespace.h"
#include "support/store_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
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

// A pid that names no running process: that of a child that has ended.
qint64 endedPid()
{
    QProcess child;
    child.start(QStringLiteral("true"), {});
    const qint64 pid = child.waitForStarted(10000) ? child.processId() : 0; // 0 once it has ended
    child.waitForFinished(10000);
    return pid > 0 ? pid : 999999;
}

} // namespace

class TestSingleCopyCrash : public QObject {
    Q_OBJECT

private:
    // The built panel, killed once the unit has heard it; its one lock file
    // then, when `empty`, emptied and dated a minute back.
    static void killThenLeaveTheLock(const PanelEnvironment &environment, const FakeUnit &unit, bool empty)
    {
        QProcess crashed;
        environment.start(crashed, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2, 15000);
        const QStringList locks = QDir(environment.runtime.path()).entryList({QStringLiteral("*.lock")}, QDir::Files);
        QCOMPARE(locks.size(), 1);
        crashed.kill();
        QVERIFY(crashed.waitForFinished(5000));
        if (!empty)
            return;
        const QString lockPath = environment.runtime.filePath(locks.constFirst());
        QVERIFY(putBytes(lockPath, {}));
        backdate(lockPath, 60);
    }

private slots:
    void takeOver_data()
    {
        QTest::addColumn<QString>("left"); // what the lock file holds before
        QTest::addColumn<bool>("heldOpen"); // a live process holds the file (flock)
        QTest::addColumn<int>("outcome"); // app::SingleCopy::Outcome
        const int only = int(app::SingleCopy::Outcome::Only);
        const int another = int(app::SingleCopy::Outcome::AnotherRuns);
        QTest::newRow("no lock file") << "none" << false << only;
        QTest::newRow("empty, left by a killed copy") << "empty" << false << only;
        QTest::newRow("names nobody") << "unreadable" << false << only;
        QTest::newRow("names an ended process") << "ended" << false << only;
        QTest::newRow("empty, held") << "empty" << true << another;
        QTest::newRow("held through QLockFile by an earlier panel") << "running" << false << another;
        QTest::newRow("a folder in its place") << "folder" << false << int(app::SingleCopy::Outcome::Unguarded);
    }
    void takeOver()
    {
        QFETCH(QString, left);
        QFETCH(bool, heldOpen);
        QFETCH(int, outcome);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("veloxa2-gui-test.lock"));
        QLockFile running(path);
        if (left == QLatin1String("empty")) {
            QVERIFY(putBytes(path, {}));
        } else if (left == QLatin1String("unreadable")) {
            QVERIFY(putBytes(path, "not a lock\n"));
        } else if (left == QLatin1String("ended")) {
            QVERIFY(putBytes(path,
                             QByteArray::number(endedPid()) + "\nveloxa2-gui\n" + QSysInfo::machineHostName().toUtf8()
                                 + '\n'));
        } else if (left == QLatin1String("running")) {
            QVERIFY(running.tryLock(0));
        } else if (left == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        }
        int holder = -1;
        if (heldOpen) {
            holder = ::open(QFile::encodeName(path).constData(), O_RDONLY);
            QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
        }
        const auto closeHolder = qScopeGuard([holder] {
            if (holder >= 0)
                ::close(holder);
        });

        {
            app::SingleCopy copy;
            QCOMPARE(int(copy.take(path)), outcome);
            QCOMPARE(copy.problem().isEmpty(), outcome != int(app::SingleCopy::Outcome::Unguarded));
            if (outcome == int(app::SingleCopy::Outcome::Only)) {
                // Held now: a second copy is told another runs.
                app::SingleCopy second;
                QCOMPARE(second.take(path), app::SingleCopy::Outcome::AnotherRuns);
            }
        }
        if (left != QLatin1String("none"))
            QVERIFY(QFileInfo::exists(path)); // nobody else's lock is removed
        if (outcome == int(app::SingleCopy::Outcome::Only)) {
            // Released with its holder: the next copy starts.
            app::SingleCopy next;
            QCOMPARE(next.take(path), app::SingleCopy::Outcome::Only);
        }
    }

    // The built panel, killed without a chance to clean up, its lock file
    // left as it was or emptied (as a kill between creating and filling it
    // leaves it): the next start must run.
    void panelStartsAfterAKill_data()
    {
        QTest::addColumn<bool>("emptied");
        QTest::newRow("the lock as the killed copy left it") << false;
        QTest::newRow("the lock emptied") << true;
    }
    void panelStartsAfterAKill()
    {
        QFETCH(bool, emptied);
        if (!isolatedNetwork())
            QSKIP("runs the panel: needs an isolated network namespace (scripts/test sets one up)");
        const QString unitAddress = QStringLiteral("127.0.0.81");
        PanelEnvironment environment;
        environment.seed({{"IP Address", unitAddress}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(unitAddress)));

        killThenLeaveTheLock(environment, unit, emptied);
        if (QTest::currentTestFailed())
            return;

        unit.received.clear();
        QProcess next;
        environment.start(next, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2 || next.state() == QProcess::NotRunning, 15000);
        QCOMPARE(next.state(), QProcess::Running);
        QCOMPARE(hexList(unit.payloads().mid(0, 2)), QStringLiteral("63 50 | 67 E0"));
        stopPolitely(next);
        QCOMPARE(next.exitStatus(), QProcess::NormalExit);
        QCOMPARE(next.exitCode(), 0);
    }

    // A runtime folder where no lock can be had: the panel starts all the
    // same and says so in one line; one with room for the lock file only
    // (no block left, an inode left) still guards, silently.
    void runtimeFolderWithoutRoom_data()
    {
        QTest::addColumn<QString>("mountOptions");
        QTest::addColumn<QString>("thenRun");
        QTest::addColumn<bool>("guarded");
        QTest::newRow("read-only") << "ro,mode=0700" << "true" << false;
        QTest::newRow("full, no inode left") << "nr_inodes=1,mode=0700" << "true" << false;
        QTest::newRow("full, no block left")
            << "size=8k,mode=0700" << "dd if=/dev/zero of=\"$XDG_RUNTIME_DIR/fill\" bs=4096 2>/dev/null || true"
            << true;
    }
    void runtimeFolderWithoutRoom()
    {
        QFETCH(QString, mountOptions);
        QFETCH(QString, thenRun);
        QFETCH(bool, guarded);
        if (!isolatedNetwork())
            QSKIP("runs the panel: needs an isolated network namespace (scripts/test sets one up)");
        if (const QString why = mountNamespaceUnavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString unitAddress = QStringLiteral("127.0.0.82");
        PanelEnvironment environment;
        environment.seed({{"IP Address", unitAddress}});
        FakeUnit unit;
        QVERIFY(unit.bind(QHostAddress(unitAddress)));

        NamespacedPanel panel;
        panel.start(environment,
                    QStringLiteral("mount -t tmpfs -o %1 tmpfs \"$XDG_RUNTIME_DIR\"\n%2").arg(mountOptions, thenRun),
                    {});
        QTRY_VERIFY_WITH_TIMEOUT(unit.received.size() >= 2 || panel.shell.state() == QProcess::NotRunning, 20000);
        QVERIFY2(unit.received.size() >= 2, "the panel did not start");
        QCOMPARE(unit.received.constFirst().data(), QByteArray("\x63\x50"));
        QVERIFY(panel.stop());
        QCOMPARE(panel.shell.exitCode(), 0);
        const QList<QByteArray> lines = panel.errors().split('\n');
        const auto warnings = std::count_if(lines.cbegin(), lines.cend(), [](const QByteArray &line) {
            return line.contains("cannot guard against a second copy");
        });
        QCOMPARE(warnings, guarded ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleCopyCrash)
#include "test_single_copy_crash.moc"
