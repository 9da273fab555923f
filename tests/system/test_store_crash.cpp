// The settings file survives the panel being killed in the middle of storing:
// a helper program (the real window on the real store) sweeps its contrast
// slider, storing "Display Contrast" at every step, and is killed with SIGKILL
// at random moments. After every kill the file must parse cleanly, hold a
// whole contrast 0..99 (the old text or the new one), keep every other value
// byte for byte, and no damaged-file copy may have appeared. Nothing may pile
// up beside it: the lock file, and at most the one unfinished new file a kill
// in the middle of a write leaves, which the next write removes.

#include "core/settings/careful_write.h"
#include "core/settings/file_store.h"
#include "support/store_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

using namespace veloxa;
using veloxa::test::fileBytes;

namespace {

constexpr int kKills = 100;
constexpr int kLatestKillMs = 300;

const QString kContrast = QStringLiteral("Display Contrast");

// The file's lines without the contrast's own, which is the one that changes.
QByteArrayList linesBesidesContrast(const QByteArray &bytes)
{
    QByteArrayList kept;
    for (const QByteArray &line : bytes.split('\n'))
        if (!line.startsWith("Display%20Contrast="))
            kept.append(line);
    return kept;
}

// What a folder holds, with sizes, for failure messages.
QString listing(const QString &dir)
{
    QStringList entries;
    const QFileInfoList infos =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : infos)
        entries << QStringLiteral("%1 (%2 bytes)").arg(info.fileName()).arg(info.size());
    return entries.join(QLatin1String(", "));
}

} // namespace

class TestStoreCrash : public QObject {
    Q_OBJECT

private slots:
    void killedWhileStoringKeepsTheFile()
    {
        QTemporaryDir config;
        QTemporaryDir scratch; // fresh copies for QSettings, which caches by path
        QTemporaryDir runtime;
        QVERIFY(config.isValid() && scratch.isValid() && runtime.isValid());
        const QString storeDir = config.path() + QStringLiteral("/KW");
        const QString storePath = storeDir + QStringLiteral("/Veloxa.conf");

        const QMap<QString, QString> seeded = {
            {QStringLiteral("Frequency"), QStringLiteral("12.34")},
            {QStringLiteral("IP Address"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("Ramp Stop Freq"), QStringLiteral("-30")},
            {QStringLiteral("System Clock"), QStringLiteral("500")},
            {QStringLiteral("Polarity"), QStringLiteral("False")},
            {QStringLiteral("Left"), QStringLiteral("1500")},
            {QStringLiteral("Notes"), QStringLiteral("Grüße aus dem Labor, 温度 ±0.5 K; \"quoted\" = kept")},
            {kContrast, QStringLiteral("50")},
        };
        {
            QSettings seed(storePath, QSettings::IniFormat);
            for (auto it = seeded.cbegin(); it != seeded.cend(); ++it)
                seed.setValue(it.key(), it.value());
            seed.sync();
            QCOMPARE(seed.status(), QSettings::NoError);
        }
        const QByteArrayList seededLines = linesBesidesContrast(fileBytes(storePath));
        QVERIFY(seededLines.size() >= seeded.size());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

        QRandomGenerator random(20240611);
        const QRegularExpression wholeContrast(QStringLiteral("^[0-9]{1,2}$"));
        QSet<QString> contrastsSeen;
        int unfinishedLeft = 0;
        QElapsedTimer elapsed;
        elapsed.start();

        for (int kill = 0; kill < kKills; ++kill) {
            const QString round = QStringLiteral("kill %1: ").arg(kill);
            QProcess sweeper;
            sweeper.setProcessEnvironment(environment);
            sweeper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            sweeper.start(QStringLiteral(VELOXA_STORE_SWEEPER_PATH));
            QVERIFY2(sweeper.waitForStarted(10000), qPrintable(round + sweeper.errorString()));
            // Ready once the first step of this run is stored: the file left by
            // the previous kill was usable, lock file included.
            while (!sweeper.canReadLine() && sweeper.state() == QProcess::Running)
                sweeper.waitForReadyRead(20000);
            QVERIFY2(sweeper.readLine().trimmed() == "sweeping",
                     qPrintable(round + QStringLiteral("never swept; the store folder holds: ") + listing(storeDir)));

            // This test is about timing: the kill lands at a random moment.
            QThread::msleep(random.bounded(kLatestKillMs + 1));
            ::kill(static_cast<pid_t>(sweeper.processId()), SIGKILL);
            QVERIFY(sweeper.waitForFinished(10000));
            QCOMPARE(sweeper.exitStatus(), QProcess::CrashExit);

            // Parsed by a QSettings that has never seen this path.
            const QByteArray bytes = fileBytes(storePath);
            const QString copy = scratch.filePath(QStringLiteral("copy-%1.conf").arg(kill));
            {
                QFile out(copy);
                QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
            }
            QSettings parsed(copy, QSettings::IniFormat);
            const QStringList keys = parsed.allKeys();
            QCOMPARE(parsed.status(), QSettings::NoError);
            QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()), QSet<QString>(seeded.keyBegin(), seeded.keyEnd()));
            const QString contrast = parsed.value(kContrast).toString();
            QVERIFY2(wholeContrast.match(contrast).hasMatch(), qPrintable(round + contrast));
            contrastsSeen.insert(contrast);
            for (auto it = seeded.cbegin(); it != seeded.cend(); ++it)
                if (it.key() != kContrast)
                    QCOMPARE(parsed.value(it.key()).toString(), it.value());
            QCOMPARE(linesBesidesContrast(bytes), seededLines);

            // The panel's own store reads it as clean.
            const settings::ReadResult frequency = settings::FileStore(storePath).read(QStringLiteral("Frequency"));
            QVERIFY2(frequency.found && frequency.text == QLatin1String("12.34"), qPrintable(round));

            const QStringList damaged = QDir(storeDir).entryList({QStringLiteral("Veloxa.conf.damaged-*")},
                                                                 QDir::AllEntries | QDir::Hidden | QDir::System);
            QVERIFY2(damaged.isEmpty(), qPrintable(round + damaged.join(u' ')));
            // Beside the file: its lock, and at most the new file this kill
            // cut off (the previous one's was removed by this run's writes).
            QStringList expected = test::storeAndLock();
            const QString unfinished = QFileInfo(settings::careful::unfinishedName(storePath)).fileName();
            if (QFile::exists(storeDir + u'/' + unfinished)) {
                expected.append(unfinished);
                ++unfinishedLeft;
            }
            expected.sort();
            QVERIFY2(test::entries(storeDir) == expected, qPrintable(round + listing(storeDir)));
        }

        // The kills met the sweep at different steps, not always before it began.
        QVERIFY2(contrastsSeen.size() >= 5,
                 qPrintable(QStringList(contrastsSeen.cbegin(), contrastsSeen.cend()).join(u' ')));
        // One more write, as the next start makes: then only the file and its
        // lock are left.
        QVERIFY(settings::FileStore(storePath).write(kContrast, QStringLiteral("50")));
        QCOMPARE(test::entries(storeDir), test::storeAndLock());
        qInfo("%d kills in %lld ms; %d contrast values seen; %d kills left an unfinished new file", kKills,
              static_cast<long long>(elapsed.elapsed()), static_cast<int>(contrastsSeen.size()), unfinishedLeft);
    }
};

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "test_store_crash.moc"
