// The Debian package made with CPack from this build tree: the files it
// installs and where, the fields of its control file, the menu entry and icon,
// and that a program from it runs. Skipped where cpack or dpkg-deb is missing.

#include "support/panel_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

#include "gui/window/resources/veloxa2.xpm"

using veloxa::test::ProgramRun;
using veloxa::test::runProgram;

constexpr int kPackTimeoutMs = 180000;
// The keys of one group of a desktop file ("Desktop Entry", "Desktop Action control").
QMap<QString, QString> desktopGroup(const QString &path, const QString &group)
{
    QFile file(path);
    QMap<QString, QString> keys;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_cpack = QStandardPaths::findExecutable(QStringLiteral("cpack"));
        m_dpkgDeb = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
        if (m_cpack.isEmpty() || m_dpkgDeb.isEmpty())
            QSKIP("cpack or dpkg-deb is not installed");

        // This program lives in <build>/tests.
        const QString buildDir = QStringLiteral(VELOXA_BUILD_DIR);
        const QString config = buildDir + QStringLiteral("/CPackConfig.cmake");
        QVERIFY2(QFileInfo::exists(config), qPrintable(config));
        QVERIFY(m_scratch.isValid());

        // The package holds what is built already (the test programs depend on
        // every installed program). CPack would first build the whole tree when
        // the tree uses Makefiles ("preinstall"); naming the Ninja generator,
        // which has no such step, leaves that out whatever the tree uses.
        const ProgramRun pack = runProgram(m_cpack,
                                           {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                            config, QStringLiteral("-B"), m_scratch.filePath(QStringLiteral("out")),
                                            QStringLiteral("-D"), QStringLiteral("CPACK_CMAKE_GENERATOR=Ninja")},
                                           {}, buildDir, kPackTimeoutMs);
        QVERIFY2(pack.exitCode == 0, qPrintable(pack.describe()));

        const QStringList packages =
            QDir(m_scratch.filePath(QStringLiteral("out"))).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        m_package = m_scratch.filePath(QStringLiteral("out/") + packages.constFirst());
        m_root = m_scratch.filePath(QStringLiteral("root"));
        const ProgramRun extract = runProgram(m_dpkgDeb, {QStringLiteral("-x"), m_package, m_root});
        QVERIFY2(extract.exitCode == 0, qPrintable(extract.describe()));
    }

    void installedFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        const auto row = [](const char *name, const char *path, bool executable = false) {
            QTest::newRow(name) << QString::fromLatin1(path) << executable;
        };
        row("panel", "usr/bin/veloxa2-gui", true);
        row("simulator", "usr/bin/veloxa2-unit-sim", true);
        row("command-line tool", "usr/bin/veloxa2-ctl", true);
        row("menu entry", "usr/share/applications/org.example.veloxa2_gui.desktop");
        row("software centre entry", "usr/share/metainfo/org.example.veloxa2_gui.metainfo.xml");
        row("icon", "usr/share/icons/hicolor/32x32/apps/veloxa2-gui.png");
        row("panel's manual page", "usr/share/man/man1/veloxa2-gui.1.gz");
        row("tool's manual page", "usr/share/man/man1/veloxa2-ctl.1.gz");
        row("simulator's manual page", "usr/share/man/man1/veloxa2-unit-sim.1.gz");
    }
    void installedFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo file(m_root + QLatin1Char('/') + path);
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), executable);
    }

    void controlFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("holds");
        QTest::newRow("name") << QStringLiteral("Package") << QStringLiteral("veloxa2-gui");
        QTest::newRow("version") << QStringLiteral("Version") << QStringLiteral(".");
        for (const char *library : {"libqt6widgets6", "libqt6gui6", "libqt6network6", "libqt6core6"})
            QTest::newRow(library) << QStringLiteral("Depends") << QString::fromLatin1(library);
        QTest::newRow("maintainer") << QStringLiteral("Maintainer") << QStringLiteral("@");
        QTest::newRow("description") << QStringLiteral("Description") << QStringLiteral("Veloxa2");
        QTest::newRow("section") << QStringLiteral("Section") << QStringLiteral("science");
    }
    void controlFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, holds);
        const ProgramRun value = runProgram(m_dpkgDeb, {QStringLiteral("-f"), m_package, field});
        QVERIFY2(value.exitCode == 0, qPrintable(value.describe()));
        QVERIFY2(value.out.contains(holds), qPrintable(field + QStringLiteral(": ") + value.out));
    }

    // The menu entry starts the packaged panel and shows the packaged icon.
    void menuEntry()
    {
        const QString path = m_root + QStringLiteral("/usr/share/applications/org.example.veloxa2_gui.desktop");
        const QMap<QString, QString> keys = desktopGroup(path, QStringLiteral("Desktop Entry"));
        QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Veloxa2 GUI"));
        QCOMPARE(keys.value(QStringLiteral("Exec")), QStringLiteral("veloxa2-gui"));
        QCOMPARE(keys.value(QStringLiteral("Icon")), QStringLiteral("veloxa2-gui"));
        QVERIFY(keys.value(QStringLiteral("Categories")).split(QLatin1Char(';')).contains(QStringLiteral("Science")));
        QVERIFY(QFileInfo(m_root + QStringLiteral("/usr/bin/") + keys.value(QStringLiteral("Exec"))).isExecutable());
        QVERIFY(QFileInfo::exists(m_root + QStringLiteral("/usr/share/icons/hicolor/32x32/apps/")
                                  + keys.value(QStringLiteral("Icon")) + QStringLiteral(".png")));

        // The action that starts the panel with its control endpoint open.
        QVERIFY(keys.value(QStringLiteral("Actions")).split(QLatin1Char(';')).contains(QStringLiteral("control")));
        const QMap<QString, QString> action = desktopGroup(path, QStringLiteral("Desktop Action control"));
        QCOMPARE(action.value(QStringLiteral("Exec")), QStringLiteral("veloxa2-gui --control"));
        QVERIFY(!action.value(QStringLiteral("Name")).isEmpty());

        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed; the keys above were checked");
        const ProgramRun validation = runProgram(validator, {path});
        QVERIFY2(validation.exitCode == 0 && validation.out.isEmpty(), qPrintable(validation.describe()));
    }

    // The software centres' entry: named by its id, which names the menu entry
    // too; its newest release is the package's version; valid for AppStream,
    // alone and together with the menu entry and icon it refers to.
    void softwareCentreEntry()
    {
        const QString id = QStringLiteral("org.example.veloxa2_gui");
        QFile file(m_root + QStringLiteral("/usr/share/metainfo/") + id + QStringLiteral(".metainfo.xml"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QStringList wanted{QStringLiteral("id"), QStringLiteral("launchable"), QStringLiteral("release"),
                                 QStringLiteral("image"), QStringLiteral("content_rating")};
        QMap<QString, QString> found; // element name -> its first text or version
        QXmlStreamReader xml(&file);
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || !wanted.contains(xml.name().toString())
                || found.contains(xml.name().toString()))
                continue;
            const QString name = xml.name().toString();
            const QString version = xml.attributes().value(QStringLiteral("version")).toString();
            found.insert(name,
                         version.isEmpty() ? xml.readElementText(QXmlStreamReader::IncludeChildElements) : version);
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found.value(QStringLiteral("id")), id);
        QCOMPARE(found.value(QStringLiteral("launchable")), id + QStringLiteral(".desktop"));
        QVERIFY(
            QFileInfo::exists(m_root + QStringLiteral("/usr/share/applications/") + id + QStringLiteral(".desktop")));
        const ProgramRun version = runProgram(m_dpkgDeb, {QStringLiteral("-f"), m_package, QStringLiteral("Version")});
        QCOMPARE(found.value(QStringLiteral("release")), version.out.trimmed()); // the first release is the newest
        QVERIFY(found.value(QStringLiteral("image")).endsWith(QStringLiteral(".png")));
        QVERIFY(found.contains(QStringLiteral("content_rating")));

        const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (appstream.isEmpty())
            QSKIP("appstreamcli is not installed; the fields above were checked");
        const ProgramRun alone = runProgram(
            appstream,
            {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"), file.fileName()});
        QVERIFY2(alone.exitCode == 0, qPrintable(alone.describe()));
        const ProgramRun tree =
            runProgram(appstream, {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), m_root});
        QVERIFY2(tree.exitCode == 0, qPrintable(tree.describe()));
    }

    // The newest entry of the changelog is this version; the copyright file is
    // in Debian's machine-readable form.
    void changelogAndCopyright()
    {
        const QString doc = m_root + QStringLiteral("/usr/share/doc/veloxa2-gui/");
        const ProgramRun changelog = runProgram(QStringLiteral("gzip"), {QStringLiteral("-dc"), doc + "changelog.gz"});
        QVERIFY2(changelog.exitCode == 0, qPrintable(changelog.describe()));
        const ProgramRun version = runProgram(m_dpkgDeb, {QStringLiteral("-f"), m_package, QStringLiteral("Version")});
        QVERIFY2(changelog.out.startsWith(QStringLiteral("veloxa2-gui (%1) ").arg(version.out.trimmed())),
                 qPrintable(changelog.out.section(QLatin1Char('\n'), 0, 0)));
        QFile copyright(doc + QStringLiteral("copyright"));
        QVERIFY(copyright.open(QIODevice::ReadOnly));
        QVERIFY(copyright.readLine().startsWith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"));
    }

    // lintian finds no error and no warning (what it only notes is printed).
    void lintianIsContent()
    {
        const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (scripts/deps installs it): the package was not checked by it");
        const ProgramRun check =
            runProgram(lintian,
                       {QStringLiteral("--allow-root"), QStringLiteral("--pedantic"), QStringLiteral("--display-info"),
                        QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_package},
                       {}, {}, kPackTimeoutMs);
        QVERIFY2(check.finished, "lintian did not finish");
        const QStringList lines = check.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines) {
            QVERIFY2(!line.startsWith(QLatin1String("E:")) && !line.startsWith(QLatin1String("W:")), qPrintable(line));
            qInfo("%s", qPrintable(line));
        }
        QVERIFY2(check.exitCode == 0, qPrintable(check.describe()));
    }

    // The PNG is the window's own icon, pixel for pixel.
    void icon()
    {
        const QImage png(m_root + QStringLiteral("/usr/share/icons/hicolor/32x32/apps/veloxa2-gui.png"), "PNG");
        QVERIFY(!png.isNull());
        QCOMPARE(png.size(), QSize(32, 32));
        const QImage xpm(veloxa2); // the window's icon, as the window makes it
        QVERIFY(!xpm.isNull());
        QCOMPARE(png.convertToFormat(QImage::Format_ARGB32), xpm.convertToFormat(QImage::Format_ARGB32));
    }

    void packagedToolRuns()
    {
        const ProgramRun run = runProgram(m_root + QStringLiteral("/usr/bin/veloxa2-ctl"),
                                          {QStringLiteral("--dry-run"), QStringLiteral("--host"),
                                           QStringLiteral("127.0.0.1"), QStringLiteral("gain"), QStringLiteral("7")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(run.out, QStringLiteral("67 E0 | gain 7 (byte 0xe0)\n"));
    }

private:
    QString m_cpack;
    QString m_dpkgDeb;
    QTemporaryDir m_scratch;
    QString m_package;
    QString m_root;
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
