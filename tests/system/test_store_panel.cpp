// The built panel on a settings file in trouble: read-only for the panel's
// user, on a full disk (as a plain file and behind a symbolic link), shared
// with another panel that keeps writing, and rewritten in place by an outside
// program. In every case the panel must start with the stored settings, talk
// to the stored unit only, and leave a file that holds whole, current values;
// nothing it cannot write may cost a value already stored.

#include "core/link/datagrams.h"
#include "support/bytes.h"
#include "support/mount_namespace.h"
#include "support/store_files.h"

#include <QFileInfo>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace veloxa;
using namespace veloxa::test;

namespace {

const QString kDefaultUnit = QStringLiteral("192.168.1.133");

// What the store holds before the panel starts: another unit than the
// default, and contrast and gain other than their initial states.
QMap<QString, QString> seededValues(const QString &unit)
{
    return {{"IP Address", unit}, {"Display Contrast", "42"}, {"Gain (CP current)", "2"},
            {"Frequency", "20"},  {"System Clock", "500"},    {"Polarity", "False"}};
}

QString startHex(int contrast, int gain)
{
    return hexList({*link::contrastCommand(contrast), *link::gainCommand(gain)});
}

// The stored unit and the default one, both on this machine's loopback.
struct Units {
    FakeUnit stored;
    FakeUnit fallback; // must never hear anything
    bool bind(const QString &storedAddress)
    {
        if (!stored.bind(QHostAddress(storedAddress)))
            return false;
        if (hasLocalAddress(QHostAddress(kDefaultUnit)))
            return fallback.bind(QHostAddress(kDefaultUnit));
        return true;
    }
};

QString shellQuoted(const QString &path)
{
    return u'\'' + path + u'\'';
}

// Rewrites a file in place, as an editor or a sync tool without a temporary
// file does: truncate, half the text, a pause, the rest; every 40 ms.
class InPlaceRewriter {
public:
    InPlaceRewriter(const QString &path, QByteArray text)
        : m_path(QFile::encodeName(path))
        , m_text(std::move(text))
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const int fd = ::open(m_path.constData(), O_WRONLY | O_TRUNC);
                if (fd >= 0) {
                    const qsizetype half = m_text.size() / 2;
                    [[maybe_unused]] auto a = ::write(fd, m_text.constData(), std::size_t(half));
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    [[maybe_unused]] auto b = ::write(fd, m_text.constData() + half, std::size_t(m_text.size() - half));
                    ::close(fd);
                    ++rewrites;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
        });
    }
    ~InPlaceRewriter() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<int> rewrites = 0;

private:
    QByteArray m_path;
    QByteArray m_text;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

} // namespace

class TestStorePanel : public QObject {
    Q_OBJECT

private:
    // The sweeper (the real window on the real store, storing contrast for
    // ever) started in `environment`, once it stores.
    static void startSweeper(const PanelEnvironment &environment, QProcess &sweeper)
    {
        environment.start(sweeper, QStringLiteral(VELOXA_STORE_SWEEPER_PATH));
        QVERIFY(sweeper.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(sweeper.canReadLine(), 20000);
    }

private slots:
    void init()
    {
        if (!isolatedNetwork())
            QSKIP("runs the panel: needs an isolated network namespace (scripts/test sets one up)");
    }

    // chmod 444 on the file, its folder writable, the panel not root: every
    // write fails, and every read still gives what the file holds.
    void readOnlyFileKeepsItsSettings()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("needs root and setpriv to run the panel as another user");
        const QString unitAddress = QStringLiteral("127.0.0.71");
        PanelEnvironment environment;
        environment.seed(seededValues(unitAddress));
        const QString folder = QFileInfo(environment.storePath()).absolutePath();
        const QByteArray before = environment.storeBytes();
        // "nobody" may pass through the config folder, own the store's folder
        // and its runtime folder, and only read the file.
        QCOMPARE(::chmod(QFile::encodeName(environment.config.path()).constData(), 0755), 0);
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        QCOMPARE(::chown(QFile::encodeName(environment.runtime.path()).constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(environment.storePath()).constData(), 0444), 0);

        Units units;
        QVERIFY(units.bind(unitAddress));
        QProcess panel;
        environment.start(panel, QStringLiteral("setpriv"),
                          {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral(VELOXA_GUI_PATH)});
        QTRY_VERIFY_WITH_TIMEOUT(units.stored.received.size() >= 2 || panel.state() == QProcess::NotRunning, 20000);
        QCOMPARE(hexList(units.stored.payloads().mid(0, 2)), startHex(42, 2));
        stopPolitely(panel);
        QCOMPARE(panel.exitCode(), 0);
        QVERIFY(units.fallback.received.isEmpty());
        QCOMPARE(environment.storeBytes(), before);
        QCOMPARE(entries(folder), storeAndLock());
    }

