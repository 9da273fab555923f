// The settings store kept in an INI file (Linux) keeping its data safe:
// damaged files kept aside, and writes that cannot succeed leaving the file
// as it was.
// Every test works in its own folder, as in test_store.

#include "core/settings/file_store.h"
#include "core/settings/ini_text.h"
#include "support/store_files.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <csignal>
#include <grp.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veloxa::settings;
using namespace veloxa::test;

class TestStoreSafety : public QObject, protected StoreTestFolder {
    Q_OBJECT

    // What a row of unusableFileIsKeptAside puts where the store's file goes:
    // a directory or a link to one (each holding a file), a named pipe, or the
    // file itself without any right to read it.
    void putInPlaceOfTheFile(const QString &kind, const QString &target, const QByteArray &content) const
    {
        const QString path = storePath();
        if (kind == u"directory") {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(putBytes(path + QStringLiteral("/inside.txt"), "keep"));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == u"link") {
            QVERIFY(QDir().mkpath(target));
            QVERIFY(putBytes(target + QStringLiteral("/inside.txt"), "keep"));
            QVERIFY(QFile::link(target, path));
        } else {
            QVERIFY(putBytes(path, content));
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        }
    }

    // What was there is kept aside whole, under one new name.
    void checkKeptAside(const QString &kind, const QString &target, const QByteArray &content) const
    {
        const QStringList aside = keptAside(m_dir->path());
        QCOMPARE(aside.size(), 1);
        const QFileInfo kept(m_dir->filePath(aside[0]));
        if (kind == u"directory") {
            QVERIFY(kept.isDir());
            QCOMPARE(fileBytes(kept.filePath() + QStringLiteral("/inside.txt")), QByteArray("keep"));
        } else if (kind == u"fifo") {
            struct stat st;
            QCOMPARE(::lstat(QFile::encodeName(kept.filePath()).constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode));
        } else if (kind == u"link") {
            QVERIFY(kept.isSymLink());
            QCOMPARE(kept.symLinkTarget(), target);
            QCOMPARE(fileBytes(target + QStringLiteral("/inside.txt")), QByteArray("keep"));
        } else {
            // The store's user could not read it; the file's owner may give itself the right.
            QVERIFY(QFile::setPermissions(kept.filePath(), QFileDevice::ReadOwner));
            QCOMPARE(fileBytes(kept.filePath()), content);
        }
    }

private slots:
    void init() { freshFolder(); }

    // --- Damaged files ---------------------------------------------------------

