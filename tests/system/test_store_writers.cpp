// The settings store kept in an INI file (Linux) among other writers: a
// symbolic link, two writers at once, a file another program is rewriting,
// and the writer thread of the panel's store.
// Every test works in its own folder, as in test_store.

#include "core/settings/file_store.h"
#include "core/settings/ini_text.h"
#include "core/settings/queued_store.h"
#include "support/store_files.h"

#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <thread>

using namespace veloxa::settings;
using namespace veloxa::test;

namespace {
constexpr QByteArrayView kWholeInFlux = "[General]\nFrequency=12.34\nIP%20Address=10.1.2.3\n";
} // namespace

class TestStoreWriters : public QObject, protected StoreTestFolder {
    Q_OBJECT

private slots:
    void init() { freshFolder(); }

    // --- Links, other writers, files in flux -------------------------------------

    void linkStaysAndItsTargetIsReplaced()
    {
        const QString dotfiles = m_dir->filePath(QStringLiteral("dotfiles"));
        QVERIFY(QDir().mkpath(dotfiles));
        const QString target = dotfiles + QStringLiteral("/Veloxa.conf");
        QVERIFY(FileStore(target).write(names::Frequency, QStringLiteral("12.34")));
        QVERIFY(QFile::link(target, storePath()));

        QVERIFY(FileStore(storePath()).write(names::Gain, QStringLiteral("7")));
        QVERIFY(QFileInfo(storePath()).isSymLink());
        QCOMPARE(QFileInfo(storePath()).symLinkTarget(), target);
        const QtParsed parsed = parse(fileBytes(target));
        QCOMPARE(parsed.values.value(names::Frequency).toString(), QStringLiteral("12.34"));
        QCOMPARE(parsed.values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(entries(dotfiles), storeAndLock()); // the lock lies beside the file replaced
    }

    void writersTogetherLoseNothing()
    {
        // Two writers on one file, each with its own value: neither may put
        // back an older file over what the other wrote.
        constexpr int kRounds = 150;
        const auto writes = [this](const QString &name) {
            FileStore store(storePath());
            for (int i = 1; i <= kRounds; ++i)
                if (!store.write(name, QString::number(i)))
                    return false;
            return true;
        };
        bool otherOk = false;
        std::thread other([&] { otherOk = writes(names::Gain); });
        const bool ok = writes(names::DisplayContrast);
        other.join();
        QVERIFY(ok && otherOk);
        const FileStore store(storePath());
        QCOMPARE(store.read(names::Gain).text, QString::number(kRounds));
        QCOMPARE(store.read(names::DisplayContrast).text, QString::number(kRounds));
    }

    void fileInFluxIsNotMovedAside_data()
    {
        // Another program rewrites the file in place: it is seen cut off, in
        // the middle of a line (which does not parse) or after a whole line
        // (which does, and lacks the rest).
        QTest::addColumn<int>("cutAfter"); // bytes of the whole text seen first
        QTest::addColumn<int>("finishAfterMs"); // when the program is done; -1: it never is
        const QByteArray whole = kWholeInFlux.toByteArray();
        const int midLine = int(whole.indexOf("IP%20") + 5);
        const int afterLine = int(whole.indexOf("IP%20"));
        QTest::newRow("cut in a line, whole soon after") << midLine << FileStore::kReDamageLookMs / 2;
        QTest::newRow("cut after a line, whole soon after") << afterLine << FileStore::kSettleMs / 4;
        QTest::newRow("cut in a line, rewritten all the time") << midLine << -1;
    }
    void fileInFluxIsNotMovedAside()
    {
        QFETCH(int, cutAfter);
        QFETCH(int, finishAfterMs);
        const QByteArray whole = kWholeInFlux.toByteArray();
        const QByteArray cut = whole.left(cutAfter);
        QVERIFY(putBytes(storePath(), cut));

        // The endless rewriter writes over the bytes in place, so the file is
        // never seen empty. Its premise is that no two looks of the store,
        // kReDamageLookMs apart, fall between two of its writes: on a machine
        // too busy to keep that, the row is tried again.
        bool written = false;
        for (int attempt = 1;; ++attempt) {
            std::atomic<bool> stop = false;
            std::chrono::steady_clock::duration longestPause{};
            std::thread outside([&] {
                if (finishAfterMs >= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(finishAfterMs));
                    putBytes(storePath(), whole);
                    return;
                }
                QFile file(storePath());
                if (!file.open(QIODevice::ReadWrite))
                    return;
                auto last = std::chrono::steady_clock::now();
                while (!stop) {
                    file.seek(0);
                    file.write(cut);
                    file.flush();
                    const auto now = std::chrono::steady_clock::now();
                    longestPause = std::max(longestPause, now - last);
                    last = now;
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                }
            });
            written = FileStore(storePath()).write(names::Gain, QStringLiteral("7"));
            stop = true;
            outside.join();
            if (longestPause < std::chrono::milliseconds(FileStore::kReDamageLookMs / 2) || attempt == 3)
                break;
            QVERIFY(putBytes(storePath(), cut));
            for (const QString &aside : keptAside(m_dir->path()))
                QVERIFY(QFile::remove(m_dir->filePath(aside)));
        }

        QCOMPARE(keptAside(m_dir->path()), QStringList());
        QCOMPARE(written, finishAfterMs >= 0);
        if (written) {
            const FileStore store(storePath());
            QCOMPARE(store.read(names::IpAddress).text, QStringLiteral("10.1.2.3"));
            QCOMPARE(store.read(names::Gain).text, QStringLiteral("7"));
        } else {
            QCOMPARE(fileBytes(storePath()), cut);
        }
    }

