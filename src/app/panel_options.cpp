#include "app/panel_options.h"

#include "app/version.h"

#include <QCommandLineParser>

#include <cstdio>
#include <string_view>

namespace veloxa::app {
namespace {

const char kDescription[] = "Control panel for the Veloxa2 laser frequency-offset unit.\n"
                            "Qt's own options (-platform NAME, -display DISPLAY, ...) are taken as well.";

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

OptionsOutcome readPanelOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(kDescription));
    // Not addHelpOption(): its --help-all would be one more option that
    // prints Qt's, and every option that is not the panel's must be refused.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Print this help and end."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and end."));
    const QCommandLineOption control(QStringLiteral("control"),
                                     QStringLiteral("Open a control endpoint through which scripts drive the running "
                                                    "panel: a local socket only its user may reach (see "
                                                    "veloxa2-ctl --panel)."));
    parser.addOptions({help, version, control});

    if (!parser.parse(arguments)) {
        QString problem = parser.errorText(); // "Unknown option 'x'."
        if (problem.endsWith(QLatin1Char('.')))
            problem.chop(1);
        print(stderr, QStringLiteral("veloxa2-gui: %1; see veloxa2-gui --help\n").arg(problem));
        return {std::nullopt, kExitUsage};
    }
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr,
              QStringLiteral("veloxa2-gui: Unexpected argument '%1'; see veloxa2-gui --help\n")
                  .arg(parser.positionalArguments().constFirst()));
        return {std::nullopt, kExitUsage};
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return {std::nullopt, 0};
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("veloxa2-gui %1\n").arg(QLatin1String(kVersionText)));
        return {std::nullopt, 0};
    }
    PanelOptions options;
    options.control = parser.isSet(control);
    return {options, 0};
}

bool asksOnlyForText(int argc, const char *const *argv)
{
    if (argc != 2)
        return false;
    const std::string_view option = argv[1];
    return option == "-h" || option == "--help" || option == "-?" || option == "-v" || option == "--version";
}

} // namespace veloxa::app
