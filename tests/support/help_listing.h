#pragma once
// What a program's --help lists: its command forms and its option names, read
// from the "Commands" and "Options" sections of the text.

#include <QRegularExpression>
#include <QStringList>

namespace veloxa::test {

// What a text lists: command forms ("freq MHZ [--polarity +|-]", "seq clear")
// and option names ("--host", "-h").
struct Listed {
    QStringList commands;
    QStringList options;

    void addOptionsOf(const QString &form)
    {
        static const QRegularExpression name(QStringLiteral("(?:^|[\\s,])(-{1,2}[A-Za-z?][A-Za-z0-9-]*)"));
        for (const QRegularExpressionMatch &match : name.globalMatch(form))
            options << match.captured(1);
    }
    void sort()
    {
        commands.sort();
        options.sort();
    }
};

// A --help text: sections start with an unindented line ("Commands:",
// "Options ...:"); an item is a line indented by two blanks, its form running
// to the first run of two blanks.
inline Listed listedInHelp(const QString &help)
{
    Listed listed;
    enum class Section { None, Commands, Options } section = Section::None;
    static const QRegularExpression item(QStringLiteral("^  (\\S.*?)(?:\\s{2,}.*)?$"));
    const QStringList lines = help.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.isEmpty() && !line.front().isSpace()) {
            section = line.startsWith(QLatin1String("Commands")) ? Section::Commands
                : line.startsWith(QLatin1String("Options"))      ? Section::Options
                                                                 : Section::None;
            continue;
        }
        const QRegularExpressionMatch match = item.match(line);
        if (!match.hasMatch())
            continue;
        const QString form = match.captured(1).simplified();
        if (section == Section::Commands)
            listed.commands << form;
        else if (section == Section::Options && form.startsWith(QLatin1Char('-')))
            listed.addOptionsOf(form);
    }
    listed.sort();
    return listed;
}

} // namespace veloxa::test
