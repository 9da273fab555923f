#include "panel_commands.h"

#include "core/unit/limits.h"

#include <functional>

namespace veloxa::ctl {
namespace {

using Steps = QList<PanelStep>;

PanelStep setText(const char *name, const QString &value)
{
    return {QStringLiteral("set"),
            {{QStringLiteral("name"), QLatin1String(name)}, {QStringLiteral("value"), value}},
            std::nullopt};
}

PanelStep setNumber(const char *name, int value)
{
    return {QStringLiteral("set"),
            {{QStringLiteral("name"), QLatin1String(name)}, {QStringLiteral("value"), value}},
            std::nullopt};
}

PanelStep click(const char *name)
{
    return {QStringLiteral("click"), {{QStringLiteral("name"), QLatin1String(name)}}, std::nullopt};
}

PanelStep clickOption(const char *name, int index)
{
    return {QStringLiteral("click"),
            {{QStringLiteral("name"), QLatin1String(name)}, {QStringLiteral("index"), index}},
            std::nullopt};
}

class PanelCommand {
public:
    PanelCommand(const Tokens &tokens, QString name, QStringList arguments)
        : m_tokens(tokens)
        , m_name(std::move(name))
        , m_arguments(std::move(arguments))
    {
    }

    const QString &name() const { return m_name; }

    std::optional<Failure> expectValues(int count, const QString &what) const
    {
        return ctl::expectValues(m_name, m_arguments, count, what);
    }

    QString value() const { return m_arguments.value(0); }
    std::optional<QString> option(const char *name) const
    {
        const auto found = m_tokens.options.constFind(QLatin1String(name));
        return found == m_tokens.options.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }

    // The click on a polarity option for --polarity, if given.
    Checked<Steps> polarity() const
    {
        const auto text = option("polarity");
        if (!text)
            return Steps{};
        const auto index = polarityIndex(QStringLiteral("--polarity"), *text);
        if (!index)
            return Failure{index.error()};
        return Steps{clickOption("optDdsPolarity", *index)};
    }

    // The three ramp boxes from --step, --rate and --stop.
    Checked<Steps> rampBoxes() const
    {
        Steps steps;
        for (const auto &[option, box] :
             {std::pair{"step", "txtRampStep"}, std::pair{"rate", "txtRampRate"}, std::pair{"stop", "txtStopFreq"}}) {
            const auto text = this->option(option);
            if (!text)
                return Failure{QStringLiteral("%1: --%2 is missing").arg(m_name, QLatin1String(option)) + kSeeHelp};
            steps.append(setText(box, *text));
        }
        return steps;
    }

