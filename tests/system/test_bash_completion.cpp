// The bash completion of veloxa2-ctl, sourced into a plain bash: what it
// offers for a line typed so far, and that its lists of commands, seq
// subcommands and options are those of veloxa2-ctl --help.

#include "support/help_listing.h"
#include "support/panel_process.h"

#include <QStandardPaths>
#include <QTest>

using namespace veloxa;

namespace {

// The candidates the completion registered for veloxa2-ctl offers when the
// words are on the line and the cursor ends the last one.
QStringList completed(const QStringList &words)
{
    const QString script =
        QStringLiteral("source \"$1\"; shift\n"
                       "function=$(complete -p veloxa2-ctl | sed -n 's/.* -F \\([^ ]*\\) .*/\\1/p')\n"
                       "[ -n \"$function\" ] || exit 3\n"
                       "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_LINE=\"$*\"; COMP_POINT=${#COMP_LINE}\n"
                       "\"$function\" veloxa2-ctl \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD - 1]}\"\n"
                       "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const test::ProgramRun bash = test::runProgram(
        QStringLiteral("bash"),
        QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"), QStringLiteral("-c"), script,
                    QStringLiteral("bash"), QStringLiteral(VELOXA_COMPLETION_PATH), QStringLiteral("veloxa2-ctl")}
            + words);
    if (bash.exitCode != 0)
        return {QStringLiteral("<bash failed: %1>").arg(bash.describe())};
    QStringList candidates = bash.outLines();
    candidates.sort();
    return candidates;
}

QStringList sorted(QStringList list)
{
    list.removeDuplicates();
    list.sort();
    return list;
}

} // namespace

class TestBashCompletion : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty())
            QSKIP("bash is not installed");
    }

    void offers_data()
    {
        QTest::addColumn<QString>("line"); // the words typed; "|" stands for the empty word at the cursor
        QTest::addColumn<QString>("offered");
        const QString global = QStringLiteral(
            "--dry-run --help --host --listen --mqtt --mqtt-ca --mqtt-credentials --panel --port --sysclk "
            "--unit --verbose --version");
        QTest::newRow("commands") << "|"
                                  << "contrast dds-reg freq gain heartbeat polarity power ramp ramp-stop seq";
        QTest::newRow("the panel's commands") << "--panel |"
                                              << "contrast dds-reg freq gain get heartbeat polarity power ramp "
                                                 "ramp-stop seq watch";
        QTest::newRow("through a broker, units too") << "--mqtt mqtt://lab --unit a |"
                                                     << "contrast dds-reg freq gain get heartbeat polarity power ramp "
                                                        "ramp-stop seq units watch";
        QTest::newRow("watch takes --json") << "--panel watch --j" << "--json";
        QTest::newRow("heartbeat on the panel") << "--panel heartbeat |" << "off on";
        QTest::newRow("commands by prefix") << "ra" << "ramp ramp-stop";
        QTest::newRow("command after an option and its value") << "--host 127.0.0.1 d" << "dds-reg";
        QTest::newRow("option value is not completed") << "--sysclk |" << "";
        QTest::newRow("global options") << "--" << global;
        QTest::newRow("an option given once is not offered again") << "--verbose --ver" << "--version";
        QTest::newRow("seq subcommands") << "seq |" << "add-freq add-ramp add-wait clear execute restart";
        QTest::newRow("seq subcommand by prefix") << "seq add-" << "add-freq add-ramp add-wait";
        QTest::newRow("seq add-ramp options") << "seq add-ramp --s" << "--step --stop --sysclk";
        QTest::newRow("ramp options left") << "ramp --step 1 --rate 2 --st" << "--stop";
        QTest::newRow("freq takes --polarity") << "freq 12.34 --p" << "--panel --polarity --port";
        QTest::newRow("--polarity value") << "freq 12.34 --polarity |" << "+ -";
        QTest::newRow("--polarity=value") << "freq 12.34 --polarity = |" << "+ -";
        QTest::newRow("polarity command") << "polarity |" << "+ -";
        QTest::newRow("polarity minus is a value") << "polarity -" << "-";
        QTest::newRow("power") << "power |" << "off on";
        QTest::newRow("power by prefix") << "power of" << "off";
        QTest::newRow("gain") << "gain |" << "0 1 2 3 4 5 6 7";
        QTest::newRow("nothing after a complete command") << "power on |" << "";
    }
    void offers()
    {
        QFETCH(QString, line);
        QFETCH(QString, offered);
        QStringList words = line.split(QLatin1Char(' '));
        if (words.constLast() == QLatin1String("|"))
            words.last().clear();
        QCOMPARE(completed(words), sorted(offered.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
    }

    // What the completion knows is what the tool's help lists.
    void listsAreThoseOfTheHelp()
    {
        const test::Listed help =
            test::listedInHelp(test::runProgram(QStringLiteral(VELOXA_CTL_PATH), {QStringLiteral("--help")}).out);
        QVERIFY(!help.commands.isEmpty());
        QStringList commands;
        QStringList subcommands;
        for (const QString &form : help.commands) {
            const QStringList words = form.split(QLatin1Char(' '));
            commands << words.constFirst();
            if (words.constFirst() == QLatin1String("seq"))
                subcommands << words.value(1);
        }
        commands.removeDuplicates(); // "heartbeat" and "heartbeat on|off"
        QCOMPARE(completed({QStringLiteral("--mqtt"), QStringLiteral("mqtt://lab"), QString()}), sorted(commands));
        QCOMPARE(completed({QStringLiteral("seq"), QString()}), sorted(subcommands));
        const QStringList longOptions = help.options.filter(QRegularExpression(QStringLiteral("^--")));
        QCOMPARE(completed({QStringLiteral("watch"), QStringLiteral("--")}), sorted(longOptions));
    }
};

QTEST_GUILESS_MAIN(TestBashCompletion)
#include "test_bash_completion.moc"
