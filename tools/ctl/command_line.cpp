#include "command_line.h"

#include "commands.h"
#include "tokenizer.h"

#include "core/link/udp_channel.h"
#include "core/remote/endpoint_path.h"
#ifdef Q_OS_WIN
#include "core/settings/registry_store_qt.h"
#else
#include "core/settings/file_store.h"
#endif

namespace veloxa::ctl {
namespace {

// --panel: the panel checks and corrects the values as its boxes do, so only
// the shape of the command line is checked here.
ParseResult refused(const QString &problem)
{
    return {std::nullopt, problem + kSeeHelp};
}

// --panel or --mqtt: the panel checks and corrects the values as its boxes
// do, so only the shape of the command line is checked here.
ParseResult panelPlan(const Tokens &tokens, Plan plan)
{
    const QString way = plan.broker ? QStringLiteral("--mqtt") : QStringLiteral("--panel");
    for (const char *option : {"host", "port", "dry-run", "listen"})
        if (tokens.options.contains(QLatin1String(option)))
            return refused(
                QStringLiteral("--%1 does not go with %2 (the panel has its own)").arg(QLatin1String(option), way));
    const auto panel = buildPanelCommand(tokens);
    if (!panel)
        return {std::nullopt, panel.error()};
    if (plan.json && panel->kind != PanelPlan::Kind::Watch)
        return refused(QStringLiteral("--json goes with %1 watch").arg(way));
    const bool units = panel->kind == PanelPlan::Kind::Units;
    if (units && !plan.broker)
        return refused(QStringLiteral("units goes with --mqtt"));
    if (units && !plan.unit.isEmpty())
        return refused(QStringLiteral("units lists every unit; --unit does not go with it"));
    if (plan.broker && !units && plan.unit.isEmpty())
        return refused(QStringLiteral("--mqtt needs --unit NAME: the panel to reach"));
    if (plan.unit == QLatin1String("+") && panel->kind != PanelPlan::Kind::Watch)
        return refused(QStringLiteral("--unit + goes only with watch"));
    plan.panel = *panel;
    return {plan, {}};
}

// --unit, --mqtt and the options that go with --mqtt, into the plan.
std::optional<QString> readUnitAndBroker(const QMap<QString, QString> &options, Plan &plan)
{
    if (const auto unit = options.constFind(QStringLiteral("unit")); unit != options.constEnd()) {
        plan.unit = *unit;
        const bool everyUnit = plan.unit == QLatin1String("+") && options.contains(QStringLiteral("mqtt"));
        if (!everyUnit && !remote::isUnitName(plan.unit))
            return QStringLiteral("--unit \"%1\" is no unit name (letters, digits, '-', '_', '.'; at most 64)")
                .arg(plan.unit);
    }
    for (const char *option : {"mqtt-ca", "mqtt-credentials"})
        if (options.contains(QLatin1String(option)) && !options.contains(QStringLiteral("mqtt")))
            return QStringLiteral("--%1 goes with --mqtt").arg(QLatin1String(option)) + kSeeHelp;
    const auto url = options.constFind(QStringLiteral("mqtt"));
    if (url == options.constEnd())
        return std::nullopt;
    if (options.contains(QStringLiteral("panel")))
        return QStringLiteral("--panel and --mqtt are two ways to one panel: give one") + kSeeHelp;
    const auto address = broker::parseBrokerUrl(*url);
    if (const auto *problem = std::get_if<QString>(&address))
        return QStringLiteral("--mqtt: ") + *problem;
    plan.broker = std::get<broker::BrokerAddress>(address);
    plan.brokerCa = options.value(QStringLiteral("mqtt-ca"));
    plan.brokerCredentials = options.value(QStringLiteral("mqtt-credentials"));
    return std::nullopt;
}

} // namespace

ParseResult parseCommandLine(const QStringList &arguments)
{
    const auto tokens = tokenize(arguments);
    if (!tokens)
        return {std::nullopt, tokens.error()};

    Plan plan;
    if (tokens->help) {
        plan.action = Plan::Action::Help;
        return {plan, {}};
    }
    if (tokens->version) {
        plan.action = Plan::Action::Version;
        return {plan, {}};
    }

    const QMap<QString, QString> &options = tokens->options;
    plan.dryRun = options.contains(QStringLiteral("dry-run"));
    plan.verbose = options.contains(QStringLiteral("verbose"));
    plan.json = options.contains(QStringLiteral("json"));
    if (const auto problem = readUnitAndBroker(options, plan))
        return {std::nullopt, *problem};
    if (options.contains(QStringLiteral("panel")) || plan.broker)
        return panelPlan(*tokens, plan);
    if (plan.json)
        return {std::nullopt, QStringLiteral("--json goes with --panel watch") + kSeeHelp};

    if (const auto host = options.constFind(QStringLiteral("host")); host != options.constEnd()) {
        plan.host = link::parseDottedQuad(*host);
        if (!plan.host)
            return {std::nullopt,
                    QStringLiteral("--host: \"%1\" is not a dotted IPv4 address such as 192.168.1.133").arg(*host)};
    }
    if (const auto port = options.constFind(QStringLiteral("port")); port != options.constEnd()) {
        const auto value = wholeNumberIn(QStringLiteral("--port"), *port, 1, 65535);
        if (!value)
            return {std::nullopt, value.error()};
        plan.port = static_cast<quint16>(*value);
    }
    const QString clockText = options.value(QStringLiteral("sysclk"), kDefaultClock);
    const auto clockMHz =
        numberIn(QStringLiteral("--sysclk"), clockText, unit::kClockMinMHz, unit::kClockMaxMHz, QStringLiteral(" MHz"));
    if (!clockMHz)
        return {std::nullopt, clockMHz.error()};
    if (const auto wait = options.constFind(QStringLiteral("listen")); wait != options.constEnd()) {
        const auto seconds = numberIn(QStringLiteral("--listen"), *wait, 0, 3600, QStringLiteral(" seconds"));
        if (!seconds)
            return {std::nullopt, seconds.error()};
        if (plan.dryRun)
            return {std::nullopt, QStringLiteral("--listen has nothing to wait for with --dry-run") + kSeeHelp};
        plan.listenSeconds = *seconds;
    }

    const auto datagrams = buildCommand(*tokens, clockText, *clockMHz);
    if (!datagrams)
        return {std::nullopt, datagrams.error()};
    plan.datagrams = *datagrams;
    return {plan, {}};
}

DefaultHost defaultHost(const QString &unit)
{
    // The panel's own store: where the panel keeps the address between runs.
#ifdef Q_OS_WIN
    const settings::RegistryStore store = settings::RegistryStore::forUnit(unit);
#else
    const settings::FileStore store(settings::FileStore::userStorePath(unit));
#endif
    const settings::ReadResult stored = store.read(settings::names::IpAddress);
    if (stored.found) {
        if (const auto address = link::parseDottedQuad(stored.text.trimmed()))
            return {*address, QStringLiteral("the panel's stored IP Address")};
        return {QHostAddress(kDefaultHost),
                QStringLiteral("the default; the panel's stored IP Address \"%1\" is no dotted quad").arg(stored.text)};
    }
    return {QHostAddress(kDefaultHost), QStringLiteral("the default; the panel has no stored IP Address")};
}

} // namespace veloxa::ctl