    // The store's disk is full: the panel cannot store anything, and the
    // file (or the file behind a symbolic link) keeps every byte.
    void fullDiskKeepsTheFile_data()
    {
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("plain file") << false;
        QTest::newRow("symbolic link into the full disk") << true;
    }
    void fullDiskKeepsTheFile()
    {
        QFETCH(bool, throughLink);
        if (const QString why = mountNamespaceUnavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString unitAddress = QStringLiteral("127.0.0.72");
        PanelEnvironment environment;
        environment.seed(seededValues(unitAddress));
        const QByteArray before = environment.storeBytes();
        // The full disk holds the store's folder, or the dotfiles folder a
        // symbolic link in the store's folder leads into. Beside it: a copy
        // of the file, put on the disk once it is mounted, and the folder
        // the closing commands copy what the test looks at into.
        QTemporaryDir scratch;
        const QString seed = scratch.filePath(QStringLiteral("seed.conf"));
        QVERIFY(scratch.isValid() && putBytes(seed, before));
        const QString disk = throughLink ? scratch.filePath(QStringLiteral("dotfiles"))
                                         : QFileInfo(environment.storePath()).absolutePath();
        const QString file = throughLink ? disk + QStringLiteral("/Veloxa.conf") : environment.storePath();
        const QString out = scratch.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(disk) && QDir().mkpath(out));
        if (throughLink)
            QVERIFY(QFile::remove(environment.storePath()) && QFile::link(file, environment.storePath()));

        Units units;
        QVERIFY(units.bind(unitAddress));
        NamespacedPanel panel;
        panel.start(environment,
                    QStringLiteral("mount -t tmpfs -o size=64k tmpfs %1\ncp %2 %3\n"
                                   "dd if=/dev/zero of=%1/fill bs=4096 2>/dev/null || true")
                        .arg(shellQuoted(disk), shellQuoted(seed), shellQuoted(file)),
                    QStringLiteral("cp %1 %2/after; LC_ALL=C ls -A %3 > %2/listing")
                        .arg(shellQuoted(file), shellQuoted(out), shellQuoted(disk)));
        QTRY_VERIFY_WITH_TIMEOUT(units.stored.received.size() >= 2 || panel.shell.state() == QProcess::NotRunning,
                                 20000);
        QCOMPARE(hexList(units.stored.payloads().mid(0, 2)), startHex(42, 2));
        QVERIFY(panel.stop());
        QCOMPARE(panel.shell.exitCode(), 0);
        QVERIFY(units.fallback.received.isEmpty());
        QCOMPARE(fileBytes(out + QStringLiteral("/after")), before);
        QCOMPARE(
            QString::fromUtf8(fileBytes(out + QStringLiteral("/listing"))).split(u'\n', Qt::SkipEmptyParts),
            (QStringList{QStringLiteral("Veloxa.conf"), QStringLiteral("Veloxa.conf.lock"), QStringLiteral("fill")}));
        if (throughLink)
            QCOMPARE(QFileInfo(environment.storePath()).symLinkTarget(), file);
    }

