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
#include "support/panel_process.h"
#include "support/store_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
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

// What the file holds before the first run of the sweeper.
const QMap<QString, QString> &seededValues()
{
    static const QMap<QString, QString> values = {
        {"Frequency", "12.34"},    {"IP Address", "127.0.0.1"},
        {"Ramp Stop Freq", "-30"}, {"System Clock", "500"},
        {"Polarity", "False"},     {"Left", "1500"},
        {kContrast, "50"},         {"Notes", QStringLiteral("Grüße aus dem Labor, 温度 ±0.5 K; \"quoted\" = kept")}};
    return values;
}

// The sweeper's settings and runtime folders.
using Folders = test::PanelEnvironment;

QString storeDir(const Folders &folders)
{
    return folders.config.path() + QStringLiteral("/KW");
}

} // namespace

class TestStoreCrash : public QObject {
    Q_OBJECT

private slots:
    void killedWhileStoringKeepsTheFile()
    {
        const Folders folders;
        QVERIFY(folders.config.isValid() && folders.runtime.isValid());
        folders.seed(seededValues());
        const QByteArrayList seededLines = linesBesidesContrast(fileBytes(folders.storePath()));
        QVERIFY(seededLines.size() >= seededValues().size());

        QRandomGenerator random(20240611);
        test::QtParser qt;
        QSet<QString> contrastsSeen;
        int unfinishedLeft = 0;
        QElapsedTimer elapsed;
        elapsed.start();

        for (int kill = 0; kill < kKills; ++kill) {
            const QString round = QStringLiteral("kill %1: ").arg(kill);
            sweepThenKill(folders, random, round);
            if (QTest::currentTestFailed())
                return;
            QString contrast;
            fileReadsWhole(folders, qt, round, seededLines, contrast);
            if (QTest::currentTestFailed())
                return;
            contrastsSeen.insert(contrast);
            bool unfinished = false;
            nothingPiledUpBeside(folders, round, unfinished);
            if (QTest::currentTestFailed())
                return;
            unfinishedLeft += unfinished ? 1 : 0;
        }

        // The kills met the sweep at different steps, not always before it began.
        QVERIFY2(contrastsSeen.size() >= 5,
                 qPrintable(QStringList(contrastsSeen.cbegin(), contrastsSeen.cend()).join(u' ')));
        // One more write, as the next start makes: then only the file and its
        // lock are left.
        QVERIFY(settings::FileStore(folders.storePath()).write(kContrast, QStringLiteral("50")));
        QCOMPARE(test::entries(storeDir(folders)), test::storeAndLock());
        qInfo("%d kills in %lld ms; %d contrast values seen; %d kills left an unfinished new file", kKills,
              static_cast<long long>(elapsed.elapsed()), static_cast<int>(contrastsSeen.size()), unfinishedLeft);
    }

private:
    // One run of the sweeper, killed with SIGKILL at a random moment once
    // it stores.
    static void sweepThenKill(const Folders &folders, QRandomGenerator &random, const QString &round)
    {
        QProcess sweeper;
        folders.start(sweeper, QStringLiteral(VELOXA_STORE_SWEEPER_PATH));
        QVERIFY2(sweeper.waitForStarted(10000), qPrintable(round + sweeper.errorString()));
        // Ready once the first step of this run is stored: the file left by
        // the previous kill was usable, lock file included.
        while (!sweeper.canReadLine() && sweeper.state() == QProcess::Running)
            sweeper.waitForReadyRead(20000);
        QVERIFY2(
            sweeper.readLine().trimmed() == "sweeping",
            qPrintable(round + QStringLiteral("never swept; the store folder holds: ") + listing(storeDir(folders))));

        // This test is about timing: the kill lands at a random moment.
        QThread::msleep(random.bounded(kLatestKillMs + 1));
        ::kill(static_cast<pid_t>(sweeper.processId()), SIGKILL);
        QVERIFY(sweeper.waitForFinished(10000));
        QCOMPARE(sweeper.exitStatus(), QProcess::CrashExit);
    }

    // The file after a kill parses cleanly, holds a whole contrast (into
    // `contrast`) and every other value as seeded, byte for byte.
    static void fileReadsWhole(const Folders &folders, test::QtParser &qt, const QString &round,
                               const QByteArrayList &seededLines, QString &contrast)
    {
        static const QRegularExpression wholeContrast(QStringLiteral("^[0-9]{1,2}$"));
        const QByteArray bytes = fileBytes(folders.storePath());
        const test::QtParsed parsed = qt.parse(bytes);
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.values.keys(), seededValues().keys());
        contrast = parsed.values.value(kContrast).toString();
        QVERIFY2(wholeContrast.match(contrast).hasMatch(), qPrintable(round + contrast));
        for (auto it = seededValues().cbegin(); it != seededValues().cend(); ++it)
            if (it.key() != kContrast)
                QCOMPARE(parsed.values.value(it.key()).toString(), it.value());
        QCOMPARE(linesBesidesContrast(bytes), seededLines);

        // The panel's own store reads it as clean.
        const settings::ReadResult frequency =
            settings::FileStore(folders.storePath()).read(QStringLiteral("Frequency"));
        QVERIFY2(frequency.found && frequency.text == QLatin1String("12.34"), qPrintable(round));
    }

    // No damaged-file copy and nothing else piled up beside the file after
    // a kill; `unfinished` when the kill left an unfinished new file.
    static void nothingPiledUpBeside(const Folders &folders, const QString &round, bool &unfinished)
    {
        const QString dir = storeDir(folders);
        const QStringList damaged = test::keptAside(dir);
        QVERIFY2(damaged.isEmpty(), qPrintable(round + damaged.join(u' ')));
        // Beside the file: its lock, and at most the new file this kill
        // cut off (the previous one's was removed by this run's writes).
        QStringList expected = test::storeAndLock();
        const QString unfinishedName = QFileInfo(settings::careful::unfinishedName(folders.storePath())).fileName();
        if (QFile::exists(dir + u'/' + unfinishedName)) {
            expected.append(unfinishedName);
            unfinished = true;
        }
        expected.sort();
        QVERIFY2(test::entries(dir) == expected, qPrintable(round + listing(dir)));
    }
};

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "test_store_crash.moc"
