// The manual pages made at build time: each program's --help and its page name
// the same commands and options, both ways, and every page renders without a
// warning from groff.

#include "support/help_listing.h"
#include "support/panel_process.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace veloxa;

namespace {

QString manPagePath(const QString &program)
{
    return QStringLiteral(VELOXA_MAN_DIR "/") + program + QStringLiteral(".1");
}

// A page made by scdoc: in the COMMANDS and OPTIONS sections every item's
// term is the text line just before its indented description (".RS 4").
test::Listed listedInManPage(const QString &roff)
{
    test::Listed listed;
    static const QRegularExpression fonts(QStringLiteral("\\\\f[BIRP]|\\\\&"));
    QString section;
    QString previous;
    const QStringList lines = roff.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String(".SH ")))
            section = line.mid(4).remove(QLatin1Char('"')).trimmed();
        else if (line == QLatin1String(".RS 4") && !previous.startsWith(QLatin1Char('.'))) {
            const QString term =
                QString(previous).remove(fonts).replace(QLatin1String("\\-"), QLatin1String("-")).simplified();
            if (section == QLatin1String("COMMANDS"))
                listed.commands << term;
            else if (section == QLatin1String("OPTIONS"))
                listed.addOptionsOf(term);
        }
        previous = line;
    }
    listed.sort();
    return listed;
}

QStringList missingFrom(const QStringList &these, const QStringList &others)
{
    QStringList missing;
    for (const QString &entry : these)
        if (!others.contains(entry))
            missing << entry;
    return missing;
}

} // namespace

class TestManPages : public QObject {
    Q_OBJECT

private slots:
    void helpAndPageAgree_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("commands"); // at least this many, so that a parser gone blind fails
        QTest::newRow("veloxa2-gui") << QStringLiteral("veloxa2-gui") << QStringLiteral(VELOXA_GUI_PATH) << 0;
        QTest::newRow("veloxa2-ctl") << QStringLiteral("veloxa2-ctl") << QStringLiteral(VELOXA_CTL_PATH) << 15;
        QTest::newRow("veloxa2-unit-sim") << QStringLiteral("veloxa2-unit-sim") << QStringLiteral(VELOXA_SIM_PATH) << 0;
    }
    void helpAndPageAgree()
    {
        QFETCH(QString, program);
        QFETCH(QString, path);
        QFETCH(int, commands);
        const test::ProgramRun run = test::runProgram(path, {QStringLiteral("--help")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        const test::Listed help = test::listedInHelp(run.out);

        QFile page(manPagePath(program));
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        const test::Listed man = listedInManPage(QString::fromUtf8(page.readAll()));

        QVERIFY2(help.commands.size() >= commands, qPrintable(help.commands.join(QLatin1String(" / "))));
        QVERIFY2(help.options.contains(QStringLiteral("--help")), qPrintable(help.options.join(QLatin1Char(' '))));
        const auto agree = [](const QStringList &these, const QStringList &others, const char *what) {
            const QStringList missing = missingFrom(these, others);
            QVERIFY2(missing.isEmpty(), qPrintable(QLatin1String(what) + missing.join(QLatin1String(" / "))));
        };
        agree(help.commands, man.commands, "commands in --help, not on the page: ");
        agree(man.commands, help.commands, "commands on the page, not in --help: ");
        agree(help.options, man.options, "options in --help, not on the page: ");
        agree(man.options, help.options, "options on the page, not in --help: ");
    }

    void pageRendersCleanly_data() { helpAndPageAgree_data(); }

    void pageRendersCleanly()
    {
        QFETCH(QString, program);
        const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
        if (groff.isEmpty())
            QSKIP("groff is not installed");
        const test::ProgramRun run =
            test::runProgram(groff,
                             {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-ww"),
                              QStringLiteral("-P-cbou"), QStringLiteral("-rLL=80n"), manPagePath(program)});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        const QString &text = run.out;
        QVERIFY2(text.contains(QStringLiteral("NAME")) && text.contains(program + QStringLiteral(" - ")),
                 qPrintable(text.left(400)));
        QVERIFY2(text.contains(QStringLiteral("EXAMPLES")), qPrintable(program));
    }
};

QTEST_GUILESS_MAIN(TestManPages)
#include "test_man_pages.moc"