    void damagedFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        // Format: QSettings itself reports FormatError; Lossy: QSettings reads
        // it without complaint, but a rewrite would lose or change bytes;
        // Names: a rewrite would file a value under another name.
        QTest::addColumn<ini::Damage>("damage");
        const ini::Damage format = ini::Damage::Format;
        QTest::newRow("section line without ]") << QByteArray("[General\nFrequency=5\n") << format;
        QTest::newRow("section line without ] at the end") << QByteArray("Frequency=5\n[Ramp") << format;
        QTest::newRow("line without =") << QByteArray("Frequency=5\ngarbage\n") << format;
        QTest::newRow("hash comment") << QByteArray("# my settings\nFrequency=5\n") << format;
        QTest::newRow("bad line in another section") << QByteArray("Frequency=5\n[Other]\njunk\n") << format;
        QTest::newRow("cut off inside a name") << QByteArray("Frequency=5\nGain%20%28CP") << format;
        QTest::newRow("semicolon before =") << QByteArray("Frequency;note=5\n") << format;
        QTest::newRow("only zero bytes") << QByteArray(4096, '\0') << format;
        QTest::newRow("zero bytes after the text") << QByteArray("Frequency=5\n") + QByteArray(100, '\0') << format;
        QTest::newRow("binary") << QByteArray("\x01\x02\x03\xff\xfe", 5) << format;
        const ini::Damage lossy = ini::Damage::Lossy;
        QTest::newRow("Latin-1 byte") << QByteArray("Frequency=12\xb5\n") << lossy;
        QTest::newRow("overlong UTF-8") << QByteArray("Frequency=\xc0\xaf\n") << lossy;
        QTest::newRow("zero byte in a value") << QByteArray("Frequency=1\0002\n", 14) << lossy;
        QTest::newRow("quote left open") << QByteArray("Frequency=\"12.34\nGain=7\n") << lossy;
        QTest::newRow("text after ]") << QByteArray("[General]x\nFrequency=5\n") << lossy;
        QTest::newRow("empty section name") << QByteArray("[]\nFrequency=5\n") << lossy;
        const ini::Damage names = ini::Damage::Names;
        QTest::newRow("name starting with a backslash") << QByteArray("\\Frequency=5\n") << names;
        QTest::newRow("name ending in a backslash") << QByteArray("Frequency\\ =5\n") << names;
        QTest::newRow("section name ending in a backslash") << QByteArray("Frequency=5\n[Ramp\\]\nRate=1\n") << names;
        QTest::newRow("empty name") << QByteArray("=5\nFrequency=5\n") << names;
    }
    void damagedFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(ini::Damage, damage);
        // The table's claim about QSettings holds on this Qt, and the store's
        // own check of the bytes agrees with it.
        QCOMPARE(parse(content).status == QSettings::FormatError, damage == ini::Damage::Format);
        QCOMPARE(ini::Document::parse(content).damage, damage);

        QVERIFY(putBytes(storePath(), content));
        {
            // An earlier reader leaves QSettings with the file's contents in
            // memory; later QSettings objects then report no error for it.
            QSettings earlier(storePath(), QSettings::IniFormat);
            earlier.allKeys();
        }
        const FileStore store(storePath());
        for (int round = 0; round < 2; ++round) {
            for (const QString &name : {names::Frequency, names::Gain, QStringLiteral("Frequency")})
                QVERIFY2(!store.read(name).found, qPrintable(name));
        }
        QCOMPARE(fileBytes(storePath()), content);
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Veloxa.conf")});

        QVERIFY(FileStore(storePath()).write(names::Gain, QStringLiteral("7")));

        const QStringList aside = keptAside(m_dir->path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(fileBytes(m_dir->filePath(aside[0])), content);
        QCOMPARE(entries(m_dir->path()), (QStringList{QStringLiteral("Veloxa.conf"), aside[0], storeAndLock()[1]}));

        const QtParsed fresh = parse(fileBytes(storePath()));
        QCOMPARE(fresh.status, QSettings::NoError);
        QCOMPARE(fresh.values, (QMap<QString, QVariant>{{names::Gain, QStringLiteral("7")}}));
        QCOMPARE(store.read(names::Gain).text, QStringLiteral("7"));
        QVERIFY(!store.read(QStringLiteral("Frequency")).found);
    }

    void unusableFileIsKeptAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory") << QStringLiteral("directory");
        QTest::newRow("named pipe") << QStringLiteral("fifo");
        QTest::newRow("link to a directory") << QStringLiteral("link");
        QTest::newRow("file the store may not read") << QStringLiteral("unreadable");
    }
    void unusableFileIsKeptAside()
    {
        QFETCH(QString, kind);
        const QString target = m_dir->filePath(QStringLiteral("elsewhere"));
        const QByteArray content("[General]\nFrequency=12.34\n");
        putInPlaceOfTheFile(kind, target, content);
        if (QTest::currentTestFailed())
            return;

        // The store cannot read what is there (a named pipe would block a
        // reader until someone writes into it), another store writes a new
        // file, and the first reads that; a bit set for each step that went wrong.
        const auto failures = [this] {
            const FileStore store(storePath());
            int failed = store.read(names::Frequency).found ? 1 : 0;
            failed |= FileStore(storePath()).write(names::Gain, QStringLiteral("7")) ? 0 : 2;
            failed |= store.read(names::Gain).text == QStringLiteral("7") ? 0 : 4;
            return failed;
        };
        if (kind != u"unreadable" || ::geteuid() != 0) {
            QCOMPARE(failures(), 0);
        } else {
            // Permission bits do not stop root: run the store in a child that
            // has given up root for the "nobody" user.
            QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0777), 0);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(77);
                if (::access(QFile::encodeName(storePath()).constData(), R_OK) == 0)
                    ::_exit(78); // still allowed to read it
                ::_exit(failures());
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            if (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 78)
                QSKIP("cannot run the store as a user without the right to read the file");
            QCOMPARE(WEXITSTATUS(status), 0);
        }

        checkKeptAside(kind, target, content);
        const QtParsed fresh = parse(fileBytes(storePath()));
        QCOMPARE(fresh.values.keys(), QStringList{names::Gain});
    }

    void keptAsideFilesNeverReplaceEachOther()
    {
        // Every name a damaged file could get in the next few seconds is taken
        // already: the store must find other names and replace none of them.
        QMap<QString, QByteArray> placeholders;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int ms = -50; ms < 5000; ++ms) {
            const QString name = QStringLiteral("Veloxa.conf.damaged-")
                + now.addMSecs(ms).toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
            placeholders.insert(name, "placeholder " + QByteArray::number(ms));
            QVERIFY(putBytes(m_dir->filePath(name), placeholders.value(name)));
        }

        QList<QByteArray> contents;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 4; ++i) {
            contents.append("damaged " + QByteArray::number(i) + "\n");
            QVERIFY(putBytes(storePath(), contents.last()));
            QVERIFY(FileStore(storePath()).write(names::Gain, QString::number(i)));
        }
        QVERIFY(timer.elapsed() < 4000); // all within the taken names

        QList<QByteArray> keptContents;
        for (const QString &name : keptAside(m_dir->path())) {
            const QByteArray bytes = fileBytes(m_dir->filePath(name));
            if (placeholders.contains(name))
                QCOMPARE(bytes, placeholders.value(name));
            else
                keptContents.append(bytes);
        }
        std::sort(keptContents.begin(), keptContents.end());
        QCOMPARE(keptContents, contents);
        QCOMPARE(keptAside(m_dir->path()).size(), placeholders.size() + contents.size());
        QCOMPARE(FileStore(storePath()).read(names::Gain).text, QStringLiteral("3"));
    }

    // --- Writes that cannot succeed --------------------------------------------

    void unwritableLocation_data()
    {
        QTest::addColumn<QString>("relativePath"); // below a regular file named "plain"; null: no path at all
        QTest::newRow("no path") << QString();
        QTest::newRow("folder is a regular file") << QStringLiteral("plain/Veloxa.conf");
        QTest::newRow("folder's folder is a regular file") << QStringLiteral("plain/KW/Veloxa.conf");
    }
    void unwritableLocation()
    {
        QFETCH(QString, relativePath);
        const QString plain = m_dir->filePath(QStringLiteral("plain"));
        QVERIFY(putBytes(plain, "not a folder\n"));

        FileStore store(relativePath.isNull() ? QString() : m_dir->filePath(relativePath));
        QVERIFY(!store.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!store.read(names::Gain).found);
        QCOMPARE(fileBytes(plain), QByteArray("not a folder\n"));
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("plain")});
    }

    void noNameFailsQuietly()
    {
        FileStore named(storePath());
        QVERIFY(named.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!named.write(QString(), QStringLiteral("8")));
        QVERIFY(!named.read(QString()).found);
        QCOMPARE(named.read(names::Gain).text, QStringLiteral("7"));
    }

    void failedWriteKeepsPreviousFile_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<bool>("storeExists");
        QTest::newRow("lock file is a directory") << QStringLiteral("lock is a directory") << true;
        QTest::newRow("lock held by another writer") << QStringLiteral("lock held") << true;
        QTest::newRow("file size limit, store exists") << QStringLiteral("size limit") << true;
        QTest::newRow("file size limit, no store yet") << QStringLiteral("size limit") << false;
    }
    void failedWriteKeepsPreviousFile()
    {
        QFETCH(QString, cause);
        QFETCH(bool, storeExists);
        if (storeExists)
            QVERIFY(FileStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());

        const QString lockPath = storePath() + QStringLiteral(".lock");
        std::optional<HeldLock> held;
        if (cause == u"lock is a directory") {
            QVERIFY(QFile::remove(lockPath));
            QVERIFY(QDir().mkpath(lockPath + QStringLiteral("/inside")));
        } else if (cause == u"lock held") {
            held.emplace(storePath());
            QVERIFY(held->isHeld());
        }

        // A file size limit lets a short file be written but not the new
        // store: the write fails, as on a nearly full disk. (Qt 6.4's
        // QSettings renamed the short file into place and reported success.)
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit limited = old;
        limited.rlim_cur = 512;
        bool written = true;
        // The writer waits a bounded time for the lock (QSettings on its own waited for ever).
        QElapsedTimer timer;
        timer.start();
        {
            const auto restore = qScopeGuard([&] {
                ::setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, oldHandler);
            });
            if (cause == u"size limit")
                QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
            written = FileStore(storePath()).write(names::Gain, QString(1000, u'z'));
        }
        QVERIFY(!written);
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(fileBytes(storePath()), before);
        // Nothing new beside the store but its lock file, which stays.
        QCOMPARE(entries(m_dir->path()), storeExists ? storeAndLock() : storeAndLock().mid(1));
        const FileStore store(storePath());
        QCOMPARE(store.read(names::Frequency).found, storeExists);
        QCOMPARE(store.read(names::Frequency).text, storeExists ? QStringLiteral("12.34") : QString());
        QVERIFY(!store.read(names::Gain).found);

        // Once the cause is gone the same write succeeds.
        held.reset();
        if (cause == u"lock is a directory")
            QVERIFY(QDir(lockPath).removeRecursively());
        QVERIFY(FileStore(storePath()).write(names::Gain, QString(1000, u'z')));
        QCOMPARE(store.read(names::Gain).text, QString(1000, u'z'));
    }

    void writeReplacesTheFileAsAWhole()
    {
        // QSettings writes a new file and renames it over the old one: a
        // second name of the old file keeps the old bytes, so a write that
        // breaks off never leaves a half-written store.
        QVERIFY(FileStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());
        const QString oldName = m_dir->filePath(QStringLiteral("old"));
        QCOMPARE(::link(QFile::encodeName(storePath()).constData(), QFile::encodeName(oldName).constData()), 0);
        struct stat oldStat;
        QCOMPARE(::stat(QFile::encodeName(storePath()).constData(), &oldStat), 0);

        QVERIFY(FileStore(storePath()).write(names::Gain, QStringLiteral("7")));

        struct stat newStat;
        QCOMPARE(::stat(QFile::encodeName(storePath()).constData(), &newStat), 0);
        QVERIFY(newStat.st_ino != oldStat.st_ino);
        QCOMPARE(fileBytes(oldName), before);
        QCOMPARE(FileStore(storePath()).read(names::Gain).text, QStringLiteral("7"));
    }
};

QTEST_GUILESS_MAIN(TestStoreSafety)
#include "test_store_safety.moc"
