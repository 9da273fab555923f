// The settings store kept in a QSettings file (Linux and macOS).
//
// Every test works in its own temporary folder. Where a test looks at what a
// file holds it parses a copy of the file's bytes under a name no QSettings
// object has seen before: QSettings remembers what it parsed for a path and
// does not parse an unchanged file again, which would hide both format errors
// and the file's real contents.

#include "settings/qsettings_store.h"
#include "settings/store.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QObject>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veloxa::settings;

namespace {

const QStringList kAllNames = {names::Left,         names::Top,      names::IpAddress, names::Frequency,
                               names::SystemClock,  names::Polarity, names::DisplayContrast, names::Gain,
                               names::RampRate,     names::RampStep, names::RampStopFreq};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool putBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList keptAside(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("Veloxa.conf.damaged-*")},
                               QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
}

QString text1024Ascii()
{
    return QString(1024, u'x');
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private:
    struct Parsed {
        QSettings::Status status = QSettings::NoError;
        QStringList keys;   // top-level keys
        QStringList groups; // sections
        QMap<QString, QVariant> values;
    };

    // What a fresh QSettings makes of these bytes.
    Parsed parse(const QByteArray &bytes)
    {
        const QString path = m_parseDir.filePath(QStringLiteral("parse-%1.conf").arg(++m_parseCount));
        if (!putBytes(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        Parsed parsed;
        QSettings settings(path, QSettings::NativeFormat);
        for (const QString &key : settings.allKeys()) // a line "=5" gives an empty name
            parsed.values.insert(key, key.isEmpty() ? QVariant() : settings.value(key));
        parsed.keys = settings.childKeys();
        parsed.groups = settings.childGroups();
        parsed.status = settings.status();
        return parsed;
    }

    QString storePath() const { return m_dir->filePath(QStringLiteral("Veloxa.conf")); }

    QTemporaryDir m_parseDir;
    int m_parseCount = 0;
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void initTestCase() { QVERIFY(m_parseDir.isValid()); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup() { m_dir.reset(); }

    // --- Texts -------------------------------------------------------------

    void writtenTextReadsBack_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("read");

        const auto same = [](const char *tag, const QString &text) { QTest::newRow(tag) << text << true << text; };
        same("number", QStringLiteral("12.34"));
        same("blanks inside", QStringLiteral("a  b c"));
        same("leading and trailing blanks", QStringLiteral("  12.34 "));
        same("tab and line breaks", QStringLiteral("a\tb\nc\r\nd"));
        same("commas", QStringLiteral("a, b,c"));
        same("comma alone", QStringLiteral(","));
        same("double quotes", QStringLiteral("\"quoted\" and \"half"));
        same("single quote", QStringLiteral("it's"));
        same("at sign", QStringLiteral("@"));
        same("at variant opening", QStringLiteral("@Variant("));
        same("at variant whole", QStringLiteral("@Variant(\\0\\0\\0\\x2\\0\\0\\0P)"));
        same("at invalid", QStringLiteral("@Invalid()"));
        same("at byte array", QStringLiteral("@ByteArray(x)"));
        same("backslashes", QStringLiteral("C:\\temp\\ \\\\ \\n"));
        same("non-ASCII", QStringLiteral("Grüße µ 温度"));
        same("leading hash", QStringLiteral("# not a comment"));
        same("leading semicolon", QStringLiteral("; not a comment"));
        same("semicolon inside", QStringLiteral("a;b"));
        same("equals sign", QStringLiteral("="));
        same("key=value look", QStringLiteral("Frequency=5"));
        same("section look", QStringLiteral("[x]"));
        same("section line look", QStringLiteral("[General]\nGain=3"));
        same("percent escapes", QStringLiteral("%20%U0041"));
        same("True", QStringLiteral("True"));
        // The 1024-byte limit counts UTF-8 bytes, not characters.
        same("1024 ASCII bytes", text1024Ascii());
        same("1024 UTF-8 bytes in 512 characters", QString(512, u'ü'));
        same("1024 UTF-8 bytes, 3-byte characters last", QString(1021, u'x') + u'温');
        QTest::newRow("1025 ASCII bytes") << QString(1025, u'x') << false << QString();
        QTest::newRow("1025 UTF-8 bytes in 513 characters") << QString(512, u'ü') + u'a' << false << QString();
        QTest::newRow("1025 UTF-8 bytes in 1024 characters") << QString(1023, u'x') + u'ü' << false << QString();
        QTest::newRow("empty text") << QString() << false << QString();
        // A trailing zero byte is dropped on reading, as the registry store does.
        QTest::newRow("trailing zero") << QStringLiteral("12.34") + QChar(0) << true << QStringLiteral("12.34");
        QTest::newRow("zero only") << QString(QChar(0)) << false << QString();
        QTest::newRow("zero inside") << QStringLiteral("a") + QChar(0) + u'b' << true
                                     << QStringLiteral("a") + QChar(0) + u'b';
    }

    void writtenTextReadsBack()
    {
        QFETCH(QString, written);
        QFETCH(bool, found);
        QFETCH(QString, read);

        QVERIFY(QSettingsStore(storePath()).write(names::Frequency, written));
        const ReadResult result = QSettingsStore(storePath()).read(names::Frequency);
        QCOMPARE(result.found, found);
        QCOMPARE(result.text, read);

        // The file holds the text as written, under the name, at the top level.
        const Parsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.groups, QStringList());
        QCOMPARE(parsed.keys, QStringList{names::Frequency});
        QCOMPARE(parsed.values.value(names::Frequency).toString(), written);
    }

    void missingFileReadsNotFound_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("no file") << QStringLiteral("Veloxa.conf");
        QTest::newRow("no folder") << QStringLiteral("KW/Veloxa.conf");
    }

    void missingFileReadsNotFound()
    {
        QFETCH(QString, relativePath);
        const QSettingsStore store(m_dir->filePath(relativePath));
        for (const QString &name : kAllNames) {
            const ReadResult result = store.read(name);
            QVERIFY2(!result.found, qPrintable(name));
            QCOMPARE(result.text, QString());
        }
        QCOMPARE(entries(m_dir->path()), QStringList()); // reading created nothing
    }

    void valueNamesStayExactAtTopLevel()
    {
        QSettingsStore store(storePath());
        for (int i = 0; i < kAllNames.size(); ++i)
            QVERIFY(store.write(kAllNames[i], QStringLiteral("value %1").arg(i)));

        const Parsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.groups, QStringList());
        QStringList expected = kAllNames;
        expected.sort();
        QCOMPARE(parsed.keys, expected);

        const QSettingsStore reader(storePath());
        for (int i = 0; i < kAllNames.size(); ++i) {
            const ReadResult result = reader.read(kAllNames[i]);
            QVERIFY2(result.found, qPrintable(kAllNames[i]));
            QCOMPARE(result.text, QStringLiteral("value %1").arg(i));
        }
        // A name that differs only in case or blanks is another value.
        QVERIFY(!reader.read(QStringLiteral("gain (cp current)")).found);
        QVERIFY(!reader.read(QStringLiteral("Gain(CP current)")).found);
        // Nothing is left behind beside the store.
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Veloxa.conf")});
    }

    void writeKeepsOtherValues()
    {
        QVERIFY(putBytes(storePath(), "[General]\nFrequency=12.34\nOther=keep me\n\n[Section]\nx=1\n"));
        QVERIFY(QSettingsStore(storePath()).write(names::Gain, QStringLiteral("7")));
        const Parsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.values.value(QStringLiteral("Frequency")).toString(), QStringLiteral("12.34"));
        QCOMPARE(parsed.values.value(QStringLiteral("Other")).toString(), QStringLiteral("keep me"));
        QCOMPARE(parsed.values.value(QStringLiteral("Section/x")).toString(), QStringLiteral("1"));
        QCOMPARE(parsed.values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(parsed.values.size(), 4);
        QCOMPARE(keptAside(m_dir->path()), QStringList());
    }

    // --- Values another program stored ---------------------------------------

    void foreignValues_data()
    {
        QTest::addColumn<QByteArray>("stored"); // the text after "Frequency=" in the file
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("read");

        QTest::newRow("plain") << QByteArray("12.34") << true << QStringLiteral("12.34");
        QTest::newRow("blanks around") << QByteArray("   12.34   ") << true << QStringLiteral("12.34");
        QTest::newRow("list") << QByteArray("a, b") << true << QStringLiteral("a, b");
        QTest::newRow("list without blank") << QByteArray("12,34") << true << QStringLiteral("12, 34");
        QTest::newRow("list with empty item") << QByteArray("12.34,") << true << QStringLiteral("12.34, ");
        QTest::newRow("quoted") << QByteArray("\"a, b\"") << true << QStringLiteral("a, b");
        QTest::newRow("byte array") << QByteArray("@ByteArray(12.34)") << true << QStringLiteral("12.34");
        QTest::newRow("number") << QByteArray("@Variant(\\0\\0\\0\\x2\\0\\0\\0P)") << true << QStringLiteral("80");
        QTest::newRow("truth value") << QByteArray("@Variant(\\0\\0\\0\\x1\\x1)") << true << QStringLiteral("true");
        QTest::newRow("rectangle") << QByteArray("@Rect(1 2 3 4)") << true << QStringLiteral("1 2 3 4");
        QTest::newRow("size") << QByteArray("@Size(5 6)") << true << QStringLiteral("5 6");
        QTest::newRow("point") << QByteArray("@Point(-7 8)") << true << QStringLiteral("-7 8");
        QTest::newRow("string marker") << QByteArray("@String(abc)") << true << QStringLiteral("abc");
        QTest::newRow("escaped at") << QByteArray("@@x") << true << QStringLiteral("@x");
        QTest::newRow("invalid") << QByteArray("@Invalid()") << false << QString();
        QTest::newRow("empty") << QByteArray("") << false << QString();
        QTest::newRow("empty quoted") << QByteArray("\"\"") << false << QString();
        QTest::newRow("byte array of 1024 bytes") << "@ByteArray(" + QByteArray(1024, 'x') + ")" << true
                                                  << QString(1024, u'x');
        QTest::newRow("byte array of 1025 bytes") << "@ByteArray(" + QByteArray(1025, 'x') + ")" << false << QString();
        // The stored text is 1024 bytes, the list's text 1025.
        QTest::newRow("list of 1025 bytes") << QByteArray(512, 'a') + ',' + QByteArray(511, 'b') << false << QString();
    }

    void foreignValues()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, found);
        QFETCH(QString, read);

        const QByteArray file = "[General]\nFrequency=" + stored + "\nGain=7\n";
        QVERIFY(putBytes(storePath(), file));
        const ReadResult result = QSettingsStore(storePath()).read(names::Frequency);
        QCOMPARE(result.found, found);
        QCOMPARE(result.text, read);
        QCOMPARE(QSettingsStore(storePath()).read(QStringLiteral("Gain")).text, QStringLiteral("7"));
        QCOMPARE(fileBytes(storePath()), file);
    }

    // --- Damaged files ---------------------------------------------------------

    void damagedFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        // "format": QSettings itself reports FormatError; "bytes": QSettings
        // reads it without complaint, but a rewrite would lose or change bytes;
        // "names": a rewrite would file a value under another name.
        QTest::addColumn<QString>("damage");

        const QString format = QStringLiteral("format");
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
        const QString bytes = QStringLiteral("bytes");
        QTest::newRow("Latin-1 byte") << QByteArray("Frequency=12\xb5\n") << bytes;
        QTest::newRow("overlong UTF-8") << QByteArray("Frequency=\xc0\xaf\n") << bytes;
        QTest::newRow("zero byte in a value") << QByteArray("Frequency=1\0002\n", 14) << bytes;
        QTest::newRow("quote left open") << QByteArray("Frequency=\"12.34\nGain=7\n") << bytes;
        QTest::newRow("text after ]") << QByteArray("[General]x\nFrequency=5\n") << bytes;
        QTest::newRow("empty section name") << QByteArray("[]\nFrequency=5\n") << bytes;
        const QString names = QStringLiteral("names");
        QTest::newRow("name starting with a backslash") << QByteArray("\\Frequency=5\n") << names;
        QTest::newRow("name ending in a backslash") << QByteArray("Frequency\\ =5\n") << names;
        QTest::newRow("section name ending in a backslash") << QByteArray("Frequency=5\n[Ramp\\]\nRate=1\n") << names;
        QTest::newRow("empty name") << QByteArray("=5\nFrequency=5\n") << names;
    }

    void damagedFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, damage);

        // The table's claim about QSettings holds on this Qt, and the store's
        // own check of the bytes agrees with it.
        QCOMPARE(parse(content).status == QSettings::FormatError, damage == u"format");
        const IniTextCheck expectedCheck = damage == u"format" ? IniTextCheck::FormatError
            : damage == u"bytes"                               ? IniTextCheck::Lossy
                                                               : IniTextCheck::Clean;
        QCOMPARE(checkIniText(content), expectedCheck);

        QVERIFY(putBytes(storePath(), content));
        {
            // An earlier reader leaves QSettings with the file's contents in
            // memory; later QSettings objects then report no error for it.
            QSettings earlier(storePath(), QSettings::NativeFormat);
            earlier.allKeys();
        }
        const QSettingsStore store(storePath());
        for (int round = 0; round < 2; ++round) {
            for (const QString &name : {names::Frequency, names::Gain, QStringLiteral("Frequency")})
                QVERIFY2(!store.read(name).found, qPrintable(name));
        }
        QCOMPARE(fileBytes(storePath()), content);
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("Veloxa.conf")});

        QVERIFY(QSettingsStore(storePath()).write(names::Gain, QStringLiteral("7")));

        const QStringList aside = keptAside(m_dir->path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(fileBytes(m_dir->filePath(aside[0])), content);
        QCOMPARE(entries(m_dir->path()), (QStringList{QStringLiteral("Veloxa.conf"), aside[0]}));

        const Parsed fresh = parse(fileBytes(storePath()));
        QCOMPARE(fresh.status, QSettings::NoError);
        QCOMPARE(fresh.values.keys(), QStringList{names::Gain});
        QCOMPARE(fresh.values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(store.read(names::Gain).text, QStringLiteral("7"));
        QVERIFY(!store.read(QStringLiteral("Frequency")).found);
    }

    void somethingElseInPlaceOfTheFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory") << QStringLiteral("directory");
        QTest::newRow("named pipe") << QStringLiteral("fifo");
        QTest::newRow("link to a directory") << QStringLiteral("link");
    }

    void somethingElseInPlaceOfTheFile()
    {
        QFETCH(QString, kind);
        const QString path = storePath();
        const QString target = m_dir->filePath(QStringLiteral("elsewhere"));
        if (kind == u"directory") {
            QVERIFY(QDir().mkpath(path));
            QVERIFY(putBytes(path + QStringLiteral("/inside.txt"), "keep"));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QVERIFY(QDir().mkpath(target));
            QVERIFY(putBytes(target + QStringLiteral("/inside.txt"), "keep"));
            QVERIFY(QFile::link(target, path));
        }

        // A named pipe would block a reader until someone writes into it.
        const QSettingsStore store(storePath());
        QVERIFY(!store.read(names::Frequency).found);
        QVERIFY(QSettingsStore(storePath()).write(names::Frequency, QStringLiteral("5")));
        QCOMPARE(store.read(names::Frequency).text, QStringLiteral("5"));

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
        } else {
            QVERIFY(kept.isSymLink());
            QCOMPARE(kept.symLinkTarget(), target);
            QCOMPARE(fileBytes(target + QStringLiteral("/inside.txt")), QByteArray("keep"));
        }
        const Parsed fresh = parse(fileBytes(storePath()));
        QCOMPARE(fresh.values.keys(), QStringList{names::Frequency});
    }

    void unreadableFileIsKeptAside()
    {
        const QByteArray content("[General]\nFrequency=12.34\n");
        QVERIFY(putBytes(storePath(), content));
        QVERIFY(QFile::setPermissions(storePath(), QFileDevice::Permissions()));

        if (::geteuid() != 0) {
            QSettingsStore store(storePath());
            QVERIFY(!store.read(names::Frequency).found);
            QVERIFY(store.write(names::Gain, QStringLiteral("7")));
            QCOMPARE(store.read(names::Gain).text, QStringLiteral("7"));
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
                QSettingsStore store(storePath());
                int failures = 0;
                if (store.read(names::Frequency).found)
                    failures |= 1;
                if (!store.write(names::Gain, QStringLiteral("7")))
                    failures |= 2;
                if (store.read(names::Gain).text != QStringLiteral("7"))
                    failures |= 4;
                ::_exit(failures);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            if (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 78)
                QSKIP("cannot run the store as a user without the right to read the file");
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        const QStringList aside = keptAside(m_dir->path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(fileBytes(m_dir->filePath(aside[0])), content); // we may read it; the store's user could not
        const Parsed fresh = parse(fileBytes(storePath()));
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
            QVERIFY(QSettingsStore(storePath()).write(names::Gain, QString::number(i)));
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
        QCOMPARE(QSettingsStore(storePath()).read(names::Gain).text, QStringLiteral("3"));
    }

    // --- Writes that cannot succeed --------------------------------------------

    void unwritableLocation_data()
    {
        QTest::addColumn<QString>("relativePath"); // below a regular file named "plain"
        QTest::newRow("folder is a regular file") << QStringLiteral("plain/Veloxa.conf");
        QTest::newRow("folder's folder is a regular file") << QStringLiteral("plain/KW/Veloxa.conf");
    }

    void unwritableLocation()
    {
        QFETCH(QString, relativePath);
        const QString plain = m_dir->filePath(QStringLiteral("plain"));
        QVERIFY(putBytes(plain, "not a folder\n"));

        QSettingsStore store(m_dir->filePath(relativePath));
        QVERIFY(!store.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!store.read(names::Gain).found);
        QCOMPARE(fileBytes(plain), QByteArray("not a folder\n"));
        QCOMPARE(entries(m_dir->path()), QStringList{QStringLiteral("plain")});
    }

    void noPathOrNameFailsQuietly()
    {
        QSettingsStore store{QString()};
        QVERIFY(!store.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!store.read(names::Gain).found);

        QSettingsStore named(storePath());
        QVERIFY(named.write(names::Gain, QStringLiteral("7")));
        QVERIFY(!named.write(QString(), QStringLiteral("8")));
        QVERIFY(!named.read(QString()).found);
        QCOMPARE(named.read(names::Gain).text, QStringLiteral("7"));
    }

    void lockThatCannotBeTaken_data()
    {
        QTest::addColumn<bool>("lockIsDirectory");
        QTest::newRow("lock file is a directory") << true;
        QTest::newRow("lock held by another writer") << false;
    }

    void lockThatCannotBeTaken()
    {
        QFETCH(bool, lockIsDirectory);
        QVERIFY(QSettingsStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());

        const QString lockPath = storePath() + QStringLiteral(".lock");
        QLockFile held(lockPath);
        if (lockIsDirectory)
            QVERIFY(QDir().mkpath(lockPath + QStringLiteral("/inside")));
        else
            QVERIFY(held.tryLock(0));

        // QSettings on its own would wait for ever here.
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!QSettingsStore(storePath()).write(names::Gain, QStringLiteral("7")));
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));

        QCOMPARE(fileBytes(storePath()), before);
        QCOMPARE(QSettingsStore(storePath()).read(names::Frequency).text, QStringLiteral("12.34"));
        QVERIFY(!QSettingsStore(storePath()).read(names::Gain).found);
    }

    void failedWriteKeepsPreviousFile_data()
    {
        QTest::addColumn<bool>("storeExists");
        QTest::newRow("store exists") << true;
        QTest::newRow("no store yet") << false;
    }

    void failedWriteKeepsPreviousFile()
    {
        QFETCH(bool, storeExists);
        if (storeExists)
            QVERIFY(QSettingsStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());
        const QStringList entriesBefore = entries(m_dir->path());

        // A file size limit lets the lock file be written but not the new
        // store: the final flush fails, as on a nearly full disk. Qt 6.4's
        // QSettings still renames the short file into place and reports
        // success.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit limited = old;
        limited.rlim_cur = 512;
        bool written = true;
        {
            const auto restore = qScopeGuard([&] {
                ::setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, oldHandler);
            });
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
            written = QSettingsStore(storePath()).write(names::Gain, QString(1000, u'z'));
        }
        QVERIFY(!written);
        QCOMPARE(fileBytes(storePath()), before);
        QCOMPARE(entries(m_dir->path()), entriesBefore);
        const QSettingsStore store(storePath());
        QCOMPARE(store.read(names::Frequency).found, storeExists);
        QVERIFY(!store.read(names::Gain).found);

        // Without the limit the same write succeeds.
        QVERIFY(QSettingsStore(storePath()).write(names::Gain, QString(1000, u'z')));
        QCOMPARE(store.read(names::Gain).text, QString(1000, u'z'));
    }

    void writeReplacesTheFileAsAWhole()
    {
        // QSettings writes a new file and renames it over the old one: a
        // second name of the old file keeps the old bytes, so a write that
        // breaks off never leaves a half-written store.
        QVERIFY(QSettingsStore(storePath()).write(names::Frequency, QStringLiteral("12.34")));
        const QByteArray before = fileBytes(storePath());
        const QString oldName = m_dir->filePath(QStringLiteral("old"));
        QCOMPARE(::link(QFile::encodeName(storePath()).constData(), QFile::encodeName(oldName).constData()), 0);
        struct stat oldStat;
        QCOMPARE(::stat(QFile::encodeName(storePath()).constData(), &oldStat), 0);

        QVERIFY(QSettingsStore(storePath()).write(names::Gain, QStringLiteral("7")));

        struct stat newStat;
        QCOMPARE(::stat(QFile::encodeName(storePath()).constData(), &newStat), 0);
        QVERIFY(newStat.st_ino != oldStat.st_ino);
        QCOMPARE(fileBytes(oldName), before);
        QCOMPARE(QSettingsStore(storePath()).read(names::Gain).text, QStringLiteral("7"));
    }

    // --- Where the store lives ---------------------------------------------------

    void defaultLocation_data()
    {
        QTest::addColumn<bool>("xdgSet");
        QTest::newRow("XDG_CONFIG_HOME set") << true;
        QTest::newRow("XDG_CONFIG_HOME unset") << false;
    }

    void defaultLocation()
    {
        QFETCH(bool, xdgSet);
        const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
        const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        const QByteArray oldHome = qgetenv("HOME");
        const auto restore = qScopeGuard([&] {
            if (hadXdg)
                qputenv("XDG_CONFIG_HOME", oldXdg);
            else
                qunsetenv("XDG_CONFIG_HOME");
            qputenv("HOME", oldHome);
        });

        QString expected;
        if (xdgSet) {
            const QString config = m_dir->filePath(QStringLiteral("config"));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
            expected = config + QStringLiteral("/KW/Veloxa.conf");
        } else {
            qunsetenv("XDG_CONFIG_HOME");
            qputenv("HOME", QFile::encodeName(m_dir->path()));
            expected = m_dir->path() + QStringLiteral("/.config/KW/Veloxa.conf");
        }

        QSettingsStore store;
        QCOMPARE(store.filePath(), expected);
        QVERIFY(store.write(names::Gain, QStringLiteral("7")));
        QCOMPARE(parse(fileBytes(expected)).values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(QSettingsStore().read(names::Gain).text, QStringLiteral("7"));
    }

    // --- The check of the bytes against QSettings itself ---------------------------

    void textCheckAgreesWithQSettings()
    {
        // Random texts made of the characters that matter to QSettings' reader.
        // The check must call FormatError exactly what QSettings does. A write
        // to a file with any other text must succeed and either keep the file
        // aside (then every value read as not found before) or keep every value
        // reading as before.
        static const char alphabet[] = "[]=;\"\\\n\r \t#%@,/ab\n=[]ab=\n";
        QRandomGenerator random(20240611);
        int formatErrors = 0;
        int keptAsIs = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray text;
            const int length = random.bounded(1, 16);
            for (int i = 0; i < length; ++i)
                text.append(alphabet[random.bounded(int(sizeof alphabet) - 1)]);
            const QByteArray percent = text.toPercentEncoding();
            const char *shown = percent.constData();

            const Parsed qt = parse(text);
            const IniTextCheck check = checkIniText(text);
            QVERIFY2((qt.status == QSettings::FormatError) == (check == IniTextCheck::FormatError), shown);
            if (check == IniTextCheck::FormatError) {
                ++formatErrors;
                continue;
            }

            const QString path = m_dir->filePath(QStringLiteral("random-%1.conf").arg(round));
            QVERIFY(putBytes(path, text));
            QMap<QString, ReadResult> before;
            for (const QString &key : qt.values.keys())
                before.insert(key, QSettingsStore(path).read(key));

            QVERIFY2(QSettingsStore(path).write(names::Gain, QStringLiteral("7")), shown);

            const QStringList aside = QDir(m_dir->path()).entryList({QFileInfo(path).fileName() + QStringLiteral(".damaged-*")});
            if (!aside.isEmpty()) {
                QCOMPARE(fileBytes(m_dir->filePath(aside[0])), text);
                for (const ReadResult &result : before)
                    QVERIFY2(!result.found, shown);
                continue;
            }
            ++keptAsIs;
            for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
                const ReadResult after = QSettingsStore(path).read(it.key());
                QVERIFY2(after.found == it->found && after.text == it->text, shown);
            }
            QCOMPARE(QSettingsStore(path).read(names::Gain).text, QStringLiteral("7"));
        }
        // The random texts reach both outcomes often enough to mean something.
        qInfo("%d format errors, %d kept as is", formatErrors, keptAsIs);
        QVERIFY2(formatErrors > 300 && keptAsIs > 300,
                 qPrintable(QStringLiteral("%1 format errors, %2 kept as is").arg(formatErrors).arg(keptAsIs)));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
