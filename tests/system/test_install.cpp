// cmake --install of this build tree into a scratch prefix: the programs and
// everything the desktop needs beside them land where the desktop looks, and
// each passes the checker made for it (where that checker is installed).

#include "support/panel_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace veloxa;

namespace {

constexpr int kInstallTimeoutMs = 120000;

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        m_prefix = m_scratch.filePath(QStringLiteral("usr"));
        // This program lives in <build>/tests.
        const QString buildDir = QStringLiteral(VELOXA_BUILD_DIR);
        const test::ProgramRun install = test::runProgram(
            QStringLiteral(VELOXA_CMAKE_COMMAND),
            {QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), m_prefix}, {}, {}, kInstallTimeoutMs);
        QVERIFY2(install.exitCode == 0, qPrintable(install.describe()));
    }

    void installed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("panel") << QStringLiteral("bin/veloxa2-gui");
        QTest::newRow("menu entry") << QStringLiteral("share/applications/org.example.veloxa2_gui.desktop");
        QTest::newRow("software centre entry") << QStringLiteral("share/metainfo/org.example.veloxa2_gui.metainfo.xml");
        QTest::newRow("icon") << QStringLiteral("share/icons/hicolor/32x32/apps/veloxa2-gui.png");
        QTest::newRow("completion") << QStringLiteral("share/bash-completion/completions/veloxa2-ctl");
        QTest::newRow("panel's page") << QStringLiteral("share/man/man1/veloxa2-gui.1.gz");
        QTest::newRow("tool's page") << QStringLiteral("share/man/man1/veloxa2-ctl.1.gz");
        QTest::newRow("simulator's page") << QStringLiteral("share/man/man1/veloxa2-unit-sim.1.gz");
        QTest::newRow("changelog") << QStringLiteral("share/doc/veloxa2-gui/changelog.gz");
        QTest::newRow("copyright") << QStringLiteral("share/doc/veloxa2-gui/copyright");
    }
    void installed()
    {
        QFETCH(QString, path);
        const QFileInfo file(m_prefix + QLatin1Char('/') + path);
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(file.filePath()));
    }

    // Each checker run on the installed file; %1 is the prefix. A checker
    // that is content prints nothing on stderr and ends with 0.
    void checked_data()
    {
        QTest::addColumn<QString>("checker");
        QTest::addColumn<QStringList>("arguments");
        const auto row = [](const char *name, const char *checker, const QStringList &arguments) {
            QTest::newRow(name) << QString::fromLatin1(checker) << arguments;
        };
        row("menu entry", "desktop-file-validate", {"%1/share/applications/org.example.veloxa2_gui.desktop"});
        // The software centre entry with the menu entry and icon it names,
        // in the tree as a system lays it out (the prefix is <scratch>/usr).
        row("software centre entry", "appstreamcli", {"validate-tree", "--no-net", "%1/.."});
        row("completion parses", "bash", {"-n", "%1/share/bash-completion/completions/veloxa2-ctl"});
        for (const char *page : {"veloxa2-gui", "veloxa2-ctl", "veloxa2-unit-sim"})
            row(page, "man",
                {"--warnings", "-E", "UTF-8", "-l", QStringLiteral("%1/share/man/man1/%2.1.gz").replace("%2", page)});
    }
    void checked()
    {
        QFETCH(QString, checker);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(checker);
        if (program.isEmpty())
            QSKIP(qPrintable(checker + QStringLiteral(" is not installed")));
        for (QString &argument : arguments)
            argument.replace(QLatin1String("%1"), m_prefix);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MANPAGER"), QStringLiteral("cat"));
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        const test::ProgramRun check = test::runProgram(program, arguments, environment);
        QVERIFY2(check.exitCode == 0 && check.err.isEmpty(), qPrintable(check.describe()));
    }

private:
    QTemporaryDir m_scratch;
    QString m_prefix;
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
