#include "app/panel_options.h"

#include "app/version.h"
#include "core/remote/endpoint_path.h"

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

// --unit and the broker's options.
QList<QCommandLineOption> unitAndBrokerOptions()
{
    return {
        {QStringLiteral("unit"),
         QStringLiteral("The unit this panel stands for, so that one PC runs one panel per unit: its own settings, "
                        "endpoint and broker topics, and the name in the title. Letters, digits, '-', '_' and '.'; "
                        "at most 64."),
         QStringLiteral("NAME")},
        {QStringLiteral("mqtt"),
         QStringLiteral("Publish the panel's status, controls, link and events on an MQTT broker: "
                        "mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS)."),
         QStringLiteral("URL")},
        {QStringLiteral("mqtt-commands"),
         QStringLiteral("Carry out set, click and enter commands published to the broker (over TLS with credentials "
                        "unless the broker is on this machine).")},
        {QStringLiteral("mqtt-ca"),
         QStringLiteral("Trust this CA's certificates for mqtts:// instead of the system's."), QStringLiteral("FILE")},
        {QStringLiteral("mqtt-credentials"),
         QStringLiteral("The broker's user and password, one line user:password in a file only you may read."),
         QStringLiteral("FILE")},
    };
}

// Reads --unit and the broker's options into `options`; what is wrong with
// them, if anything.
std::optional<QString> readUnitAndBroker(const QCommandLineParser &parser, PanelOptions &options)
{
    if (parser.isSet(QStringLiteral("unit"))) {
        options.unit = parser.value(QStringLiteral("unit"));
        if (!remote::isUnitName(options.unit))
            return QStringLiteral("--unit \"%1\" is no unit name (letters, digits, '-', '_', '.'; at most 64)")
                .arg(options.unit);
    }
    const bool broker = parser.isSet(QStringLiteral("mqtt"));
    for (const char *withBroker : {"mqtt-commands", "mqtt-ca", "mqtt-credentials"})
        if (parser.isSet(QLatin1String(withBroker)) && !broker)
            return QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(withBroker));
    if (!broker)
        return std::nullopt;
    const auto address = broker::parseBrokerUrl(parser.value(QStringLiteral("mqtt")));
    if (const auto *problem = std::get_if<QString>(&address))
        return QStringLiteral("--mqtt: ") + *problem;
    options.broker = std::get<broker::BrokerAddress>(address);
    options.brokerCommands = parser.isSet(QStringLiteral("mqtt-commands"));
    options.brokerCa = parser.value(QStringLiteral("mqtt-ca"));
    options.brokerCredentials = parser.value(QStringLiteral("mqtt-credentials"));
    return std::nullopt;
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
    parser.addOptions(unitAndBrokerOptions());

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
    if (const auto problem = readUnitAndBroker(parser, options)) {
        print(stderr, QStringLiteral("veloxa2-gui: %1; see veloxa2-gui --help\n").arg(*problem));
        return {std::nullopt, kExitUsage};
    }
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