    // Two panels on one store (a second copy of the program passes the
    // single-copy check): one closes, storing its six values, while the other
    // stores its contrast at every step. Neither may lose the other's values.
    void twoPanelsOnOneStore_data()
    {
        QTest::addColumn<int>("closeAfterMs"); // another moment of the sweep each round
        for (int round = 0; round < 8; ++round)
            QTest::addRow("round %d", round) << 100 * round % 400;
    }
    void twoPanelsOnOneStore()
    {
        QFETCH(int, closeAfterMs);
        const QString unitAddress = QStringLiteral("127.0.0.73");
        PanelEnvironment environment;
        environment.seed({{QStringLiteral("IP Address"), unitAddress}});
        Units units;
        QVERIFY(units.bind(unitAddress));

        QProcess sweeper;
        startSweeper(environment, sweeper);
        if (QTest::currentTestFailed())
            return;
        QProcess panel;
        environment.start(panel, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(units.stored.received.size() >= 2, 20000);
        QTest::qWait(closeAfterMs);
        stopPolitely(panel);
        QCOMPARE(panel.exitCode(), 0);
        sweeper.kill();
        QVERIFY(sweeper.waitForFinished(10000));

        // The file holds the closed panel's six values and a whole contrast
        // of the sweeper's, and nothing was moved aside.
        QtParser qt;
        const QtParsed parsed = qt.parse(environment.storeBytes());
        QCOMPARE(parsed.status, QSettings::NoError);
        for (const char *name : {"Left", "Top"})
            QVERIFY2(!parsed.values.value(QLatin1String(name)).toString().isEmpty(), name);
        QCOMPARE(parsed.values.value(QStringLiteral("IP Address")).toString(), unitAddress);
        QCOMPARE(parsed.values.value(QStringLiteral("Frequency")).toString(), QStringLiteral("12.34"));
        QCOMPARE(parsed.values.value(QStringLiteral("System Clock")).toString(), QStringLiteral("1000"));
        QCOMPARE(parsed.values.value(QStringLiteral("Polarity")).toString(), QStringLiteral("True"));
        QCOMPARE(parsed.values.value(QStringLiteral("Gain (CP current)")).toString(), QStringLiteral("7"));
        const int contrast = parsed.values.value(QStringLiteral("Display Contrast")).toInt();
        QVERIFY(contrast >= 0 && contrast <= 99);
        QCOMPARE(keptAside(QFileInfo(environment.storePath()).absolutePath()), QStringList());
    }

    // An outside program rewrites the file in place, again and again, while
    // another panel stores its contrast at every step and the panel closes:
    // the file is seen cut off now and then, and must never be taken for
    // damaged and moved aside.
    void outsideRewriteInPlace()
    {
        const QString unitAddress = QStringLiteral("127.0.0.74");
        PanelEnvironment environment;
        environment.seed(seededValues(unitAddress));
        const QString folder = QFileInfo(environment.storePath()).absolutePath();
        Units units;
        QVERIFY(units.bind(unitAddress));
        QProcess panel;
        environment.start(panel, QStringLiteral(VELOXA_GUI_PATH));
        QTRY_VERIFY_WITH_TIMEOUT(units.stored.received.size() >= 2, 20000);
        QCOMPARE(hexList(units.stored.payloads().mid(0, 2)), startHex(42, 2));

        QProcess sweeper;
        startSweeper(environment, sweeper);
        if (QTest::currentTestFailed())
            return;
        InPlaceRewriter rewriter(environment.storePath(),
                                 environment.storeBytes() + "Outside%20Note=" + QByteArray(600, 'n') + '\n');
        QTest::qWait(3000);
        stopPolitely(panel);
        QCOMPARE(panel.exitCode(), 0);
        rewriter.stop();
        sweeper.kill();
        QVERIFY(sweeper.waitForFinished(10000));

        qInfo("%d rewrites in place", rewriter.rewrites.load());
        QVERIFY(rewriter.rewrites > 30);
        QCOMPARE(keptAside(folder), QStringList());
        QtParser qt;
        const QtParsed parsed = qt.parse(environment.storeBytes());
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.values.value(QStringLiteral("IP Address")).toString(), unitAddress);
        QVERIFY(units.fallback.received.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStorePanel)
#include "test_store_panel.moc"
