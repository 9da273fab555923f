#include "command_line.h"

#include "commands.h"
#include "tokenizer.h"

#include "core/link/udp_channel.h"
#ifdef Q_OS_WIN
#include "core/settings/registry_store_qt.h"
#else
#include "core/settings/file_store.h"
#endif

namespace veloxa::ctl {
namespace {

// --panel: the panel checks and corrects the values as its boxes do, so only
// the shape of the command line is checked here.
ParseResult panelPlan(const Tokens &tokens, Plan plan)
{
    for (const char *option : {"host", "port", "dry-run", "listen"})
        if (tokens.options.contains(QLatin1String(option)))
            return {std::nullopt,
                    QStringLiteral("--%1 does not go with --panel (the panel has its own)").arg(QLatin1String(option))
                        + kSeeHelp};
    const auto panel = buildPanelCommand(tokens);
    if (!panel)
        return {std::nullopt, panel.error()};
    if (plan.json && panel->kind != PanelPlan::Kind::Watch)
        return {std::nullopt, QStringLiteral("--json goes with --panel watch") + kSeeHelp};
    plan.panel = *panel;
    return {plan, {}};
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
    if (options.contains(QStringLiteral("panel")))
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

DefaultHost defaultHost()
{
    // The panel's own store: where the panel keeps the address between runs.
#ifdef Q_OS_WIN
    const settings::RegistryStore store{};
#else
    const settings::FileStore store{};
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
