// The settings store kept in an INI file (Linux): what it reads and writes,
// held against QSettings both ways, values other programs stored, and where
// the file lives. (test_store_safety: damage, failures, other writers.)
//
// Every test works in its own temporary folder. Where a test looks at what a
// file holds it has a QSettings that never saw the file parse a copy of it.

#include "core/settings/file_store.h"
#include "core/settings/ini_text.h"
#include "support/random_text.h"
#include "support/store_files.h"

#include <QFileInfo>
#include <QScopeGuard>

using namespace veloxa::settings;
using namespace veloxa::test;

class TestStore : public QObject, protected StoreTestFolder {
    Q_OBJECT

private slots:
    void init() { freshFolder(); }

    // --- Texts -------------------------------------------------------------

    void writtenTextReadsBack_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("name"); // of the value
        const auto row = [](const char *tag, const QString &written, bool found, const QString &read,
                            const QString &name = names::Frequency) {
            QTest::newRow(tag) << written << found << read << name;
        };
        const auto same = [&row](const char *tag, const QString &text) { row(tag, text, true, text); };
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
        same("1024 ASCII bytes", QString(1024, u'x'));
        same("1024 UTF-8 bytes in 512 characters", QString(512, u'ü'));
        same("1024 UTF-8 bytes, 3-byte characters last", QString(1021, u'x') + u'温');
        // Texts whose escaping has corners: control characters, a hex digit
        // right after an escape, bytes beyond ASCII, characters beyond U+FFFF,
        // QSettings' own '@' forms and blanks that need quotes.
        same("control characters", QStringLiteral("\x01\x1f\x7f\a\b\f\v"));
        same("hex digit after an escape", QStringLiteral("\x01") + QStringLiteral("fab9"));
        same("zero then hex digits", QStringLiteral("a") + QChar(0) + QStringLiteral("1f"));
        same("Latin-1 range", QStringLiteral("\u00a0\u00b5\u00ff"));
        same("beyond U+FFFF", QStringLiteral("\U0001F600 \U0010FFFF"));
        same("at string form", QStringLiteral("@String(x)"));
        same("double at", QStringLiteral("@@"));
        same("escape look", QStringLiteral("\\x41 \\0 \\n"));
        same("quotes around commas", QStringLiteral("\"a, b\", c"));
        same("blank only", QStringLiteral(" "));
        same("trailing tab", QStringLiteral("5\t"));
        same("CR LF inside", QStringLiteral("\r\n\r\n"));
        row("1025 ASCII bytes", QString(1025, u'x'), false, {});
        row("1025 UTF-8 bytes in 513 characters", QString(512, u'ü') + u'a', false, {});
        row("1025 UTF-8 bytes in 1024 characters", QString(1023, u'x') + u'ü', false, {});
        row("empty text", {}, false, {});
        // A trailing zero byte is dropped on reading, as the registry store does.
        row("trailing zero", QStringLiteral("12.34") + QChar(0), true, QStringLiteral("12.34"));
        row("zero only", QString(QChar(0)), false, {});
        row("zero inside", QStringLiteral("a") + QChar(0) + u'b', true, QStringLiteral("a") + QChar(0) + u'b');
        // Value names QSettings escapes.
        for (const auto &[tag, name] : {std::pair{"name with blank and parentheses", names::Gain},
                                        {"name with percent and equals", QStringLiteral("a%b=c")},
                                        {"name with semicolon and hash", QStringLiteral(";#x")},
                                        {"Latin-1 name", QStringLiteral("Grüße")},
                                        {"name beyond Latin-1", QStringLiteral("温度")},
                                        {"name General", QStringLiteral("General")},
                                        {"name in brackets", QStringLiteral("[x]")}})
            row(tag, QStringLiteral("5"), true, QStringLiteral("5"), name);
    }
    void writtenTextReadsBack()
    {
        QFETCH(QString, written);
        QFETCH(bool, found);
        QFETCH(QString, read);
        QFETCH(QString, name);
        QVERIFY(FileStore(storePath()).write(name, written));
        const ReadResult result = FileStore(storePath()).read(name);
        QCOMPARE(result.found, found);
        QCOMPARE(result.text, read);

        // The file holds the text as written, under the name, at the top level.
        const QtParsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.groups, QStringList());
        QCOMPARE(parsed.keys, QStringList{name});
        QCOMPARE(parsed.values.value(name).toString(), written);

        // The other way: QSettings writes exactly these bytes for the text,
        // and the store reads what QSettings wrote as it reads its own.
        const QByteArray byQt = m_qt.written({{name, written}});
        QCOMPARE(fileBytes(storePath()), byQt);
        const QString qtPath = m_dir->filePath(QStringLiteral("by-qt.conf"));
        QVERIFY(putBytes(qtPath, byQt));
        const ReadResult fromQt = FileStore(qtPath).read(name);
        QCOMPARE(fromQt.found, found);
        QCOMPARE(fromQt.text, read);
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
        const FileStore store(m_dir->filePath(relativePath));
        for (const QString &name : storeNames()) {
            const ReadResult result = store.read(name);
            QVERIFY2(!result.found, qPrintable(name));
            QCOMPARE(result.text, QString());
        }
        QCOMPARE(entries(m_dir->path()), QStringList()); // reading created nothing
    }

    void valueNamesStayExactAtTopLevel()
    {
        FileStore store(storePath());
        for (int i = 0; i < storeNames().size(); ++i)
            QVERIFY(store.write(storeNames()[i], QStringLiteral("value %1").arg(i)));

        const QtParsed parsed = parse(fileBytes(storePath()));
        QCOMPARE(parsed.status, QSettings::NoError);
        QCOMPARE(parsed.groups, QStringList());
        QStringList expected = storeNames();
        expected.sort();
        QCOMPARE(parsed.keys, expected);

        const FileStore reader(storePath());
        for (int i = 0; i < storeNames().size(); ++i) {
            const ReadResult result = reader.read(storeNames()[i]);
            QVERIFY2(result.found, qPrintable(storeNames()[i]));
            QCOMPARE(result.text, QStringLiteral("value %1").arg(i));
        }
        // A name that differs only in case or blanks is another value.
        QVERIFY(!reader.read(QStringLiteral("gain (cp current)")).found);
        QVERIFY(!reader.read(QStringLiteral("Gain(CP current)")).found);
        // Nothing is left behind beside the store but its lock file.
        QCOMPARE(entries(m_dir->path()), storeAndLock());
    }

    void writeKeepsOtherValues()
    {
        QVERIFY(putBytes(storePath(), "[General]\nFrequency=12.34\nOther=keep me\n\n[Section]\nx=1\n"));
        QVERIFY(FileStore(storePath()).write(names::Gain, QStringLiteral("7")));
        const QMap<QString, QVariant> expected{{QStringLiteral("Frequency"), QStringLiteral("12.34")},
                                               {QStringLiteral("Other"), QStringLiteral("keep me")},
                                               {QStringLiteral("Section/x"), QStringLiteral("1")},
                                               {names::Gain, QStringLiteral("7")}};
        QCOMPARE(parse(fileBytes(storePath())).values, expected);
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
        QTest::newRow("byte array of 1024 bytes")
            << "@ByteArray(" + QByteArray(1024, 'x') + ")" << true << QString(1024, u'x');
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
        const ReadResult result = FileStore(storePath()).read(names::Frequency);
        QCOMPARE(result.found, found);
        QCOMPARE(result.text, read);
        QCOMPARE(FileStore(storePath()).read(QStringLiteral("Gain")).text, QStringLiteral("7"));
        QCOMPARE(fileBytes(storePath()), file);
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
        const auto restore =
            qScopeGuard([oldXdg = qgetenv("XDG_CONFIG_HOME"), hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME"),
                         oldHome = qgetenv("HOME")] {
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

        FileStore store;
        QCOMPARE(store.filePath(), expected);
        QVERIFY(store.write(names::Gain, QStringLiteral("7")));
        QCOMPARE(parse(fileBytes(expected)).values.value(names::Gain).toString(), QStringLiteral("7"));
        QCOMPARE(FileStore().read(names::Gain).text, QStringLiteral("7"));
    }

    // --- The check of the bytes against QSettings itself ---------------------------

    void randomTextsReadAsQSettingsReadsThem()
    {
        // Random texts made of the characters that matter to QSettings' reader.
        // The store must call a format error exactly what QSettings does; a
        // text it takes as clean must give the same names as QSettings and,
        // for every value QSettings reads as a text or a list of texts, the
        // same text; and a write to it must keep every value reading as before.
        RandomText random(20240611, QStringLiteral("[]=;\"\\\n\r \t#%@,/ab\n=[]ab=\n"));
        int formatErrors = 0;
        int clean = 0;
        for (int round = 0; round < 3000; ++round) {
            // Each text is parsed by the store and by QSettings; a clean one is
            // then read and written in a file of the round's own.
            const QByteArray text = random.anyText(15).toUtf8();
            const QByteArray percent = text.toPercentEncoding();
            const char *shown = percent.constData();

            const QtParsed qt = parse(text);
            const ini::Document::Parsed ours = ini::Document::parse(text);
            QVERIFY2((qt.status == QSettings::FormatError) == (ours.damage == ini::Damage::Format), shown);
            if (ours.damage == ini::Damage::Format)
                ++formatErrors;
            if (ours.damage != ini::Damage::None)
                continue;
            ++clean;
            QStringList ourNames = ours.document.names();
            ourNames.sort();
            QVERIFY2(ourNames == qt.values.keys(), shown); // a QMap's keys come sorted

            // The store reads a text or a list of texts as QSettings reads it.
            const QString path = m_dir->filePath(QStringLiteral("random-%1.conf").arg(round));
            QVERIFY(putBytes(path, text));
            QMap<QString, ReadResult> before;
            for (auto it = qt.values.constBegin(); it != qt.values.constEnd(); ++it) {
                const ReadResult result = FileStore(path).read(it.key());
                before.insert(it.key(), result);
                const int type = it.value().typeId();
                if (type != QMetaType::QString && type != QMetaType::QStringList)
                    continue;
                const QString expected = type == QMetaType::QString
                    ? it.value().toString()
                    : it.value().toStringList().join(QStringLiteral(", "));
                QVERIFY2(result.text == (expected.toUtf8().size() > 1024 ? QString() : expected), shown);
            }

            // A write to the file keeps it clean and every value reading as before.
            QVERIFY2(FileStore(path).write(names::Gain, QStringLiteral("7")), shown);
            QVERIFY2(keptAside(m_dir->path(), QFileInfo(path).fileName()).isEmpty(), shown);
            for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
                const ReadResult after = FileStore(path).read(it.key());
                QVERIFY2(after.found == it->found && after.text == it->text, shown);
            }
            QCOMPARE(FileStore(path).read(names::Gain).text, QStringLiteral("7"));
        }
        // The random texts reach both outcomes often enough to mean something.
        qInfo("%d format errors, %d clean", formatErrors, clean);
        QVERIFY2(formatErrors > 300 && clean > 300,
                 qPrintable(QStringLiteral("%1 format errors, %2 clean").arg(formatErrors).arg(clean)));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