    static Checked<bool> onOff(const QString &name, const QString &text)
    {
        if (text == QLatin1String("on"))
            return true;
        if (text == QLatin1String("off"))
            return false;
        return Failure{QStringLiteral("%1: \"%2\" is neither on nor off").arg(name, text)};
    }

private:
    const Tokens &m_tokens;
    const QString m_name;
    const QStringList m_arguments;
};

Checked<Steps> joined(std::initializer_list<Checked<Steps>> parts)
{
    Steps steps;
    for (const Checked<Steps> &part : parts) {
        if (!part)
            return Failure{part.error()};
        steps += *part;
    }
    return steps;
}

Checked<Steps> fixed(const PanelCommand &command, const char *button)
{
    if (const auto failure = command.expectValues(0, {}))
        return *failure;
    return Steps{click(button)};
}

Checked<Steps> withValue(const PanelCommand &command, const QString &what,
                         const std::function<Checked<Steps>(const QString &)> &make)
{
    if (const auto failure = command.expectValues(1, what))
        return *failure;
    return make(command.value());
}

Checked<Steps> slider(const PanelCommand &command, const char *name, int maximum)
{
    return withValue(command, QStringLiteral("a value 0..%1").arg(maximum), [&](const QString &text) -> Checked<Steps> {
        const auto value = wholeNumberIn(command.name(), text, 0, maximum);
        if (!value)
            return Failure{value.error()};
        return Steps{setNumber(name, static_cast<int>(*value))};
    });
}

struct Command {
    const char *name;
    unsigned takes; // as in commands.cpp: 1 --polarity, 2 the ramp options
    Checked<Steps> (*steps)(const PanelCommand &);
};

constexpr Command kCommands[] = {
    {"freq", 1,
     [](const PanelCommand &c) {
         return withValue(c, QStringLiteral("a frequency in MHz"),
                          [&](const QString &text) { return joined({Steps{setText("txtFreq", text)}, c.polarity()}); });
     }},
    {"ramp", 3,
     [](const PanelCommand &c) {
         if (const auto failure = c.expectValues(0, {}))
             return Checked<Steps>(*failure);
         return joined({c.rampBoxes(), c.polarity(), Steps{click("cmdRampStart")}});
     }},
    {"ramp-stop", 0, [](const PanelCommand &c) { return fixed(c, "cmdRampStop"); }},
    {"polarity", 0,
     [](const PanelCommand &c) {
         return withValue(c, QStringLiteral("+ or -"), [&](const QString &text) -> Checked<Steps> {
             const auto index = polarityIndex(c.name(), text);
             if (!index)
                 return Failure{index.error()};
             return Steps{clickOption("optDdsPolarity", *index)};
         });
     }},
    {"power", 0,
     [](const PanelCommand &c) {
         return withValue(c, QStringLiteral("on or off"), [&](const QString &text) -> Checked<Steps> {
             const auto on = PanelCommand::onOff(c.name(), text);
             if (!on)
                 return Failure{on.error()};
             return Steps{clickOption("optDdsPower", *on ? 0 : 1)}; // index 0 "On", 1 "Off"
         });
     }},
    {"gain", 0, [](const PanelCommand &c) { return slider(c, "sldGain", unit::kGainMax); }},
    {"contrast", 0, [](const PanelCommand &c) { return slider(c, "sldContrast", unit::kContrastMax); }},
    {"dds-reg", 0, [](const PanelCommand &c) { return fixed(c, "cmdDdsReg"); }},
    {"heartbeat", 0,
     [](const PanelCommand &c) {
         return withValue(c, QStringLiteral("on or off"), [&](const QString &text) -> Checked<Steps> {
             const auto on = PanelCommand::onOff(c.name(), text);
             if (!on)
                 return Failure{on.error()};
             PanelStep step = click("cmdHb");
             step.unlessHeartbeatIs = *on;
             return Steps{step};
         });
     }},
    {"seq clear", 0, [](const PanelCommand &c) { return fixed(c, "cmdSeqClear"); }},
    {"seq add-freq", 0,
     [](const PanelCommand &c) {
         return withValue(c, QStringLiteral("a frequency in MHz"), [](const QString &text) {
             return Checked<Steps>(Steps{setText("txtFreq", text), click("cmdSeqFreq")});
         });
     }},
    {"seq add-ramp", 2,
     [](const PanelCommand &c) {
         if (const auto failure = c.expectValues(0, {}))
             return Checked<Steps>(*failure);
         return joined({c.rampBoxes(), Steps{click("cmdSeqRamp")}});
     }},
    {"seq add-wait", 0, [](const PanelCommand &c) { return fixed(c, "cmdSeqAdwin"); }},
    {"seq execute", 0, [](const PanelCommand &c) { return fixed(c, "cmdSeqExecute"); }},
    {"seq restart", 0, [](const PanelCommand &c) { return fixed(c, "cmdSeqRestart"); }},
};

} // namespace

Checked<PanelPlan> buildPanelCommand(const Tokens &tokens)
{
    QStringList arguments = tokens.positionals;
    if (arguments.isEmpty())
        return Failure{QStringLiteral("no command given") + kSeeHelp};
    QString name = arguments.takeFirst();
    if (name == QLatin1String("seq") && !arguments.isEmpty())
        name += QLatin1Char(' ') + arguments.takeFirst();

    for (const auto &[word, kind] : {std::pair{"get", PanelPlan::Kind::Get}, std::pair{"watch", PanelPlan::Kind::Watch},
                                     std::pair{"units", PanelPlan::Kind::Units}}) {
        if (name != QLatin1String(word))
            continue;
        if (!arguments.isEmpty())
            return Failure{QStringLiteral("%1: unexpected argument \"%2\"").arg(name, arguments.first()) + kSeeHelp};
        PanelPlan plan;
        plan.kind = kind;
        return plan;
    }
    const Command *command = nullptr;
    for (const Command &row : kCommands)
        if (name == QLatin1String(row.name))
            command = &row;
    if (!command)
        return Failure{QStringLiteral("unknown command \"%1\"").arg(name) + kSeeHelp};
    for (const char *option : {"polarity", "step", "rate", "stop"}) {
        const unsigned needs = QByteArrayView(option) == "polarity" ? 1U : 2U;
        if (!(command->takes & needs) && tokens.options.contains(QLatin1String(option)))
            return Failure{QStringLiteral("--%1 does not go with %2").arg(QLatin1String(option), name) + kSeeHelp};
    }
    PanelPlan plan;
    // --sysclk sets the panel's clock box first, as a user would before the rest.
    if (const auto clock = tokens.options.constFind(QStringLiteral("sysclk")); clock != tokens.options.constEnd())
        plan.steps.append(setText("txtSysClk", *clock));
    const auto steps = command->steps(PanelCommand(tokens, name, arguments));
    if (!steps)
        return Failure{steps.error()};
    plan.steps += *steps;
    return plan;
}

} // namespace veloxa::ctl