    // --- The writer thread of the panel's store ---------------------------------------

    void queuedWritesNeverWaitForTheDisk()
    {
        QVERIFY(FileStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());
        // Another writer holds the lock: the writer thread waits, the caller does not.
        HeldLock held(storePath());
        QVERIFY(held.isHeld());

        QueuedStore store(storePath());
        QVERIFY(store.write(names::Gain, QStringLiteral("6")));
        QVERIFY(store.write(names::Gain, QStringLiteral("7"))); // only the newest is kept
        QVERIFY(store.write(names::RampStopFreq, QString())); // reads as written: not found
        QCOMPARE(store.read(names::Gain).text, QStringLiteral("7"));
        QVERIFY(!store.read(names::RampStopFreq).found);
        QCOMPARE(store.read(names::Frequency).text, QStringLiteral("12.34"));
        QCOMPARE(fileBytes(storePath()), before);
        QVERIFY(!store.waitForWrites(0)); // still waiting

        held.release();
        QVERIFY(store.waitForWrites(10000));
        const QtParsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(parsed.values.value(names::Frequency).toString(), QStringLiteral("12.34"));
        QVERIFY(parsed.values.contains(names::RampStopFreq));
    }

    void queuedWriteTheDiskRefuses()
    {
        // The lock stays taken longer than a writer waits for it.
        QVERIFY(FileStore(storePath()).write(names::Gain, QStringLiteral("3")));
        const QByteArray before = fileBytes(storePath());
        HeldLock held(storePath());
        QVERIFY(held.isHeld());
        QueuedStore store(storePath());
        QVERIFY(store.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!store.waitForWrites(3 * FileStore::kLockWaitMs));
        // Refused, not retried: reads give what the file holds.
        QCOMPARE(store.read(names::Gain).text, QStringLiteral("3"));
        QCOMPARE(fileBytes(storePath()), before);
        held.release();
        QVERIFY(store.write(names::Gain, QStringLiteral("8")));
        QVERIFY(store.waitForWrites(10000)); // a later call reports on later writes
        QCOMPARE(FileStore(storePath()).read(names::Gain).text, QStringLiteral("8"));
    }

    void queuedStoreEndsWithEverythingWritten()
    {
        {
            QueuedStore store(storePath());
            for (int i = 0; i <= 99; ++i)
                QVERIFY(store.write(names::DisplayContrast, QString::number(i)));
            QVERIFY(store.write(names::Gain, QStringLiteral("7")));
        } // the destructor waits for the writer
        const FileStore file(storePath());
        QCOMPARE(file.read(names::DisplayContrast).text, QStringLiteral("99"));
        QCOMPARE(file.read(names::Gain).text, QStringLiteral("7"));
    }
};

QTEST_GUILESS_MAIN(TestStoreWriters)
#include "test_store_writers.moc"
