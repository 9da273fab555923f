// What the broker bridge and veloxa2-ctl --mqtt take from the command line
// before anything connects: broker URLs, unit names, the credentials file and
// which hosts count as this machine.

#include "core/broker/broker_options.h"
#include "core/remote/endpoint_path.h"

#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace veloxa::broker;

class TestBrokerOptions : public QObject {
    Q_OBJECT

private slots:
    void urls_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("read"); // the address as url() shows it, or the start of the refusal
        QTest::newRow("default port") << "mqtt://broker" << "mqtt://broker:1883";
        QTest::newRow("TLS default port") << "mqtts://broker.lab" << "mqtts://broker.lab:8883";
        QTest::newRow("port, slash") << "mqtt://10.0.0.5:1884/" << "mqtt://10.0.0.5:1884";
        QTest::newRow("IPv6") << "mqtts://[::1]:8884" << "mqtts://[::1]:8884";
        QTest::newRow("other scheme") << "http://broker" << "\"http://broker\" is no broker URL";
        QTest::newRow("no scheme") << "broker:1883" << "\"broker:1883\" is no broker URL";
        QTest::newRow("no host") << "mqtt://:1883" << "\"mqtt://:1883\" names no host";
        QTest::newRow("password in URL") << "mqtt://me:pw@broker" << "\"mqtt://me:pw@broker\": credentials go";
        QTest::newRow("path") << "mqtt://broker/topic" << "\"mqtt://broker/topic\" has more than";
        QTest::newRow("port 0") << "mqtt://broker:0" << "\"mqtt://broker:0\" has no port";
        QTest::newRow("port too big") << "mqtt://broker:65536" << "\"mqtt://broker:65536\" is no broker URL";
    }
    void urls()
    {
        QFETCH(QString, url);
        QFETCH(QString, read);
        const auto parsed = parseBrokerUrl(url);
        if (const auto *address = std::get_if<BrokerAddress>(&parsed))
            QCOMPARE(address->url(), read);
        else
            QVERIFY2(std::get<QString>(parsed).startsWith(read), qPrintable(std::get<QString>(parsed)));
    }

    void namesAndHosts()
    {
        using veloxa::remote::isUnitName;
        for (const char *name :
             {"a", "laser-2", "Lab_3.b", "..x", "0123456789012345678901234567890123456789012345678901234567890123"})
            QVERIFY2(isUnitName(QLatin1String(name)), name);
        for (const char *name : {"", ".", "..", "a/b", "a b", "+", "#", "caf\xc3\xa9",
                                 "01234567890123456789012345678901234567890123456789012345678901234"})
            QVERIFY2(!isUnitName(QString::fromUtf8(name)), name);
        QVERIFY(isUnitName(defaultUnitName()));
        QCOMPARE(unitTopic(QStringLiteral("+"), QStringLiteral("status")), QStringLiteral("veloxa2/+/status"));

        for (const char *host : {"localhost", "LOCALHOST", "127.0.0.1", "127.3.2.1", "::1"})
            QVERIFY2(isLoopbackHost(QLatin1String(host)), host);
        for (const char *host : {"10.9.8.7", "broker", "localhost.example", "::2", "128.0.0.1"})
            QVERIFY2(!isLoopbackHost(QLatin1String(host)), host);
    }

    void credentials_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("read"); // "user|password", or the start of the refusal
        QTest::newRow("one line") << QByteArray("lab:s3cret\n") << 0600 << "lab|s3cret";
        QTest::newRow("colon in the password, CRLF") << QByteArray("lab:a:b c\r\n") << 0400 << "lab|a:b c";
        QTest::newRow("no newline") << QByteArray("lab:pw") << 0600 << "lab|pw";
        QTest::newRow("group may read") << QByteArray("lab:pw\n") << 0640 << "%1 may be read by others (mode 0640)";
        QTest::newRow("others may write") << QByteArray("lab:pw\n") << 0602 << "%1 may be read by others";
        QTest::newRow("no colon") << QByteArray("labpw\n") << 0600 << "%1 holds no one line";
        QTest::newRow("no user") << QByteArray(":pw\n") << 0600 << "%1 holds no one line";
        QTest::newRow("two lines") << QByteArray("lab:pw\nx:y\n") << 0600 << "%1 holds no one line";
        QTest::newRow("too long") << QByteArray(5000, 'x') << 0600 << "%1 is longer than one line";
    }
    void credentials()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, mode);
        QFETCH(QString, read);
        const QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("credentials"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0);

        const auto found = readCredentials(path);
        if (const auto *credentials = std::get_if<Credentials>(&found))
            QCOMPARE(credentials->user + QLatin1Char('|') + credentials->password, read);
        else
            QVERIFY2(std::get<QString>(found).startsWith(read.arg(path)), qPrintable(std::get<QString>(found)));
    }

    void credentialsThroughLinksOrFoldersAreRefused()
    {
        const QTemporaryDir folder;
        const QString real = folder.filePath(QStringLiteral("real"));
        QFile file(real);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("lab:pw\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        const QString link = folder.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(real, link));
        QVERIFY(std::holds_alternative<QString>(readCredentials(link)));
        QVERIFY(std::holds_alternative<QString>(readCredentials(folder.path())));
        QVERIFY(std::holds_alternative<QString>(readCredentials(folder.filePath(QStringLiteral("missing")))));
    }
};

QTEST_GUILESS_MAIN(TestBrokerOptions)
#include "test_broker_options.moc"
